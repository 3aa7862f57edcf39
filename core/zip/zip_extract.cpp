// Unpacking one ZIP member into memory: stored or deflated, optionally with the traditional
// PKWARE encryption. The data's length and CRC-32 are checked against the central record.
#include <new>

#include "core/byte_reader.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/zip/deflate.h"
#include "core/zip/zip_archive.h"
#include "core/zip/zip_crypto.h"
#include "core/zip/zip_records.h"

namespace quorbel {

using namespace zip;

namespace {
// Deflate cannot expand data more than about 1032 to 1; a larger claim is damage (or a bomb)
// and is refused before anything is allocated for it.
constexpr uint64_t kMaxDeflateRatio = 1032;
}  // namespace

MemoryBlock ZipArchive::UnpackEntry(const ArchiveEntry& entry, int& status) {
    status = kStatusFailed;
    const std::span<const uint8_t> record = FormatHeader(entry);
    if (!entry.is_file || record.size() < kCentralSize) return {};
    const std::string name(entry.NamePart());
    ProgressScope progress(sink_);
    sink_->SetText(FormatText(MessageTemplate(kMsgExtracting).c_str(), name.c_str()));
    auto fail = [&](int code, int unpack_status) {
        SetMessage(code, entry.full_name);
        status = unpack_status;
        return MemoryBlock();
    };

    const uint8_t* rec = record.data();
    const uint16_t central_flags = Le16(rec + central::kFlags);
    const int64_t file_size = stream_.Size();
    int64_t pos = StreamOffset(entry.disk_number, uint64_t(entry.header_offset));
    uint8_t local[kLocalHeaderSize];
    if (pos < 0 || pos > file_size - int64_t(kLocalHeaderSize) ||
        stream_.Seek(pos, DataStream::Origin::Start) != pos ||
        stream_.Read(local, sizeof local) != sizeof local)
        return fail(kMsgDecompressError, kUnpackDataError);
    const uint16_t method = Le16(local + local::kMethod);
    int64_t data_start = pos + int64_t(kLocalHeaderSize) + Le16(local + local::kNameLength) +
                         Le16(local + local::kExtraLength);
    uint64_t packed = uint64_t(entry.packed);
    uint64_t unpacked = uint64_t(entry.unpacked);

    // Methods other than stored and deflated (implode, shrink, bzip2, AES, ...) are refused
    // before any password is asked for: no password would make them readable.
    // Strong encryption (DES, RC4, AES of the PKWARE kind) is no traditional encryption either.
    if ((method != kMethodStored && method != kMethodDeflated) ||
        ((central_flags | Le16(local + local::kFlags)) & kFlagStrongEncryption))
        return fail(kMsgUnsupportedMethod, kUnpackUnsupported);
    if (entry.packed < 0 || entry.unpacked < 0 || data_start > file_size ||
        packed > uint64_t(file_size - data_start))
        return fail(kMsgDecompressError, kUnpackDataError);
    if (stream_.Seek(data_start, DataStream::Origin::Start) != data_start)
        return fail(kMsgDecompressError, kUnpackDataError);

    std::unique_ptr<ZipCrypto> crypto;
    if (entry.encrypted) {
        if (!HasProgramPassword()) return fail(kMsgNeedPassword, kUnpackNeedPassword);
        uint8_t header[kEncryptionHeaderSize];
        if (packed < kEncryptionHeaderSize || stream_.Read(header, sizeof header) != sizeof header)
            return fail(kMsgDecompressError, kUnpackDataError);
        crypto = std::make_unique<ZipCrypto>(ProgramPassword());
        crypto->Decrypt(header, sizeof header);
        // Streamed members (bit 3) check against the time, since the CRC was not known when
        // the header was written.
        uint8_t check = (central_flags & kFlagDataDescriptor) ? uint8_t(Le16(rec + central::kTime) >> 8)
                                                              : uint8_t(Le32(rec + central::kCrc) >> 24);
        if (header[kEncryptionHeaderSize - 1] != check) {
            status = kUnpackBadPassword;
            SetMessage(kMsgBadPassword);
            return {};
        }
        packed -= kEncryptionHeaderSize;
    }

    if (method == kMethodStored && packed != unpacked) return fail(kMsgDecompressError, kUnpackDataError);
    if (method == kMethodDeflated && unpacked > packed * kMaxDeflateRatio + 1024)
        return fail(kMsgDecompressError, kUnpackDataError);
    if (unpacked > SIZE_MAX / 2 || packed > SIZE_MAX / 2) {
        SetMessage(kMsgOutOfMemory);
        return {};
    }

    MemoryBlock out = MemoryBlock::Allocate(size_t(unpacked));
    if (!out) {
        SetMessage(kMsgOutOfMemory);
        return {};
    }
    if (method == kMethodStored) {
        if (stream_.Read(out.data.get(), size_t(packed)) != size_t(packed))
            return fail(kMsgDecompressError, kUnpackDataError);
        if (crypto) crypto->Decrypt(out.data.get(), size_t(packed));
    } else {
        MemoryBlock in = MemoryBlock::Allocate(size_t(packed));
        if (!in) {
            SetMessage(kMsgOutOfMemory);
            return {};
        }
        if (stream_.Read(in.data.get(), size_t(packed)) != size_t(packed))
            return fail(kMsgDecompressError, kUnpackDataError);
        if (crypto) crypto->Decrypt(in.data.get(), size_t(packed));
        // Blocks above 1 MB report to the handler's sink, smaller ones to the silent one.
        ProgressSink& progress = unpacked > 1048576 ? *sink_ : SilentSink();
        InflateResult r = InflateRaw(in.data.get(), size_t(packed), out.data.get(), size_t(unpacked), progress);
        if (r == InflateResult::Aborted || (r != InflateResult::Ok && sink_->Cancelled())) {
            SetMessage(kMsgAborted);
            status = kUnpackAborted;
            return {};
        }
        if (r != InflateResult::Ok) return fail(kMsgDecompressError, kUnpackDataError);
    }
    if (entry.crc != -1 && Crc32(0, out.data.get(), size_t(unpacked)) != uint32_t(entry.crc))
        return fail(kMsgDecompressError, kUnpackDataError);
    out.size = size_t(unpacked);
    status = kUnpackOk;
    return out;
}

}  // namespace quorbel
