// The ACE handler and its engine on the shared samples (stored, ACE 1.0 LZ77, ACE 2.0 blocked,
// solid, a volume set), against the original files and against unace, plus damaged copies:
// patched headers, sizes and data, truncations, Unix hosts, links and hostile names.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <zlib.h>

#include "core/archive_handler.h"
#include "core/byte_reader.h"
#include "core/data_stream.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/status.h"
#include "formats/ace/ace_archive.h"
#include "formats/ace/ace_directory.h"
#include "formats/ace/ace_unpack.h"
#include "formats/engines/unpack.h"
#include "formats/format_table.h"
#include "support/test_support.h"
#include "tests/formats/engine_test_util.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TestData;
using test::WriteFile;

const std::string kExeName = "exe\\test.exe";
const std::string kJpgName = "jpg\\test.jpg";
constexpr uint32_t kTxtCrc = 0x9bd160fa;

std::string Original(const char* which) {
    return ReadFile(TestData(std::string("rar/sharpcompress-original-test.") + which + ".expected"));
}

// Large contents compared without printing them: the sizes and the first difference.
::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
    if (got == want) return ::testing::AssertionSuccess();
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
    return ::testing::AssertionFailure() << "sizes " << got.size() << " and " << want.size()
                                         << ", first difference at " << i
                                         << (got.size() < 200 ? ": " + got : std::string());
}

uint32_t Crc(const std::string& s) {
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(s.data()), uInt(s.size())));
}

std::string Unpacked(ArchiveHandler& archive, size_t index, int& status) {
    MemoryBlock block = archive.UnpackEntry(archive.Entry(index), status);
    if (status != kUnpackOk) return "";
    return std::string(reinterpret_cast<const char*>(block.data.get()), block.size);
}

std::string Unpacked(ArchiveHandler& archive, const std::string& name, int* status_out = nullptr) {
    int index = archive.FindEntry(name);
    if (index < 0) return "<missing " + name + ">";
    int status = 0;
    std::string data = Unpacked(archive, size_t(index), status);
    if (status_out) *status_out = status;
    if (status != kUnpackOk) return "<status " + std::to_string(status) + ": " + archive.LastMessage() + ">";
    return data;
}

// The offsets of a file's block headers (4-byte CRC and size first), main header included.
std::vector<size_t> HeaderOffsets(const std::string& bytes) {
    std::vector<size_t> offsets;
    size_t pos = bytes.find("**ACE**") - 7;
    bool first = true;
    while (pos + 4 <= bytes.size()) {
        offsets.push_back(pos);
        const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data()) + pos;
        size_t size = Le16(p + 2);
        size_t add = first ? 0 : Le32(p + 7);
        first = false;
        pos += 4 + size + add;
    }
    return offsets;
}

// Rewrites the header CRC after a patch, so that only the patched field is wrong.
void FixHeaderCrc(std::string& bytes, size_t header) {
    auto* p = reinterpret_cast<uint8_t*>(bytes.data()) + header;
    uint16_t crc = uint16_t(ace::AceCrc32(0xFFFFFFFFu, p + 4, Le16(p + 2)));
    p[0] = uint8_t(crc);
    p[1] = uint8_t(crc >> 8);
}

void Put32(std::string& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = char(v >> (8 * i));
}

class AceArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        SetProgramPassword("");
        LoadHandlerOptions();
    }
    std::string Copy(const std::string& sample, const std::string& as) {
        std::string path = env_ / as;
        fs::copy_file(TestData("ace/" + sample), path, fs::copy_options::overwrite_existing);
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
        return path;
    }
    std::string Patched(const std::string& sample, const std::function<void(std::string&)>& patch) {
        std::string bytes = ReadFile(TestData("ace/" + sample));
        patch(bytes);
        std::string path = env_ / ("patched-" + std::to_string(++patches_) + ".ace");
        WriteFile(path, bytes);
        return path;
    }
    test::IsolatedEnvironment env_;
    int patches_ = 0;
};

