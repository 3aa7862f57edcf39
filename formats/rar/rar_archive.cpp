#include "formats/rar/rar_archive.h"

#include <algorithm>

#include "core/data_stream.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/text_format.h"
#include "formats/engines/bit_reader.h"
#include "formats/rar/rar_unpack.h"
#include "platform/file_system.h"

namespace quorbel {

namespace {
int64_t KeyOf(const rar::RarPart& part) { return (int64_t(part.volume) << 40) | part.header_offset; }
}  // namespace

// A member's packed bytes, part after part from the volumes that hold them.
class RarPartsSource final : public engines::ByteSource {
public:
    RarPartsSource(RarArchive& archive, const std::vector<rar::RarPart>& parts)
        : archive_(archive), parts_(parts) {}
    size_t Pull(uint8_t* buffer, size_t capacity) override {
        while (index_ < parts_.size()) {
            if (!current_) {
                DataStream* s = archive_.VolumeStream(parts_[index_].volume);
                if (!s) {
                    failed_ = true;
                    return 0;
                }
                current_ = std::make_unique<engines::StreamSource>(*s, parts_[index_].data_offset,
                                                                   parts_[index_].packed_size);
            }
            size_t n = current_->Pull(buffer, capacity);
            if (n) return n;
            if (current_->Failed()) {
                failed_ = true;
                return 0;
            }
            current_.reset();
            ++index_;
        }
        return 0;
    }
    bool Failed() const { return failed_; }

private:
    RarArchive& archive_;
    const std::vector<rar::RarPart>& parts_;
    size_t index_ = 0;
    std::unique_ptr<engines::StreamSource> current_;
    bool failed_ = false;
};

RarArchive::RarArchive() : ExternalArchive("RAR") {}

RarArchive::~RarArchive() = default;

void RarArchive::Close() {
    dir_ = rar::RarDirectory{};
    by_key_.clear();
    volumes_.clear();
    decoder_.reset();
    solid_next_ = SIZE_MAX;
    ExternalArchive::Close();
}

DataStream* RarArchive::VolumeStream(int volume) {
    if (volume == 0) return &stream_;
    if (volume < 0 || size_t(volume) >= dir_.volumes.size()) return nullptr;
    if (volumes_.size() < dir_.volumes.size()) volumes_.resize(dir_.volumes.size());
    if (!volumes_[size_t(volume)]) {
        auto s = std::make_unique<DataStream>();
        if (!s->OpenFile(dir_.volumes[size_t(volume)], true)) return nullptr;
        volumes_[size_t(volume)] = std::move(s);
    }
    return volumes_[size_t(volume)].get();
}

int RarArchive::ReadDirectory() {
    SetMessage(kMsgNotThisFormat, path_, "RAR");
    dir_ = rar::RarDirectory{};
    by_key_.clear();
    volumes_.clear();
    decoder_.reset();
    solid_next_ = SIZE_MAX;
    sink_->SetRange(0, stream_.Size());
    rar::VolumeOpener opener;
    if (!stream_.IsMemory() && !path_.empty()) {
        opener = [](const std::string& p) -> std::unique_ptr<DataStream> {
            auto s = std::make_unique<DataStream>();
            if (!FileExists(p) || !s->OpenFile(p, true)) return nullptr;
            return s;
        };
    }
    engines::DirectoryStatus r = rar::ReadRarDirectory(stream_, dir_, ListingProgress(), path_, opener);
    if (r == engines::DirectoryStatus::Cancelled) {
        SetMessage(kMsgAborted);
        return kStatusAborted;
    }
    if (r == engines::DirectoryStatus::NotThisFormat) return kStatusNotThisFormat;
    if (dir_.members.empty()) return kStatusFailed;
    if (!AllocateEntries(dir_.members.size())) return kStatusFailed;
    for (size_t i = 0; i < dir_.members.size(); ++i) {
        const rar::RarMember& m = dir_.members[i];
        ArchiveEntry* e = SetMemberEntry(i, !m.is_folder, m.name, int64_t(m.packed_size),
                                         int64_t(m.unpacked_size), m.crc32, m.mode, m.encrypted,
                                         m.time, "");
        if (!e) return kStatusFailed;
        // The archiver is given the stored bytes, except where they are only the OEM stand-in
        // of a Unicode name ("????.txt" would be a wildcard to it), with the system's
        // separator (a DOS archiver gets '\' back when its command is built).
        std::string for_archiver = (m.flags & rar::kUnicodeName) ? m.name : m.raw_name;
        std::replace(for_archiver.begin(), for_archiver.end(), '\\', '/');
        StoreFormatHeader(*e, reinterpret_cast<const uint8_t*>(for_archiver.data()), for_archiver.size());
        e->header_offset = KeyOf(m.parts.front());
        by_key_[e->header_offset] = i;
    }
    return kStatusOk;
}

const rar::RarMember* RarArchive::MemberOf(const ArchiveEntry& entry) const {
    auto it = by_key_.find(entry.header_offset);
    return it == by_key_.end() ? nullptr : &dir_.members[it->second];
}

bool RarArchive::DecodeSolidPrefix(size_t from, size_t to, int& status, bool& decoded) {
    decoded = false;
    for (size_t j = from; j < to; ++j) {
        const rar::RarMember& p = dir_.members[j];
        if (p.is_folder || p.method == rar::kMethodStored) continue;
        if (p.encrypted || !rar::RarVersionSupported(p.version) || !rar::RarMethodSupported(p.method) || !p.complete) {
            status = kUnpackUnsupported;
            return false;
        }
        engines::CheckingSink check;
        RarPartsSource source(*this, p.parts);
        // The first one decoded starts afresh.
        engines::UnpackStatus r = decoder_->Unpack(p.version, p.method, decoded, source,
                                                   p.unpacked_size, check);
        decoded = true;
        if (r != engines::UnpackStatus::Ok || check.Count() != p.unpacked_size || check.Crc32() != p.crc32) {
            status = kUnpackDataError;
            return false;
        }
    }
    return true;
}

MemoryBlock RarArchive::UnpackEntry(const ArchiveEntry& entry, int& status) {
    status = kStatusFailed;
    auto it = by_key_.find(entry.header_offset);
    if (it == by_key_.end()) {
        SetMessage(kMsgCorrupt, path_);
        return {};
    }
    const size_t index = it->second;
    const rar::RarMember& m = dir_.members[index];
    if (m.encrypted) {
        if (!HasProgramPassword()) {
            SetMessage(kMsgNeedPassword, entry.full_name);
            status = kUnpackNeedPassword;
            return {};
        }
        return ExternalArchive::UnpackEntry(entry, status);
    }
    if (m.method != rar::kMethodStored && (!rar::RarVersionSupported(m.version) || !rar::RarMethodSupported(m.method))) {
        // RAR 2.9 and later methods: the archiver's, when there is one.
        if (LocateProgram()) return ExternalArchive::UnpackEntry(entry, status);
        SetMessage(kMsgUnsupportedMethod);
        status = kUnpackUnsupported;
        return {};
    }
    if (!m.complete) {
        SetMessage(kMsgDecompressError, entry.full_name);
        status = kUnpackDataError;
        return {};
    }
    if (!decoder_) decoder_ = std::make_unique<rar::RarDecoder>();
    const bool compressed = m.method != rar::kMethodStored;
    bool continue_state = false;
    if (compressed && m.solid) {
        // The members since the last one that started afresh, unless the decoder is there.
        if (solid_next_ != index) {
            size_t start = index;
            while (start > 0 && dir_.members[start].solid) --start;
            int prefix_status = kUnpackOk;
            bool decoded = false;
            solid_next_ = SIZE_MAX;
            if (!DecodeSolidPrefix(start, index, prefix_status, decoded)) {
                if (prefix_status == kUnpackUnsupported && LocateProgram())
                    return ExternalArchive::UnpackEntry(entry, status);
                SetMessage(prefix_status == kUnpackUnsupported ? kMsgUnsupportedMethod : kMsgDecompressError,
                           entry.full_name);
                status = prefix_status;
                return {};
            }
            continue_state = decoded;
        } else {
            continue_state = true;
        }
    }
    solid_next_ = SIZE_MAX;
    MemoryBlock block = UnpackNative(entry, false, [&](engines::OutputSink& out) {
        RarPartsSource source(*this, m.parts);
        return decoder_->Unpack(m.version, m.method, continue_state, source, m.unpacked_size, out);
    }, status);
    if (status == kUnpackOk && compressed) {
        // Ready for the next member that continues the stream (folders and stored members
        // leave the state alone).
        size_t next = index + 1;
        while (next < dir_.members.size() &&
               (dir_.members[next].is_folder || dir_.members[next].method == rar::kMethodStored))
            ++next;
        solid_next_ = next;
    }
    return block;
}

int RarArchive::ExtractEntry(const ArchiveEntry& entry, const std::string& dest_folder,
                             bool use_folder_names, std::string* out_path, bool write) {
    const rar::RarMember* m = MemberOf(entry);
    if (m && m->is_symlink) {
        // A link could point anywhere: none is made, each is reported.
        if (write)
            ReportSkipped(FormatText(StringById(text_id::kLinkNotExtracted).c_str(), entry.full_name.c_str()));
        return kStatusOk;
    }
    return ArchiveHandler::ExtractEntry(entry, dest_folder, use_folder_names, out_path, write);
}

int RarArchive::SaveAs(const std::string& target_path, int64_t volume_size,
                       const std::vector<uint8_t>* prefix) {
    if (!LocateProgram()) {
        SetMessage(kMsgNoProgram, format_name_);
        return kStatusNoProgram;
    }
    const std::string module = FolderOfPath(program_path_) + "/default.sfx";
    if (!FileExists(module)) {
        SetMessage(kMsgCannotOpen, module);
        return kStatusFailed;
    }
    return ExternalArchive::SaveAs(target_path, volume_size, prefix);
}

}  // namespace quorbel
