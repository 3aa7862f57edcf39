#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "core/gz_archive.h"
#include "core/messages.h"
#include "core/status.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

using test::ReadFile;
using test::WriteFile;

std::string Message(int code, const std::string& a = "", const std::string& b = "") {
    return FormatText(MessageTemplate(code).c_str(), a.c_str(), b.c_str());
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(gen() & 0xFF);
    return s;
}

// Text that compresses well, so that a changed byte lands in real deflate codes.
std::string Prose(size_t n) {
    std::string s;
    for (int i = 0; s.size() < n; ++i) s += "line " + std::to_string(i) + " of a report about gzip\n";
    s.resize(n);
    return s;
}

// Gzips `name` inside `dir` with the given extra options, keeping the original.
std::string Gzip(const std::string& dir, const std::string& name, const std::vector<std::string>& options = {}) {
    std::vector<std::string> argv = {"gzip", "-k", "-f"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(name);
    auto r = test::Run(argv, dir);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return dir + "/" + name + ".gz";
}

struct Unpacked {
    int status = -1;
    std::string data;
    bool has_block = false;
};

Unpacked UnpackOnly(GzArchive& h) {
    Unpacked u;
    MemoryBlock block = h.UnpackEntry(h.Entry(0), u.status);
    u.has_block = bool(block);
    if (block) u.data.assign(reinterpret_cast<const char*>(block.data.get()), block.size);
    return u;
}

// A sink that stops the operation on its Nth position report.
class AbortAfter : public ProgressSink {
public:
    explicit AbortAfter(int n) : left_(n) {}
    int SetPos(int64_t position, bool redraw) override {
        ProgressSink::SetPos(position, redraw);
        ++calls_;
        return --left_ > 0 ? 1 : 0;
    }
    int calls() const { return calls_; }

private:
    int left_;
    int calls_ = 0;
};

class GzArchiveTest : public ::testing::Test {
protected:
    void SetUp() override { QUORBEL_REQUIRE_TOOL("gzip"); }
    test::IsolatedEnvironment env;
    std::string Path(const std::string& name) const { return env / name; }
};

TEST_F(GzArchiveTest, FilesMadeByGzipListAndUnpack) {
    const std::string dir = Path("made");
    std::filesystem::create_directories(dir);
    const std::string small = Prose(5000), big = RandomBytes(300000, 7);
    WriteFile(dir + "/report.txt", small);
    WriteFile(dir + "/data.bin", big);
    WriteFile(dir + "/caf\xE9.txt", small);  // a Latin-1 file name

    struct Row {
        const char* what;
        std::string archive;   // path of the .gz to open
        std::string name;      // expected entry name
        std::string content;   // expected unpacked data
    };
    std::vector<Row> rows;
    {
        // Stored name: renamed so that only the header can give "report.txt".
        std::string gz = Gzip(dir, "report.txt");
        std::filesystem::rename(gz, dir + "/renamed.gz");
        rows.push_back({"stored name", dir + "/renamed.gz", "report.txt", small});
    }
    {
        std::string gz = Gzip(dir, "report.txt", {"-n"});
        rows.push_back({"no stored name", gz, "report.txt", small});
        std::filesystem::copy_file(gz, dir + "/backup.tgz");
        rows.push_back({"no stored name, .tgz", dir + "/backup.tgz", "backup.tar", small});
    }
    rows.push_back({"binary data", Gzip(dir, "data.bin", {"-9"}), "data.bin", big});
    rows.push_back({"latin-1 stored name", Gzip(dir, "caf\xE9.txt"), "caf\xC3\xA9.txt", small});
    {
        // Two members one after the other are one member's data, concatenated.
        std::string a = ReadFile(Gzip(dir, "report.txt"));
        std::string b = ReadFile(Gzip(dir, "data.bin", {"-1"}));
        WriteFile(dir + "/both.gz", a + b);
        rows.push_back({"concatenated members", dir + "/both.gz", "report.txt", small + big});
    }

    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        GzArchive h;
        ASSERT_EQ(h.Open(r.archive), kStatusOk) << h.LastMessage();
        EXPECT_EQ(h.FormatName(), "GZ");
        ASSERT_EQ(h.EntryCount(), 1u);
        const ArchiveEntry& e = h.Entry(0);
        EXPECT_TRUE(e.is_file);
        EXPECT_EQ(e.full_name, r.name);
        EXPECT_EQ(e.packed, int64_t(std::filesystem::file_size(r.archive)));
        EXPECT_EQ(e.unpacked, -1);
        EXPECT_EQ(e.SizeText(), "?");
        EXPECT_EQ(e.RatioText(), "?");
        EXPECT_EQ(e.crc, -1);  // gzip writes no header CRC
        EXPECT_EQ(e.time, h.ArchiveTime());
        Unpacked u = UnpackOnly(h);
        EXPECT_EQ(u.status, kUnpackOk) << h.LastMessage();
        EXPECT_TRUE(u.data == r.content) << u.data.size() << " vs " << r.content.size();
        // The peer reads the same bytes.
        EXPECT_TRUE(test::Run({"gzip", "-dc", r.archive}).out == r.content);
    }
}

