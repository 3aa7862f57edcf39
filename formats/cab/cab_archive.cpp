#include "formats/cab/cab_archive.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "core/byte_reader.h"
#include "core/messages.h"
#include "formats/cab/cab_library.h"

namespace quorbel {

namespace {
// Up to this much is allocated before a member's data arrives; more grows with the data.
constexpr uint64_t kReserveCap = uint64_t(256) << 20;

// What one copy is after, shared with the notification callback.
struct CopyRequest {
    uint32_t index = 0;
    std::string raw_name;
    std::string folder;      // the cabinet's own folder, with its trailing '/'
    size_t expected = 0;   // the listed size
    size_t reserve = 0;    // what is allocated before data arrives
    int fd = -1;           // the file it is written to; -1: into `block`
    MemoryBlock block;     // what arrived
    size_t written = 0;
    bool write_failed = false;  // the file refused data
    bool copied = false;
};

intptr_t Notify(int type, FdiNotification* n) {
    auto* request = static_cast<CopyRequest*>(n->pv);
    switch (type) {
        case FDI_NOTIFY_COPY_FILE:
            if (n->file_index != request->index) return 0;
            // The library's table must be the one listed: the same bytes at the same place.
            if (!n->psz1 || request->raw_name != n->psz1 || n->cb != int64_t(request->expected))
                return -1;
            return request->fd >= 0 ? cab::OpenFileTarget(request->fd, request->expected, &request->write_failed)
                                    : cab::OpenMemoryTarget(request->reserve, request->expected);
        case FDI_NOTIFY_CLOSE_FILE_INFO: {
            if (request->fd >= 0) {
                request->written = cab::WrittenSize(n->hf);
                request->copied = cab::CloseCallback(n->hf) == 0;
                return 1;
            }
            size_t size = 0;
            request->block.data.reset(cab::TakeMemory(n->hf, size));
            request->block.size = request->written = size;
            request->copied = cab::CloseCallback(n->hf) == 0 && request->block.data;
            return 1;
        }
        case FDI_NOTIFY_NEXT_CABINET: {
            // The next cabinet's name comes from the file: only a bare name, looked for in
            // the cabinet's own folder whatever the notification suggests.
            const std::string name = n->psz1 ? n->psz1 : "";
            if (!cab::IsBareCabinetName(name)) return -1;
            std::memcpy(n->psz3, request->folder.c_str(), request->folder.size() + 1);
            const std::string path = cab::FindCabinetInFolder(request->folder, name);
            if (path.empty()) return -1;
            int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) return -1;
            ::close(fd);
            return 1;
        }
        default:
            return 1;
    }
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
}  // namespace

CabArchive::CabArchive() { format_name_ = "CAB"; }

CabArchive::~CabArchive() { DestroyContext(); }

void CabArchive::DestroyContext() {
    if (!context_) return;
    cab::CabinetEntryPoints e;
    std::string why;
    if (cab::BindCabinetLibrary(e, why)) e.destroy(context_);
    context_ = nullptr;
}

void CabArchive::Close() {
    DestroyContext();
    directory_ = cab::CabDirectory();
    ArchiveHandler::Close();
}

bool CabArchive::MemberOf(const ArchiveEntry& entry, uint32_t& index, std::string& raw_name) const {
    std::span<const uint8_t> record = FormatHeader(entry);
    if (record.size() < 4) return false;
    index = Le32(record.data());
    raw_name.assign(reinterpret_cast<const char*>(record.data() + 4), record.size() - 4);
    return true;
}

int CabArchive::ReadDirectory() {
    // A re-read starts the library afresh: the file may have changed under the cached set.
    DestroyContext();
    SetMessage(kMsgNotThisFormat, path_, format_name_);
    cab::CabReadResult r = cab::ReadCabDirectory(stream_, directory_);
    if (r != cab::CabReadResult::kOk) return kStatusFailed;

    ProgressScope progress(sink_);
    sink_->SetRange(0, int64_t(directory_.members.size()));
    size_t listed = 0;
    for (const cab::CabMember& m : directory_.members)
        if (!m.FromPrevious()) ++listed;
    if (!AllocateEntries(listed)) return kStatusFailed;
    size_t at = 0;
    for (const cab::CabMember& m : directory_.members) {
        if (!StillGoing(m.index)) return kStatusAborted;
        if (m.FromPrevious()) continue;
        const bool is_folder = (m.attribs & cab::kAttrFolder) != 0;
        ArchiveEntry* e = SetEntry(at, !is_folder, m.DisplayName(), -1, m.size, 0, m.attribs,
                                   false, m.date, m.time, "");
        if (!e) return kStatusFailed;
        e->header_offset = m.index;
        std::vector<uint8_t> record(4 + m.raw_name.size());
        for (int k = 0; k < 4; ++k) record[size_t(k)] = uint8_t(m.index >> (8 * k));
        std::memcpy(record.data() + 4, m.raw_name.data(), m.raw_name.size());
        if (!StoreFormatHeader(*e, record.data(), record.size())) return kStatusFailed;
        ++at;
    }
    return kStatusOk;
}

MemoryBlock CabArchive::UnpackEntry(const ArchiveEntry& entry, int& status) {
    MemoryBlock block;
    status = CopyMember(entry, -1, block);
    if (status != kUnpackOk) block = MemoryBlock();
    return block;
}

int CabArchive::UnpackEntryToFile(const ArchiveEntry& entry, int fd) {
    MemoryBlock unused;
    return CopyMember(entry, fd, unused);
}

int CabArchive::CopyMember(const ArchiveEntry& entry, int fd, MemoryBlock& block) {
    ProgressScope progress(sink_);
    sink_->SetText(FormatText(MessageTemplate(kMsgExtracting).c_str(), std::string(entry.NamePart()).c_str()));
    if (!entry.is_file) {
        if (fd < 0 && !(block = MemoryBlock::Allocate(0))) {
            SetMessage(kMsgOutOfMemory);
            return kStatusFailed;
        }
        block.size = 0;
        return kUnpackOk;
    }
    auto unexpected = [&] {
        SetMessage(kMsgUnexpectedData, path_);
        return int(kUnpackDataError);
    };
    CopyRequest request;
    if (!MemberOf(entry, request.index, request.raw_name) || entry.unpacked < 0) return unexpected();

    cab::CabinetEntryPoints e;
    std::string why;
    if (!cab::BindCabinetLibrary(e, why)) {
        SetLastMessage(FormatText(StringById(text_id::kCabinetLibraryMissing).c_str(),
                                  cab::kCabinetLibraryName, why.c_str()));
        return kStatusFailed;
    }
    if (!context_) {
        error_ = FdiErrorRecord{};
        context_ = e.create(cab::AllocCallback, cab::FreeCallback, cab::OpenCallback,
                            cab::ReadCallback, cab::WriteCallback, cab::CloseCallback,
                            cab::SeekCallback, -1, &error_);
        if (!context_) {
            SetLastMessage(cab::CabinetErrorText(error_.oper));
            return kStatusFailed;
        }
    }

    // The listed size comes from the file: memory for it is taken as data arrives, beyond what
    // the cabinet's own blocks could hold (each at most 32 KB from at least 8 bytes of file)
    // when the member lies in this cabinet alone.
    request.expected = size_t(entry.unpacked);
    const int64_t file_size = Info().file_size >= 0 ? Info().file_size : stream_.Size();
    const uint64_t plausible = uint64_t(std::max<int64_t>(file_size, 0)) * 4096;
    request.reserve = size_t(std::min<uint64_t>({request.expected, plausible, kReserveCap}));
    request.folder = FolderOf(path_);
    request.fd = fd;
    const std::string name = FileNameOf(path_);
    const int ok = e.copy(context_, name.c_str(), request.folder.c_str(), 0, Notify, nullptr, &request);
    // Success is the library's word that the member was written whole, and exactly the size
    // listed arrived.
    if (!ok || !request.copied || request.written != request.expected) {
        if (!ok && error_.oper == FDI_ERROR_ALLOC_FAIL) {
            SetMessage(kMsgOutOfMemory);
            return kStatusFailed;
        }
        // A file the library could not write to is the destination's fault, not the cabinet's.
        if (request.write_failed) return kStatusCannotCreate;
        return unexpected();
    }
    if (fd < 0) block = std::move(request.block);
    return kUnpackOk;
}

}  // namespace quorbel
