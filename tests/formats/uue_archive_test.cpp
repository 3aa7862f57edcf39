#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/messages.h"
#include "core/progress_sink.h"
#include "core/status.h"
#include "formats/uue_archive.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;

// Deterministic bytes of every value, control bytes included.
std::string Pattern(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = char(x >> 24);
    }
    return s;
}

std::string Unpacked(UueArchive& h, size_t index, int* status_out = nullptr) {
    int status = -1;
    MemoryBlock block = h.UnpackEntry(h.Entry(index), status);
    if (status_out) *status_out = status;
    if (status != kUnpackOk || !block) return "<failed>";
    return std::string(reinterpret_cast<const char*>(block.data.get()), block.size);
}

std::string NotUueMessage(const std::string& path) {
    return FormatText(MessageTemplate(kMsgNotThisFormat).c_str(), path.c_str(), "UUE");
}

// Stops the operation after a given number of position reports.
class CountingSink : public ProgressSink {
public:
    explicit CountingSink(int allowed) : allowed_(allowed) {}
    int SetPos(int64_t position, bool redraw = true) override {
        ProgressSink::SetPos(position, redraw);
        return ++calls <= allowed_ ? 1 : 0;
    }
    int calls = 0;

private:
    int allowed_;
};

class UueArchiveTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) { return env_ / name; }
    std::string Write(const std::string& name, const std::string& text) {
        test::WriteFile(Path(name), text);
        return Path(name);
    }
    // The peer encoder's text for `data` stored under `name`.
    std::string PeerEncode(const std::string& data, const std::string& name, bool base64 = false) {
        std::string source = Write("peer-source.bin", data);
        std::vector<std::string> argv = {"uuencode"};
        if (base64) argv.push_back("-m");
        argv.push_back(source);
        argv.push_back(name);
        test::CommandResult r = test::Run(argv);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return r.out;
    }

    test::IsolatedEnvironment env_;
};

TEST_F(UueArchiveTest, FormatAndCapabilities) {
    UueArchive h;
    EXPECT_EQ(h.FormatName(), "UUE");
    EXPECT_TRUE(h.CanExtract());
    EXPECT_FALSE(h.CanMakeSfx());
    EXPECT_FALSE(h.CanUpdate());
    EXPECT_EQ(h.LastMessage(), FormatText(MessageTemplate(kMsgUnsupportedOperation).c_str(), "UUE"));
}

// Sizes around the 45-byte line and one well above the 1 MiB initial decoding block.
const size_t kAwkwardSizes[] = {0, 1, 2, 3, 44, 45, 46, 90, 1048577};

TEST_F(UueArchiveTest, PeerEncodedFilesListAndDecode) {
    QUORBEL_REQUIRE_TOOL("uuencode");
    for (size_t size : kAwkwardSizes) {
        SCOPED_TRACE(size);
        const std::string data = Pattern(size, uint32_t(size));
        const std::string path = Write("peer.uue", PeerEncode(data, "member.bin"));
        UueArchive h;
        ASSERT_EQ(h.Open(path), kStatusOk) << h.LastMessage();
        ASSERT_EQ(h.EntryCount(), 1u);
        const ArchiveEntry& e = h.Entry(0);
        EXPECT_EQ(e.full_name, "member.bin");
        EXPECT_EQ(e.unpacked, int64_t(size));
        EXPECT_EQ(e.crc, -1);
        EXPECT_EQ(e.CrcText(), "?");
        EXPECT_GT(e.packed, int64_t(size));
        EXPECT_EQ(e.time, h.ArchiveTime());
        EXPECT_EQ(Unpacked(h, 0), data);
    }
}

TEST_F(UueArchiveTest, OurEncodingDecodesWithThePeerToolAndWithUs) {
    QUORBEL_REQUIRE_TOOL("uudecode");
    for (size_t size : kAwkwardSizes) {
        SCOPED_TRACE(size);
        const std::string data = Pattern(size, uint32_t(size) + 7);
        const std::string source = Write("data.bin", data);
        std::string message;
        ASSERT_TRUE(UuEncodeFile(source, Path("data.uue"), nullptr, message)) << message;
        test::CommandResult r = test::Run({"uudecode", "-o", Path("decoded.bin"), Path("data.uue")});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(test::ReadFile(Path("decoded.bin")), data);

        UueArchive h;
        ASSERT_EQ(h.Open(Path("data.uue")), kStatusOk) << h.LastMessage();
        ASSERT_EQ(h.EntryCount(), 1u);
        EXPECT_EQ(h.Entry(0).full_name, "data.bin");
        EXPECT_EQ(h.Entry(0).unpacked, int64_t(size));
        EXPECT_EQ(Unpacked(h, 0), data);
    }
}