TEST_F(GzArchiveTest, DamagedStreamsGiveADataErrorNeverPartialData) {
    const std::string dir = Path("damaged");
    std::filesystem::create_directories(dir);
    WriteFile(dir + "/report.txt", Prose(200000));
    const std::string good = ReadFile(Gzip(dir, "report.txt", {"-n"}));
    ASSERT_GT(good.size(), 1000u);

    struct Row {
        const char* what;
        std::string bytes;
    };
    std::string flipped = good;
    flipped[good.size() / 2] = char(flipped[good.size() / 2] ^ 0x55);
    std::string bad_crc = good;
    bad_crc[good.size() - 8] = char(bad_crc[good.size() - 8] ^ 0x01);
    std::string bad_length = good;
    bad_length[good.size() - 1] = char(bad_length[good.size() - 1] ^ 0x01);
    const Row rows[] = {
        {"byte changed in the deflate data", flipped},
        {"trailer cut short", good.substr(0, good.size() - 3)},
        {"no trailer at all", good.substr(0, good.size() - 8)},
        {"data cut in the middle", good.substr(0, good.size() / 2)},
        {"wrong CRC-32", bad_crc},
        {"wrong length", bad_length},
        {"second member damaged", good + flipped},
        {"second member cut short", good + good.substr(0, 40)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::string path = dir + "/bad.gz";
        WriteFile(path, r.bytes);
        EXPECT_NE(test::Run({"gzip", "-t", path}).exit_code, 0);
        GzArchive h;
        ASSERT_EQ(h.Open(path), kStatusOk);
        Unpacked u = UnpackOnly(h);
        EXPECT_EQ(u.status, kUnpackDataError);
        EXPECT_FALSE(u.has_block);
        EXPECT_EQ(h.LastMessage(), Message(kMsgDecompressError));
        // Extraction writes nothing and stops with the same result.
        test::TempDir out;
        EXPECT_EQ(h.ExtractAll(out.path(), true, true), kUnpackDataError);
        EXPECT_TRUE(std::filesystem::is_empty(out.path()));
    }
}

TEST_F(GzArchiveTest, HeadersThatAreNotGzip) {
    const std::string dir = Path("headers");
    std::filesystem::create_directories(dir);
    WriteFile(dir + "/a.txt", Prose(300));
    const std::string good = ReadFile(Gzip(dir, "a.txt"));
    struct Row {
        const char* what;
        std::string bytes;
        int status;
        int message;
    };
    std::string reserved = good;
    reserved[3] = char(reserved[3] | 0x20);
    std::string method = good;
    method[2] = 7;
    const Row rows[] = {
        {"reserved flag bit", reserved, kStatusNotThisFormat, kMsgNotThisFormat},
        {"other method", method, kStatusNotThisFormat, kMsgNotThisFormat},
        {"plain text", "just some text, long enough to be read", kStatusNotThisFormat, kMsgNotThisFormat},
        {"shorter than a header", std::string("\x1F\x8B\x08", 3), kStatusNotThisFormat, kMsgNotThisFormat},
        // The name field runs to the end of the file.
        {"header cut in the name", good.substr(0, 13), kStatusCorrupt, kMsgCorrupt},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::string path = dir + "/x.gz";
        WriteFile(path, r.bytes);
        GzArchive h;
        EXPECT_EQ(h.Open(path), r.status);
        if (r.message == kMsgNotThisFormat)
            EXPECT_EQ(h.LastMessage(), Message(kMsgNotThisFormat, path, "GZ"));
        else
            EXPECT_EQ(h.LastMessage(), Message(r.message, path));
    }
}

TEST_F(GzArchiveTest, OptionalHeaderFieldsAreRead) {
    // gzip itself writes neither FEXTRA, FCOMMENT nor FHCRC: the header is rebuilt around
    // gzip's own deflate data and trailer.
    const std::string dir = Path("fields");
    std::filesystem::create_directories(dir);
    const std::string content = Prose(4000);
    WriteFile(dir + "/a.txt", content);
    const std::string plain = ReadFile(Gzip(dir, "a.txt", {"-n"}));
    ASSERT_EQ(uint8_t(plain[3]), 0);
    std::string header = plain.substr(0, 10);
    header[3] = char(2 | 4 | 8 | 16);
    header += std::string("\x03\x00" "abc", 5);     // FEXTRA
    header += std::string("r\xE9sum\xE9.txt") + '\0';  // FNAME, Latin-1
    header += std::string("a note") + '\0';          // FCOMMENT
    uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(header.data()), uInt(header.size())));
    header += char(crc & 0xFF);
    header += char((crc >> 8) & 0xFF);
    const std::string path = dir + "/fields.gz";
    WriteFile(path, header + plain.substr(10));
    ASSERT_EQ(test::Run({"gzip", "-t", path}).exit_code, 0);

    GzArchive h;
    ASSERT_EQ(h.Open(path), kStatusOk) << h.LastMessage();
    const ArchiveEntry& e = h.Entry(0);
    EXPECT_EQ(e.full_name, "r\xC3\xA9sum\xC3\xA9.txt");
    EXPECT_EQ(e.comment, "a note");
    EXPECT_EQ(e.crc, int64_t(crc & 0xFFFF));
    EXPECT_EQ(e.CrcText(), FormatText("%X", unsigned(crc & 0xFFFF)));
    Unpacked u = UnpackOnly(h);
    EXPECT_EQ(u.status, kUnpackOk);
    EXPECT_TRUE(u.data == content);
}

