#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/code_page.h"
#include "core/messages.h"
#include "core/status.h"
#include "formats/tar_archive.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;
using Kind = TarArchive::Kind;

std::string Message(int code, const std::string& a = "", const std::string& b = "") {
    return FormatText(MessageTemplate(code).c_str(), a.c_str(), b.c_str());
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(gen() & 0xFF);
    return s;
}

std::string Sha256(const std::string& path) {
    auto r = test::Run({"sha256sum", path});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out.substr(0, 64);
}

std::string Backslashed(std::string s) {
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

const ArchiveEntry* FindByName(const ArchiveHandler& h, const std::string& full_name) {
    for (const ArchiveEntry& e : h.Entries())
        if (e.full_name == full_name) return &e;
    return nullptr;
}

std::string Unpack(TarArchive& h, const ArchiveEntry& e, int& status) {
    MemoryBlock block = h.UnpackEntry(e, status);
    return block ? std::string(reinterpret_cast<const char*>(block.data.get()), block.size) : std::string();
}

// Regular files below `root`, as '/'-separated relative paths (symbolic links left out).
std::vector<std::string> RegularFiles(const std::string& root) {
    std::vector<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        if (fs::is_regular_file(it->symlink_status())) out.push_back(fs::relative(it->path(), root).string());
    std::sort(out.begin(), out.end());
    return out;
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

// Rewrites the checksum field of the header at `offset` (unsigned sum, or signed).
void FixChecksum(std::string& tar, size_t offset, bool signed_sum = false) {
    std::fill(tar.begin() + long(offset + 148), tar.begin() + long(offset + 156), ' ');
    long sum = 0;
    for (size_t i = 0; i < 512; ++i) {
        unsigned char c = static_cast<unsigned char>(tar[offset + i]);
        sum += signed_sum ? long(static_cast<signed char>(c)) : long(c);
    }
    std::string field = FormatText("%06lo", sum);
    std::copy(field.begin(), field.end(), tar.begin() + long(offset + 148));
    tar[offset + 154] = '\0';
}

// One pax record, "LEN key=value\n", LEN counting itself.
std::string PaxRecord(const std::string& key, const std::string& value) {
    size_t body = key.size() + value.size() + 3;  // ' ', '=', '\n'
    size_t len = body + 1;
    while (std::to_string(len).size() + body != len) ++len;
    return std::to_string(len) + " " + key + "=" + value + "\n";
}

class TarArchiveTest : public ::testing::Test {
protected:
    void SetUp() override { QUORBEL_REQUIRE_TOOL("tar"); }
    test::IsolatedEnvironment env;
    std::string Path(const std::string& name) const { return env / name; }

    // tar -cf archive -C folder names... with the given options.
    std::string MakeTar(const std::string& tool, const std::vector<std::string>& options,
                        const std::string& folder, const std::vector<std::string>& names,
                        const std::string& archive) {
        std::vector<std::string> argv = {tool, "-c", "-f", archive};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back("-C");
        argv.push_back(folder);
        argv.insert(argv.end(), names.begin(), names.end());
        auto r = test::Run(argv);
        EXPECT_EQ(r.exit_code, 0) << tool << ": " << r.err;
        return archive;
    }
};

TEST_F(TarArchiveTest, ArchivesFromPeerToolsMatchThePeersExtraction) {
    const std::string src = Path("src");
    const std::string prefix_name = std::string(60, 'p') + "/" + std::string(60, 'q') + ".txt";
    const std::string gnu_name = "g/" + std::string(150, 'x') + ".txt";
    std::string utf8_name = "uni/";
    for (int i = 0; i < 60; ++i) utf8_name += "\xC3\xBC";  // ü, 120 bytes
    utf8_name += ".txt";
    WriteFile(src + "/top.txt", "top level\n");
    WriteFile(src + "/bin/random.bin", RandomBytes(70000, 1));
    WriteFile(src + "/bin/k1000.dat", std::string(1000, 'k'));
    WriteFile(src + "/bin/after.txt", "after the 1000-byte member\n");
    WriteFile(src + "/" + prefix_name, "in the prefix field\n");
    WriteFile(src + "/" + gnu_name, "gnu long name\n");
    WriteFile(src + "/" + utf8_name, "pax long name\n");
    fs::create_directories(src + "/emptydir");
    ASSERT_EQ(symlink("top.txt", (src + "/link.txt").c_str()), 0);
    chmod((src + "/top.txt").c_str(), 0640);
    test::SetMtime(src + "/top.txt", 1300000000);

    const std::vector<std::string> common = {"top.txt", "bin", "emptydir", "link.txt", std::string(60, 'p')};
    std::vector<std::string> all = common;
    all.insert(all.end(), {"g", "uni"});
    struct Row {
        const char* what;
        const char* tool;
        std::vector<std::string> options;
        std::vector<std::string> names;
    };
    const Row rows[] = {
        {"GNU tar, ustar", "tar", {"--format=ustar"}, common},
        {"GNU tar, gnu", "tar", {"--format=gnu"}, all},
        {"GNU tar, pax", "tar", {"--format=pax"}, all},
        {"bsdtar, pax", "bsdtar", {"--format=pax"}, all},
        {"bsdtar, ustar", "bsdtar", {"--format=ustar"}, common},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        if (!test::HaveTool(r.tool)) {
            ADD_FAILURE() << r.tool << " is not installed";
            continue;
        }
        test::TempDir work;
        const std::string archive = MakeTar(r.tool, r.options, src, r.names, work / "x.tar");
        fs::create_directories(work / "peer");
        auto peer = test::Run({r.tool, "-x", "-f", archive, "-C", work / "peer"});
        ASSERT_EQ(peer.exit_code, 0) << peer.err;

        TarArchive h;
        ASSERT_EQ(h.Open(archive), kStatusOk) << h.LastMessage();
        EXPECT_EQ(h.FormatName(), "TAR");

        // Every regular file of the peer's extraction is a file entry with its size.
        const std::vector<std::string> files = RegularFiles(work / "peer");
        ASSERT_GE(files.size(), 5u);
        int data_entries = 0;
        for (const ArchiveEntry& e : h.Entries())
            if (e.is_file && h.KindOf(e) == Kind::kFile) ++data_entries;
        EXPECT_EQ(data_entries, int(files.size()));
        for (const std::string& f : files) {
            int index = h.FindEntry(f);
            ASSERT_GE(index, 0) << f;
            const ArchiveEntry& e = h.Entry(size_t(index));
            EXPECT_EQ(e.full_name, Backslashed(f));
            EXPECT_EQ(e.unpacked, int64_t(fs::file_size(work / "peer/" + f))) << f;
        }
        EXPECT_GE(h.FindEntry(prefix_name), 0);
        if (r.names.size() > common.size()) {
            EXPECT_GE(h.FindEntry(gnu_name), 0);
            EXPECT_GE(h.FindEntry(utf8_name), 0);
        }

        // Folders are folder entries.
        const ArchiveEntry* folder = FindByName(h, "emptydir\\");
        ASSERT_NE(folder, nullptr);
        EXPECT_FALSE(folder->is_file);
        EXPECT_EQ(h.KindOf(*folder), Kind::kFolder);
        const ArchiveEntry* bin = FindByName(h, "bin\\");
        ASSERT_NE(bin, nullptr);
        EXPECT_FALSE(bin->is_file);

        // The header's time and mode are kept.
        const ArchiveEntry& top = h.Entry(size_t(h.FindEntry("top.txt")));
        EXPECT_EQ(top.time, 1300000000);
        EXPECT_EQ(h.ModeOf(top), 0640u);
        EXPECT_EQ(top.CrcText(), "?");

        // The symbolic link is listed with its target.
        const ArchiveEntry* link = FindByName(h, "link.txt");
        ASSERT_NE(link, nullptr);
        EXPECT_TRUE(link->is_file);
        EXPECT_EQ(h.KindOf(*link), Kind::kSymLink);
        EXPECT_EQ(h.LinkTargetOf(*link), "top.txt");

        // Extraction end to end gives the peer's bytes; the link is reported, not written.
        const std::string ours = work / "ours";
        ASSERT_EQ(h.ExtractAll(ours, true, true), kStatusOk) << h.LastMessage();
        for (const std::string& f : files) EXPECT_EQ(Sha256(ours + "/" + f), Sha256(work / "peer/" + f)) << f;
        EXPECT_EQ(RegularFiles(ours), files);
        std::error_code ec;
        EXPECT_FALSE(fs::exists(fs::symlink_status(ours + "/link.txt", ec)));
        const auto& report = h.SkippedReport();
        EXPECT_NE(std::find(report.begin(), report.end(), "Not extracted (link): \"link.txt\""), report.end());
        EXPECT_EQ(report.size(), 1u);
    }
}

TEST_F(TarArchiveTest, FilesThatAreNotTar) {
    const std::string dir = Path("not");
    WriteFile(dir + "/a.txt", "a");
    std::string one = ReadFile(MakeTar("tar", {"--format=ustar"}, dir, {"a.txt"}, dir + "/one.tar"));
    std::string bad_checksum = one;
    bad_checksum[0] = 'b';
    std::string text;
    while (text.size() < 4096) text += "ustar is a word in this text, but this is no archive. ";
    struct Row {
        const char* what;
        std::string bytes;
    };
    const Row rows[] = {
        {"random bytes", RandomBytes(10240, 5)},
        {"text", text},
        {"zeros (an empty tar)", std::string(10240, '\0')},
        {"shorter than a record", one.substr(0, 300)},
        {"first header's checksum wrong", bad_checksum},
        {"gzip data", std::string("\x1F\x8B\x08\x00", 4) + RandomBytes(2000, 9)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::string path = dir + "/x.bin";
        WriteFile(path, r.bytes);
        TarArchive h;
        EXPECT_EQ(h.Open(path), kStatusNotThisFormat);
        EXPECT_EQ(h.LastMessage(), Message(kMsgNotThisFormat, path, "TAR"));
        EXPECT_EQ(h.EntryCount(), 0u);
    }
}

TEST_F(TarArchiveTest, DamagedArchivesAreCorrupt) {
    const std::string dir = Path("damaged");
    WriteFile(dir + "/a.txt", "first\n");
    WriteFile(dir + "/b.bin", RandomBytes(100000, 2));
    const std::string good = ReadFile(MakeTar("tar", {"--format=gnu"}, dir, {"a.txt", "b.bin"}, dir + "/good.tar"));
    // b.bin's header is the third record; its data starts at 1536.
    std::string bad_pax = ReadFile(MakeTar("tar", {"--format=pax"}, dir, {"a.txt"}, dir + "/pax.tar"));
    ASSERT_EQ(bad_pax[156], 'x');
    // A pax size that is not a number.
    std::string pax_data = "13 size=12ab\n";
    std::copy(pax_data.begin(), pax_data.end(), bad_pax.begin() + 512);
    std::string pax_size = FormatText("%011o", unsigned(pax_data.size()));
    std::copy(pax_size.begin(), pax_size.end(), bad_pax.begin() + 124);
    FixChecksum(bad_pax, 0);
    struct Row {
        const char* what;
        std::string bytes;
        size_t listed;  // entries before the damage
    };
    const Row rows[] = {
        {"cut in the data of the last member", good.substr(0, 1536 + 50000), 1},
        {"cut right after the last header", good.substr(0, 1536), 1},
        {"pax size not a number", bad_pax, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::string path = dir + "/x.tar";
        WriteFile(path, r.bytes);
        TarArchive h;
        EXPECT_EQ(h.Open(path), kStatusCorrupt);
        EXPECT_EQ(h.LastMessage(), Message(kMsgCorrupt, path));
        EXPECT_EQ(h.EntryCount(), r.listed);
    }
}

TEST_F(TarArchiveTest, GarbageBetweenMembersIsSkipped) {
    const std::string dir = Path("garbage");
    WriteFile(dir + "/k1000.dat", std::string(1000, 'k'));
    WriteFile(dir + "/second.txt", "second member\n");
    WriteFile(dir + "/third.txt", "third member\n");
    const std::string a = ReadFile(MakeTar("tar", {"--format=ustar"}, dir, {"k1000.dat"}, dir + "/a.tar"));
    const std::string b = ReadFile(MakeTar("tar", {"--format=ustar"}, dir, {"second.txt", "third.txt"}, dir + "/b.tar"));
    // First member: header + 1000 bytes padded to 1024; then 37 bytes of garbage (not a
    // multiple of 512), then the second archive.
    const std::string first = a.substr(0, 512 + 1024);
    std::string garbage = RandomBytes(37, 4);
    struct Row {
        const char* what;
        std::string bytes;
    };
    const Row rows[] = {
        {"37 garbage bytes", first + garbage + b},
        {"a garbage record and more", first + RandomBytes(512 + 200, 6) + b},
        {"end blocks in between (two archives)", a + b},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::string path = dir + "/x.tar";
        WriteFile(path, r.bytes);
        TarArchive h;
        ASSERT_EQ(h.Open(path), kStatusOk) << h.LastMessage();
        ASSERT_EQ(h.EntryCount(), 3u);
        const char* names[] = {"k1000.dat", "second.txt", "third.txt"};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(h.Entry(i).full_name, names[i]);
            int status = 0;
            EXPECT_EQ(Unpack(h, h.Entry(i), status), ReadFile(dir + "/" + names[i]));
            EXPECT_EQ(status, kUnpackOk);
        }
    }
}

TEST_F(TarArchiveTest, HeaderVariants) {
    const std::string dir = Path("variants");
    WriteFile(dir + "/a.txt", std::string(1000, 'a'));
    const std::string one = ReadFile(MakeTar("tar", {"--format=ustar"}, dir, {"a.txt"}, dir + "/one.tar"));

    // The size in GNU base-256 form.
    std::string base256 = one;
    std::string size_field(12, '\0');
    size_field[0] = char(0x80);
    size_field[10] = char(1000 >> 8);
    size_field[11] = char(1000 & 0xFF);
    std::copy(size_field.begin(), size_field.end(), base256.begin() + 124);
    FixChecksum(base256, 0);
    // A Latin-1 name, with the checksum summed over signed bytes as some old writers did.
    std::string latin1 = one;
    latin1[0] = char(0xE9);
    FixChecksum(latin1, 0, true);
    // An old (v7) header: no magic, no version.
    std::string v7 = one;
    std::fill(v7.begin() + 257, v7.begin() + 265, '\0');
    FixChecksum(v7, 0);
    // A name that fills all 100 bytes of its field.
    std::string full = one;
    std::fill(full.begin(), full.begin() + 100, 'n');
    FixChecksum(full, 0);

    struct Row {
        const char* what;
        std::string bytes;
        std::string name;
    };
    const Row rows[] = {
        {"base-256 size", base256, "a.txt"},
        {"latin-1 name, signed checksum", latin1, "\xC3\xA9.txt"},
        {"v7 header", v7, "a.txt"},
        {"100-byte name", full, std::string(100, 'n')},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::string path = dir + "/x.tar";
        WriteFile(path, r.bytes);
        TarArchive h;
        ASSERT_EQ(h.Open(path), kStatusOk) << h.LastMessage();
        ASSERT_EQ(h.EntryCount(), 1u);
        EXPECT_EQ(h.Entry(0).full_name, r.name);
        EXPECT_EQ(h.Entry(0).unpacked, 1000);
        int status = 0;
        EXPECT_EQ(Unpack(h, h.Entry(0), status), std::string(1000, 'a'));
        EXPECT_EQ(status, kUnpackOk);
    }
}

TEST_F(TarArchiveTest, EmptyFilesAndHardLinks) {
    const std::string dir = Path("links");
    for (const char* n : {"e1", "e2", "e3"}) WriteFile(dir + "/" + n, "");
    WriteFile(dir + "/data.txt", "linked data\n");
    ASSERT_EQ(link((dir + "/data.txt").c_str(), (dir + "/hard.txt").c_str()), 0);
    const std::string archive =
        MakeTar("tar", {"--format=gnu"}, dir, {"e1", "e2", "e3", "data.txt", "hard.txt"}, Path("links.tar"));
    TarArchive h;
    ASSERT_EQ(h.Open(archive), kStatusOk);
    ASSERT_EQ(h.EntryCount(), 5u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(h.Entry(i).is_file);
        EXPECT_EQ(h.Entry(i).unpacked, 0);
        EXPECT_EQ(h.Entry(i).RatioText(), "?");
    }
    const ArchiveEntry& hard = h.Entry(4);
    EXPECT_EQ(hard.full_name, "hard.txt");
    EXPECT_EQ(h.KindOf(hard), Kind::kHardLink);
    EXPECT_EQ(h.LinkTargetOf(hard), "data.txt");
    test::TempDir out;
    ASSERT_EQ(h.ExtractAll(out.path(), true, true), kStatusOk) << h.LastMessage();
    EXPECT_EQ(RegularFiles(out.path()), (std::vector<std::string>{"data.txt", "e1", "e2", "e3"}));
    EXPECT_EQ(fs::file_size(out / "e2"), 0u);
    ASSERT_EQ(h.SkippedReport().size(), 1u);
    EXPECT_EQ(h.SkippedReport()[0], "Not extracted (link): \"hard.txt\"");
}

TEST_F(TarArchiveTest, SparseFilesAreRebuilt) {
    const std::string dir = Path("sparse");
    fs::create_directories(dir);
    // Data at three places with holes between and after.
    std::string content(3 << 20, '\0');
    const std::string piece = RandomBytes(5000, 8);
    {
        // Written with real holes, so that tar finds them.
        int fd = open((dir + "/holes.bin").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, off_t(content.size())), 0);
        for (size_t at : {size_t(0), size_t(1000000), size_t(2500000)}) {
            content.replace(at, piece.size(), piece);
            ASSERT_EQ(pwrite(fd, piece.data(), piece.size(), off_t(at)), ssize_t(piece.size()));
        }
        close(fd);
    }
    struct Row {
        const char* what;
        std::vector<std::string> options;
    };
    const Row rows[] = {
        {"old GNU", {"--format=gnu", "-S"}},
        {"pax 1.0", {"--format=pax", "-S", "--sparse-version=1.0"}},
        {"pax 0.1", {"--format=pax", "-S", "--sparse-version=0.1"}},
        {"pax 0.0", {"--format=pax", "-S", "--sparse-version=0.0"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::string archive = MakeTar("tar", r.options, dir, {"holes.bin"}, Path("sparse.tar"));
        TarArchive h;
        ASSERT_EQ(h.Open(archive), kStatusOk) << h.LastMessage();
        ASSERT_EQ(h.EntryCount(), 1u);
        const ArchiveEntry& e = h.Entry(0);
        EXPECT_EQ(e.full_name, "holes.bin");
        EXPECT_TRUE(h.IsSparse(e));
        EXPECT_EQ(e.unpacked, int64_t(content.size()));
        EXPECT_LT(e.packed, 100000);
        int status = 0;
        EXPECT_TRUE(Unpack(h, e, status) == content);
        EXPECT_EQ(status, kUnpackOk) << h.LastMessage();
    }
}

TEST_F(TarArchiveTest, ASparseFileBiggerThanMemoryIsRefused) {
    // The sample's first member, with its real size raised to 2^60 bytes (base-256).
    std::string tar = ReadFile(test::TestData("tar/test_read_format_gtar_sparse_1_17.tar"));
    ASSERT_EQ(tar[156], 'S');
    std::string real(12, '\0');
    real[0] = char(0x80);
    real[4] = char(0x10);  // 1 << 60
    std::copy(real.begin(), real.end(), tar.begin() + 483);
    FixChecksum(tar, 0);
    const std::string path = Path("huge.tar");
    WriteFile(path, tar);
    TarArchive h;
    ASSERT_EQ(h.Open(path), kStatusOk) << h.LastMessage();
    EXPECT_EQ(h.Entry(0).unpacked, int64_t(1) << 60);
    int status = -1;
    MemoryBlock block = h.UnpackEntry(h.Entry(0), status);
    EXPECT_FALSE(block);
    EXPECT_EQ(status, kStatusFailed);
    EXPECT_EQ(h.LastMessage(), Message(kMsgOutOfMemory));
}

TEST_F(TarArchiveTest, ListingStopsWhenAborted) {
    const std::string dir = Path("many");
    std::vector<std::string> names;
    for (int i = 0; i < 30; ++i) {
        names.push_back(FormatText("f%02d.txt", i));
        WriteFile(dir + "/" + names.back(), names.back());
    }
    const std::string archive = MakeTar("tar", {"--format=gnu"}, dir, names, Path("many.tar"));
    TarArchive h;
    AbortAfter sink(5);
    h.SetSink(&sink);
    EXPECT_EQ(h.Open(archive), kStatusAborted);
    h.SetSink(nullptr);
    EXPECT_EQ(h.LastMessage(), Message(kMsgAborted));
    // One report per header; the members before the stop stay listed.
    EXPECT_EQ(sink.calls(), 5);
    ASSERT_EQ(h.EntryCount(), 4u);
    EXPECT_EQ(h.Entry(3).full_name, "f03.txt");
}

TEST_F(TarArchiveTest, ExtractionStopsWhenAbortedAndOnShortReads) {
    const std::string dir = Path("big");
    const std::string content = RandomBytes(3 << 20, 12);
    WriteFile(dir + "/big.bin", content);
    const std::string archive = MakeTar("tar", {"--format=gnu"}, dir, {"big.bin"}, Path("big.tar"));
    {
        TarArchive h;
        ASSERT_EQ(h.Open(archive), kStatusOk);
        AbortAfter sink(2);  // the first is extraction's own check, the second the first piece read
        h.SetSink(&sink);
        test::TempDir out;
        EXPECT_EQ(h.ExtractAll(out.path(), true, true), kStatusAborted);
        h.SetSink(nullptr);
        EXPECT_EQ(h.LastMessage(), Message(kMsgAborted));
        EXPECT_TRUE(fs::is_empty(out.path()));
        // Without an abort the member comes back whole, reported in steps.
        AbortAfter never(1 << 30);
        h.SetSink(&never);
        int status = 0;
        EXPECT_TRUE(Unpack(h, h.Entry(0), status) == content);
        h.SetSink(nullptr);
        EXPECT_EQ(status, kUnpackOk);
        EXPECT_EQ(never.calls(), 3);
    }
    {
        // The archive loses its tail after it was listed.
        TarArchive h;
        ASSERT_EQ(h.Open(archive), kStatusOk);
        ASSERT_EQ(truncate(archive.c_str(), 512 + 100000), 0);
        int status = 0;
        MemoryBlock block = h.UnpackEntry(h.Entry(0), status);
        EXPECT_FALSE(block);
        EXPECT_EQ(status, kUnpackDataError);
        EXPECT_EQ(h.LastMessage(), Message(kMsgDecompressError));
    }
}

TEST_F(TarArchiveTest, CapabilitiesOfAReadOnlyFormat) {
    const std::string dir = Path("caps");
    WriteFile(dir + "/a.txt", "a");
    TarArchive h;
    ASSERT_EQ(h.Open(MakeTar("tar", {}, dir, {"a.txt"}, Path("caps.tar"))), kStatusOk);
    EXPECT_TRUE(h.CanExtract());
    EXPECT_FALSE(h.CanUpdate());
    EXPECT_EQ(h.LastMessage(), Message(kMsgUnsupportedOperation, "TAR"));
    EXPECT_FALSE(h.CanEdit());
    EXPECT_FALSE(h.CanMakeSfx());
    EXPECT_FALSE(h.CanSpan());
    h.SetLastMessage("");
    EXPECT_EQ(h.AddFile(dir + "/a.txt", dir, ""), kStatusFailed);
    EXPECT_EQ(h.LastMessage(), Message(kMsgUnsupportedOperation, "TAR"));
}

TEST(TarFieldTest, Numbers) {
    struct Row {
        std::string field;
        bool ok;
        int64_t value;
    } rows[] = {
        {std::string("00000001750\0", 12), true, 1000},
        {std::string("   1750 \0\0\0\0", 12), true, 1000},
        {std::string("17500000000", 11) + " ", true, 017500000000},
        {std::string(12, '\0'), true, 0},
        {std::string("\x80\0\0\0\0\0\0\0\0\0\x03\xE8", 12), true, 1000},
        {std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 12), true, -1},
        {std::string("\x80\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 12), false, 0},  // too big
        {std::string("0000000175x\0", 12), false, 0},
        {std::string("000000018\0\0\0", 12), false, 0},
    };
    for (const Row& r : rows) {
        int64_t v = -12345;
        bool ok = TarArchive::ParseNumber(reinterpret_cast<const uint8_t*>(r.field.data()), r.field.size(), v);
        EXPECT_EQ(ok, r.ok) << r.value;
        if (r.ok) {
            EXPECT_EQ(v, r.value);
        }
    }
}

TEST(TarFieldTest, PaxRecords) {
    struct Row {
        std::string data;
        bool ok;
        std::string path;
    } rows[] = {
        {"16 path=a/b/c.d\n", true, "a/b/c.d"},
        {PaxRecord("path", "a/b/c.d") + PaxRecord("linkpath", "target") + std::string(3, '\0'), true, "a/b/c.d"},
        {PaxRecord("path", "caf\xC3\xA9 s=1"), true, "caf\xC3\xA9 s=1"},  // '=' and UTF-8 in a value
        {PaxRecord("path", std::string(200, 'z')), true, std::string(200, 'z')},
        {"17 path=a/b/c.d\n", false, ""},                         // length runs past the data
        {"15 path=a/b/c.d\n", false, ""},                         // record does not end in '\n'
        {"12 pathabcd\n", false, ""},                             // no '='
        {"x path=a\n", false, ""},                                // no length
    };
    for (const Row& r : rows) {
        TarArchive::PaxValues values;
        bool ok = TarArchive::ParsePax(reinterpret_cast<const uint8_t*>(r.data.data()), r.data.size(), values);
        EXPECT_EQ(ok, r.ok) << r.data;
        if (r.ok) {
            EXPECT_EQ(values.values["path"], r.path);
        }
    }
    TarArchive::PaxValues sparse;
    std::string data = PaxRecord("GNU.sparse.offset", "5") + PaxRecord("GNU.sparse.numbytes", "10") +
                       PaxRecord("GNU.sparse.offset", "9");
    ASSERT_TRUE(TarArchive::ParsePax(reinterpret_cast<const uint8_t*>(data.data()), data.size(), sparse));
    EXPECT_EQ(sparse.sparse_offsets, (std::vector<int64_t>{5, 9}));
    EXPECT_EQ(sparse.sparse_lengths, (std::vector<int64_t>{10}));
}

TEST_F(TarArchiveTest, SampleFiles) {
    struct Row {
        const char* file;
        int status;
        size_t entries;
        std::vector<std::string> names;  // some of the entries' full names
    };
    const std::string long_dir =
        "Directory\\Directory with veeeeeeeeeery loooooooooong name\\";
    std::string digits;
    for (int i = 0; i < 20; ++i) digits += "1234567890";
    std::string letters;
    for (int i = 0; i < 20; ++i) letters += "abcdefghij";
    const Row rows[] = {
        {"tar/Tar.LongPathsWithLongNameExtension.tar", kStatusOk, 19, {"wp-content\\"}},
        {"tar/Tar.tar", kStatusOk, 6, {"Empty\\", "exe\\test.exe", "jpg\\test.jpg"}},
        {"tar/t.tar", kStatusOk, 2, {"t\\", "t\\t.txt"}},
        {"tar/test_compat_gtar_1.tar", kStatusOk, 2, {digits, letters}},
        {"tar/test_compat_perl_archive_tar.tar", kStatusOk, 1, {"file1"}},
        {"tar/test_compat_plexus_archiver_tar.tar", kStatusOk, 1, {"commons-logging-1.2\\NOTICE.txt"}},
        {"tar/test_compat_tar_hardlink_1.tar", kStatusOk, 2, {"xmcd-3.3.2\\docs_d\\READMf", "xmcd-3.3.2\\README"}},
        // Not valid UTF-8 as a whole (a raw 0xFC), so read as ISO 8859-1 throughout.
        {"tar/test_pax_filename_encoding.tar", kStatusOk, 2, {"abc\xC3\x8C\xC2\x8Cmno\xC3\xBCxyz"}},
        {"tar/test_read_format_gtar_sparse_1_17.tar", kStatusOk, 3, {"sparse", "sparse2", "non-sparse"}},
        {"tar/test_read_format_tar_V_negative_size.tar", kStatusNotThisFormat, 0, {}},
        {"tar/test_read_format_tar_concatenated.tar", kStatusOk, 2, {"file1", "file2"}},
        {"tar/test_read_format_tar_empty_filename.tar", kStatusOk, 0, {}},
        {"tar/test_read_format_tar_invalid_pax_size.tar", kStatusCorrupt, 0, {}},
        {"tar/ustar_with_long_names.tar", kStatusOk, 6,
         {long_dir + "Some file with veeeeeeeeeery loooooooooong name", long_dir,
          long_dir + "Directory with veeeeeeeeeery loooooooooong name\\Some file with veeeeeeeeeery loooooooooong name"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        const std::string path = test::TestData(r.file);
        TarArchive h;
        ASSERT_EQ(h.Open(path), r.status) << h.LastMessage();
        EXPECT_EQ(h.EntryCount(), r.entries);
        for (const std::string& n : r.names) EXPECT_NE(FindByName(h, n), nullptr) << n;
        if (r.status != kStatusOk) continue;

        // GNU tar's own extraction of the same file: every regular file it writes under a
        // UTF-8 name is one of our file entries with the same bytes.
        test::TempDir peer;
        test::Run({"tar", "-x", "-f", path, "-C", peer.path()});
        // (GNU tar writes hard links as files; ours are link entries without data.)
        for (const std::string& f : RegularFiles(peer.path())) {
            if (!IsValidUtf8(f) || fs::file_size(peer / f) > (8 << 20)) continue;
            int index = h.FindEntry(f);
            ASSERT_GE(index, 0) << f;
            const ArchiveEntry& e = h.Entry(size_t(index));
            if (h.KindOf(e) == Kind::kHardLink) continue;
            int status = 0;
            EXPECT_TRUE(Unpack(h, e, status) == ReadFile(peer / f)) << f;
            EXPECT_EQ(status, kUnpackOk);
        }
    }

    // Details of some samples.
    TarArchive h;
    ASSERT_EQ(h.Open(test::TestData("tar/test_compat_gtar_1.tar")), kStatusOk);
    const ArchiveEntry* link = FindByName(h, letters);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(h.KindOf(*link), Kind::kSymLink);
    EXPECT_EQ(h.LinkTargetOf(*link), digits);

    ASSERT_EQ(h.Open(test::TestData("tar/test_read_format_gtar_sparse_1_17.tar")), kStatusOk);
    EXPECT_EQ(FindByName(h, "sparse")->unpacked, 3145728);
    EXPECT_EQ(FindByName(h, "sparse2")->unpacked, 99000001);

    ASSERT_EQ(h.Open(test::TestData("tar/test_compat_tar_hardlink_1.tar")), kStatusOk);
    const ArchiveEntry* hard = FindByName(h, "xmcd-3.3.2\\README");
    ASSERT_NE(hard, nullptr);
    EXPECT_EQ(h.KindOf(*hard), Kind::kHardLink);
    EXPECT_EQ(h.LinkTargetOf(*hard), "xmcd-3.3.2/docs_d/READMf");
    EXPECT_EQ(hard->attributes, 0u);
    const ArchiveEntry* target = FindByName(h, "xmcd-3.3.2\\docs_d\\READMf");
    EXPECT_EQ(h.ModeOf(*target), 0444u);
    EXPECT_EQ(target->AttributeText(), "R");

    // The member of the tar in Tar.tar matches the original it was made from.
    ASSERT_EQ(h.Open(test::TestData("tar/Tar.tar")), kStatusOk);
    int status = 0;
    EXPECT_TRUE(Unpack(h, *FindByName(h, "exe\\test.exe"), status) ==
                ReadFile(test::TestData("rar/sharpcompress-original-test.exe.expected")));
}

}  // namespace
}  // namespace quorbel
