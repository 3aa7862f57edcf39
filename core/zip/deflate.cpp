#include "core/zip/deflate.h"

#include <algorithm>
#include <memory>

#include <libdeflate.h>
#include <zlib.h>

namespace quorbel::zip {

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
    return libdeflate_crc32(crc, data, size);
}

namespace {
InflateResult InflateStreaming(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size,
                               ProgressSink& sink) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return InflateResult::DataError;
    sink.SetRange(0, int64_t(out_size));
    z.next_in = const_cast<Bytef*>(in);
    z.next_out = out;
    size_t fed = 0, room = 0;  // bytes handed to zlib so far, each side
    int rc = Z_OK;
    while (rc == Z_OK) {
        // zlib counts in 32-bit units: hand it at most one step at a time.
        if (z.avail_in == 0 && fed < in_size) {
            size_t n = std::min(kStreamingStep, in_size - fed);
            z.avail_in = uInt(n);
            fed += n;
        }
        bool full = z.avail_out == 0 && room == out_size;
        if (z.avail_out == 0 && !full) {
            size_t n = std::min(kStreamingStep, out_size - room);
            z.avail_out = uInt(n);
            room += n;
        }
        uint8_t probe[1];
        if (full) {
            // The member is complete: the stream must end here with nothing left to produce.
            z.next_out = probe;
            z.avail_out = 1;
        }
        rc = inflate(&z, Z_NO_FLUSH);
        if (full) {
            if (z.avail_out == 0) rc = Z_DATA_ERROR;
            z.next_out = out + out_size;
            z.avail_out = 0;
        }
        if (sink.SetPos(int64_t(z.total_out)) == 0) {
            inflateEnd(&z);
            return InflateResult::Aborted;
        }
    }
    bool ok = rc == Z_STREAM_END && z.total_out == out_size;
    inflateEnd(&z);
    return ok ? InflateResult::Ok : InflateResult::DataError;
}
}  // namespace

InflateResult InflateRaw(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size,
                         ProgressSink& sink) {
    if (out_size > kStreamingThreshold) return InflateStreaming(in, in_size, out, out_size, sink);
    // One decompressor per thread, freed when the thread ends (the installer unpacks on a
    // worker thread of its own).
    struct FreeDecompressor {
        void operator()(libdeflate_decompressor* p) const { libdeflate_free_decompressor(p); }
    };
    thread_local std::unique_ptr<libdeflate_decompressor, FreeDecompressor> owner(
        libdeflate_alloc_decompressor());
    libdeflate_decompressor* d = owner.get();
    if (!d) return InflateResult::DataError;
    // Passing no actual-size pointer makes libdeflate insist on exactly out_size bytes.
    libdeflate_result r = libdeflate_deflate_decompress(d, in, in_size, out, out_size, nullptr);
    return r == LIBDEFLATE_SUCCESS ? InflateResult::Ok : InflateResult::DataError;
}

}  // namespace quorbel::zip