TEST_F(UueArchiveTest, EncoderWritesTheClassicLines) {
    struct Row {
        std::string data;
        std::string text;
    };
    const std::vector<Row> rows = {
        {"", "begin 600 f.bin\n`\nend\n"},
        {"Cat", "begin 600 f.bin\n#0V%T\n`\nend\n"},
        // Zero bits are written as the grave accent, never as a blank.
        {std::string(3, '\0'), "begin 600 f.bin\n#````\n`\nend\n"},
    };
    for (const Row& row : rows) {
        std::string message;
        ASSERT_TRUE(UuEncodeFile(Write("f.bin", row.data), Path("f.uue"), nullptr, message));
        EXPECT_EQ(test::ReadFile(Path("f.uue")), row.text);
    }
    // 46 bytes: a full line ("M"), a one-byte line ("!"), then the zero line.
    std::string message;
    ASSERT_TRUE(UuEncodeFile(Write("f.bin", Pattern(46, 1)), Path("f.uue"), nullptr, message));
    const std::string text = test::ReadFile(Path("f.uue"));
    std::vector<std::string> lines;
    for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(text.substr(at, nl - at));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "begin 600 f.bin");
    EXPECT_EQ(lines[1].size(), 61u);
    EXPECT_EQ(lines[1][0], 'M');
    EXPECT_EQ(lines[2].size(), 5u);
    EXPECT_EQ(lines[2][0], '!');
    EXPECT_EQ(lines[3], "`");
    EXPECT_EQ(lines[4], "end");
}

TEST_F(UueArchiveTest, SeveralBlocksWithPreambleAndAnyLineEnds) {
    QUORBEL_REQUIRE_TOOL("uuencode");
    const std::string one = Pattern(100, 1), two = Pattern(7, 2);
    const std::string blocks = "From: someone\nSubject: files\n\nbeginning of the text, no block\n" +
                               PeerEncode(one, "one.bin") + "\n-- \nsignature\n" +
                               PeerEncode(two, "two.txt") + "trailing words\n";
    auto with_ends = [&](const std::string& end) {
        std::string out;
        for (char c : blocks) {
            if (c == '\n') out += end;
            else out += c;
        }
        return out;
    };
    for (const char* end : {"\n", "\r\n", "\r"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(end)));
        const std::string path = Write("two.uue", with_ends(end));
        UueArchive h;
        ASSERT_EQ(h.Open(path), kStatusOk) << h.LastMessage();
        ASSERT_EQ(h.EntryCount(), 2u);
        EXPECT_EQ(h.Entry(0).full_name, "one.bin");
        EXPECT_EQ(h.Entry(1).full_name, "two.txt");
        EXPECT_EQ(h.Entry(0).unpacked, 100);
        EXPECT_EQ(h.Entry(1).unpacked, 7);
        EXPECT_EQ(h.TotalUnpacked(), 107);
        EXPECT_EQ(h.FileCount(), 2);
        EXPECT_EQ(Unpacked(h, 1), two);
        EXPECT_EQ(Unpacked(h, 0), one);
    }
}

