#include "app/ops/thumbnails.h"

#include <algorithm>
#include <cstdio>

#include "core/data_stream.h"
#include "picture/codecs/jpeg_codec.h"
#include "picture/format_registry.h"
#include "picture/picture_ops.h"

namespace quorbel {

namespace {

constexpr int kSquare = 8;
constexpr Bgr kLight{255, 255, 255};
constexpr Bgr kDark{230, 230, 230};
constexpr Bgr kOutline{0, 0, 0};

using Answer = ArchiveHandler::PictureAnswer;

// Ends the progress level the examination opened, on every way out.
class Level {
public:
    explicit Level(ProgressSink& sink) : sink_(sink), depth_(sink.Depth()) { sink_.Begin(); }
    ~Level() {
        while (sink_.Depth() > depth_) sink_.End(0);
    }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;

private:
    ProgressSink& sink_;
    int depth_;
};

// JPEG members are decoded at the smallest DCT scale that still gives at least 160 x 120
// pixels (twice the thumbnail, so the scaler keeps its averaging step), with chroma repeated:
// the interpolated chroma would not survive the reduction to 80 x 60. The picture's full size
// is reported through width and height. False when the data is no JPEG or does not decode.
bool LoadJpegForThumbnail(DataStream& stream, CPicture& picture, ProgressSink& sink, int& width, int& height) {
    const uint8_t* data = stream.MemoryData();
    const size_t size = stream.MemoryCapacity();
    if (!data || size < 3 || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF) return false;
    CJpegFormat codec;
    int depth = 0;
    if (!codec.GetInfo(stream, &width, &height, &depth, nullptr)) return false;
    JpegOptions options;
    options.scale = JpegScaleFor(width, height, kThumbnailJpegMinWidth, kThumbnailJpegMinHeight);
    options.fancy_upsampling = false;
    codec.SetOptions(options);
    if (!codec.LoadPicture(stream, picture, &sink)) return false;
    picture.SetDepth(depth);
    return true;
}

}  // namespace

bool HasPictureExtension(std::string_view name) {
    const std::string ext = NameExtension(std::string(name));
    if (ext.empty()) return false;
    std::string upper;
    for (char c : ext) upper += char(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "JPEG") upper = "JPG";
    if (upper == "TIFF") upper = "TIF";
    return FindPictureFormat(upper) != nullptr;
}

bool LooksLikePictureData(const uint8_t* data, size_t size) {
    if (!data || size < 2) return false;
    // The codecs' own header checks, without decoding: the dispatcher in inspect mode over a
    // stream with no extension, so only the content decides.
    DataStream stream;
    if (!stream.AttachMemory(data, size)) return false;
    stream.SetName("");
    return LoadFromStream(stream, nullptr, nullptr, false);
}

void ThumbnailPictureSize(int width, int height, int& new_width, int& new_height) {
    new_width = width;
    new_height = height;
    if (width <= 78 && height < 59) return;
    const double factor = std::min(60.0 / double(height), 80.0 / double(width));
    new_width = std::max(1, int(double(width) * factor - 2));
    new_height = std::max(1, int(double(height) * factor - 2));
}

bool RenderThumbnail(CPicture& picture, ArchiveHandler::ThumbnailImage& out, ProgressSink* sink) {
    if (picture.IsEmpty()) return false;
    int w = 0, h = 0;
    ThumbnailPictureSize(picture.Width(), picture.Height(), w, h);
    if (w != picture.Width() || h != picture.Height()) {
        if (2 * w >= picture.Width() && 2 * h >= picture.Height()) {
            if (!ResizeSmooth(picture, w, h, sink)) return false;
        } else {
            // Large pictures: the fast scaler down to twice the size, then an averaging halving.
            if (!ScaleFastInPlace(picture, 2 * w, 2 * h, sink)) return false;
            if (!HalveSmooth(picture)) return false;
        }
    }
    CPicture canvas;
    if (!canvas.Create(ArchiveHandler::kThumbnailWidth, ArchiveHandler::kThumbnailHeight)) return false;
    FillCheckerboard(canvas, kSquare, kLight, kDark);
    // The alpha plane blends the picture onto the board: transparent pixels show the board.
    BlendOnto(canvas, picture, ArchiveHandler::kThumbnailWidth / 2 - picture.Width() / 2,
              ArchiveHandler::kThumbnailHeight / 2 - picture.Height() / 2);
    const int right = ArchiveHandler::kThumbnailWidth - 1, bottom = ArchiveHandler::kThumbnailHeight - 1;
    for (int x = 0; x <= right; ++x) {
        canvas.SetPixel(x, 0, kOutline);
        canvas.SetPixel(x, bottom, kOutline);
    }
    for (int y = 0; y <= bottom; ++y) {
        canvas.SetPixel(0, y, kOutline);
        canvas.SetPixel(right, y, kOutline);
    }
    out.width = canvas.Width();
    out.height = canvas.Height();
    out.pixels.resize(size_t(out.width) * size_t(out.height) * 3);
    for (int y = 0; y < out.height; ++y)
        std::copy_n(canvas.Row(y), size_t(out.width) * 3, out.pixels.data() + size_t(y) * size_t(out.width) * 3);
    return true;
}

std::string PictureCaption(int width, int height, int bits, std::string_view name_part) {
    char head[96];
    std::snprintf(head, sizeof head, "%d x %d x %d %s\n", width, height, bits, bits == 1 ? "Bit" : "Bits");
    return std::string(head) + std::string(name_part);
}

ArchiveHandler::PictureAnswer MakeThumbnail(ArchiveHandler& handler, int index) {
    if (index < 0 || size_t(index) >= handler.EntryCount()) return Answer::kNotPicture;
    {
        const ArchiveEntry& e = handler.Entry(size_t(index));
        if (!e.allocated || !e.is_file) return Answer::kNotPicture;
        const std::string_view name = e.NamePart();
        const bool known = HasPictureExtension(name);
        // Decided from the directory, before a byte is unpacked: members beyond the budget are
        // no thumbnails, and names no codec claims are looked at only when small.
        if (e.unpacked > kThumbnailMemberBudget) return Answer::kNotPicture;
        if (!known && (e.unpacked < 0 || e.unpacked > kThumbnailSniffBudget)) return Answer::kNotPicture;
    }
    ProgressSink& sink = handler.Sink() ? *handler.Sink() : SilentSink();
    Level level(sink);
    int status = 0;
    MemoryBlock block = handler.UnpackEntry(handler.Entry(size_t(index)), status);
    // Could not unpack (damage, password, cancel, memory): asked again at the next fill.
    if (!block || sink.Cancelled()) return Answer::kTryAgain;
    if (block.size > uint64_t(kThumbnailMemberBudget)) return Answer::kNotPicture;
    const std::string name(handler.Entry(size_t(index)).NamePart());
    if (!HasPictureExtension(name) && !LooksLikePictureData(block.data.get(), block.size))
        return Answer::kNotPicture;

    DataStream stream;
    if (!stream.AttachMemory(block.data.get(), block.size)) return Answer::kTryAgain;
    stream.SetName(name);
    CPicture picture;
    int full_width = 0, full_height = 0;
    if (LoadJpegForThumbnail(stream, picture, sink, full_width, full_height)) {
        // decoded reduced; the entry reports the picture's own size
    } else if (sink.Cancelled()) {
        return Answer::kTryAgain;
    } else if (LoadFromStream(stream, &picture, &sink, true)) {
        full_width = picture.Width();
        full_height = picture.Height();
    } else {
        return sink.Cancelled() ? Answer::kTryAgain : Answer::kNotPicture;
    }
    block = MemoryBlock();  // the member's bytes are no longer needed while scaling

    ArchiveEntry& e = handler.Entry(size_t(index));
    e.picture_width = full_width;
    e.picture_height = full_height;
    e.picture_bits = int16_t(picture.Depth());
    ArchiveHandler::ThumbnailImage image;
    if (!RenderThumbnail(picture, image, &sink) || sink.Cancelled()) return Answer::kTryAgain;
    const int slot = handler.AddThumbnail(std::move(image));
    if (slot < 0) return Answer::kTryAgain;
    handler.Entry(size_t(index)).thumbnail_index = slot;
    return Answer::kPicture;
}

void InstallThumbnailHook() { ArchiveHandler::SetThumbnailHook(&MakeThumbnail); }

}  // namespace quorbel