// Every sample, every member, against the originals; solid ones in archive order and
// backwards (each member then decodes the ones before it again).
TEST_F(AceArchiveTest, EverySampleUnpacksToTheOriginals) {
    const std::string exe = Original("exe"), jpg = Original("jpg");
    for (const char* sample : {"Ace.store.ace", "Ace.method1.ace", "Ace.method1-solid.ace",
                               "Ace.method2.ace", "Ace.method2-solid.ace", "Ace.store.split.ace"}) {
        SCOPED_TRACE(sample);
        AceArchive ace;
        ASSERT_EQ(ace.Open(TestData(std::string("ace/") + sample)), kStatusOk) << ace.LastMessage();
        ASSERT_EQ(ace.EntryCount(), 5u);
        EXPECT_EQ(ace.FileCount(), 3);
        EXPECT_TRUE(SameBytes(Unpacked(ace, kExeName), exe));
        EXPECT_TRUE(SameBytes(Unpacked(ace, kJpgName), jpg));
        // The Cyrillic name is OEM bytes; its data is known by CRC and size.
        for (size_t i = ace.EntryCount(); i-- > 0;) {
            const ArchiveEntry& e = ace.Entry(i);
            if (!e.is_file) continue;
            int status = 0;
            std::string data = Unpacked(ace, i, status);
            ASSERT_EQ(status, kUnpackOk) << e.full_name << ": " << ace.LastMessage();
            EXPECT_EQ(Crc(data), uint32_t(e.crc));
            EXPECT_EQ(int64_t(data.size()), e.unpacked);
            if (e.unpacked == 15498) {
                EXPECT_EQ(Crc(data), kTxtCrc);
            }
        }
        EXPECT_EQ(uint32_t(ace.Entry(size_t(ace.FindEntry(kExeName))).crc), 0xcfb109c8u);
    }
}

TEST_F(AceArchiveTest, LargeStoredAndTinySamples) {
    AceArchive big;
    ASSERT_EQ(big.Open(TestData("ace/Ace.store.largefile.ace")), kStatusOk);
    ASSERT_EQ(big.EntryCount(), 1u);
    std::string alice = Unpacked(big, "alice29.txt");
    EXPECT_EQ(alice.size(), 152089u);
    EXPECT_NE(alice.find("ALICE'S ADVENTURES IN WONDERLAND"), std::string::npos);

    AceArchive t;
    ASSERT_EQ(t.Open(TestData("ace/t.ace")), kStatusOk);
    ASSERT_EQ(t.EntryCount(), 2u);
    EXPECT_FALSE(t.Entry(0).is_file);
    EXPECT_EQ(t.Entry(1).full_name, "t\\t.txt");
    EXPECT_EQ(Unpacked(t, "t\\t.txt"), "42");
}

TEST_F(AceArchiveTest, ListingFieldsNamesAndEncryption) {
    AceArchive ace;
    ASSERT_EQ(ace.Open(TestData("ace/Ace.encrypted.ace")), kStatusOk);
    ASSERT_EQ(ace.EntryCount(), 5u);
    EXPECT_TRUE(ace.HasEncrypted());
    const ArchiveEntry& exe = ace.Entry(size_t(ace.FindEntry(kExeName)));
    EXPECT_TRUE(exe.encrypted);
    EXPECT_EQ(exe.unpacked, 45056);
    EXPECT_EQ(exe.packed, 18272);
    EXPECT_EQ(exe.attributes, 0x20u);
    // No password: 14 before anything is started, for unpacking and for deleting.
    int status = 0;
    Unpacked(ace, size_t(ace.FindEntry(kExeName)), status);
    EXPECT_EQ(status, kUnpackNeedPassword);
    EXPECT_EQ(ace.DeleteEntry(ace.FindEntry(kExeName), true), kStatusNeedPassword);
    EXPECT_TRUE(ace.LastCommand().empty());

}

