// Uuencoded files: listing the "begin" ... "end" blocks of a text, decoding one block, and
// encoding a whole file.
#include "formats/uue_archive.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/code_page.h"
#include "core/messages.h"
#include "platform/file_system.h"

namespace quorbel {

namespace {

constexpr size_t kChunk = 65536;
// Longest part of a line that is kept; the rest is consumed and only counted. Data lines are
// far shorter, and a "begin" line's name fits with room to spare.
constexpr size_t kKeptLine = 65536;
// Abort checks while searching a long text for its first block (in bytes) and while decoding
// (in lines): a text without any block must still be stoppable.
constexpr int64_t kSearchPollBytes = 65536;
constexpr int64_t kDecodePollLines = 1024;
constexpr size_t kInitialSink = 0x100000;

// A byte a text line may hold: printable ASCII, blanks, and the bytes of 8-bit or UTF-8 text
// (accented letters in a mail's preamble or in a member name). Control bytes mean binary data.
bool IsLineByte(uint8_t c) { return c == '\t' || (c >= 0x20 && c != 0x7F); }

bool StartsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// The byte count a data line's first character gives; 0 for an empty line (a final zero
// line whose blank was stripped), -1 for a character outside the alphabet.
int CountOf(const std::string& line) {
    if (line.empty()) return 0;
    uint8_t c = uint8_t(line[0]);
    if (c == '`') return 0;
    if (c < 0x20 || c > '`') return -1;
    return c - 0x20;
}

// The six bits of one encoded character; -1 outside the alphabet (' ' to '`').
int SixBits(char ch) {
    uint8_t c = uint8_t(ch);
    if (c < 0x20 || c > '`') return -1;
    return (c - 0x20) & 0x3F;
}

char EncodeSix(uint32_t v) { return v == 0 ? '`' : char(v + 0x20); }

// Text lines of a stream. A line ends at LF, CR LF or a lone CR; a byte that cannot be in a
// text ends the reading as if the stream had ended there.
class LineReader {
public:
    LineReader(DataStream& stream, int64_t start, int64_t size)
        // A small file gets a buffer of its size: the opener tries every file as text.
        : stream_(stream), size_(size), chunk_start_(start),
          buffer_(start >= 0 && start < size ? size_t(std::min<int64_t>(size - start, int64_t(kChunk))) : 1) {
        // Seeking is checked against the size first: a memory stream clamps seeks past its end.
        done_ = start < 0 || start >= size || stream.Seek(start, DataStream::Origin::Start) != start;
    }

    // The next line; false at the end of the stream or at a byte no text holds.
    bool Next() {
        line_.clear();
        length_ = 0;
        if (done_) return false;
        for (;;) {
            if (index_ == have_ && !Fill()) {
                done_ = true;
                return length_ > 0;  // a last line without its line end
            }
            const uint8_t* p = buffer_.data();
            size_t i = index_;
            while (i < have_ && p[i] != '\n' && p[i] != '\r') {
                if (!IsLineByte(p[i])) {
                    done_ = true;
                    return false;
                }
                ++i;
            }
            size_t n = i - index_;
            if (line_.size() < kKeptLine)
                line_.append(reinterpret_cast<const char*>(p + index_), std::min(n, kKeptLine - line_.size()));
            length_ += n;
            index_ = i;
            if (i == have_) continue;
            const bool cr = p[i] == '\r';
            ++index_;
            if (cr && (index_ < have_ || Fill()) && buffer_[index_] == '\n') ++index_;
            return true;
        }
    }

    const std::string& Line() const { return line_; }
    // The line's full length, also when only its start was kept.
    uint64_t Length() const { return length_; }
    // Stream offset just after the last line read (after its line end).
    int64_t Position() const { return chunk_start_ + int64_t(index_); }

private:
    bool Fill() {
        chunk_start_ += int64_t(have_);
        index_ = 0;
        have_ = 0;
        if (chunk_start_ >= size_) return false;
        size_t want = size_t(std::min<int64_t>(int64_t(kChunk), size_ - chunk_start_));
        have_ = stream_.Read(buffer_.data(), want);
        return have_ > 0;
    }

