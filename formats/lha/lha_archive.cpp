#include "formats/lha/lha_archive.h"

#include "core/messages.h"
#include "formats/engines/bit_reader.h"
#include "formats/engines/crc16.h"
#include "formats/lha/lha_unpack.h"

namespace quorbel {

LhaArchive::LhaArchive() : ExternalArchive("LHA") {}

void LhaArchive::Close() {
    members_.clear();
    ExternalArchive::Close();
}

int LhaArchive::ReadDirectory() {
    SetMessage(kMsgNotThisFormat, path_, "LHA");
    members_.clear();
    sink_->SetRange(0, stream_.Size());
    lha::LhaDirectory dir;
    engines::DirectoryStatus r = lha::ReadLhaDirectory(stream_, dir, ListingProgress());
    if (r == engines::DirectoryStatus::Cancelled) {
        SetMessage(kMsgAborted);
        return kStatusAborted;
    }
    if (r == engines::DirectoryStatus::NotThisFormat) return kStatusNotThisFormat;
    if (r == engines::DirectoryStatus::Corrupt || dir.members.empty()) return kStatusFailed;
    if (!AllocateEntries(dir.members.size())) return kStatusFailed;
    for (size_t i = 0; i < dir.members.size(); ++i) {
        const lha::LhaMember& m = dir.members[i];
        ArchiveEntry* e = SetMemberEntry(i, !m.is_folder, m.Path('/'), int64_t(m.packed_size),
                                         int64_t(m.unpacked_size), m.has_crc ? m.crc16 : -1,
                                         m.mode, false, m.time, m.comment);
        if (!e) return kStatusFailed;
        e->header_offset = m.header_offset;
        members_[m.header_offset] = m;
    }
    return kStatusOk;
}

bool LhaArchive::CrcMatches(const ArchiveEntry& entry, const uint8_t* data, size_t size) const {
    return entry.crc < 0 || engines::Crc16(0, data, size) == uint16_t(entry.crc);
}

MemoryBlock LhaArchive::UnpackEntry(const ArchiveEntry& entry, int& status) {
    auto it = members_.find(entry.header_offset);
    if (it == members_.end()) {
        SetMessage(kMsgCorrupt, path_);
        status = kStatusFailed;
        return {};
    }
    const lha::LhaMember& m = it->second;
    if (!lha::LhaMethodSupported(m.method)) return ExternalArchive::UnpackEntry(entry, status);
    return UnpackNative(entry, true, [&](engines::OutputSink& out) {
        engines::StreamSource source(stream_, m.data_offset, m.packed_size);
        return lha::UnpackLha(m.method, source, m.unpacked_size, out);
    }, status);
}

int LhaArchive::AddFile(const std::string& disk_path, const std::string& base_folder,
                        const std::string& archive_folder) {
    // The DOS LHA takes paths with this switch set only; a Linux LHA has its own set.
    if (LocateProgram() && templates_.add_file == DefaultTemplates("LHA").add_file) {
        templates_.add_file = templates_.add_file_password = "a /r2x1 /m %Archive %File";
        templates_.add_folder = templates_.add_folder_password = "a /r2x1 /m %Archive %File";
    }
    return ExternalArchive::AddFile(disk_path, base_folder, archive_folder);
}

}  // namespace quorbel