TEST_F(AceArchiveTest, VolumesAreFollowedWhateverTheirCase) {
    const std::string jpg = Original("jpg");
    for (const char* second : {"set.c00", "set.C00"}) {
        SCOPED_TRACE(second);
        fs::remove(env_ / "set.c00");
        fs::remove(env_ / "set.C00");
        const std::string first = Copy("Ace.store.split.ace", "set.ace");
        Copy("Ace.store.split.c00", second);
        AceArchive ace;
        ASSERT_EQ(ace.Open(first), kStatusOk) << ace.LastMessage();
        EXPECT_TRUE(ace.MissingVolume().empty());
        ASSERT_EQ(ace.EntryCount(), 5u);
        EXPECT_TRUE(SameBytes(Unpacked(ace, kJpgName), jpg));
        // Listed once, with the first header's sizes.
        EXPECT_EQ(ace.Entry(size_t(ace.FindEntry(kJpgName))).packed, 20321);
        EXPECT_TRUE(SameBytes(Unpacked(ace, kExeName), Original("exe")));
    }
}

TEST_F(AceArchiveTest, MissingNextVolumeListsWhatIsThereAndNamesIt) {
    const std::string first = Copy("Ace.store.split.ace", "alone.ace");
    int status = 0;
    std::string message;
    auto opened = OpenArchiveFile(first, status, nullptr, &message);
    ASSERT_TRUE(opened) << message;
    EXPECT_EQ(opened->FormatName(), "ACE");
    AceArchive ace;
    ASSERT_EQ(ace.Open(first), kStatusOk);
    EXPECT_EQ(ace.MissingVolume(), "alone.c00");
    EXPECT_NE(ace.LastMessage().find("alone.c00"), std::string::npos) << ace.LastMessage();
    ASSERT_EQ(ace.EntryCount(), 4u);  // two folders, the exe, the start of the jpg
    EXPECT_TRUE(SameBytes(Unpacked(ace, kExeName), Original("exe")));
    int s = 0;
    Unpacked(ace, size_t(ace.FindEntry(kJpgName)), s);
    EXPECT_EQ(s, kUnpackDataError);
    EXPECT_NE(ace.LastMessage().find("alone.c00"), std::string::npos);
}

