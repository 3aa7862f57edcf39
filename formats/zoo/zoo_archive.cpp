#include "formats/zoo/zoo_archive.h"

#include "core/messages.h"
#include "formats/engines/bit_reader.h"
#include "formats/engines/crc16.h"
#include "formats/zoo/zoo_unpack.h"

namespace quorbel {

ZooArchive::ZooArchive() : ExternalArchive("ZOO") {}

void ZooArchive::Close() {
    members_.clear();
    ExternalArchive::Close();
}

int ZooArchive::ReadDirectory() {
    SetMessage(kMsgNotThisFormat, path_, "ZOO");
    members_.clear();
    sink_->SetRange(0, stream_.Size());
    zoo::ZooDirectory dir;
    engines::DirectoryStatus r = zoo::ReadZooDirectory(stream_, dir, ListingProgress());
    if (r == engines::DirectoryStatus::Cancelled) {
        SetMessage(kMsgAborted);
        return kStatusAborted;
    }
    if (r == engines::DirectoryStatus::NotThisFormat) return kStatusNotThisFormat;
    if (!AllocateEntries(dir.members.size())) return kStatusFailed;
    archive_comment_ = dir.comment;
    for (size_t i = 0; i < dir.members.size(); ++i) {
        const zoo::ZooMember& m = dir.members[i];
        ArchiveEntry* e = SetMemberEntry(i, true, m.Path('/'), m.packed_size, m.unpacked_size,
                                         m.crc16, m.mode, false, m.time, m.comment);
        if (!e) return kStatusFailed;
        e->header_offset = m.header_offset;
        members_[m.header_offset] = m;
    }
    return kStatusOk;
}

bool ZooArchive::CrcMatches(const ArchiveEntry& entry, const uint8_t* data, size_t size) const {
    return entry.crc < 0 || engines::Crc16(0, data, size) == uint16_t(entry.crc);
}

MemoryBlock ZooArchive::UnpackEntry(const ArchiveEntry& entry, int& status) {
    auto it = members_.find(entry.header_offset);
    if (it == members_.end()) {
        SetMessage(kMsgCorrupt, path_);
        status = kStatusFailed;
        return {};
    }
    const zoo::ZooMember& m = it->second;
    if (!zoo::ZooMethodSupported(m.method)) return ExternalArchive::UnpackEntry(entry, status);
    return UnpackNative(entry, true, [&](engines::OutputSink& out) {
        engines::StreamSource source(stream_, m.data_offset, m.packed_size);
        return zoo::UnpackZoo(m.method, source, m.unpacked_size, out);
    }, status);
}

}  // namespace quorbel
