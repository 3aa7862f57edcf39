// Thumbnails of picture members: the hook the archive handler calls to examine one entry, and
// the pieces it is made of (sniffing, rendering the 80 x 60 canvas, the caption).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/archive_handler.h"
#include "core/progress_sink.h"
#include "picture/picture.h"

namespace quorbel {

// Members larger than this are never unpacked to look for a picture (a picture this large
// would not be shown as a thumbnail anyway, and a 4 GB member would be inflated into memory).
inline constexpr int64_t kThumbnailMemberBudget = 64ll * 1024 * 1024;

// Members whose name has no picture extension are unpacked only up to this size, and then
// decoded only when their first bytes carry a picture signature.
inline constexpr int64_t kThumbnailSniffBudget = 1024 * 1024;

// JPEG members are decoded reduced (1/2, 1/4, 1/8) to no less than this before scaling.
inline constexpr int kThumbnailJpegMinWidth = 160;
inline constexpr int kThumbnailJpegMinHeight = 120;

// The cheap look at a member before it is unpacked: true when its extension is the short name
// of a registry row (or ".jpeg", ".tiff").
bool HasPictureExtension(std::string_view name);
bool LooksLikePictureData(const uint8_t* data, size_t size);

// Scales the picture to fit 80 x 60 (leaving a 1-pixel margin inside the outline), draws it
// centred on the 8 x 8 checkerboard of (255,255,255) and (230,230,230), blending its alpha
// plane, and outlines the canvas in black. False when the user cancelled during scaling.
bool RenderThumbnail(CPicture& picture, ArchiveHandler::ThumbnailImage& out, ProgressSink* sink);
// The size the picture takes inside the thumbnail (unchanged when it already fits in 78 x 58).
void ThumbnailPictureSize(int width, int height, int& new_width, int& new_height);

// "%d x %d x %d %s\n%s": width, height, bits, "Bit" for 1 bit else "Bits", the name part.
std::string PictureCaption(int width, int height, int bits, std::string_view name_part);

// Examines one entry: budget and name check, UnpackEntry, the dispatcher, RenderThumbnail,
// AddThumbnail. The answer the handler's hook gives.
ArchiveHandler::PictureAnswer MakeThumbnail(ArchiveHandler& handler, int index);

// Installs MakeThumbnail as the handlers' thumbnail hook (once at start-up).
void InstallThumbnailHook();

}  // namespace quorbel
