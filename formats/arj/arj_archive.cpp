#include "formats/arj/arj_archive.h"

#include "core/messages.h"
#include "core/settings.h"
#include "formats/arj/arj_unpack.h"
#include "formats/engines/bit_reader.h"

namespace quorbel {

ArjArchive::ArjArchive() : ExternalArchive("ARJ") {}

void ArjArchive::Close() {
    members_.clear();
    ExternalArchive::Close();
}

int ArjArchive::ReadDirectory() {
    SetMessage(kMsgNotThisFormat, path_, "ARJ");
    members_.clear();
    sink_->SetRange(0, stream_.Size());
    arj::ArjDirectory dir;
    engines::DirectoryStatus r = arj::ReadArjDirectory(stream_, dir, ListingProgress());
    if (r == engines::DirectoryStatus::Cancelled) {
        SetMessage(kMsgAborted);
        return kStatusAborted;
    }
    if (r == engines::DirectoryStatus::NotThisFormat || dir.members.empty()) return kStatusNotThisFormat;
    if (!AllocateEntries(dir.members.size())) return kStatusFailed;
    archive_comment_ = dir.comment;
    for (size_t i = 0; i < dir.members.size(); ++i) {
        const arj::ArjMember& m = dir.members[i];
        ArchiveEntry* e = SetMemberEntry(i, m.is_file, m.name, m.packed_size, m.unpacked_size,
                                         m.crc32, m.mode, m.encrypted, m.time, m.comment);
        if (!e) return kStatusFailed;
        e->header_offset = m.header_offset;
        members_[m.header_offset] = m;
    }
    return kStatusOk;
}

MemoryBlock ArjArchive::UnpackEntry(const ArchiveEntry& entry, int& status) {
    if (entry.encrypted) {
        if (!HasProgramPassword()) {
            SetMessage(kMsgNeedPassword, entry.full_name);
            status = kUnpackNeedPassword;
            return {};
        }
        return ExternalArchive::UnpackEntry(entry, status);
    }
    // The header is read again and its CRC checked: the listing may be older than the file.
    arj::ArjMember m;
    if (!arj::ReadArjMemberAt(stream_, entry.header_offset, m) || !m.is_file ||
        m.unpacked_size != uint64_t(entry.unpacked) || m.crc32 != uint32_t(entry.crc)) {
        SetMessage(kMsgCorrupt, path_);
        status = kStatusFailed;
        return {};
    }
    if (!arj::ArjMethodSupported(m.method)) {
        SetMessage(kMsgUnsupportedMethod);
        status = kUnpackUnsupported;
        return {};
    }
    return UnpackNative(entry, false, [&](engines::OutputSink& out) {
        engines::StreamSource source(stream_, m.data_offset, m.packed_size);
        return arj::UnpackArj(m.method, source, m.unpacked_size, out);
    }, status);
}

}  // namespace quorbel
