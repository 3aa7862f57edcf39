// The LHA directory reader and engines against the sample archives and the listings lhasa made
// of them, archives made during the test by jlha, and damaged copies.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <sstream>

#include "core/data_stream.h"
#include "formats/engines/archive_member.h"
#include "formats/engines/crc16.h"
#include "formats/lha/lha_directory.h"
#include "formats/lha/lha_unpack.h"
#include "support/test_support.h"
#include "formats/engine_test_util.h"

namespace quorbel {
namespace {

using engines::DirectoryStatus;
using engines::UnpackStatus;

struct Unpacked {
    UnpackStatus status;
    std::string bytes;
};

Unpacked UnpackMember(DataStream& stream, const lha::LhaMember& m) {
    engines::StreamSource source(stream, m.data_offset, m.packed_size);
    engines::MemorySink sink(m.unpacked_size);
    UnpackStatus s = lha::UnpackLha(m.method, source, m.unpacked_size, sink);
    return {s, test::AsString(sink.Data())};
}

uint16_t Crc16(const std::string& s) {
    return engines::Crc16(0, reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// One member line of an lhasa listing.
struct ListedMember {
    uint64_t packed = 0, size = 0;
    std::string method, crc, month, day, year_or_time, name;
};

std::vector<ListedMember> ParseListing(const std::string& text) {
    std::vector<ListedMember> out;
    std::istringstream lines(text);
    std::string line;
    int rules = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("-----", 0) == 0) {
            ++rules;
            continue;
        }
        if (rules != 1) continue;
        // Tokens up to the method, then CRC, three stamp tokens and the name (the rest).
        std::istringstream in(line);
        std::vector<std::string> tokens;
        std::string t;
        while (in >> t) tokens.push_back(t);
        size_t method = 0;
        while (method < tokens.size() && !(tokens[method].size() == 5 && tokens[method][0] == '-' &&
                                           tokens[method][4] == '-'))
            ++method;
        if (method < 3 || method + 5 > tokens.size()) continue;
        ListedMember m;
        m.packed = std::stoull(tokens[method - 3]);
        m.size = std::stoull(tokens[method - 2]);
        m.method = tokens[method];
        m.crc = tokens[method + 1];
        m.month = tokens[method + 2];
        m.day = tokens[method + 3];
        m.year_or_time = tokens[method + 4];
        size_t name_at = line.find(m.year_or_time, line.find(m.method) + 5 + m.crc.size()) +
                         m.year_or_time.size() + 1;
        m.name = line.substr(name_at);
        out.push_back(m);
    }
    return out;
}

std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) out += (c < 0x20 || c >= 0x7F) ? '?' : char(c);
    return out;
}

std::vector<std::string> SamplesWithListings() {
    std::vector<std::string> out;
    std::string folder = test::TestData("lha");
    DIR* d = ::opendir(folder.c_str());
    if (!d) return out;
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > 9 && n.compare(n.size() - 9, 9, ".expected") == 0)
            out.push_back(n.substr(0, n.size() - 9));
    }
    ::closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