TEST_F(UueArchiveTest, NamesFromTheBeginLine) {
    struct Row {
        const char* begin_line;
        const char* full_name;
        const char* folder;
    };
    const Row rows[] = {
        {"begin 644 plain.txt", "plain.txt", ""},
        {"begin 644 my file.txt", "my", ""},
        {"begin 600 dir/sub/f.txt", "dir\\sub\\f.txt", "dir\\sub"},
        {"begin 600 dir\\win\\f.txt", "dir\\win\\f.txt", "dir\\win"},
        {"begin 644 /etc/abs.txt", "etc\\abs.txt", "etc"},
        {"begin 644 C:\\work\\y.bin", "work\\y.bin", "work"},
        {"begin 644 ../up.txt", "..\\up.txt", ".."},
        {"begin\t755\tcaf\xC3\xA9.txt", "caf\xC3\xA9.txt", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.begin_line);
        UueArchive h;
        const std::string path = Write("n.uue", std::string(row.begin_line) + "\n#0V%T\n`\nend\n");
        ASSERT_EQ(h.Open(path), kStatusOk) << h.LastMessage();
        ASSERT_EQ(h.EntryCount(), 1u);
        EXPECT_EQ(h.Entry(0).full_name, row.full_name);
        EXPECT_EQ(h.Entry(0).Folder(), row.folder);
        EXPECT_EQ(Unpacked(h, 0), "Cat");
    }
    // Lines that start with "begin" but carry no mode and name are ordinary text.
    for (const char* line : {"beginning of it all", "begin", "begin 644", "begin 644 /"}) {
        SCOPED_TRACE(line);
        UueArchive h;
        EXPECT_EQ(UueArchive::NameFromBeginLine(line), "");
        const std::string path = Write("n.uue", std::string(line) + "\n#0V%T\n`\nend\n");
        EXPECT_EQ(h.Open(path), kStatusNotThisFormat);
        EXPECT_EQ(h.LastMessage(), NotUueMessage(path));
    }
}

TEST_F(UueArchiveTest, ExtractionKeepsFoldersAndRefusesClimbingNames) {
    const std::string text = "begin 644 docs/a.txt\n#0V%T\n`\nend\n"
                             "begin 644 empty.bin\n`\nend\n"
                             "begin 644 ../escape.txt\n#0V%T\n`\nend\n";
    UueArchive h;
    ASSERT_EQ(h.Open(Write("x.uue", text)), kStatusOk);
    ASSERT_EQ(h.EntryCount(), 3u);
    const std::string dest = Path("out/inner");
    EXPECT_EQ(h.ExtractEntryAt(0, dest, true, nullptr, true), kStatusOk) << h.LastMessage();
    EXPECT_EQ(test::ReadFile(dest + "/docs/a.txt"), "Cat");
    EXPECT_EQ(h.ExtractEntryAt(1, dest, true, nullptr, true), kStatusOk) << h.LastMessage();
    EXPECT_TRUE(fs::is_regular_file(dest + "/empty.bin"));
    EXPECT_EQ(fs::file_size(dest + "/empty.bin"), 0u);
    EXPECT_EQ(h.Entry(1).unpacked, 0);
    EXPECT_NE(h.ExtractEntryAt(2, dest, true, nullptr, true), kStatusOk);
    EXPECT_FALSE(fs::exists(Path("out/escape.txt")));
}

