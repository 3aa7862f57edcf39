// The ZIP reader and unpacker on archives built byte by byte, so every check meets exactly the
// damage it is there for.
#include <gtest/gtest.h>

#include "core/messages.h"
#include "core/settings.h"
#include "core/zip/zip_archive.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

using test::BuildZip;
using test::ZipMemberInput;

using test::Member;

class ZipArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        SetProgramPassword("");
    }
    void TearDown() override { SetProgramPassword(""); }

    // Writes the bytes to a file and opens them; returns the Open status.
    int OpenBytes(ZipArchive& zip, const std::string& bytes, const std::string& name = "t.zip") {
        path_ = env_ / name;
        test::WriteFile(path_, bytes);
        return zip.Open(path_);
    }
    int Unpack(ZipArchive& zip, size_t index, std::string* data = nullptr) {
        int status = -1;
        MemoryBlock block = zip.UnpackEntry(zip.Entry(index), status);
        if (data && block) data->assign(reinterpret_cast<const char*>(block.data.get()), block.size);
        return status;
    }

    test::IsolatedEnvironment env_;
    std::string path_;
};

TEST_F(ZipArchiveTest, SmallAndEmptyFiles) {
    ZipArchive empty;
    EXPECT_EQ(OpenBytes(empty, ""), kStatusOk);
    EXPECT_EQ(empty.EntryCount(), 0u);
    ZipArchive tiny;
    EXPECT_EQ(OpenBytes(tiny, std::string(21, 'P')), kStatusFailed);
    EXPECT_EQ(tiny.LastMessage(), "File \"" + path_ + "\" is not a ZIP file.");
    ZipArchive junk;
    EXPECT_EQ(OpenBytes(junk, std::string(5000, 'x')), kStatusFailed);
}

TEST_F(ZipArchiveTest, CommentsFoldersAndExtraFields) {
    auto a = Member("docs/", "", 0);
    auto b = Member("docs/a.txt", "hello hello hello");
    b.extra = test::Le16s(0xCAFE) + test::Le16s(3) + "xyz";
    b.comment = "member note";
    ZipArchive zip;
    ASSERT_EQ(OpenBytes(zip, BuildZip({a, b}, "archive note")), kStatusOk);
    ASSERT_EQ(zip.EntryCount(), 2u);
    EXPECT_FALSE(zip.Entry(0).is_file);
    EXPECT_TRUE(zip.Entry(1).is_file);
    EXPECT_EQ(zip.Entry(1).Folder(), "docs");
    EXPECT_EQ(zip.Entry(1).comment, "member note");
    EXPECT_EQ(zip.ArchiveComment(), "archive note");
    EXPECT_EQ(zip.FormatHeader(zip.Entry(1)).size(), 46u);
    std::string data;
    EXPECT_EQ(Unpack(zip, 1, &data), kUnpackOk);
    EXPECT_EQ(data, "hello hello hello");
}

TEST_F(ZipArchiveTest, LongestCommentOpensLongerTailDoesNot) {
    std::string zip_bytes = BuildZip({Member("a", "a")}, std::string(65535, 'c'));
    ZipArchive ok;
    EXPECT_EQ(OpenBytes(ok, zip_bytes), kStatusOk);
    EXPECT_EQ(ok.ArchiveComment().size(), 65535u);
    ZipArchive too_far;
    EXPECT_EQ(OpenBytes(too_far, zip_bytes + "J"), kStatusFailed);
}