TEST(LhaEngine, SamplesListLikeLhasaAndUnpackWithMatchingCrc) {
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    auto samples = SamplesWithListings();
    ASSERT_GE(samples.size(), 20u);
    int unpacked = 0;
    for (const auto& name : samples) {
        SCOPED_TRACE(name);
        auto listed = ParseListing(test::ReadFile(test::TestData("lha/" + name + ".expected")));
        ASSERT_FALSE(listed.empty());
        DataStream stream;
        ASSERT_TRUE(stream.OpenFile(test::TestData("lha/" + name), true));
        lha::LhaDirectory dir;
        DirectoryStatus status = lha::ReadLhaDirectory(stream, dir);
        if (name == "regression_truncated.lzh") {
            EXPECT_EQ(status, DirectoryStatus::Truncated);
        } else {
            EXPECT_EQ(status, DirectoryStatus::Ok);
        }
        ASSERT_EQ(dir.members.size(), listed.size());
        for (size_t i = 0; i < listed.size(); ++i) {
            const auto& m = dir.members[i];
            const auto& want = listed[i];
            std::string path = m.Path('/') + (m.is_folder ? "/" : "");
            // lhasa shows the all-capital names of MS-DOS archivers in lower case.
            std::string lower = Printable(path);
            for (char& ch : lower) ch = char(std::tolower(uint8_t(ch)));
            EXPECT_EQ(lower, want.name);
            EXPECT_EQ(m.method, want.method);
            EXPECT_EQ(m.packed_size, want.packed) << path;
            EXPECT_EQ(m.unpacked_size, want.size) << path;
            char crc[8];
            std::snprintf(crc, sizeof crc, "%04x", m.crc16);
            EXPECT_EQ(crc, want.crc) << path;
            engines::CalendarTime c;
            ASSERT_TRUE(engines::ToCalendar(m.time, c));
            EXPECT_EQ(kMonths[(c.month + 11) % 12], want.month) << path;
            EXPECT_EQ(std::to_string(c.day), want.day) << path;
            if (want.year_or_time.find(':') == std::string::npos) {
                EXPECT_EQ(std::to_string(c.year), want.year_or_time) << path;
            } else {
                // The listings were made in a zone with summer time: a Unix time's hour may
                // differ by one from its UTC hour.
                int hour = std::stoi(want.year_or_time.substr(0, 2));
                int minute = std::stoi(want.year_or_time.substr(3, 2));
                EXPECT_EQ(c.minute, minute) << path;
                if (m.time.kind == engines::MemberTime::Kind::Unix) {
                    EXPECT_LE(std::abs(c.hour - hour), 1) << path;
                } else {
                    EXPECT_EQ(c.hour, hour) << path;
                }
            }
            EXPECT_EQ(m.is_folder, m.method == "-lhd-");
            if (!lha::LhaMethodSupported(m.method) || m.is_folder) continue;
            Unpacked u = UnpackMember(stream, m);
            if (name == "regression_truncated.lzh") {
                EXPECT_EQ(u.status, UnpackStatus::Corrupt);
                continue;
            }
            ASSERT_EQ(u.status, UnpackStatus::Ok) << path;
            EXPECT_EQ(u.bytes.size(), m.unpacked_size);
            EXPECT_EQ(Crc16(u.bytes), m.crc16) << path;
            ++unpacked;
        }
    }
    EXPECT_GE(unpacked, 15);
}

// The level-2 sample holds a Unix time: 1 January 2010, not a DOS date read from its bytes.
TEST(LhaEngine, LevelTwoTimeIsUnixTime) {
    DataStream stream;
    ASSERT_TRUE(stream.OpenFile(test::TestData("lha/lha_unix114i_h2_lh5.lzh"), true));
    lha::LhaDirectory dir;
    ASSERT_EQ(lha::ReadLhaDirectory(stream, dir), DirectoryStatus::Ok);
    ASSERT_EQ(dir.members.size(), 1u);
    const auto& m = dir.members[0];
    EXPECT_EQ(m.level, 2);
    ASSERT_EQ(m.time.kind, engines::MemberTime::Kind::Unix);
    std::time_t t = std::time_t(m.time.unix_time);
    std::tm tm{};
    gmtime_r(&t, &tm);
    EXPECT_EQ(tm.tm_year + 1900, 2010);
    EXPECT_EQ(tm.tm_mon, 0);
    EXPECT_EQ(tm.tm_mday, 1);
    EXPECT_EQ(m.mode.kind, engines::MemberMode::Kind::Unix);
    EXPECT_EQ(m.mode.bits & 0777, 0444u);
}

// -lhd- members are folders, not empty files; a folder of an empty file name is the folder.
TEST(LhaEngine, FolderMembersAreFolders) {
    DataStream stream;
    ASSERT_TRUE(stream.OpenFile(test::TestData("lha/t.lzh"), true));
    lha::LhaDirectory dir;
    ASSERT_EQ(lha::ReadLhaDirectory(stream, dir), DirectoryStatus::Ok);
    ASSERT_EQ(dir.members.size(), 2u);
    EXPECT_TRUE(dir.members[0].is_folder);
    EXPECT_EQ(dir.members[0].Path('\\'), "t");
    EXPECT_FALSE(dir.members[1].is_folder);
    EXPECT_EQ(dir.members[1].Path('\\'), "t\\t.txt");
    EXPECT_EQ(UnpackMember(stream, dir.members[1]).bytes, "42\n");
    EXPECT_EQ(lha::UnpackLha("-lhd-", *std::make_unique<engines::SpanSource>(nullptr, 0), 0,
                             *std::make_unique<engines::MemorySink>(0)),
              UnpackStatus::Ok);
}