// Damaged copies: each fault gives its sound result.
TEST_F(AceArchiveTest, PatchedBytesGiveTheSoundResult) {
    const std::string sample = "Ace.method1.ace";
    const std::string bytes = ReadFile(TestData("ace/" + sample));
    const std::vector<size_t> h = HeaderOffsets(bytes);
    ASSERT_EQ(h.size(), 6u);
    const size_t exe_header = h[2];                 // exe\test.exe, LZ77
    const size_t exe_data = exe_header + 4 + Le16(reinterpret_cast<const uint8_t*>(bytes.data()) + exe_header + 2);

    struct Case {
        const char* what;
        std::function<void(std::string&)> patch;
        int open;
        size_t entries;     // when open is 1
        int exe_unpack;     // 0: the member is not listed
    } cases[] = {
        {"main header CRC", [&](std::string& b) { b[h[0]] ^= 1; }, kStatusNotThisFormat, 0, 0},
        {"member header CRC ends the listing", [&](std::string& b) { b[exe_header] ^= 1; },
         kStatusOk, 1, 0},
        {"header size past the end", [&](std::string& b) {
             b[h[5] + 2] = char(0xFF); b[h[5] + 3] = char(0xFF); }, kStatusOk, 4, kUnpackOk},
        {"packed data byte", [&](std::string& b) { b[exe_data + 100] ^= 0x5A; }, kStatusOk, 5,
         kUnpackDataError},
        {"unpacked size one larger", [&](std::string& b) {
             Put32(b, exe_header + 11, 45057); FixHeaderCrc(b, exe_header); }, kStatusOk, 5,
         kUnpackDataError},
        {"unpacked size one smaller", [&](std::string& b) {
             Put32(b, exe_header + 11, 45055); FixHeaderCrc(b, exe_header); }, kStatusOk, 5,
         kUnpackDataError},
        {"unpacked size near 4 GiB", [&](std::string& b) {
             Put32(b, exe_header + 11, 0xFFFFFFF0u); FixHeaderCrc(b, exe_header); }, kStatusOk, 5,
         kUnpackDataError},
        {"stored CRC", [&](std::string& b) {
             b[exe_header + 4 + 19] ^= 1; FixHeaderCrc(b, exe_header); }, kStatusOk, 5,
         kUnpackDataError},
        {"packed size past the end", [&](std::string& b) {
             Put32(b, exe_header + 7, 0x7FFFFFFF); FixHeaderCrc(b, exe_header); }, kStatusOk, 1, 0},
        {"unknown method", [&](std::string& b) {
             b[exe_header + 4 + 23] = 9; FixHeaderCrc(b, exe_header); }, kStatusOk, 5,
         kUnpackUnsupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AceArchive ace;
        ASSERT_EQ(ace.Open(Patched(sample, c.patch)), c.open) << ace.LastMessage();
        if (c.open != kStatusOk) continue;
        EXPECT_EQ(ace.EntryCount(), c.entries);
        int index = ace.FindEntry(kExeName);
        if (c.exe_unpack == 0) {
            EXPECT_LT(index, 0);
            continue;
        }
        ASSERT_GE(index, 0);
        int status = 0;
        std::string data = Unpacked(ace, size_t(index), status);
        EXPECT_EQ(status, c.exe_unpack) << ace.LastMessage();
        if (c.exe_unpack == kUnpackOk) {
            EXPECT_TRUE(SameBytes(data, Original("exe")));
        }
    }
}

// In a solid archive a damaged member spoils the ones after it, in any order of asking, and a
// good run afterwards still starts over cleanly.
TEST_F(AceArchiveTest, SolidArchiveDamageReachesTheMembersAfter) {
    const std::string sample = "Ace.method1-solid.ace";
    const std::string bytes = ReadFile(TestData("ace/" + sample));
    const std::vector<size_t> h = HeaderOffsets(bytes);
    ASSERT_EQ(h.size(), 6u);
    const size_t exe_data = h[3] + 4 + Le16(reinterpret_cast<const uint8_t*>(bytes.data()) + h[3] + 2);
    AceArchive ace;
    ASSERT_EQ(ace.Open(Patched(sample, [&](std::string& b) { b[exe_data + 500] ^= 0x21; })), kStatusOk);
    int status = 0;
    for (int round = 0; round < 2; ++round) {
        Unpacked(ace, size_t(ace.FindEntry(kJpgName)), status);
        EXPECT_EQ(status, kUnpackDataError);
        Unpacked(ace, size_t(ace.FindEntry(kExeName)), status);
        EXPECT_EQ(status, kUnpackDataError);
    }
    AceArchive good;
    ASSERT_EQ(good.Open(TestData("ace/" + sample)), kStatusOk);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(Crc(Unpacked(good, kExeName)), 0xcfb109c8u);
        EXPECT_TRUE(SameBytes(Unpacked(good, kJpgName), Original("jpg")));
    }
}

// A Unix host stores st_mode: permission bits, folders and links come from it; a link is listed
// and never written.
TEST_F(AceArchiveTest, UnixHostModesAndLinks) {
    const std::string path = Patched("t.ace", [](std::string& b) {
        std::vector<size_t> h = HeaderOffsets(b);
        b[h[0] + 4 + 12] = 3;  // host: Unix
        FixHeaderCrc(b, h[0]);
        Put32(b, h[1] + 4 + 15, 0040755u << 16 | 0x10);
        FixHeaderCrc(b, h[1]);
        Put32(b, h[2] + 4 + 15, 0120777u << 16);
        FixHeaderCrc(b, h[2]);
    });
    AceArchive ace;
    ASSERT_EQ(ace.Open(path), kStatusOk);
    ASSERT_EQ(ace.EntryCount(), 2u);
    EXPECT_FALSE(ace.Entry(0).is_file);
    EXPECT_EQ(ace.Entry(0).unix_mode & 07777, 0755u);
    EXPECT_EQ(ace.Directory().members[1].is_link, true);
    EXPECT_EQ(ace.Entry(1).attributes & 0x04, 0u);  // not taken for "system"
    const std::string out = env_ / "links";
    ASSERT_EQ(ace.ExtractEntryAt(1, out, true, nullptr, true), kStatusOk);
    EXPECT_FALSE(fs::exists(fs::symlink_status(out + "/t/t.txt")));
    ASSERT_EQ(ace.SkippedReport().size(), 1u);
    int status = 0;
    Unpacked(ace, 1, status);
    EXPECT_EQ(status, kUnpackUnsupported);
}

