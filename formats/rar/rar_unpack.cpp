#include "formats/rar/rar_unpack.h"

#include "formats/rar/rar_directory.h"
#include "formats/rar/rar_unpack15.h"
#include "formats/rar/rar_unpack20.h"
#include "formats/rar/rar_window.h"

namespace quorbel::rar {

using engines::UnpackStatus;

bool RarVersionSupported(int version) { return (version >= 13 && version <= 20) || version == 26; }

bool RarMethodSupported(int method) { return method >= 0x30 && method <= 0x35; }

RarDecoder::RarDecoder()
    : window_(std::make_unique<RarWindow>()),
      unpack15_(std::make_unique<Unpack15>()),
      unpack20_(std::make_unique<Unpack20>()) {}

RarDecoder::~RarDecoder() = default;

UnpackStatus RarDecoder::Unpack(int version, int method, bool solid, engines::ByteSource& input,
                                uint64_t unpacked_size, engines::OutputSink& output) {
    // Stored is stored whichever version wrote it.
    if (method == kMethodStored) return engines::CopyStored(input, unpacked_size, output);
    if (!RarVersionSupported(version) || !RarMethodSupported(method)) return UnpackStatus::Unsupported;
    if (!solid) {
        window_->Reset();
        unpack15_->Reset();
        unpack20_->Reset();
    }
    RarBitInput in(input);
    window_->Begin(output, unpacked_size);
    UnpackStatus r = version <= 15 ? unpack15_->Decode(in, *window_) : unpack20_->Decode(in, *window_);
    if (!window_->Finish() || window_->Cancelled()) return UnpackStatus::Cancelled;
    return r;
}

}  // namespace quorbel::rar