// Level-2 headers built here: the folder header's 0xFF separators, a bad extended-header size,
// no common header, a wrong header CRC, a level-0 checksum off by one.
std::string Level2Header(const std::string& folder, const std::string& name, bool common,
                         uint16_t first_ext_override = 0, bool break_crc = false) {
    auto le16 = [](uint32_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; };
    auto le32 = [&](uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); };
    std::string ext;
    std::vector<std::string> exts;
    if (common) exts.push_back(std::string("\x00", 1) + le16(0));
    exts.push_back("\x01" + name);
    if (!folder.empty()) exts.push_back("\x02" + folder);
    std::string h = le16(0) + "-lh0-" + le32(3) + le32(3) + le32(1262304000) + "\x20\x02";
    h += le16(Crc16("abc")) + "U";
    // Each extended header: type, data, and the size of the next.
    std::vector<std::string> blocks;
    for (auto& e : exts) blocks.push_back(e);
    h += le16(first_ext_override ? first_ext_override : uint32_t(blocks[0].size() + 2));
    for (size_t i = 0; i < blocks.size(); ++i)
        h += blocks[i] + le16(i + 1 < blocks.size() ? uint32_t(blocks[i + 1].size() + 2) : 0);
    h[0] = char(h.size() & 0xFF);
    h[1] = char(h.size() >> 8);
    if (common) {
        size_t at = 24 + 2 + 1;  // first extended header's data
        uint16_t crc = Crc16(h);
        if (break_crc) crc ^= 1;
        h[at] = char(crc & 0xFF);
        h[at + 1] = char(crc >> 8);
    }
    return h + "abc" + std::string(1, '\0');
}

TEST(LhaEngine, BuiltLevelTwoHeaders) {
    test::TempDir dir;
    struct Row {
        const char* what;
        std::string bytes;
        DirectoryStatus want;
        const char* path;
    } rows[] = {
        {"folder 0xFF", Level2Header("docs\xFF", "a.txt", true), DirectoryStatus::Ok, "docs\\a.txt"},
        {"two levels", Level2Header("a\xFF" "b\xFF", "c", true), DirectoryStatus::Ok, "a\\b\\c"},
        {"no common header", Level2Header("d\xFF", "a", false), DirectoryStatus::NotThisFormat, ""},
        {"ext size beyond header", Level2Header("d\xFF", "a", true, 0x7000), DirectoryStatus::NotThisFormat, ""},
        {"ext size below minimum", Level2Header("d\xFF", "a", true, 2), DirectoryStatus::NotThisFormat, ""},
        {"header crc", Level2Header("d\xFF", "a", true, 0, true), DirectoryStatus::NotThisFormat, ""},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.what);
        test::WriteFile(dir / "x.lzh", row.bytes);
        DataStream s;
        ASSERT_TRUE(s.OpenFile(dir / "x.lzh", true));
        lha::LhaDirectory d;
        EXPECT_EQ(lha::ReadLhaDirectory(s, d), row.want);
        if (row.want != DirectoryStatus::Ok) continue;
        ASSERT_EQ(d.members.size(), 1u);
        EXPECT_EQ(d.members[0].Path('\\'), row.path);
        EXPECT_EQ(UnpackMember(s, d.members[0]).bytes, "abc");
    }
}

// A level-0 checksum off by one fails the listing even after good members.
TEST(LhaEngine, LevelZeroChecksum) {
    std::string one = test::ReadFile(test::TestData("lha/lha_unix114i_h0_lh5.lzh"));
    one.pop_back();  // the end byte
    std::string two = one + one;
    two[one.size() + 1] = char(two[one.size() + 1] + 1);
    test::TempDir dir;
    test::WriteFile(dir / "x.lzh", two + std::string(1, '\0'));
    DataStream s;
    ASSERT_TRUE(s.OpenFile(dir / "x.lzh", true));
    lha::LhaDirectory d;
    EXPECT_EQ(lha::ReadLhaDirectory(s, d), DirectoryStatus::Corrupt);
    EXPECT_EQ(d.members.size(), 1u);
}