TEST_F(GzArchiveTest, EmptyMemberReportsUnexpectedData) {
    const std::string dir = Path("empty");
    std::filesystem::create_directories(dir);
    WriteFile(dir + "/nothing.txt", "");
    const std::string gz = Gzip(dir, "nothing.txt");
    GzArchive h;
    ASSERT_EQ(h.Open(gz), kStatusOk);
    EXPECT_EQ(h.Entry(0).full_name, "nothing.txt");
    Unpacked u = UnpackOnly(h);
    EXPECT_EQ(u.status, kStatusFailed);
    EXPECT_FALSE(u.has_block);
    EXPECT_EQ(h.LastMessage(), Message(kMsgUnexpectedData, gz));
}

TEST_F(GzArchiveTest, ExtractAllWritesTheMemberWithTheArchiveTime) {
    const std::string dir = Path("extract");
    std::filesystem::create_directories(dir);
    const std::string content = RandomBytes(123457, 3);
    WriteFile(dir + "/payload.bin", content);
    const std::string gz = Gzip(dir, "payload.bin", {"-n"});
    test::SetMtime(gz, 1262304000);  // 2010-01-01 00:00:00 UTC
    GzArchive h;
    ASSERT_EQ(h.Open(gz), kStatusOk);
    EXPECT_TRUE(h.CanExtract());
    test::TempDir out;
    ASSERT_EQ(h.ExtractAll(out.path(), true, true), kStatusOk) << h.LastMessage();
    const std::string written = out / "payload.bin";
    EXPECT_TRUE(ReadFile(written) == content);
    EXPECT_EQ(std::filesystem::last_write_time(written).time_since_epoch(),
              std::filesystem::last_write_time(gz).time_since_epoch());
    ASSERT_EQ(h.ExtractedFiles().size(), 1u);
    EXPECT_EQ(h.ExtractedFiles()[0], written);
}

TEST_F(GzArchiveTest, ChangingOperationsAreRefused) {
    const std::string dir = Path("readonly");
    std::filesystem::create_directories(dir);
    WriteFile(dir + "/a.txt", "hello");
    const std::string gz = Gzip(dir, "a.txt");
    GzArchive h;
    ASSERT_EQ(h.Open(gz), kStatusOk);
    const std::string refused = Message(kMsgUnsupportedOperation, "GZ");
    EXPECT_FALSE(h.CanUpdate());
    EXPECT_EQ(h.LastMessage(), refused);
    EXPECT_FALSE(h.CanEdit());
    EXPECT_FALSE(h.CanMakeSfx());
    EXPECT_FALSE(h.CanSpan());
    h.SetLastMessage("");
    EXPECT_EQ(h.AddFile(dir + "/a.txt", dir, ""), kStatusFailed);
    EXPECT_EQ(h.LastMessage(), refused);
}