// Names that climb out or start at the root stay inside the destination.
TEST_F(AceArchiveTest, HostileNamesStayInsideTheDestination) {
    struct Case { std::string name; bool extracted; std::string where; } cases[] = {
        {"..\\..\\x.txt", false, ""},
        {"\\tmp\\a.txt", true, "tmp/a.txt"},
        {"C:\\b.txt", true, "b.txt"},
        // OEM bytes (code page 437) are shown converted; the raw bytes stay for the archiver.
        {"\x8e\x84.txt", true, "\xc3\x84\xc3\xa4.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Patched("t.ace", [&](std::string& b) {
            std::vector<size_t> h = HeaderOffsets(b);
            const size_t hdr = h[2];
            const size_t name_at = hdr + 4 + 31;
            size_t old_len = Le16(reinterpret_cast<const uint8_t*>(b.data()) + hdr + 4 + 29);
            b.replace(name_at, old_len, c.name);
            b[hdr + 4 + 29] = char(c.name.size());
            size_t size = Le16(reinterpret_cast<const uint8_t*>(b.data()) + hdr + 2) + c.name.size() - old_len;
            b[hdr + 2] = char(size);
            b[hdr + 3] = char(size >> 8);
            FixHeaderCrc(b, hdr);
        });
        AceArchive ace;
        ASSERT_EQ(ace.Open(path), kStatusOk);
        ASSERT_EQ(ace.EntryCount(), 2u);
        EXPECT_EQ(ace.StoredNameOf(ace.Entry(1)), c.name);
        const std::string out = env_ / ("dest" + std::to_string(patches_));
        int r = ace.ExtractEntryAt(1, out, true, nullptr, true);
        if (!c.extracted) {
            EXPECT_NE(r, kStatusOk);
            EXPECT_FALSE(fs::exists(env_ / "x.txt"));
            continue;
        }
        ASSERT_EQ(r, kStatusOk) << ace.LastMessage();
        EXPECT_EQ(ReadFile(out + "/" + c.where), "42");
    }
}

// Every sample cut at many lengths: listing and unpacking end without a crash, and what is
// returned is right.
TEST_F(AceArchiveTest, TruncatedSamplesFailCleanly) {
    for (const char* sample : {"Ace.method1-solid.ace", "Ace.method2.ace", "Ace.store.ace", "t.ace"}) {
        const std::string bytes = ReadFile(TestData(std::string("ace/") + sample));
        for (size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 97) {
            SCOPED_TRACE(std::string(sample) + " cut at " + std::to_string(cut));
            const std::string path = env_ / "cut.ace";
            WriteFile(path, bytes.substr(0, cut));
            AceArchive ace;
            int r = ace.Open(path);
            if (r != kStatusOk) {
                EXPECT_EQ(r, kStatusNotThisFormat);
                continue;
            }
            for (size_t i = 0; i < ace.EntryCount(); ++i) {
                int status = 0;
                std::string data = Unpacked(ace, i, status);
                if (status == kUnpackOk) {
                    EXPECT_EQ(int64_t(data.size()), ace.Entry(i).unpacked);
                } else {
                    EXPECT_EQ(status, kUnpackDataError);
                }
            }
        }
    }
}

// The engine on its own: any pull size, cancelling, and a size larger than the stream.
TEST_F(AceArchiveTest, EngineChunksCancelsAndStopsAtTheEnd) {
    DataStream s;
    ASSERT_TRUE(s.OpenFile(TestData("ace/Ace.method2.ace"), true));
    ace::AceDirectory dir;
    ASSERT_EQ(ace::ReadAceDirectory(s, TestData("ace/Ace.method2.ace"), dir), engines::DirectoryStatus::Ok);
    const ace::AceMember& m = dir.members[1];
    ASSERT_EQ(m.name, kExeName);
    std::string packed(m.packed_size, '\0');
    ASSERT_TRUE(engines::ReadExactAt(s, m.segments[0].data_offset, packed.data(), packed.size()));
    for (size_t chunk : {size_t(1), size_t(3), size_t(4096)}) {
        test::ChunkedSource src(packed, chunk);
        engines::MemorySink out(1 << 20);
        EXPECT_EQ(ace::UnpackAce(m.method, m.params, src, m.unpacked_size, out), engines::UnpackStatus::Ok);
        EXPECT_TRUE(SameBytes(test::AsString(out.Data()), Original("exe")));
    }
    test::ChunkedSource src(packed, 4096);
    test::CancellingSink cancel(2);
    EXPECT_EQ(ace::UnpackAce(m.method, m.params, src, m.unpacked_size, cancel), engines::UnpackStatus::Cancelled);
    test::ChunkedSource src2(packed, 4096);
    engines::MemorySink out(1 << 20);
    EXPECT_EQ(ace::UnpackAce(m.method, m.params, src2, m.unpacked_size + 1000, out), engines::UnpackStatus::Corrupt);
    EXPECT_LE(out.Data().size(), m.unpacked_size + 1000);
}

