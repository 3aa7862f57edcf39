// The ZOO directory reader and engines: the sample archive, and archives made by a small
// builder here (LZW and -lh5- members, comments, long names, folders, deleted entries, a chain
// that loops), checked against unar as well.
//
// Recipe of the builder's archives: a 42-byte header (banner, tag, first-entry offset and its
// negation, version 2.0, type 1, archive comment position and length), then per member a type-2
// directory entry, its comment and its data, and an empty entry with next offset 0 at the end.
#include <gtest/gtest.h>

#include <map>

#include "core/data_stream.h"
#include "formats/engines/archive_member.h"
#include "formats/engines/crc16.h"
#include "formats/lha/lha_directory.h"
#include "formats/zoo/zoo_directory.h"
#include "formats/zoo/zoo_unpack.h"
#include "support/test_support.h"
#include "formats/engine_test_util.h"

namespace quorbel {
namespace {

using engines::DirectoryStatus;
using engines::UnpackStatus;

uint16_t Crc16(const std::string& s) {
    return engines::Crc16(0, reinterpret_cast<const uint8_t*>(s.data()), s.size());
}
std::string Le16(uint32_t v) { return {char(v & 0xFF), char((v >> 8) & 0xFF)}; }
std::string Le32(uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

// ZOO's LZW: 9 to 13 bits, least significant bit first, 256 clears, 257 ends.
std::string LzwPack(const std::string& data) {
    std::string out;
    uint64_t acc = 0;
    int have = 0;
    auto emit = [&](uint32_t code, int bits) {
        acc |= uint64_t(code) << have;
        have += bits;
        while (have >= 8) {
            out += char(acc & 0xFF);
            acc >>= 8;
            have -= 8;
        }
    };
    // The decoder reads each code with the width its table had after the previous code.
    auto width = [](uint32_t free_code) {
        int bits = 9;
        for (uint32_t limit = 512; free_code >= limit && bits < 13; limit <<= 1) ++bits;
        return bits;
    };
    std::map<std::pair<int, uint8_t>, int> table;
    uint32_t next = 258;
    emit(256, 9);
    int w = -1;
    for (unsigned char c : data) {
        if (w < 0) {
            w = c;
            continue;
        }
        auto it = table.find({w, c});
        if (it != table.end()) {
            w = it->second;
            continue;
        }
        emit(uint32_t(w), width(next - 1));
        if (next >= 8000) {
            emit(256, width(next));
            table.clear();
            next = 258;
            w = c;
            continue;
        }
        table[{w, c}] = int(next++);
        w = c;
    }
    if (w >= 0) emit(uint32_t(w), width(next - 1));
    emit(257, width(next));
    if (have) out += char(acc & 0xFF);
    return out;
}

struct ZooItem {
    std::string short_name, long_name, folder, comment;
    int method = 0;
    std::string packed;
    std::string plain;
    bool deleted = false;
};

// Builds an archive; with `loop`, the last entry points back at the first.
std::string BuildZoo(const std::vector<ZooItem>& items, const std::string& archive_comment = "",
                     bool loop = false) {
    std::string out = std::string("ZOO 2.10 Archive.\x1a", 18);
    out.resize(20, '\0');
    out += Le32(0xFDC4A7DC) + Le32(42) + Le32(uint32_t(-42)) + "\x02" + std::string(1, '\0') + "\x01";
    size_t comment_field = out.size();
    out += Le32(0) + Le16(0) + std::string(1, char(3));  // comment position, length, vdata
    if (!archive_comment.empty()) {
        std::string pos = Le32(uint32_t(out.size())), len = Le16(uint32_t(archive_comment.size()));
        out.replace(comment_field, 4, pos);
        out.replace(comment_field + 4, 2, len);
        out += archive_comment;
    }
    size_t first_entry = out.size();
    out.replace(24, 4, Le32(uint32_t(first_entry)));
    out.replace(28, 4, Le32(uint32_t(-int32_t(first_entry))));
    size_t previous_next = 0;
    for (const auto& item : items) {
        size_t at = out.size();
        if (previous_next) out.replace(previous_next, 4, Le32(uint32_t(at)));
        std::string name = item.long_name.empty() ? "" : item.long_name + std::string(1, '\0');
        std::string folder = item.folder.empty() ? "" : item.folder + std::string(1, '\0');
        size_t var = 2 + name.size() + folder.size() + 2 + 3 + 2 + 2;
        size_t entry_size = 56 + var;
        size_t comment_at = at + entry_size;
        size_t data_at = comment_at + item.comment.size();
        std::string e = Le32(0xFDC4A7DC) + "\x02" + char(item.method) + Le32(0) + Le32(uint32_t(data_at));
        e += Le16((30 << 9) | (1 << 5) | 1) + Le16((12 << 11) | (34 << 5) | 28);  // 2010-01-01 12:34:56
        e += Le16(Crc16(item.plain)) + Le32(uint32_t(item.plain.size())) + Le32(uint32_t(item.packed.size()));
        e += std::string("\x02\x01", 2) + char(item.deleted ? 1 : 0) + std::string(1, '\0');
        e += Le32(item.comment.empty() ? 0 : uint32_t(comment_at)) + Le16(uint32_t(item.comment.size()));
        std::string sn = item.short_name;
        sn.resize(13, '\0');
        e += sn + Le16(uint32_t(var)) + "\x7f" + Le16(0);
        e += char(name.size()) + std::string(1, char(folder.size())) + name + folder;
        e += Le16(0) + std::string("\xed\x01\x40", 3) + Le16(0) + Le16(1);  // Unix, mode 0755
        out += e + item.comment + item.packed;
        previous_next = at + 6;
    }
    size_t end = out.size();
    if (previous_next) out.replace(previous_next, 4, Le32(uint32_t(loop ? first_entry : end)));
    std::string sentinel = Le32(0xFDC4A7DC) + "\x02";
    sentinel.resize(56 + 2, '\0');
    out += sentinel;
    return out;
}

std::string Text(int lines) {
    std::string s;
    for (int i = 0; i < lines; ++i) s += "zoo line " + std::to_string(i % 313) + " of some text\n";
    return s;
}

// Packed -lh5- bytes and their plain text, taken from an LHA sample.
void Lh5Sample(std::string& packed, uint32_t& size, uint16_t& crc) {
    DataStream s;
    ASSERT_TRUE(s.OpenFile(test::TestData("lha/lha_unix114i_h0_lh5.lzh"), true));
    lha::LhaDirectory d;
    ASSERT_EQ(lha::ReadLhaDirectory(s, d), DirectoryStatus::Ok);
    packed.assign(d.members[0].packed_size, '\0');
    ASSERT_TRUE(engines::ReadExactAt(s, d.members[0].data_offset, packed.data(), packed.size()));
    size = uint32_t(d.members[0].unpacked_size);
    crc = d.members[0].crc16;
}

struct Unpacked {
    UnpackStatus status;
    std::string bytes;
};

Unpacked UnpackMember(DataStream& stream, const zoo::ZooMember& m) {
    engines::StreamSource source(stream, m.data_offset, m.packed_size);
    engines::MemorySink sink(m.unpacked_size);
    UnpackStatus s = zoo::UnpackZoo(m.method, source, m.unpacked_size, sink);
    return {s, test::AsString(sink.Data())};
}

TEST(ZooEngine, SampleListsAndUnpacks) {
    DataStream s;
    ASSERT_TRUE(s.OpenFile(test::TestData("zoo/t.zoo"), true));
    zoo::ZooDirectory d;
    ASSERT_EQ(zoo::ReadZooDirectory(s, d), DirectoryStatus::Ok);
    ASSERT_EQ(d.members.size(), 2u);
    EXPECT_EQ(d.members[0].Path('\\'), "t.txt");
    EXPECT_EQ(d.members[1].Path('\\'), "t2.txt");
    EXPECT_EQ(d.members[0].mode.kind, engines::MemberMode::Kind::Unix);
    EXPECT_EQ(d.members[0].mode.bits & 0777, 0644u);
    for (const auto& m : d.members) {
        Unpacked u = UnpackMember(s, m);
        ASSERT_EQ(u.status, UnpackStatus::Ok);
        EXPECT_EQ(u.bytes, "42");
        EXPECT_EQ(Crc16(u.bytes), m.crc16);
    }
}

class BuiltZoo : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(Lh5Sample(lh5_packed_, lh5_size_, lh5_crc_));
        text_ = Text(4000);
        std::string big;
        for (int i = 0; i < 120000; ++i) big += char("abcdefghij"[(int64_t(i) * i / 7) % 10]);
        big_ = big;
        items_ = {
            {"a.txt", "", "", "first comment\n", 1, LzwPack(text_), text_, false},
            {"b.txt", "", "", "", 0, "stored!", "stored!", false},
            {"gone.txt", "", "", "", 0, "x", "x", true},
            {"longna~1.txt", "a rather long file name.text", "docs/inner", "", 1, LzwPack(big_), big_, false},
            {"gpl-2", "", "lic", "", 2, lh5_packed_, "", false},
        };
    }
    test::TempDir dir_;
    std::string lh5_packed_, text_, big_;
    uint32_t lh5_size_ = 0;
    uint16_t lh5_crc_ = 0;
    std::vector<ZooItem> items_;
    int files_ = 0;