// Archives made by jlha during the test, -lh5- and -lh7-, with folders.
TEST(LhaEngine, JlhaArchivesUnpack) {
    if (!test::HaveTool("jlha")) GTEST_SKIP() << "jlha is not installed";
    test::TempDir dir;
    ::mkdir((dir / "src").c_str(), 0755);
    ::mkdir((dir / "src/sub").c_str(), 0755);
    std::string text;
    for (int i = 0; i < 30000; ++i) text += "row " + std::to_string(i % 997) + ";\n";
    test::WriteFile(dir / "src/sub/a.txt", text);
    test::WriteFile(dir / "src/b.txt", text.substr(0, 777));
    for (const char* method : {"5", "6", "7"}) {
        SCOPED_TRACE(method);
        std::string archive = dir / (std::string("m") + method + ".lzh");
        auto r = test::Run({"jlha", std::string("a") + "o" + method, archive, "sub/a.txt", "b.txt"},
                           dir / "src");
        if (r.exit_code != 0) GTEST_SKIP() << "jlha failed: " << r.out << r.err;
        DataStream stream;
        ASSERT_TRUE(stream.OpenFile(archive, true));
        lha::LhaDirectory d;
        ASSERT_EQ(lha::ReadLhaDirectory(stream, d), DirectoryStatus::Ok);
        ASSERT_EQ(d.members.size(), 2u);
        for (const auto& m : d.members) {
            Unpacked u = UnpackMember(stream, m);
            ASSERT_EQ(u.status, UnpackStatus::Ok) << m.Path('/');
            EXPECT_EQ(u.bytes, m.Path('/') == "b.txt" ? text.substr(0, 777) : text) << m.Path('/');
            if (m.Path('/') == "sub/a.txt") {
                EXPECT_EQ(m.method, std::string("-lh") + method + "-");
            }
        }
    }
}

TEST(LhaEngine, TruncatedMembersAndArchives) {
    for (const char* f : {"lha/lha_unix114i_h2_lh7.lzh", "lha/lharc113_lh1.lzh",
                          "lha/lha_amiga_122_lh4.lzh", "lha/lha_unix114i_h1_lh6.lzh",
                          "lha/lha_unix114i_h2_subdir.lzh"}) {
        SCOPED_TRACE(f);
        std::string bytes = test::ReadFile(test::TestData(f));
        DataStream stream;
        ASSERT_TRUE(stream.OpenFile(test::TestData(f), true));
        lha::LhaDirectory d;
        ASSERT_EQ(lha::ReadLhaDirectory(stream, d), DirectoryStatus::Ok);
        const auto& m = d.members.back();
        std::string packed = bytes.substr(size_t(m.data_offset), m.packed_size);
        Unpacked full = UnpackMember(stream, m);
        ASSERT_EQ(full.status, UnpackStatus::Ok);
        for (size_t cut = 0; cut < packed.size(); cut += 1 + cut / 16) {
            engines::SpanSource src(reinterpret_cast<const uint8_t*>(packed.data()), cut);
            engines::MemorySink sink(m.unpacked_size);
            UnpackStatus s = lha::UnpackLha(m.method, src, m.unpacked_size, sink);
            if (s == UnpackStatus::Ok) {
                EXPECT_EQ(test::AsString(sink.Data()), full.bytes) << cut;
            }
        }
        for (size_t chunk : {size_t(1), size_t(5), size_t(1000)}) {
            test::ChunkedSource src(packed, chunk);
            engines::MemorySink sink(m.unpacked_size);
            ASSERT_EQ(lha::UnpackLha(m.method, src, m.unpacked_size, sink), UnpackStatus::Ok);
            EXPECT_EQ(test::AsString(sink.Data()), full.bytes);
        }
        for (size_t cut = 0; cut + 1 < bytes.size(); cut += 1 + cut / 8) {
            DataStream mem;
            ASSERT_TRUE(mem.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), cut));
            lha::LhaDirectory dd;
            lha::ReadLhaDirectory(mem, dd);
            EXPECT_LE(dd.members.size(), d.members.size());
        }
    }
}