    DataStream& stream_;
    int64_t size_;
    int64_t chunk_start_;
    std::vector<uint8_t> buffer_;
    size_t have_ = 0;
    size_t index_ = 0;
    bool done_ = false;
    std::string line_;
    uint64_t length_ = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

UueArchive::UueArchive() { format_name_ = "UUE"; }

std::string UueArchive::NameFromBeginLine(const std::string& line) {
    // Read as "%s %d %s": a word starting with "begin", a number, then the name's first word.
    if (!StartsWith(line, "begin")) return "";
    size_t i = 0;
    const size_t n = line.size();
    while (i < n && !IsBlank(line[i])) ++i;
    while (i < n && IsBlank(line[i])) ++i;
    if (i < n && (line[i] == '+' || line[i] == '-')) ++i;
    size_t digits = i;
    while (i < n && line[i] >= '0' && line[i] <= '9') ++i;
    if (i == digits) return "";  // no mode: an ordinary line of text that starts with "begin"
    while (i < n && IsBlank(line[i])) ++i;
    size_t name_start = i;
    while (i < n && !IsBlank(line[i])) ++i;
    std::string name = line.substr(name_start, i - name_start);
    // Names are stored relative to the destination: no drive, no root.
    if (name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
        name.erase(0, 2);
    size_t lead = name.find_first_not_of("/\\");
    name.erase(0, lead == std::string::npos ? name.size() : lead);
    return GuessToUtf8(name);
}

int UueArchive::ReadDirectory() {
    SetMessage(kMsgNotThisFormat, path_, format_name_);
    const int64_t length = stream_.Size();
    ProgressScope progress(sink_);
    sink_->SetRange(0, std::max<int64_t>(length, 0));
    auto aborted = [this] {
        SetMessage(kMsgAborted);
        return int(kStatusAborted);
    };

    LineReader in(stream_, 0, length);
    int64_t next_poll = kSearchPollBytes;
    for (;;) {
        std::string name;
        while (name.empty()) {
            if (!in.Next()) return entries_.empty() ? kStatusNotThisFormat : kStatusOk;
            if (in.Position() >= next_poll) {
                if (sink_->SetPos(in.Position()) == 0) return aborted();
                next_poll = in.Position() + kSearchPollBytes;
            }
            name = NameFromBeginLine(in.Line());
        }
        const int64_t start = in.Position();
        if (sink_->SetPos(start) == 0) return aborted();

        // Measure the block: its decoded size is the sum of the line counts.
        int64_t unpacked = 0;
        for (int64_t line_number = 1;; ++line_number) {
            if (!in.Next()) return kStatusNotThisFormat;
            if (line_number % ProgressStep() == 0 && sink_->SetPos(in.Position()) == 0)
                return aborted();
            if (StartsWith(in.Line(), "end")) break;
            int count = CountOf(in.Line());
            if (in.Length() > kMaxDataLine || count < 0 || count > kMaxLineBytes)
                return kStatusNotThisFormat;
            unpacked += count;
        }
        next_poll = in.Position() + kSearchPollBytes;

        try {
            entries_.emplace_back();
        } catch (const std::bad_alloc&) {
            SetMessage(kMsgOutOfMemory);
            return kStatusFailed;
        }
        const size_t index = entries_.size() - 1;
        ArchiveEntry* e = SetEntry(index, true, name, in.Position() - start, unpacked, -1, 0, false,
                                   0, 0, "");
        if (!e) return kStatusFailed;
        e->header_offset = start;
        uint8_t record[8];
        for (int b = 0; b < 8; ++b) record[b] = uint8_t(uint64_t(start) >> (8 * b));
        if (!StoreFormatHeader(*e, record, sizeof record)) return kStatusFailed;
    }
}

MemoryBlock UueArchive::UnpackEntry(const ArchiveEntry& entry, int& status) {
    status = kStatusFailed;
    const std::string name(entry.NamePart());
    ProgressScope progress(sink_);
    sink_->SetText(FormatText(MessageTemplate(kMsgExtracting).c_str(), name.c_str()));
    auto damaged = [&] {
        SetMessage(kMsgDecompressError);
        status = kUnpackDataError;
        return MemoryBlock();
    };
    auto out_of_memory = [&] {
        SetMessage(kMsgOutOfMemory);
        return MemoryBlock();
    };

    const int64_t length = stream_.Size();
    const int64_t start = entry.header_offset;
    if (!entry.is_file || start < 0 || length < 0 || start > length) return damaged();
    DataStream sink;
    // The decoded bytes are fewer than the encoded ones: a small block needs no megabyte.
    const size_t initial = entry.packed > 0 ? size_t(std::min<int64_t>(entry.packed, int64_t(kInitialSink)))
                                            : kInitialSink;
    if (!sink.CreateMemory(initial)) return out_of_memory();
    sink_->SetRange(0, entry.packed > 0 ? entry.packed : length - start);

    LineReader in(stream_, start, length);
    size_t decoded = 0;
    uint8_t bytes[66];
    for (int64_t line_number = 1;; ++line_number) {
        // A block cut off (or a byte no text holds) before its "end" is damage, not a shorter file.
        if (!in.Next()) return damaged();
        if (line_number % kDecodePollLines == 0 && sink_->SetPos(in.Position() - start) == 0) {
            SetMessage(kMsgAborted);
            status = kUnpackAborted;
            return {};
        }
        const std::string& line = in.Line();
        if (StartsWith(line, "end")) break;
        const int count = CountOf(line);
        if (count < 0) return damaged();
        if (count == 0) break;
        // Every group the count calls for must be on the line; characters after them are
        // ignored (some encoders pad the last line).
        const size_t groups = size_t(count + 2) / 3;
        if (line.size() < 1 + 4 * groups) return damaged();
        size_t put = 0;
        for (size_t g = 0; g < groups; ++g) {
            const char* q = line.data() + 1 + 4 * g;
            int a = SixBits(q[0]), b = SixBits(q[1]), c = SixBits(q[2]), d = SixBits(q[3]);
            if (a < 0 || b < 0 || c < 0 || d < 0) return damaged();
            bytes[put++] = uint8_t((a << 2) | (b >> 4));
            bytes[put++] = uint8_t(((b & 0x0F) << 4) | (c >> 2));
            bytes[put++] = uint8_t(((c & 0x03) << 6) | d);
        }
        if (sink.Write(bytes, size_t(count)) != size_t(count)) return out_of_memory();
        decoded += size_t(count);
    }

    MemoryBlock block = MemoryBlock::Allocate(decoded);
    if (!block) return out_of_memory();
    if (decoded) std::memcpy(block.data.get(), sink.MemoryData(), decoded);
    status = kUnpackOk;
    return block;
}

bool UuEncodeFile(const std::string& source_path, const std::string& dest_path,
                  ProgressSink* sink_in, std::string& message) {
    ProgressSink& sink = sink_in ? *sink_in : SilentSink();
    sink.Begin();
    struct Ender {
        ProgressSink& s;
        ~Ender() { s.End(0); }
    } ender{sink};
    const int64_t source_size = FileSize(source_path);
    sink.SetRange(0, std::max<int64_t>(source_size, 0));

    auto cannot_open = [&] {
        message = FormatText(MessageTemplate(kMsgCannotOpen).c_str(), source_path.c_str());
        return false;
    };
    auto cannot_create = [&] {
        message = FormatText(MessageTemplate(kMsgCannotCreate).c_str(), dest_path.c_str());
        return false;
    };
    if (IsFolder(source_path)) return cannot_open();
    std::FILE* source = std::fopen(source_path.c_str(), "rb");
    if (!source) return cannot_open();

    // Written beside the destination and renamed over it at the end, so that a failure or an
    // abort never leaves a half-written file under the final name.
    std::string temp_path;
    int fd = IsFolder(dest_path) ? -1 : CreateTempBeside(dest_path, temp_path);
    if (fd < 0) {
        std::fclose(source);
        return cannot_create();
    }
    auto give_up = [&](bool result) {
        std::fclose(source);
        if (fd >= 0) close(fd);
        unlink(temp_path.c_str());
        return result;
    };

    std::string text = "begin 600 " + FileNameOfPath(source_path) + "\n";
    text.reserve(kChunk + 128);
    uint8_t in[UueArchive::kMaxLineBytes];
    int64_t position = 0;
    for (;;) {
        if (sink.SetPos(position) == 0) {
            message = MessageTemplate(kMsgAborted);
            return give_up(false);
        }
        size_t got = std::fread(in, 1, sizeof in, source);
        if (got < sizeof in && std::ferror(source)) {
            cannot_open();
            return give_up(false);
        }
        position += int64_t(got);
        text += got == 0 ? '`' : char(got + 0x20);
        for (size_t i = 0; i < got; i += 3) {
            uint32_t b0 = in[i];
            uint32_t b1 = i + 1 < got ? in[i + 1] : 0;
            uint32_t b2 = i + 2 < got ? in[i + 2] : 0;
            text += EncodeSix(b0 >> 2);
            text += EncodeSix(((b0 & 0x03) << 4) | (b1 >> 4));
            text += EncodeSix(((b1 & 0x0F) << 2) | (b2 >> 6));
            text += EncodeSix(b2 & 0x3F);
        }
        text += '\n';
        if (got == 0) break;
        if (text.size() >= kChunk) {
            if (!WriteAll(fd, text.data(), text.size())) {
                cannot_create();
                return give_up(false);
            }
            text.clear();
        }
    }
    text += "end\n";
    std::fclose(source);
    source = nullptr;

    mode_t mask = umask(0);
    umask(mask);
    bool ok = WriteAll(fd, text.data(), text.size());
    ok = ok && fchmod(fd, 0666 & ~mask) == 0 && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    fd = -1;
    if (!ok || rename(temp_path.c_str(), dest_path.c_str()) != 0) {
        unlink(temp_path.c_str());
        return cannot_create();
    }
    return true;
}

std::string UueTargetFor(const std::string& archive_path) {
    size_t slash = archive_path.find_last_of('/');
    size_t dot = archive_path.find_last_of('.');
    size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    // A leading dot starts a hidden file's name; it is no extension.
    if (dot == std::string::npos || dot <= name_start) return archive_path + ".uue";
    return archive_path.substr(0, dot) + ".uue";
}

bool EncodeArchiveAsUue(const std::string& archive_path, const std::string& dest_path,
                        ProgressSink* sink_in, std::string& message) {
    ProgressSink& sink = sink_in ? *sink_in : SilentSink();
    sink.Begin();
    sink.SetText(FormatText(StringById(text_id::kUuencoding).c_str(), FileNameOfPath(archive_path).c_str()));
    bool ok = UuEncodeFile(archive_path, dest_path, &sink, message);
    if (ok) message = FormatText(StringById(text_id::kUueCreated).c_str(), dest_path.c_str());
    sink.End(0);
    return ok;
}

}  // namespace quorbel