// Bits written most significant first into little-endian 32-bit words, as ACE reads them.
class AceBits {
public:
    void Put(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i) bits_.push_back(((value >> i) & 1) != 0);
    }
    void Code(const char* bits) {
        for (const char* p = bits; *p; ++p) bits_.push_back(*p == '1');
    }
    std::string Bytes() const {
        std::string out;
        for (size_t w = 0; w < bits_.size(); w += 32) {
            uint32_t word = 0;
            for (size_t i = 0; i < 32; ++i) word = (word << 1) | (w + i < bits_.size() && bits_[w + i] ? 1 : 0);
            for (int k = 0; k < 4; ++k) out.push_back(char(word >> (8 * k)));
        }
        return out;
    }

private:
    std::vector<bool> bits_;
};

// The DELTA mode (no sample uses it): a block of four bytes, summed up, read as two planes.
TEST_F(AceArchiveTest, DeltaModeSumsAndReordersItsBlock) {
    AceBits b;
    // Main code set: widths 'a' 2, 'b' 3, 'c' 4, 'd' 5, mode symbol 1, sent as deltas mod 6
    // with the width codes 0 -> "0", 1 -> "10", 2 -> "110", 6 (zero run) -> "1110".
    b.Put(283, 9);
    b.Put(0, 4);  // lowest width
    b.Put(6, 4);  // modulus
    for (int w : {1, 2, 3, 0, 0, 0, 4}) b.Put(uint32_t(w), 3);
    for (int i = 0; i < 97; ++i) b.Code("0");
    b.Code("110");                     // 'a': 2
    for (int i = 0; i < 4; ++i) b.Code("10");  // 'b' 3, 'c' 4, 'd' 5, then back to 0
    for (int i = 102; i < 283; ++i) b.Code("0");
    b.Code("10");                      // the mode symbol: 1
    b.Put(0, 25);                      // a length code set of one code, from zero bits
    b.Put(5, 15);                      // five symbols in this block
    b.Code("0");                       // mode symbol: DELTA, distance 2, length 4
    b.Put(1, 8);
    b.Put(2, 8);
    b.Put(4, 17);
    b.Code("10110111011110");          // a b c d
    const std::string packed = b.Bytes();
    test::ChunkedSource src(packed, 5);
    engines::MemorySink out(64);
    ASSERT_EQ(ace::UnpackAce(2, 0, src, 4, out), engines::UnpackStatus::Ok);
    // Sums 97, 195, 38, 138; planes of two: [0] [2] then [1] [3].
    EXPECT_EQ(test::AsString(out.Data()), std::string("\x61\x26\xc3\x8a"));
    // The same stream as ACE 1.0 data: a mode symbol has no place there.
    test::ChunkedSource again(packed, 5);
    engines::MemorySink out2(64);
    EXPECT_EQ(ace::UnpackAce(1, 0, again, 4, out2), engines::UnpackStatus::Corrupt);
}

