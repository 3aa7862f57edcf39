#include "formats/jar_archive.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>

#include <unistd.h>

#include "core/messages.h"
#include "platform/file_system.h"

namespace quorbel {

namespace {
bool EqualsNoCase(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// "YYYY-MM-DD HH:MM:SS": digits where the numbers are, anything one character wide between.
bool ParseModified(const std::string& v, JarArchive::ListedMember& m) {
    static const int starts[] = {0, 5, 8, 11, 14, 17};
    static const int widths[] = {4, 2, 2, 2, 2, 2};
    if (v.size() < 19) return false;
    int values[6];
    for (int f = 0; f < 6; ++f) {
        int n = 0;
        for (int i = 0; i < widths[f]; ++i) {
            char c = v[size_t(starts[f] + i)];
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
            n = n * 10 + (c - '0');
        }
        values[f] = n;
    }
    if (values[1] < 1 || values[1] > 12 || values[2] < 1 || values[2] > 31 || values[3] > 23 ||
        values[4] > 59 || values[5] > 61)
        return false;
    m.year = values[0];
    m.month = values[1];
    m.day = values[2];
    m.hour = values[3];
    m.minute = values[4];
    m.second = values[5];
    m.has_time = true;
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    // A listing is a few lines per member; far more than any archive needs is damage.
    constexpr std::streamsize kLimit = 256 << 20;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return std::streamsize(out.size()) <= kLimit;
}

bool ParseDecimal(const std::string& v, int64_t& out) {
    size_t i = 0;
    while (i < v.size() && v[i] == ' ') ++i;
    if (i == v.size() || !std::isdigit(static_cast<unsigned char>(v[i]))) return false;
    int64_t n = 0;
    for (; i < v.size() && std::isdigit(static_cast<unsigned char>(v[i])); ++i) {
        if (n > (INT64_MAX - 9) / 10) return false;
        n = n * 10 + (v[i] - '0');
    }
    out = n;
    return true;
}
}  // namespace

JarArchive::JarArchive() : ExternalArchive("JAR") {}

bool JarArchive::HasSignature(const uint8_t* data, size_t size) {
    static const uint8_t sig[] = {0x1A, 0x4A, 0x61, 0x72, 0x1B, 0x00};
    return size >= 20 && std::memcmp(data + 14, sig, sizeof sig) == 0;
}

std::vector<JarArchive::ListedMember> JarArchive::ParseListing(const std::string& text) {
    std::vector<ListedMember> out;
    ListedMember pending;
    bool in_file = false, has_attributes = false;
    auto flush = [&] {
        if (in_file && !pending.name.empty() && has_attributes && !(pending.attributes & 0x10))
            out.push_back(pending);
        pending = ListedMember();
        in_file = false;
        has_attributes = false;
    };
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? text.size() : end + 1;
        if (line.size() > 1024) line.resize(1024);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t start = 0;
        while (start < line.size() && line[start] == ' ') ++start;
        size_t eq = line.find('=', start);
        if (eq == std::string::npos) continue;
        std::string key = line.substr(start, eq - start);
        std::string value = line.substr(eq + 1);
        if (EqualsNoCase(key, "Chapter")) {
            flush();
        } else if (EqualsNoCase(key, "File")) {
            flush();
            pending.name = value;
            in_file = true;
        } else if (!in_file) {
            continue;
        } else if (EqualsNoCase(key, "Modified")) {
            ParseModified(value, pending);
        } else if (EqualsNoCase(key, "Size")) {
            int64_t n;
            if (ParseDecimal(value, n)) pending.size = n;
        } else if (key == "Attributes") {
            int64_t bits;
            if (ParseDecimal(value, bits)) {
                uint32_t a = 0;
                if (bits & 0x01) a |= kAttrArchive;
                if (bits & 0x02) a |= kAttrHidden;
                if (bits & 0x04) a |= kAttrSystem;
                if (bits & 0x08) a |= kAttrReadOnly;
                if (bits & 0x10) a |= kAttrFolder;
                pending.attributes = a;
                has_attributes = true;
            }
        }
    }
    flush();
    return out;
}

int JarArchive::ReadDirectory() {
    SetMessage(kMsgNotThisFormat, path_, "JAR");
    uint8_t head[64] = {};
    stream_.Rewind();
    size_t got = stream_.Read(head, sizeof head);
    if (!HasSignature(head, got)) return kStatusNotThisFormat;
    if (!LocateProgram()) {
        SetMessage(kMsgNoProgram, format_name_);
        return kStatusNoProgram;
    }
    if (!MakeFolders(WorkFolder())) return kStatusNotThisFormat;
    const std::string listing = WorkFolder() + "/quorbel.lt";
    unlink(listing.c_str());
    ProgramRequest request;
    request.program = program_path_;
    // A Windows archiver (run through wine) is given Windows paths.
    const bool dos = IsMzProgram(program_path_);
    request.arguments = {"lt", dos ? WindowsPath(path_) : path_, dos ? WindowsPath(listing) : listing};
    request.working_folder = FolderOfPath(program_path_);
    request.sink = sink_;
    ProgramResult result = RunProgram(request);
    if (result.outcome == ProgramResult::Outcome::kCancelled) {
        SetMessage(kMsgAborted);
        return kStatusAborted;
    }
    SetMessage(kMsgNotThisFormat, path_, "JAR");
    std::string text;
    if (!FileExists(listing) || !ReadWholeFile(listing, text)) return kStatusNotThisFormat;
    unlink(listing.c_str());
    std::vector<ListedMember> members = ParseListing(text);
    if (!AllocateEntries(members.size())) return kStatusFailed;
    sink_->SetRange(0, int64_t(members.size()));
    for (size_t i = 0; i < members.size(); ++i) {
        if (!StillGoing(int64_t(i))) return kStatusAborted;
        const ListedMember& m = members[i];
        ArchiveEntry* e = SetExternalEntry(i, true, m.name, m.name, -1, m.size, -1, m.attributes,
                                           false, 0, 0, "");
        if (!e) return kStatusFailed;
        if (m.has_time) SetEntryTime(*e, m.year, m.month, m.day, m.hour, m.minute, m.second);
    }
    return kStatusOk;
}

}  // namespace quorbel