TEST_F(GzArchiveTest, UnpackingReportsProgressAndStopsWhenAborted) {
    const std::string dir = Path("abort");
    std::filesystem::create_directories(dir);
    const std::string content = RandomBytes(3 << 20, 11);  // incompressible: about 3 MB of input
    WriteFile(dir + "/big.bin", content);
    const std::string gz = Gzip(dir, "big.bin", {"-n"});

    struct Row {
        int abort_after;  // 0: never
        int status;
    };
    for (Row r : {Row{0, kUnpackOk}, Row{1, kUnpackAborted}, Row{4, kUnpackAborted}}) {
        SCOPED_TRACE(r.abort_after);
        GzArchive h;
        ASSERT_EQ(h.Open(gz), kStatusOk);
        AbortAfter sink(r.abort_after == 0 ? 1 << 30 : r.abort_after);
        h.SetSink(&sink);
        Unpacked u = UnpackOnly(h);
        h.SetSink(nullptr);
        EXPECT_EQ(u.status, r.status);
        if (r.status == kUnpackOk) {
            EXPECT_TRUE(u.data == content);
            EXPECT_GT(sink.calls(), 4);  // reported in steps, not once at the end
            EXPECT_EQ(sink.Maximum(), int64_t(std::filesystem::file_size(gz)));
        } else {
            EXPECT_FALSE(u.has_block);
            EXPECT_EQ(sink.calls(), r.abort_after);
            EXPECT_EQ(h.LastMessage(), Message(kMsgAborted));
        }
    }
    // Through extraction, nothing is written.
    GzArchive h;
    ASSERT_EQ(h.Open(gz), kStatusOk);
    AbortAfter sink(3);
    h.SetSink(&sink);
    test::TempDir out;
    EXPECT_EQ(h.ExtractAll(out.path(), true, true), kStatusAborted);
    h.SetSink(nullptr);
    EXPECT_TRUE(std::filesystem::is_empty(out.path()));
}

TEST_F(GzArchiveTest, SampleFiles) {
    struct Row {
        const char* file;
        const char* name;
        int status;  // of UnpackEntry
    };
    const Row rows[] = {
        {"gz/Tar.oldgnu.tar.gz", "Tar.oldgnu.tar", kUnpackOk},
        {"gz/Tar.tar.gz", "Tar.tar", kUnpackOk},
        {"gz/t.tar.gz", "t.tar", kUnpackOk},
        {"gz/t.txt.gz", "t.txt", kUnpackOk},
        {"gz/test_compat_gzip_1.tgz", "test-split.taraa", kUnpackOk},        // concatenated members
        {"gz/test_compat_gzip_2.tgz", "test_compat_gzip_2.tar", kUnpackOk},  // garbage after the data
        {"gz/test_read_filter_gzip_recursive.gz", "test_read_filter_gzip_recursive", kUnpackDataError},
        {"gz/test_read_format_raw.data.gz", "test-file-name.data", kUnpackOk},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        const std::string path = test::TestData(r.file);
        GzArchive h;
        ASSERT_EQ(h.Open(path), kStatusOk) << h.LastMessage();
        EXPECT_EQ(h.Entry(0).full_name, r.name);
        Unpacked u = UnpackOnly(h);
        EXPECT_EQ(u.status, r.status) << h.LastMessage();
        if (r.status == kUnpackOk) {
            // gzip agrees on the bytes (it warns about trailing garbage but decodes the same).
            auto peer = test::Run({"gzip", "-dc", path});
            EXPECT_TRUE(peer.exit_code == 0 || peer.exit_code == 2);
            EXPECT_TRUE(u.data == peer.out) << u.data.size() << " vs " << peer.out.size();
        } else {
            EXPECT_EQ(h.LastMessage(), Message(kMsgDecompressError));
            EXPECT_NE(test::Run({"gzip", "-t", path}).exit_code, 0);
        }
    }
    // The tar inside Tar.tar.gz is the tar sample itself.
    GzArchive h;
    ASSERT_EQ(h.Open(test::TestData("gz/Tar.tar.gz")), kStatusOk);
    Unpacked u = UnpackOnly(h);
    EXPECT_TRUE(u.data == ReadFile(test::TestData("tar/Tar.tar")));
}

TEST_F(GzArchiveTest, DefaultMemberNames) {
    struct Row {
        const char* archive;
        const char* name;
    } rows[] = {
        {"/x/report.txt.gz", "report.txt"}, {"/x/x.tgz", "x.tar"}, {"/x/x.TAZ", "x.tar"},
        {"/x/readme", "readme"},            {"/x/.gz", ".gz"},     {"plain.z", "plain"},
    };
    for (const Row& r : rows) EXPECT_EQ(GzArchive::DefaultMemberName(r.archive), r.name) << r.archive;
}

}  // namespace
}  // namespace quorbel