TEST_F(UueArchiveTest, DamagedBlocks) {
    // A correct block to damage: a full 45-byte line, then "Cat".
    const std::string good_first = "begin 644 d.bin\n";
    struct Row {
        const char* what;
        std::string text;
        int open_status;
        int unpack_status;
    };
    const std::string line45 = "M" + std::string(60, '!');  // 45 bytes of 0x04 0x10 0x41
    const std::vector<Row> rows = {
        {"intact", good_first + line45 + "\n#0V%T\n`\nend\n", kStatusOk, kUnpackOk},
        // The count promises 45 bytes, the line holds 30 of them.
        {"short line", good_first + "M" + std::string(40, '!') + "\n`\nend\n", kStatusOk,
         kUnpackDataError},
        {"cut group", good_first + "#0V%\n`\nend\n", kStatusOk, kUnpackDataError},
        {"count only", good_first + "#\n`\nend\n", kStatusOk, kUnpackDataError},
        {"bad character in a group", good_first + "#0v%T\n`\nend\n", kStatusOk, kUnpackDataError},
        {"no end", good_first + line45 + "\n#0V%T\n`\n", kStatusNotThisFormat, 0},
        {"cut inside the data", good_first + line45 + "\n" + line45.substr(0, 20), kStatusNotThisFormat, 0},
        {"line too long", good_first + line45 + "!\n`\nend\n", kStatusNotThisFormat, 0},
        {"count above 45", good_first + "N" + std::string(60, '!') + "\n`\nend\n", kStatusNotThisFormat, 0},
        {"control byte in the block", good_first + "#0V\x01T\n`\nend\n", kStatusNotThisFormat, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string path = Write("d.uue", row.text);
        UueArchive h;
        ASSERT_EQ(h.Open(path), row.open_status) << h.LastMessage();
        if (row.open_status != kStatusOk) {
            EXPECT_EQ(h.LastMessage(), NotUueMessage(path));
            continue;
        }
        int status = -1;
        std::string data = Unpacked(h, 0, &status);
        EXPECT_EQ(status, row.unpack_status);
        if (status == kUnpackOk) {
            std::string expected;
            for (int i = 0; i < 15; ++i) expected += std::string("\x04\x10\x41", 3);
            EXPECT_EQ(data, expected + "Cat");
        } else {
            EXPECT_EQ(h.LastMessage(), MessageTemplate(kMsgDecompressError));
            EXPECT_EQ(h.ExtractEntryAt(0, Path("dest"), true, nullptr, true), kUnpackDataError);
            EXPECT_FALSE(fs::exists(Path("dest/d.bin")));
        }
    }
}

TEST_F(UueArchiveTest, ZeroLinesAndPaddedLinesEndTheDataAsCounted) {
    struct Row {
        const char* what;
        std::string text;
        std::string data;
    };
    const std::vector<Row> rows = {
        {"grave accent ends the entry", "begin 644 a\n#0V%T\n`\n#0V%T\nend\n", "Cat"},
        {"empty zero line", "begin 644 a\n#0V%T\n\nend\n", "Cat"},
        {"blank zero line", "begin 644 a\n#0V%T\n \nend\n", "Cat"},
        {"extra groups after the count", "begin 644 a\n\"0V%T0V%T\n`\nend\n", "Ca"},
        {"no zero line", "begin 644 a\n#0V%T\nend\n", "Cat"},
        {"last line without its line end", "begin 644 a\n#0V%T\n`\nend", "Cat"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        UueArchive h;
        ASSERT_EQ(h.Open(Write("z.uue", row.text)), kStatusOk) << h.LastMessage();
        EXPECT_EQ(Unpacked(h, 0), row.data);
    }
}

TEST_F(UueArchiveTest, FileCutAfterListingIsDamage) {
    QUORBEL_REQUIRE_TOOL("uuencode");
    const std::string path = Write("cut.uue", PeerEncode(Pattern(5000, 3), "cut.bin"));
    UueArchive h;
    ASSERT_EQ(h.Open(path), kStatusOk);
    ASSERT_EQ(truncate(path.c_str(), 1000), 0);
    int status = -1;
    EXPECT_EQ(Unpacked(h, 0, &status), "<failed>");
    EXPECT_EQ(status, kUnpackDataError);
    EXPECT_EQ(h.LastMessage(), MessageTemplate(kMsgDecompressError));
}

TEST_F(UueArchiveTest, FilesThatAreNotUue) {
    struct Row {
        const char* what;
        std::string text;
    };
    std::string late_binary = std::string(100000, 'a') + '\n' + std::string(1, '\0') +
                              "\nbegin 644 x\n#0V%T\n`\nend\n";
    const std::vector<Row> rows = {
        {"empty", ""},
        {"plain text", "just some words\nand more\n"},
        {"binary", Pattern(4 << 20, 9)},
        {"block after a binary byte", late_binary},
        {"base64 block", "begin-base64 644 x\nQ2F0\n====\n"},
        {"xxencoded block", "begin 644 x\nhEJ4iEJ4iEJ4iEJ4iEJ4iEJ4iEJ4iEJ4iEJ4iEJ4iEJ4iEJ4iEJ4iEJ4iEJ4i\n+\nend\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string path = Write("not.uue", row.text);
        UueArchive h;
        EXPECT_EQ(h.Open(path), kStatusNotThisFormat);
        EXPECT_EQ(h.LastMessage(), NotUueMessage(path));
    }
    UueArchive h;
    EXPECT_EQ(h.Open(Path("missing.uue")), kStatusCannotOpen);
}

TEST_F(UueArchiveTest, LongPreambleAndTrailingBinaryStillOpen) {
    std::string preamble;
    for (int i = 0; i < 20000; ++i) preamble += "line of a long mail preamble, number " + std::to_string(i) + "\n";
    ASSERT_GT(preamble.size(), size_t(512 * 1024));
    const std::string block = "begin 644 x\n#0V%T\n`\nend\n";
    for (const std::string& text : {preamble + block, block + std::string("\0\x01\x02 junk", 8)}) {
        UueArchive h;
        ASSERT_EQ(h.Open(Write("long.uue", text)), kStatusOk) << h.LastMessage();
        ASSERT_EQ(h.EntryCount(), 1u);
        EXPECT_EQ(Unpacked(h, 0), "Cat");
    }
}

TEST_F(UueArchiveTest, PeerBase64IsNotReadAsUue) {
    QUORBEL_REQUIRE_TOOL("uuencode");
    const std::string path = Write("b64.uue", PeerEncode(Pattern(300, 4), "b.bin", true));
    UueArchive h;
    EXPECT_EQ(h.Open(path), kStatusNotThisFormat);
}

TEST_F(UueArchiveTest, SharedSamples) {
    struct Row {
        const char* sample;
        int status;
        const char* name;
        int64_t size;
        const char* same_as;  // a sample file holding the decoded bytes
        const char* starts_with;
    };
    const Row rows[] = {
        {"uue/test_read_filter_uudecode_raw.uu", kStatusOk, "LICENSE.txt", 465, nullptr,
         "THE SOFTWARE IS PROVIDED"},
        {"uue/test_read_format_cab_1.cab.uu", kStatusOk, "test_read_format_cab_1.cab", 266,
         "cab/test_read_format_cab_1.cab", "MSCF"},
        {"uue/test_read_format_rar.rar.uu", kStatusOk, "test_read_format_rar.rar", 336,
         "rar/test_read_format_rar.rar", "Rar!"},
        // The last line holds more characters than its count needs: the count decides.
        {"uue/test_read_format_lha_filename_utf16.lzh.uu", kStatusOk,
         "test_read_format_lha_filename_utf16.lzh", 707, nullptr, nullptr},
        {"uue/test_read_filter_uudecode_base64_raw.uu", kStatusNotThisFormat, nullptr, 0, nullptr, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sample);
        UueArchive h;
        ASSERT_EQ(h.Open(test::TestData(row.sample)), row.status) << h.LastMessage();
        if (row.status != kStatusOk) continue;
        ASSERT_EQ(h.EntryCount(), 1u);
        EXPECT_EQ(h.Entry(0).full_name, row.name);
        EXPECT_EQ(h.Entry(0).unpacked, row.size);
        const std::string data = Unpacked(h, 0);
        EXPECT_EQ(int64_t(data.size()), row.size);
        if (row.same_as) {
            EXPECT_EQ(data, test::ReadFile(test::TestData(row.same_as)));
        }
        if (row.starts_with) {
            EXPECT_EQ(data.rfind(row.starts_with, 0), 0u);
        }
        if (test::HaveTool("uudecode")) {
            test::CommandResult r =
                test::Run({"uudecode", "-o", Path("ref.bin"), test::TestData(row.sample)});
            ASSERT_EQ(r.exit_code, 0) << r.err;
            EXPECT_EQ(data, test::ReadFile(Path("ref.bin")));
        }
    }
}

TEST_F(UueArchiveTest, AbortThroughTheSink) {
    // One big block (listing and decoding) and a long text without a block (the search).
    std::string message;
    ASSERT_TRUE(UuEncodeFile(Write("big.bin", Pattern(1048577, 5)), Path("big.uue"), nullptr, message));
    std::string no_block;
    while (no_block.size() < 300000) no_block += "no block in this text at all\n";
    Write("text.uue", no_block);
    struct Row {
        const char* file;
        int finished_status;
    };
    for (const Row& row : {Row{"big.uue", kStatusOk}, Row{"text.uue", kStatusNotThisFormat}}) {
        SCOPED_TRACE(row.file);
        CountingSink all(1 << 30);
        UueArchive full;
        full.SetSink(&all);
        EXPECT_EQ(full.Open(Path(row.file)), row.finished_status);
        ASSERT_GT(all.calls, 2);

        CountingSink stop(1);
        UueArchive h;
        h.SetSink(&stop);
        EXPECT_EQ(h.Open(Path(row.file)), kStatusAborted);
        EXPECT_EQ(h.LastMessage(), MessageTemplate(kMsgAborted));
        EXPECT_EQ(stop.calls, 2);
        EXPECT_EQ(stop.Depth(), 0);
    }

    UueArchive h;
    ASSERT_EQ(h.Open(Path("big.uue")), kStatusOk);
    CountingSink stop(3);
    h.SetSink(&stop);
    int status = -1;
    MemoryBlock block = h.UnpackEntry(h.Entry(0), status);
    EXPECT_EQ(status, kUnpackAborted);
    EXPECT_FALSE(block);
    EXPECT_EQ(h.LastMessage(), MessageTemplate(kMsgAborted));
    EXPECT_EQ(stop.Depth(), 0);
}

TEST_F(UueArchiveTest, EncoderAbortAndFailuresLeaveTheDestinationAlone) {
    const std::string source = Write("src.bin", Pattern(10000, 6));
    const std::string dest = Write("dest.uue", "old content");
    std::string message;
    CountingSink stop(10);
    EXPECT_FALSE(UuEncodeFile(source, dest, &stop, message));
    EXPECT_EQ(message, MessageTemplate(kMsgAborted));
    EXPECT_EQ(stop.Depth(), 0);
    EXPECT_EQ(test::ReadFile(dest), "old content");

    EXPECT_FALSE(UuEncodeFile(Path("missing.bin"), dest, nullptr, message));
    EXPECT_EQ(message, FormatText(MessageTemplate(kMsgCannotOpen).c_str(), Path("missing.bin").c_str()));
    EXPECT_FALSE(UuEncodeFile(env_.dir().path(), dest, nullptr, message));
    EXPECT_EQ(message, FormatText(MessageTemplate(kMsgCannotOpen).c_str(), env_.dir().path().c_str()));
    EXPECT_EQ(test::ReadFile(dest), "old content");

    const std::string no_folder = Path("no/such/folder/x.uue");
    EXPECT_FALSE(UuEncodeFile(source, no_folder, nullptr, message));
    EXPECT_EQ(message, FormatText(MessageTemplate(kMsgCannotCreate).c_str(), no_folder.c_str()));
    fs::create_directories(Path("a_folder"));
    EXPECT_FALSE(UuEncodeFile(source, Path("a_folder"), nullptr, message));
    EXPECT_EQ(message, FormatText(MessageTemplate(kMsgCannotCreate).c_str(), Path("a_folder").c_str()));

    // A successful run replaces the old file; no temporary file stays behind.
    ASSERT_TRUE(UuEncodeFile(source, dest, nullptr, message));
    EXPECT_EQ(test::ReadFile(dest).rfind("begin 600 src.bin\n", 0), 0u);
    for (const auto& item : fs::directory_iterator(env_.dir().path()))
        EXPECT_EQ(item.path().filename().string().find(".qbtmp-"), std::string::npos) << item.path();
}

TEST_F(UueArchiveTest, EncodingTheOpenArchive) {
    struct Row {
        const char* archive;
        const char* proposed;
    };
    const Row rows[] = {
        {"/d/pack.zip", "/d/pack.uue"},
        {"/d/pack.tar.gz", "/d/pack.tar.uue"},
        {"/d.x/noext", "/d.x/noext.uue"},
        {"/d/.hidden", "/d/.hidden.uue"},
        {"rel.ARJ", "rel.uue"},
    };
    for (const Row& row : rows) EXPECT_EQ(UueTargetFor(row.archive), row.proposed) << row.archive;

    const std::string archive = Write("pack.zip", Pattern(500, 8));
    CountingSink sink(1 << 30);
    sink.Begin();
    std::string message;
    ASSERT_TRUE(EncodeArchiveAsUue(archive, UueTargetFor(archive), &sink, message));
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(sink.Depth(), 1);
    EXPECT_GT(sink.calls, 1);
    UueArchive h;
    ASSERT_EQ(h.Open(Path("pack.uue")), kStatusOk);
    EXPECT_EQ(h.Entry(0).full_name, "pack.zip");
    EXPECT_EQ(Unpacked(h, 0), test::ReadFile(archive));

    EXPECT_FALSE(EncodeArchiveAsUue(Path("gone.zip"), Path("gone.uue"), &sink, message));
    EXPECT_EQ(message, FormatText(MessageTemplate(kMsgCannotOpen).c_str(), Path("gone.zip").c_str()));
}

}  // namespace
}  // namespace quorbel