// libarchive's samples: level 0 with folders and symbolic links (stored as "name|target"),
// level 3 with four-byte extended-header sizes.
TEST(LhaEngine, LevelZeroAndThreeSamples) {
    struct Row { const char* file; size_t members; size_t folders; size_t links; } rows[] = {
        {"lha/test_read_format_lha_header0.lzh", 6, 2, 2},
        {"lha/test_read_format_lha_header3.lzh", 4, 2, 0},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.file);
        DataStream stream;
        ASSERT_TRUE(stream.OpenFile(test::TestData(row.file), true));
        lha::LhaDirectory dir;
        ASSERT_EQ(lha::ReadLhaDirectory(stream, dir), DirectoryStatus::Ok);
        EXPECT_EQ(dir.members.size(), row.members);
        size_t folders = 0, links = 0;
        for (const auto& m : dir.members) {
            folders += m.is_folder;
            if (m.is_symlink) {
                ++links;
                std::string target = m.link_target;  // stored with the packer's separator
                std::replace(target.begin(), target.end(), '\\', '/');
                EXPECT_EQ(target, std::string("../file") + m.Path('/').back()) << m.Path('/');
                continue;
            }
            EXPECT_EQ(m.Path('/').find('\\'), std::string::npos) << m.Path('/');
            if (m.is_folder || !lha::LhaMethodSupported(m.method)) continue;
            Unpacked u = UnpackMember(stream, m);
            ASSERT_EQ(u.status, UnpackStatus::Ok) << m.Path('/');
            EXPECT_EQ(Crc16(u.bytes), m.crc16) << m.Path('/');
        }
        EXPECT_EQ(folders, row.folders);
        EXPECT_EQ(links, row.links);
    }
}

TEST(LhaEngine, MemberUnpackComparesCrc) {
    std::string bytes = test::ReadFile(test::TestData("lha/lha_unix114i_h0_lh0.lzh"));
    DataStream stream;
    ASSERT_TRUE(stream.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    lha::LhaDirectory d;
    ASSERT_EQ(lha::ReadLhaDirectory(stream, d), DirectoryStatus::Ok);
    engines::MemorySink sink(1 << 20);
    EXPECT_TRUE(lha::UnpackLhaMember(stream, d.members[0], sink).Good());
    bytes[size_t(d.members[0].data_offset) + 10] ^= 1;
    DataStream damaged;
    ASSERT_TRUE(damaged.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    engines::MemorySink sink2(1 << 20);
    auto r = lha::UnpackLhaMember(damaged, d.members[0], sink2);
    EXPECT_EQ(r.status, UnpackStatus::Ok);
    EXPECT_FALSE(r.crc_ok);
    // Folders have no data.
    DataStream t;
    ASSERT_TRUE(t.OpenFile(test::TestData("lha/t.lzh"), true));
    ASSERT_EQ(lha::ReadLhaDirectory(t, d), DirectoryStatus::Ok);
    engines::MemorySink none(0);
    EXPECT_TRUE(lha::UnpackLhaMember(t, d.members[0], none).Good());
}

TEST(LhaEngine, MethodsAndWindows) {
    struct Row { const char* id; lha::LhaMethod method; uint32_t window; } rows[] = {
        {"-lh0-", lha::LhaMethod::Stored, 0}, {"-lh1-", lha::LhaMethod::Lh1, 4096},
        {"-lh4-", lha::LhaMethod::Lh4, 4096}, {"-lh5-", lha::LhaMethod::Lh5, 8192},
        {"-lh6-", lha::LhaMethod::Lh6, 32768}, {"-lh7-", lha::LhaMethod::Lh7, 65536},
        {"-lhd-", lha::LhaMethod::Folder, 0}, {"-lh2-", lha::LhaMethod::Unknown, 0},
        {"-lz5-", lha::LhaMethod::Unknown, 0}, {"-lh5", lha::LhaMethod::Unknown, 0},
    };
    for (auto& r : rows) {
        EXPECT_EQ(lha::ParseLhaMethod(r.id), r.method) << r.id;
        EXPECT_EQ(lha::LhaWindowSize(r.method), r.window) << r.id;
    }
    engines::SpanSource none(nullptr, 0);
    engines::MemorySink sink(10);
    EXPECT_EQ(lha::UnpackLha("-lh2-", none, 5, sink), UnpackStatus::Unsupported);
}

}  // namespace
}  // namespace quorbel