TEST_F(ZipArchiveTest, NamesAreDecodedByTheirOrigin) {
    const std::string utf8 = "caf\xc3\xa9.txt";
    auto flagged = Member(utf8, "1");
    flagged.flags = 0x800;
    auto unix_made = Member("unix-" + utf8, "2");
    unix_made.version_made_by = (3 << 8) | 30;
    auto dos = Member(std::string("dos-\x82\xe1.txt"), "3");  // cp437 é ß
    auto dos_unicode = Member(std::string("old-\x82.txt"), "4");
    std::string unicode = "new-\xc3\xa9.txt";
    dos_unicode.extra = test::Le16s(0x7075) + test::Le16s(uint16_t(5 + unicode.size())) + "\x01" +
                        test::Le32s(test::Crc32Of(dos_unicode.name)) + unicode;
    auto stale_unicode = dos_unicode;  // its CRC names another stored name: ignored
    stale_unicode.name = std::string("stale-\x82.txt");
    ZipArchive zip;
    ASSERT_EQ(OpenBytes(zip, BuildZip({flagged, unix_made, dos, dos_unicode, stale_unicode})), kStatusOk);
    EXPECT_EQ(zip.Entry(0).full_name, utf8);
    EXPECT_EQ(zip.Entry(1).full_name, "unix-" + utf8);
    EXPECT_EQ(zip.Entry(2).full_name, "dos-\xc3\xa9\xc3\x9f.txt");
    EXPECT_EQ(zip.Entry(3).full_name, unicode);
    EXPECT_EQ(zip.Entry(4).full_name, "stale-\xc3\xa9.txt");
}

TEST_F(ZipArchiveTest, DamagedDirectories) {
    std::string good = BuildZip({Member("a.txt", "aaaa"), Member("b.txt", "bbbb"), Member("c.txt", "cccc")});
    size_t cd = good.find("PK\x01\x02");
    size_t third = good.find("PK\x01\x02", good.find("PK\x01\x02", cd + 4) + 4);
    struct Row {
        const char* what;
        std::string bytes;
        int status;
        size_t entries_kept;
    };
    std::string bad_signature = good;
    bad_signature[third] = 'X';
    std::string offset_outside = good;
    // Central directory offset in the end record points past the end of the file.
    size_t end = good.rfind("PK\x05\x06");
    offset_outside.replace(end + 16, 4, test::Le32s(0x7FFFFFF0));
    std::string size_outside = good;
    size_outside.replace(end + 12, 4, test::Le32s(0x7FFFFFF0));
    std::string too_many = good;
    too_many.replace(end + 10, 2, test::Le16s(60000));
    std::string cut_name = good;
    // The last record claims a name running into the end record.
    cut_name.replace(third + 28, 2, test::Le16s(500));
    Row rows[] = {
        {"third record signature broken", bad_signature, kStatusCorrupt, 2},
        {"directory offset beyond the file", offset_outside, kStatusCorrupt, 0},
        {"directory size beyond the file", size_outside, kStatusCorrupt, 0},
        {"more records announced than the directory holds", too_many, kStatusCorrupt, 3},
        {"name length past the directory", cut_name, kStatusCorrupt, 2},
    };
    for (const Row& r : rows) {
        ZipArchive zip;
        EXPECT_EQ(OpenBytes(zip, r.bytes), r.status) << r.what;
        EXPECT_EQ(zip.EntryCount(), r.entries_kept) << r.what;
        EXPECT_NE(zip.LastMessage().find("contains corrupted information"), std::string::npos) << r.what;
    }
}

TEST_F(ZipArchiveTest, Zip64EndRecordsReplaceSaturatedFields) {
    // One member, but the classic end record says 0xFFFF entries and 0xFFFFFFFF offsets.
    std::string body = BuildZip({Member("big.txt", "zip64 data")});
    size_t end = body.rfind("PK\x05\x06");
    size_t cd = body.find("PK\x01\x02");
    std::string central = body.substr(cd, end - cd);
    std::string out = body.substr(0, end);
    uint64_t z64_pos = out.size();
    out += test::Le32s(0x06064b50) + test::Le64s(44) + test::Le16s(45) + test::Le16s(45) +
           test::Le32s(0) + test::Le32s(0) + test::Le64s(1) + test::Le64s(1) +
           test::Le64s(central.size()) + test::Le64s(cd);
    out += test::Le32s(0x07064b50) + test::Le32s(0) + test::Le64s(z64_pos) + test::Le32s(1);
    out += test::Le32s(0x06054b50) + test::Le16s(0xFFFF) + test::Le16s(0xFFFF) +
           test::Le16s(0xFFFF) + test::Le16s(0xFFFF) + test::Le32s(0xFFFFFFFF) +
           test::Le32s(0xFFFFFFFF) + test::Le16s(0);
    ZipArchive zip;
    ASSERT_EQ(OpenBytes(zip, out), kStatusOk);
    EXPECT_TRUE(zip.End().zip64);
    ASSERT_EQ(zip.EntryCount(), 1u);
    std::string data;
    EXPECT_EQ(Unpack(zip, 0, &data), kUnpackOk);
    EXPECT_EQ(data, "zip64 data");
}