// A code set as the stream sends it: widths as deltas modulo 6 (lowest width 0), the delta
// codes themselves 1-7 bits wide (code k: k ones and a zero). Widths of the used symbols are
// distinct, so the symbol of width w has the code of w - 1 ones and a zero.
void PutCodeSet(AceBits& b, int count, const std::vector<std::pair<int, int>>& widths) {
    b.Put(uint32_t(count - 1), 9);
    b.Put(0, 4);
    b.Put(6, 4);
    for (int w = 1; w <= 7; ++w) b.Put(uint32_t(w), 3);
    int previous = 0;
    for (int i = 0; i < count; ++i) {
        int width = 0;
        for (const auto& [symbol, w] : widths)
            if (symbol == i) width = w;
        int delta = ((width - previous) % 6 + 6) % 6;
        for (int k = 0; k < delta; ++k) b.Code("1");
        b.Code("0");
        previous = width;
    }
}

void PutSymbol(AceBits& b, int width) {
    for (int k = 1; k < width; ++k) b.Code("1");
    b.Code("0");
}

// An LZ77 block: 'A', a switch to `mode`, 'B' (which waits until the stream returns to LZ77).
void PutLzAroundMode(AceBits& b, int mode) {
    PutCodeSet(b, 284, {{'A', 1}, {'B', 2}, {283, 3}});
    b.Put(0, 25);  // a length code set of one code, from zero bits
    b.Put(3, 15);
    PutSymbol(b, 1);
    PutSymbol(b, 3);
    b.Put(uint32_t(mode), 8);
    PutSymbol(b, 2);
}

std::string UnpackBlocked(const std::string& packed, uint64_t size, engines::UnpackStatus* status) {
    test::ChunkedSource src(packed, 3);
    engines::MemorySink out(1 << 16);
    *status = ace::UnpackAce(2, 0, src, size, out);
    return test::AsString(out.Data());
}

// The SOUND mode, 8-bit: with its coefficients still at zero (fewer than 32 samples) each
// sample is the last one plus the decoded difference; a run code gives zeros then a raw value.
TEST_F(AceArchiveTest, SoundModeSamplesAndTheWayBack) {
    AceBits b;
    PutLzAroundMode(b, 3);
    // Codes: 288 (mode) 1 wide, run of two 2, 4 3, 34 (+1) 4, 35 (-2) 5; one set per model.
    for (int set = 0; set < 3; ++set) PutCodeSet(b, 289, {{288, 1}, {1, 2}, {4, 3}, {34, 4}, {35, 5}});
    b.Put(7, 15);
    for (int w : {4, 5, 2, 3, 4, 4}) PutSymbol(b, w);  // +1, -2, 0, 0, +2, +1, +1
    PutSymbol(b, 1);
    b.Put(0, 8);  // back to LZ77
    engines::UnpackStatus status;
    std::string out = UnpackBlocked(b.Bytes(), 9, &status);
    ASSERT_EQ(status, engines::UnpackStatus::Ok);
    EXPECT_EQ(out, std::string("A\x01\xff\xff\xff\x01\x02\x03" "B", 9));
}

// The PIC mode: a line of two pixels, each predicted (from nothing yet) and corrected by a
// signed Golomb-Rice error whose width follows its context's average error.
TEST_F(AceArchiveTest, PicModeLineAndTheWayBack) {
    AceBits b;
    PutLzAroundMode(b, 7);
    b.Put(2, 12);     // width 2
    b.Code("0");
    b.Put(1, 2);      // one plane
    b.Code("0");
    b.Code("1");      // a line follows
    b.Code("100110"); // +10: 20 = 4 + 2 x 8
    b.Code("11010");  // +7: 14 = 6 + 8
    b.Code("0");      // no more lines: back to LZ77
    b.Put(0, 8);
    engines::UnpackStatus status;
    std::string out = UnpackBlocked(b.Bytes(), 4, &status);
    ASSERT_EQ(status, engines::UnpackStatus::Ok);
    EXPECT_EQ(out, std::string("A\x0a\x07" "B"));
    // A width of zero is no picture.
    AceBits z;
    PutLzAroundMode(z, 7);
    z.Put(0, 12);
    z.Code("0");
    z.Put(1, 2);
    z.Code("0");
    UnpackBlocked(z.Bytes(), 4, &status);
    EXPECT_EQ(status, engines::UnpackStatus::Corrupt);
}

