// The picture format registry and the dispatcher that chooses a codec for a stream: first the
// row whose short name is the stream's extension, then every other row in registry order, so
// the codecs recognise their own data. Two-byte signatures "MZ" and "PK" (programs, ZIP
// archives) are never handed to a codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/data_stream.h"
#include "core/progress_sink.h"
#include "picture/graphics_format.h"
#include "picture/picture.h"

namespace quorbel {

// The registry rows in their order (rows whose codecs are not built yet are absent). The
// objects live for the whole run and carry per-call state: one load at a time.
const std::vector<CGraphicsFormat*>& PictureFormats();
// The row with this short name ("BMP"), compared without regard to case; null when absent.
CGraphicsFormat* FindPictureFormat(const std::string& short_name);
// A fresh private codec object for a short name ("BMP", "GLC", ...); null when none is built.
std::unique_ptr<CGraphicsFormat> MakePictureFormat(const std::string& short_name);

// True for the first two bytes of data no codec is ever given ("MZ", "PK").
bool IsRefusedSignature(const uint8_t* first_two, size_t size);

// The dispatcher. load = true decodes into `picture` (which must not be null); false only
// inspects. Width, height, depth and text (any may be null) come from the codec that accepted
// the data (load mode: the picture's size and depth); `chosen` names that codec. The picture is
// reset (palette, alpha, depth) before each codec tries it.
bool LoadFromStream(DataStream& stream, CPicture* picture, ProgressSink* sink, bool load,
                    int* width = nullptr, int* height = nullptr, int* depth = nullptr,
                    std::string* text = nullptr, const CGraphicsFormat** chosen = nullptr);
// Opens a file and dispatches it in load mode.
bool LoadPictureFile(const std::string& path, CPicture& picture, ProgressSink* sink);
// Decodes a blob of the program's resources (fetched by the application) with a private
// instance of one codec: jpeg true -> "JPG", false -> "TGA". Null when the codec is missing
// or the bytes do not decode.
std::unique_ptr<CPicture> LoadPictureResource(const uint8_t* data, size_t size, bool jpeg);
// The same with any codec by short name.
std::unique_ptr<CPicture> LoadPictureResourceWith(const uint8_t* data, size_t size,
                                                  const std::string& short_name);

// Writes the picture as an uncompressed 24-bit BMP beside `path` and renames it into place:
// false on any failed write (full disk), and then no file (and no partial one) is left.
bool SaveBmp24(const std::string& path, const CPicture& picture, ProgressSink* sink);

}  // namespace quorbel
