// RAR's decompression for one archive: the RAR 1.5 and 2.0 engines over one dictionary, kept
// from member to member so that a solid archive can be decoded in order.
#pragma once

#include <cstdint>
#include <memory>

#include "formats/engines/bit_reader.h"
#include "formats/engines/unpack.h"

namespace quorbel::rar {

class Unpack15;
class Unpack20;
class RarWindow;

// Versions decoded here: 13–15 (the 1.5 method), 16–20 and 26 (the 2.0 method; 26 only adds
// sizes above 4 GiB). 29 and later are other methods.
bool RarVersionSupported(int version);
bool RarMethodSupported(int method);

class RarDecoder {
public:
    RarDecoder();
    ~RarDecoder();
    RarDecoder(const RarDecoder&) = delete;
    RarDecoder& operator=(const RarDecoder&) = delete;

    // Decodes exactly `unpacked_size` bytes of one member into `output`. `solid`: the member
    // continues the state the previous call left (the members of a solid archive are
    // decoded in order); otherwise everything starts afresh. Method 0x30 (stored) copies and
    // leaves the state alone, whatever the version. The CRC is the caller's to check.
    engines::UnpackStatus Unpack(int version, int method, bool solid, engines::ByteSource& input,
                                 uint64_t unpacked_size, engines::OutputSink& output);

private:
    std::unique_ptr<RarWindow> window_;
    std::unique_ptr<Unpack15> unpack15_;
    std::unique_ptr<Unpack20> unpack20_;
};

}  // namespace quorbel::rar