// The fuzz targets' regression files, through the handler and the engine: each gives its
// sound result.
TEST_F(AceArchiveTest, RegressionFilesGiveTheSoundResult) {
    auto regression = [](const std::string& name) {
        return (fs::path(QUORBEL_SOURCE_DIR) / "fuzz" / "regressions" / name).string();
    };
    struct Listing { const char* file; int open; size_t entries; int unpack; } listings[] = {
        {"main-header-crc-wrong.ace", kStatusNotThisFormat, 0, 0},
        {"signature-before-offset-seven.ace", kStatusNotThisFormat, 0, 0},
        {"header-size-past-end.ace", kStatusOk, 0, 0},
        {"packed-size-past-end.ace", kStatusOk, 0, 0},
        {"unpacked-size-4-gigabytes-from-stored-bytes.ace", kStatusOk, 1, kUnpackDataError},
        {"continues-in-missing-volume.ace", kStatusOk, 1, kUnpackDataError},
        {"unix-host-symlink.ace", kStatusOk, 1, kUnpackUnsupported},
        {"name-longer-than-header.ace", kStatusOk, 0, 0},
        {"lz77-member-of-zero-bits.ace", kStatusOk, 1, kUnpackDataError},
    };
    for (const Listing& c : listings) {
        SCOPED_TRACE(c.file);
        AceArchive ace;
        ASSERT_EQ(ace.Open(regression(std::string("ace_directory/") + c.file)), c.open);
        if (c.open != kStatusOk) continue;
        ASSERT_EQ(ace.EntryCount(), c.entries);
        if (c.entries == 0) continue;
        int status = 0;
        Unpacked(ace, 0, status);
        EXPECT_EQ(status, c.unpack) << ace.LastMessage();
    }
    using engines::UnpackStatus;
    struct Engine { const char* file; UnpackStatus result; } engines_cases[] = {
        {"lz77-huge-size-no-input.bin", UnpackStatus::Corrupt},
        {"zero-bits-empty-blocks-forever.bin", UnpackStatus::Corrupt},
        {"lz77-mode-symbol.bin", UnpackStatus::Corrupt},
        {"blocked-delta-distance-zero.bin", UnpackStatus::Corrupt},
        {"blocked-delta-longer-than-member.bin", UnpackStatus::Corrupt},
        {"blocked-sound-mode-without-samples.bin", UnpackStatus::Corrupt},
        {"blocked-pic-width-zero.bin", UnpackStatus::Corrupt},
        {"blocked-pic-width-endless.bin", UnpackStatus::Corrupt},
        {"blocked-unknown-mode.bin", UnpackStatus::Corrupt},
        {"empty-block-count-wraps.bin", UnpackStatus::Corrupt},
    };
    for (const Engine& c : engines_cases) {
        SCOPED_TRACE(c.file);
        const std::string bytes = ReadFile(regression(std::string("ace_unpack/") + c.file));
        ASSERT_GE(bytes.size(), 6u);
        const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
        engines::SpanSource src(b + 6, bytes.size() - 6);
        engines::MemorySink out(1 << 20);
        EXPECT_EQ(ace::UnpackAce(b[0], b[1], src, Le32(b + 2) & 0x7FFFF, out), c.result);
    }
}

TEST_F(AceArchiveTest, CommandLineListTestExtract) {
    const std::string path = Copy("Ace.method2-solid.ace", "cli.ace");
    auto list = test::Run({QUORBEL_CLI_PATH, "list", path});
    EXPECT_EQ(list.exit_code, 0) << list.err;
    EXPECT_NE(list.out.find("test.jpg"), std::string::npos) << list.out;
    auto tested = test::Run({QUORBEL_CLI_PATH, "test", path});
    EXPECT_EQ(tested.exit_code, 0) << tested.out << tested.err;
    const std::string out = env_ / "cli-out";
    auto x = test::Run({QUORBEL_CLI_PATH, "extract", "--folder-names", "-d", out, path});
    EXPECT_EQ(x.exit_code, 0) << x.out << x.err;
    EXPECT_TRUE(SameBytes(ReadFile(out + "/jpg/test.jpg"), Original("jpg")));
    EXPECT_TRUE(SameBytes(ReadFile(out + "/exe/test.exe"), Original("exe")));
}

}  // namespace
}  // namespace quorbel
