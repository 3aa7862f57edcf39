#include "picture/format_registry.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>

#include <unistd.h>

#include "picture/codecs/bmp_codec.h"
#include "picture/codecs/clp_codec.h"
#include "picture/codecs/gif_codec.h"
#include "picture/codecs/glimmer_codecs.h"
#include "picture/codecs/halo_codec.h"
#include "picture/codecs/iff_codec.h"
#include "picture/codecs/jpeg_codec.h"
#include "picture/codecs/macpaint_codec.h"
#include "picture/codecs/metafile_codec.h"
#include "picture/codecs/pcx_codec.h"
#include "picture/codecs/png_codec.h"
#include "picture/codecs/pnm_codec.h"
#include "picture/codecs/psd_codec.h"
#include "picture/codecs/tga_codec.h"
#include "picture/codecs/tiff_codec.h"

namespace quorbel {

namespace {

using Factory = std::unique_ptr<CGraphicsFormat> (*)();

template <typename T>
std::unique_ptr<CGraphicsFormat> Make() {
    return std::make_unique<T>();
}

// The registry in its order, which is the order of the dispatcher's second pass. A row whose
// codec is not built yet has no factory and takes no part.
struct Row {
    const char* short_name;
    Factory factory;
};
constexpr Row kRows[] = {
    {"BMP", &Make<CBmpBmpFormat>},
    {"TGA", &Make<CTgaFormat>},
    {"GIF", &Make<CGifFormat>},
    {"PCX", &Make<CPcxFormat>},
    {"PNG", &Make<CPngFormat>},
    {"JPG", &Make<CJpegFormat>},
    {"RLE", &Make<CBmpRleFormat>},
    {"TIF", &Make<CTiffFormat>},
    {"WMF", &Make<CWmfFormat>},
    {"EMF", &Make<CEmfFormat>},
    {"OS2", &Make<CBmpOs2Format>},
    {"DIB", &Make<CBmpDibFormat>},
    {"CLP", &Make<CClpFormat>},
    {"IFF", &Make<CIffFormat>},
    {"LBM", &Make<CLbmFormat>},
    {"MAC", &Make<CMacPaintFormat>},
    {"PBM", &Make<CPbmFormat>},
    {"PGM", &Make<CPgmFormat>},
    {"PPM", &Make<CPpmFormat>},
    {"PSD", &Make<CPsdFormat>},
    {"CUT", &Make<CHaloFormat>},
    {"GLC", &Make<CGlcFormat>},
    {"GLS", &Make<CGlsFormat>},
};
static_assert(sizeof kRows / sizeof kRows[0] == 23);

// Data that is never handed to a codec: programs and ZIP archives.
constexpr const char* kRefusedSignatures[] = {"MZ", "PK"};

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

struct Registry {
    std::vector<std::unique_ptr<CGraphicsFormat>> owned;
    std::vector<CGraphicsFormat*> rows;
    Registry() {
        for (const Row& row : kRows)
            if (row.factory) {
                owned.push_back(row.factory());
                rows.push_back(owned.back().get());
            }
    }
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

void RestoreDepth(ProgressSink& sink, int depth) {
    while (sink.Depth() > depth) sink.End(0);
}

}  // namespace

const std::vector<CGraphicsFormat*>& PictureFormats() { return TheRegistry().rows; }

CGraphicsFormat* FindPictureFormat(const std::string& short_name) {
    for (CGraphicsFormat* f : PictureFormats())
        if (EqualNoCase(f->ShortName(), short_name)) return f;
    return nullptr;
}

std::unique_ptr<CGraphicsFormat> MakePictureFormat(const std::string& short_name) {
    for (const Row& row : kRows)
        if (row.factory && EqualNoCase(row.short_name, short_name)) return row.factory();
    return nullptr;
}

bool IsRefusedSignature(const uint8_t* first_two, size_t size) {
    if (!first_two || size < 2) return false;
    for (const char* s : kRefusedSignatures)
        if (first_two[0] == uint8_t(s[0]) && first_two[1] == uint8_t(s[1])) return true;
    return false;
}

namespace {

// One attempt of either pass.
bool TryFormat(CGraphicsFormat& format, DataStream& stream, CPicture* picture, ProgressSink& sink,
               bool load, int* width, int* height, int* depth, std::string* text,
               const CGraphicsFormat** chosen) {
    char message[600];
    std::snprintf(message, sizeof message, "Loading File \"%s\"...", NameFilePart(stream.Name()).c_str());
    sink.SetText(message, true);
    stream.Rewind();
    bool ok;
    if (load) {
        // The picture may hold what an earlier codec left: no palette, alpha or depth of it may
        // reach this one.
        picture->ResetDecodeState();
        ok = format.LoadPicture(stream, *picture, &sink);
        if (ok) {
            if (width) *width = picture->Width();
            if (height) *height = picture->Height();
            if (depth) *depth = picture->Depth();
            if (text) *text = format.InfoText();
        }
    } else {
        ok = format.GetInfo(stream, width, height, depth, text);
    }
    if (ok && chosen) *chosen = &format;
    return ok;
}

}  // namespace

bool LoadFromStream(DataStream& stream, CPicture* picture, ProgressSink* sink, bool load, int* width,
                    int* height, int* depth, std::string* text, const CGraphicsFormat** chosen) {
    if (width) *width = 0;
    if (height) *height = 0;
    if (depth) *depth = 0;
    if (text) text->clear();
    if (chosen) *chosen = nullptr;
    if (load && !picture) return false;
    const std::vector<CGraphicsFormat*>& formats = PictureFormats();
    const std::string extension = NameExtension(stream.Name());

    stream.Rewind();
    uint8_t first[2] = {0, 0};
    const size_t got = stream.Read(first, 2);
    if (IsRefusedSignature(first, got)) return false;
    stream.Rewind();

    ProgressSink& s = sink ? *sink : SilentSink();
    const int nesting = s.Depth();
    bool ok = false;
    s.Begin();
    char message[600];
    std::snprintf(message, sizeof message, "Examining File \"%s\"...", NameFilePart(stream.Name()).c_str());
    s.SetText(message, true);

    CGraphicsFormat* tried = nullptr;
    bool cancelled = false;
    // First pass: the row named by the extension, and only that one.
    for (CGraphicsFormat* f : formats) {
        if (s.SetPos(0, true) == 0) {
            cancelled = true;
            break;
        }
        if (!extension.empty() && EqualNoCase(f->ShortName(), extension)) {
            tried = f;
            ok = TryFormat(*f, stream, picture, s, load, width, height, depth, text, chosen);
            break;
        }
    }
    // Second pass: every other row, in order; the codecs recognise their own data.
    if (!ok && !cancelled) {
        for (CGraphicsFormat* f : formats) {
            if (s.SetPos(0, true) == 0) break;
            if (f == tried) continue;
            if (TryFormat(*f, stream, picture, s, load, width, height, depth, text, chosen)) {
                ok = true;
                break;
            }
        }
    }
    RestoreDepth(s, nesting);
    return ok;
}

bool LoadPictureFile(const std::string& path, CPicture& picture, ProgressSink* sink) {
    DataStream stream;
    if (!stream.OpenFile(path, true)) return false;
    const bool ok = LoadFromStream(stream, &picture, sink, true);
    stream.Close();
    return ok;
}

std::unique_ptr<CPicture> LoadPictureResourceWith(const uint8_t* data, size_t size, const std::string& short_name) {
    if (!data || size == 0) return nullptr;
    std::unique_ptr<CGraphicsFormat> codec = MakePictureFormat(short_name);
    if (!codec) return nullptr;
    DataStream stream;
    if (!stream.AttachMemory(data, size)) return nullptr;
    stream.SetName("Memory");
    auto picture = std::make_unique<CPicture>();
    if (!codec->LoadPicture(stream, *picture, nullptr) || picture->IsEmpty()) return nullptr;
    return picture;
}

std::unique_ptr<CPicture> LoadPictureResource(const uint8_t* data, size_t size, bool jpeg) {
    return LoadPictureResourceWith(data, size, jpeg ? "JPG" : "TGA");
}

bool SaveBmp24(const std::string& path, const CPicture& picture, ProgressSink* sink) {
    if (picture.IsEmpty()) return false;
    // Written beside the target and renamed into place when complete, so a failed write
    // (full disk) never leaves a partial picture under the target's name.
    const std::string temp = path + ".part" + std::to_string(::getpid());
    DataStream stream;
    if (!stream.OpenFile(temp, false)) return false;
    bool ok = WriteBmp24(stream, picture, sink);
    ok = stream.Flush(false) && ok;
    ok = !stream.Error() && ok;
    stream.Close();
    std::error_code ec;
    if (ok) {
        std::filesystem::rename(temp, path, ec);
        if (!ec) return true;
    }
    std::filesystem::remove(temp, ec);
    return false;
}

}  // namespace quorbel