TEST_F(ZipArchiveTest, UnpackStatusesAndMessages) {
    auto stored = Member("stored.txt", "plain", 0);
    auto empty = Member("empty", "", 0);
    auto bzip2 = Member("b.bz2", "whatever", 12);
    auto bad_crc = Member("crc.txt", "abcdefgh");
    bad_crc.override_crc = true;
    bad_crc.crc = 0x12345678;
    auto short_size = Member("short.txt", std::string(1000, 'q'));
    short_size.override_unpacked = true;
    short_size.unpacked = 999;  // the stream holds one byte more than the record says
    auto long_size = Member("long.txt", std::string(1000, 'q'));
    long_size.override_unpacked = true;
    long_size.unpacked = 1001;  // inflate would stop early
    auto bomb = Member("bomb.txt", "tiny");
    bomb.override_unpacked = true;
    bomb.unpacked = 0xFFFFFFF0u;
    auto stored_mismatch = Member("stored2.txt", "abc", 0);
    stored_mismatch.override_unpacked = true;
    stored_mismatch.unpacked = 4;
    ZipArchive zip;
    ASSERT_EQ(OpenBytes(zip, BuildZip({stored, empty, bzip2, bad_crc, short_size, long_size, bomb,
                                       stored_mismatch})),
              kStatusOk);
    struct Row {
        size_t index;
        int status;
        const char* message_start;
    } rows[] = {
        {0, kUnpackOk, nullptr},
        {1, kUnpackOk, nullptr},
        {2, kUnpackUnsupported, "Unsupported compression method found."},
        {3, kUnpackDataError, "An error occurred while decompressing data."},
        {4, kUnpackDataError, "An error occurred while decompressing data."},
        {5, kUnpackDataError, "An error occurred while decompressing data."},
        {6, kUnpackDataError, "An error occurred while decompressing data."},
        {7, kUnpackDataError, "An error occurred while decompressing data."},
    };
    for (const Row& r : rows) {
        std::string data;
        EXPECT_EQ(Unpack(zip, r.index, &data), r.status) << zip.Entry(r.index).full_name;
        if (r.message_start) {
            EXPECT_EQ(zip.LastMessage().rfind(r.message_start, 0), 0u) << zip.LastMessage();
        }
    }
    std::string data;
    Unpack(zip, 0, &data);
    EXPECT_EQ(data, "plain");
    EXPECT_EQ(Unpack(zip, 1, &data), kUnpackOk);
    EXPECT_EQ(data, "");
}

TEST_F(ZipArchiveTest, CorruptDeflateStreamIsADataError) {
    auto m = Member("t.txt", std::string(5000, 'a') + "tail");
    std::string bytes = BuildZip({m});
    bytes[30 + 5 + 3] ^= 0x55;  // inside the deflate data
    ZipArchive zip;
    ASSERT_EQ(OpenBytes(zip, bytes), kStatusOk);
    EXPECT_EQ(Unpack(zip, 0), kUnpackDataError);
    EXPECT_EQ(zip.LastMessage(), MessageTemplate(kMsgDecompressError));
}

