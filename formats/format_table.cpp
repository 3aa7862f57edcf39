#include "formats/format_table.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "core/byte_reader.h"
#include "core/data_stream.h"
#include "core/messages.h"
#include "core/user_prompts.h"
#include "core/gz_archive.h"
#include "core/zip/zip_archive.h"
#include "formats/ace/ace_archive.h"
#include "formats/arj/arj_archive.h"
#include "formats/cab/cab_archive.h"
#include "formats/jar_archive.h"
#include "formats/lha/lha_archive.h"
#include "formats/rar/rar_archive.h"
#include "formats/zoo/zoo_archive.h"
#include "formats/tar_archive.h"
#include "formats/uue_archive.h"
#include "core/zip/zip_records.h"
#include "platform/file_system.h"

namespace quorbel {

namespace {
// The reason a failed opener gives, kept only when the format recognised the file.
thread_local std::string* g_open_reason = nullptr;

// Constructs the handler, installs the sink and the disk prompt, opens the file: the handler
// when Open returned 1, else none with status saying why. A missing external program is shown
// at once.
template <typename Handler>
std::unique_ptr<ArchiveHandler> OpenWith(const std::string& path, int& status, ProgressSink* sink) {
    auto handler = std::make_unique<Handler>();
    handler->SetSink(sink);
    handler->SetDiskPromptId(text_id::kDiskPrompt);
    status = handler->Open(path);
    if (status == kStatusNoProgram) Prompts().ShowMessage(handler->LastMessage());
    if (status == kStatusOk) return handler;
    // "Not this format" answers (0 and 6) say nothing about the file itself.
    if (g_open_reason && g_open_reason->empty() && status != kStatusFailed &&
        status != kStatusNotThisFormat)
        *g_open_reason = handler->LastMessage();
    return nullptr;
}
}  // namespace

const std::vector<FormatRow>& FormatTable() {
    // Formats not built yet keep their place in the order; rows are added as they land.
    static const std::vector<FormatRow> table = {
        {1, "ZIP", &OpenWith<ZipArchive>},
        {2, "ARJ", &OpenWith<ArjArchive>},
        {3, "LHA", &OpenWith<LhaArchive>},
        {4, "ZOO", &OpenWith<ZooArchive>},
        {5, "RAR", &OpenWith<RarArchive>},
        {6, "UUE", &OpenWith<UueArchive>},
        {7, "GZ", &OpenWith<GzArchive>},
        {8, "TAR", &OpenWith<TarArchive>},
        {9, "ACE", &OpenWith<AceArchive>},
        {10, "CAB", &OpenWith<CabArchive>},
        {11, "JAR", &OpenWith<JarArchive>},
    };
    return table;
}

std::unique_ptr<ArchiveHandler> OpenArchiveFile(const std::string& path, int& status,
                                                ProgressSink* sink, std::string* message) {
    ProgressSink* progress = sink ? sink : &SilentSink();
    SharedReading one_file(path);
    std::string reason;
    g_open_reason = &reason;
    progress->Begin();
    std::unique_ptr<ArchiveHandler> result;
    status = kStatusFailed;
    for (const FormatRow& row : FormatTable()) {
        result = row.open(path, status, progress);
        if (status == kStatusAborted) {
            result.reset();
            reason = MessageTemplate(kMsgAborted);
            break;
        }
        if (result) break;
    }
    progress->End(1);
    g_open_reason = nullptr;
    if (message) {
        if (result)
            message->clear();
        else if (!reason.empty())
            *message = reason;
        else
            *message = FormatText(StringById(text_id::kUnknownArchiveFormat).c_str(), path.c_str());
    }
    return result;
}

namespace {
std::string ExtensionOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = char(std::toupper(static_cast<unsigned char>(c)));
    return ext;
}

bool OneOf(const std::string& ext, std::initializer_list<const char*> list) {
    return std::any_of(list.begin(), list.end(), [&](const char* e) { return ext == e; });
}

bool HasZipDirectory(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bool found = false;
    if (fseeko(f, 0, SEEK_END) == 0) {
        off_t size = ftello(f);
        if (size > 21) {
            size_t n = size_t(std::min<off_t>(size, off_t(zip::kMaxEndSearch)));
            std::vector<uint8_t> tail(n);
            if (fseeko(f, size - off_t(n), SEEK_SET) == 0 && std::fread(tail.data(), 1, n, f) == n) {
                for (size_t i = n - zip::kEndSize + 1; i-- > 0;) {
                    if (Le32(&tail[i]) != zip::kEndSig) continue;
                    uint32_t offset = Le32(&tail[i + zip::end::kCentralOffset]);
                    uint8_t sig[4];
                    found = off_t(offset) + 4 <= size && fseeko(f, off_t(offset), SEEK_SET) == 0 &&
                            std::fread(sig, 1, 4, f) == 4 && Le32(sig) == zip::kCentralSig;
                    break;
                }
            }
        }
    }
    std::fclose(f);
    return found;
}
}  // namespace

bool IsArchiveFile(const std::string& path) {
    if (IsFolder(path)) return false;
    std::string ext = ExtensionOf(path);
    if (OneOf(ext, {"ZIP", "ARJ", "LHA", "LZH", "RAR", "UUE", "UU", "XXE", "BHX", "B64", "HQX",
                    "MIM", "TAR", "TAZ", "TGZ", "GZ", "Z", "TZ", "ZOO", "JAR", "J", "ACE", "CAB"}))
        return true;
    return HasZipDirectory(path);
}

bool IsKnownFile(const std::string& path) {
    if (IsFolder(path)) return false;
    if (IsArchiveFile(path)) return true;
    return OneOf(ExtensionOf(path),
                 {"BMP", "DIB", "TGA", "TPIC", "VDA", "ICB", "VST", "PCX", "PNG", "JPG", "JPE",
                  "JPEG", "GLC", "GLS", "TIF", "TIFF", "EMF", "WMF", "CLP", "IFF", "LBM", "MAC",
                  "PBM", "PGM", "PPM", "PSD", "HTM", "HTML"});
}

}  // namespace quorbel
