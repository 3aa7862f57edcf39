#include "formats/ace/ace_archive.h"

#include <algorithm>

#include "core/code_page.h"
#include "core/messages.h"
#include "core/settings.h"
#include "formats/ace/ace_unpack.h"
#include "formats/engines/bit_reader.h"
#include "platform/file_system.h"

namespace quorbel {

namespace {

bool IsOemHost(uint8_t host) {
    return host == ace::kMsDos || host == ace::kOs2 || host == ace::kWin32 || host == ace::kWinNt;
}

// The name as shown: DOS and Windows archivers store OEM bytes (code page 437 here); others
// are taken as UTF-8 when they are valid UTF-8.
std::string ShownName(const std::string& raw, uint8_t host) {
    return IsOemHost(host) ? Cp437ToUtf8(raw) : GuessToUtf8(raw);
}

}  // namespace

AceArchive::AceArchive() : ExternalArchive("ACE") {}

void AceArchive::Close() {
    directory_ = ace::AceDirectory{};
    solid_ = SolidCursor{};
    ExternalArchive::Close();
}

int AceArchive::ReadDirectory() {
    SetMessage(kMsgNotThisFormat, path_, "ACE");
    directory_ = ace::AceDirectory{};
    solid_ = SolidCursor{};
    sink_->SetRange(0, stream_.Size());
    engines::DirectoryStatus r = ace::ReadAceDirectory(stream_, path_, directory_, ListingProgress());
    if (r == engines::DirectoryStatus::Cancelled) {
        SetMessage(kMsgAborted);
        return kStatusAborted;
    }
    if (r == engines::DirectoryStatus::NotThisFormat) return kStatusNotThisFormat;
    if (!AllocateEntries(directory_.members.size())) return kStatusFailed;
    multi_volume_ = directory_.multi_volume;
    for (size_t i = 0; i < directory_.members.size(); ++i) {
        const ace::AceMember& m = directory_.members[i];
        const bool is_file = !m.is_folder;
        uint32_t attributes = 0, unix_mode = 0;
        if (m.mode.kind == engines::MemberMode::Kind::Unix) {
            // Permission bits, not DOS attribute bits.
            unix_mode = m.mode.bits & 0177777u;
            if (!(unix_mode & 0170000u)) unix_mode |= is_file ? 0100000u : 0040000u;
            if (!is_file) attributes |= kAttrFolder;
            if (!(unix_mode & 0200)) attributes |= kAttrReadOnly;
            attributes |= kAttrArchive;
        } else {
            attributes = m.attributes & 0x3F;
        }
        ArchiveEntry* e = SetExternalEntry(i, is_file, m.name, ShownName(m.name, directory_.host_os),
                                           int64_t(m.packed_size), int64_t(m.unpacked_size),
                                           is_file ? int64_t(m.crc32) : -1, attributes, m.encrypted,
                                           m.time.dos_date, m.time.dos_time, "");
        if (!e) return kStatusFailed;
        e->unix_mode = unix_mode;
        e->header_offset = m.header_offset;
        e->disk_number = uint32_t(m.segments.empty() ? 0 : m.segments[0].volume);
    }
    if (!directory_.missing_volume.empty())
        SetLastMessage(FormatText(StringById(text_id::kMissingVolume).c_str(), directory_.missing_volume.c_str()));
    return kStatusOk;
}

const ace::AceMember* AceArchive::MemberOf(const ArchiveEntry& entry) const {
    if (entries_.empty() || &entry < &entries_.front() || &entry > &entries_.back()) return nullptr;
    size_t index = size_t(&entry - &entries_.front());
    return index < directory_.members.size() ? &directory_.members[index] : nullptr;
}

MemoryBlock AceArchive::UnpackEntry(const ArchiveEntry& entry, int& status) {
    status = kStatusFailed;
    const ace::AceMember* target = MemberOf(entry);
    if (!target) {
        SetMessage(kMsgCorrupt, path_);
        return {};
    }
    if (entry.encrypted) {
        if (!HasProgramPassword()) {
            SetMessage(kMsgNeedPassword, entry.full_name);
            status = kUnpackNeedPassword;
            return {};
        }
        return ExternalArchive::UnpackEntry(entry, status);
    }
    if (target->is_link) {
        SetLastMessage(FormatText(StringById(text_id::kLinkNotExtracted).c_str(), entry.full_name.c_str()));
        status = kUnpackUnsupported;
        return {};
    }
    if (!target->complete) {
        // A piece is in a volume that is not there (or before the one opened).
        if (!directory_.missing_volume.empty())
            SetLastMessage(FormatText(StringById(text_id::kMissingVolume).c_str(), directory_.missing_volume.c_str()));
        else
            SetMessage(kMsgUnexpectedData, path_);
        status = kUnpackDataError;
        return {};
    }

    if (directory_.solid && directory_.volume_number != 0) {
        // The dictionary is built from the volumes before the one opened.
        SetMessage(kMsgUnexpectedData, path_);
        status = kUnpackDataError;
        return {};
    }
    // What has to be decoded: the member itself, and in a solid archive every member before it
    // (their bytes build the dictionary it starts from).
    const size_t target_index = size_t(target - directory_.members.data());
    size_t first = target_index;
    if (directory_.solid) first = 0;
    int bits = ace::kMinDictionaryBits;
    uint64_t total = 0;
    for (size_t i = first; i <= target_index; ++i) {
        const ace::AceMember& m = directory_.members[i];
        if (m.is_folder || m.unpacked_size == 0) continue;
        // (A link's bytes are decoded too: they are part of the stream, only never written.)
        if (i < target_index && (m.encrypted || !m.complete)) {
            // The dictionary cannot be rebuilt here: the archiver has to do it.
            return ExternalArchive::UnpackEntry(entry, status);
        }
        if (!ace::AceMethodSupported(m.method)) {
            SetMessage(kMsgUnsupportedMethod);
            status = kUnpackUnsupported;
            return {};
        }
        bits = std::max(bits, m.DictionaryBits());
        total += std::min<uint64_t>(m.unpacked_size, uint64_t(1) << 40);
    }

    ace::VolumeSet volumes(stream_, directory_.volume_paths);
    auto source_of = [&](const ace::AceMember& m, ace::ChainSource& chain) {
        for (const ace::Segment& s : m.segments) {
            DataStream* v = volumes.Get(s.volume);
            if (!v) return false;
            chain.Add(std::make_unique<engines::StreamSource>(*v, s.data_offset, s.packed_size));
        }
        return true;
    };
    std::unique_ptr<ace::AceDecoder> own;
    ace::AceDecoder* decoder = nullptr;
    if (directory_.solid) {
        if (!solid_.decoder || solid_.next > target_index) {
            // A fresh start, with a window for every member of the archive.
            for (const ace::AceMember& m : directory_.members) {
                bits = std::max(bits, m.DictionaryBits());
                total += m.is_folder ? 0 : std::min<uint64_t>(m.unpacked_size, uint64_t(1) << 40);
            }
            solid_.decoder = std::make_unique<ace::AceDecoder>(bits, total);
            solid_.next = 0;
        }
        decoder = solid_.decoder.get();
        first = solid_.next;
    } else {
        own = std::make_unique<ace::AceDecoder>(bits, total);
        decoder = own.get();
    }
    // Until the target is decoded, the cursor is not trusted.
    SolidCursor cursor = std::move(solid_);
    solid_ = SolidCursor{};
    // The members before: decoded into a checking sink; a damaged one spoils the rest.
    for (size_t i = first; i < target_index; ++i) {
        const ace::AceMember& m = directory_.members[i];
        if (m.is_folder || m.unpacked_size == 0) continue;
        ace::ChainSource chain;
        engines::CheckingSink check;
        if (!source_of(m, chain) ||
            decoder->Unpack(m.method, chain, m.unpacked_size, check) != engines::UnpackStatus::Ok ||
            check.Crc32() != m.crc32) {
            SetMessage(kMsgDecompressError, entry.full_name);
            status = kUnpackDataError;
            return {};
        }
        if (!StillGoing(0)) {
            status = kUnpackAborted;
            return {};
        }
    }
    MemoryBlock block = UnpackNative(entry, false, [&](engines::OutputSink& out) {
        ace::ChainSource chain;
        if (!source_of(*target, chain)) return engines::UnpackStatus::Corrupt;
        return decoder->Unpack(target->method, chain, target->unpacked_size, out);
    }, status);
    if (status == kUnpackOk && cursor.decoder) {
        cursor.next = target_index + 1;
        solid_ = std::move(cursor);
    }
    return block;
}

int AceArchive::ExtractEntry(const ArchiveEntry& entry, const std::string& dest_folder,
                             bool use_folder_names, std::string* out_path, bool write) {
    const ace::AceMember* m = MemberOf(entry);
    if (m && m->is_link) {
        // A link could point anywhere: it is listed, and reported instead of being made.
        if (write)
            ReportSkipped(FormatText(StringById(text_id::kLinkNotExtracted).c_str(), entry.full_name.c_str()));
        return kStatusOk;
    }
    return ExternalArchive::ExtractEntry(entry, dest_folder, use_folder_names, out_path, write);
}

int AceArchive::DeleteEntry(int index, bool save_now) {
    if (HasEncrypted() && !HasProgramPassword()) {
        SetMessage(kMsgNeedPassword, path_);
        return kStatusNeedPassword;
    }
    return ExternalArchive::DeleteEntry(index, save_now);
}

}  // namespace quorbel