TEST_F(ZipArchiveTest, TraditionalEncryption) {
    auto plain = Member("p.txt", "not secret");
    auto secret = Member("s.txt", "the secret text, long enough to deflate deflate deflate");
    secret.encrypt_with = "pw";
    auto streamed = Member("d.txt", "streamed secret");
    streamed.encrypt_with = "pw";
    streamed.flags = 0x0008;  // check byte is the time's high byte
    streamed.dos_time = 0xAB12;
    auto stored = Member("st.txt", "stored secret", 0);
    stored.encrypt_with = "pw";
    auto strong = Member("strong.txt", "strong", 0);
    strong.encrypt_with = "pw";
    strong.flags = 0x0040;  // strong encryption: no password of ours opens it
    ZipArchive zip;
    ASSERT_EQ(OpenBytes(zip, BuildZip({plain, secret, streamed, stored, strong})), kStatusOk);
    EXPECT_TRUE(zip.HasEncrypted());
    EXPECT_EQ(Unpack(zip, 4), kUnpackUnsupported);
    EXPECT_EQ(Unpack(zip, 1), kUnpackNeedPassword);
    EXPECT_NE(zip.LastMessage().find("is protected by a password"), std::string::npos);
    SetProgramPassword("wrong");
    EXPECT_EQ(Unpack(zip, 1), kUnpackBadPassword);
    EXPECT_EQ(zip.LastMessage(), "Incorrect password");
    SetProgramPassword("pw");
    std::string data;
    EXPECT_EQ(Unpack(zip, 1, &data), kUnpackOk);
    EXPECT_EQ(data, secret.data);
    EXPECT_EQ(Unpack(zip, 2, &data), kUnpackOk);
    EXPECT_EQ(data, streamed.data);
    EXPECT_EQ(Unpack(zip, 3, &data), kUnpackOk);
    EXPECT_EQ(data, stored.data);
    EXPECT_EQ(Unpack(zip, 0, &data), kUnpackOk);
    EXPECT_EQ(Unpack(zip, 4), kUnpackUnsupported);
    EXPECT_EQ(zip.LastMessage(), "Unsupported compression method found.");
}

TEST_F(ZipArchiveTest, LargeMemberStreamsWithProgressAndAbort) {
    // Above the one-shot threshold the member goes through the streaming path.
    std::string data(70u << 20, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char((i * 2654435761u) >> 24);
    ZipArchive zip;
    ASSERT_EQ(OpenBytes(zip, BuildZip({Member("big.bin", data)})), kStatusOk);
    std::string out;
    EXPECT_EQ(Unpack(zip, 0, &out), kUnpackOk);
    EXPECT_TRUE(out == data);

    class AbortAfter : public ProgressSink {
    public:
        int SetPos(int64_t p, bool redraw) override {
            if (++calls > 3) RequestCancel();
            return ProgressSink::SetPos(p, redraw);
        }
        int calls = 0;
    } sink;
    zip.SetSink(&sink);
    EXPECT_EQ(Unpack(zip, 0), kUnpackAborted);
    EXPECT_EQ(zip.LastMessage(), "Aborted");
    EXPECT_LT(sink.calls, 20);
    zip.SetSink(nullptr);
}

TEST_F(ZipArchiveTest, AbortDuringTheDirectoryRead) {
    std::vector<ZipMemberInput> many;
    for (int i = 0; i < 200; ++i) many.push_back(Member("f" + std::to_string(i), "x", 0));
    class AbortNow : public ProgressSink {
    public:
        int SetPos(int64_t p, bool redraw) override {
            RequestCancel();
            return ProgressSink::SetPos(p, redraw);
        }
    } sink;
    ZipArchive zip;
    zip.SetSink(&sink);
    EXPECT_EQ(OpenBytes(zip, BuildZip(many)), kStatusAborted);
    EXPECT_EQ(zip.LastMessage(), "Aborted");
}

}  // namespace
}  // namespace quorbel