    zoo::ZooDirectory Read(const std::string& bytes, DirectoryStatus want, DataStream& s) {
        s.Close();
        std::string path = dir_ / ("x" + std::to_string(++files_) + ".zoo");
        test::WriteFile(path, bytes);
        EXPECT_TRUE(s.OpenFile(path, true));
        zoo::ZooDirectory d;
        EXPECT_EQ(zoo::ReadZooDirectory(s, d), want);
        return d;
    }
};

TEST_F(BuiltZoo, MembersCommentsLongNamesDeleted) {
    std::string bytes = BuildZoo(items_, "archive note");
    DataStream s;
    zoo::ZooDirectory d = Read(bytes, DirectoryStatus::Ok, s);
    EXPECT_EQ(d.comment, "archive note");
    ASSERT_EQ(d.members.size(), 4u);  // the deleted entry is not listed
    EXPECT_EQ(d.members[0].Path('\\'), "a.txt");
    EXPECT_EQ(d.members[0].comment, "first comment\n");
    EXPECT_EQ(d.members[1].comment, "");
    EXPECT_EQ(d.members[2].Path('\\'), "docs\\inner\\a rather long file name.text");
    EXPECT_EQ(d.members[2].short_name, "longna~1.txt");
    EXPECT_EQ(d.members[3].Path('/'), "lic/gpl-2");
    engines::CalendarTime c;
    ASSERT_TRUE(engines::ToCalendar(d.members[0].time, c));
    EXPECT_EQ(c.year, 2010);
    EXPECT_EQ(c.second, 56);
    EXPECT_EQ(d.members[0].mode.bits & 0777, 0755u);
    const std::string want[] = {text_, "stored!", big_, ""};
    for (size_t i = 0; i < 4; ++i) {
        auto m = d.members[i];
        if (i == 3) {
            m.unpacked_size = lh5_size_;
            m.crc16 = lh5_crc_;
        }
        Unpacked u = UnpackMember(s, m);
        ASSERT_EQ(u.status, UnpackStatus::Ok) << m.name;
        if (i < 3) {
            EXPECT_EQ(u.bytes, want[i]) << m.name;
        }
        EXPECT_EQ(Crc16(u.bytes), m.crc16) << m.name;
    }
}

// unar reads what the builder writes, so the builder's archives are real ZOO archives and our
// LZW output matches a peer's.
TEST_F(BuiltZoo, PeerReadsTheBuiltArchive) {
    if (!test::HaveTool("unar")) GTEST_SKIP() << "unar is not installed";
    items_.pop_back();
    items_[3].folder.clear();
    test::WriteFile(dir_ / "p.zoo", BuildZoo(items_));
    auto r = test::Run({"unar", "-q", "-o", dir_ / "out", "-f", dir_ / "p.zoo"});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(test::ReadFile(dir_ / "out/p/a.txt").size() ? test::ReadFile(dir_ / "out/p/a.txt")
                                                         : test::ReadFile(dir_ / "out/a.txt"),
              text_);
}

TEST_F(BuiltZoo, LoopingChainEnds) {
    DataStream s;
    zoo::ZooDirectory d = Read(BuildZoo(items_, "", /*loop=*/true), DirectoryStatus::Truncated, s);
    EXPECT_EQ(d.members.size(), 4u);
    // A next offset pointing into the entry itself, or past the file.
    std::string bytes = BuildZoo(items_);
    std::string self = bytes;
    self.replace(42 + 6, 4, Le32(42 + 10));
    Read(self, DirectoryStatus::Truncated, s);
    std::string past = bytes;
    past.replace(42 + 6, 4, Le32(uint32_t(bytes.size() + 100)));
    Read(past, DirectoryStatus::Truncated, s);
}

TEST_F(BuiltZoo, NamesAreBoundedAndTagsChecked) {
    std::string bytes = BuildZoo(items_);
    DataStream s;
    // The header tag: not a ZOO file.
    std::string bad_tag = bytes;
    bad_tag[20] ^= 1;
    Read(bad_tag, DirectoryStatus::NotThisFormat, s);
    // A long-name length running past the variable part takes the short name.
    std::string long_len = bytes;
    long_len[42 + 56] = char(250);
    zoo::ZooDirectory d = Read(long_len, DirectoryStatus::Ok, s);
    ASSERT_FALSE(d.members.empty());
    EXPECT_EQ(d.members[0].name, "a.txt");
    // The short name without its zero byte stays within its 13 bytes.
    std::string no_zero = bytes;
    for (int i = 0; i < 13; ++i) no_zero[42 + 38 + i] = 'n';
    d = Read(no_zero, DirectoryStatus::Ok, s);
    EXPECT_EQ(d.members[0].short_name, std::string(13, 'n'));
    // A comment beyond the file is dropped.
    std::string far_comment = bytes;
    far_comment.replace(42 + 32, 4, Le32(0x7FFFFFF0));
    d = Read(far_comment, DirectoryStatus::Ok, s);
    EXPECT_EQ(d.members[0].comment, "");
    // Cut at every length: never more members, never a crash.
    for (size_t cut = 0; cut < bytes.size(); cut += 1 + cut / 16) {
        DataStream mem;
        ASSERT_TRUE(mem.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), cut));
        zoo::ZooDirectory dd;
        zoo::ReadZooDirectory(mem, dd);
        EXPECT_LE(dd.members.size(), 4u);
    }
}

TEST_F(BuiltZoo, MemberUnpackComparesCrc) {
    std::string bytes = BuildZoo(items_);
    DataStream s;
    zoo::ZooDirectory d = Read(bytes, DirectoryStatus::Ok, s);
    engines::MemorySink sink(1 << 20);
    auto r = zoo::UnpackZooMember(s, d.members[1], sink);
    EXPECT_TRUE(r.Good());
    EXPECT_EQ(test::AsString(sink.Data()), "stored!");
    std::string damaged = bytes;
    damaged[size_t(d.members[1].data_offset)] = 'S';
    zoo::ZooDirectory dd = Read(damaged, DirectoryStatus::Ok, s);
    engines::MemorySink sink2(1 << 20);
    r = zoo::UnpackZooMember(s, dd.members[1], sink2);
    EXPECT_EQ(r.status, UnpackStatus::Ok);
    EXPECT_FALSE(r.crc_ok);
}

TEST_F(BuiltZoo, TruncatedLzwFailsCleanly) {
    std::string packed = LzwPack(big_);
    for (size_t cut = 0; cut < packed.size(); cut += 1 + cut / 8) {
        engines::SpanSource src(reinterpret_cast<const uint8_t*>(packed.data()), cut);
        engines::MemorySink sink(big_.size());
        UnpackStatus st = zoo::UnpackZoo(1, src, big_.size(), sink);
        if (st == UnpackStatus::Ok) {
            EXPECT_EQ(test::AsString(sink.Data()), big_) << cut;
        }
    }
    for (size_t chunk : {size_t(1), size_t(2), size_t(333)}) {
        test::ChunkedSource src(packed, chunk);
        engines::MemorySink sink(big_.size());
        ASSERT_EQ(zoo::UnpackZoo(1, src, big_.size(), sink), UnpackStatus::Ok);
        EXPECT_EQ(test::AsString(sink.Data()), big_);
    }
    // The end code before the announced size is damage.
    engines::SpanSource src(reinterpret_cast<const uint8_t*>(packed.data()), packed.size());
    engines::MemorySink sink(big_.size() + 10);
    EXPECT_EQ(zoo::UnpackZoo(1, src, big_.size() + 10, sink), UnpackStatus::Corrupt);
    engines::SpanSource none(nullptr, 0);
    EXPECT_EQ(zoo::UnpackZoo(3, none, 1, sink), UnpackStatus::Unsupported);
}

}  // namespace
}  // namespace quorbel
