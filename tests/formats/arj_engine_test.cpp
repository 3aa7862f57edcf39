// The ARJ directory reader and engine against the sample archives, archives made by the real
// arj during the test, and damaged copies.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>

#include "core/data_stream.h"
#include "formats/arj/arj_directory.h"
#include "formats/arj/arj_unpack.h"
#include "formats/engines/archive_member.h"
#include "formats/engines/crc16.h"
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

Unpacked UnpackMember(DataStream& stream, const arj::ArjMember& m) {
    engines::StreamSource source(stream, m.data_offset, m.packed_size);
    engines::MemorySink sink(m.unpacked_size);
    UnpackStatus s = arj::UnpackArj(m.method, source, m.unpacked_size, sink);
    return {s, test::AsString(sink.Data())};
}

uint32_t Crc(const std::string& s) {
    return engines::Crc32(0, reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

struct SampleRow {
    const char* file;
    size_t members;       // file members with data
    uint32_t some_crc;    // CRC-32 of one member that must be present
};

// CRCs from the samples' manifest: test.exe cfb109c8, alice29.txt by its size, t.txt "42".
const SampleRow kSamples[] = {
    {"arj/Arj.store.arj", 3, 0xcfb109c8}, {"arj/Arj.method1.arj", 3, 0xcfb109c8},
    {"arj/Arj.method2.arj", 3, 0xcfb109c8}, {"arj/Arj.method3.arj", 3, 0xcfb109c8},
    {"arj/Arj.method4.arj", 3, 0xcfb109c8}, {"arj/t.arj", 1, 0x3224b088},
    {"arj/Arj.method1.largefile.arj", 1, 0}, {"arj/Arj.method4.largefile.arj", 1, 0},
};

TEST(ArjEngine, SamplesListAndUnpackWithMatchingCrc) {
    for (const auto& row : kSamples) {
        SCOPED_TRACE(row.file);
        DataStream stream;
        ASSERT_TRUE(stream.OpenFile(test::TestData(row.file), true));
        arj::ArjDirectory dir;
        ASSERT_EQ(arj::ReadArjDirectory(stream, dir), DirectoryStatus::Ok);
        size_t files = 0;
        bool found = row.some_crc == 0;
        for (const auto& m : dir.members) {
            if (!m.is_file) continue;
            ++files;
            Unpacked u = UnpackMember(stream, m);
            ASSERT_EQ(u.status, UnpackStatus::Ok) << m.name;
            EXPECT_EQ(u.bytes.size(), m.unpacked_size) << m.name;
            EXPECT_EQ(Crc(u.bytes), m.crc32) << m.name;
            found = found || m.crc32 == row.some_crc;
        }
        EXPECT_EQ(files, row.members);
        EXPECT_TRUE(found);
    }
}

// Each volume of a multi-volume set lists on its own. ARJ records each part's own sizes and
// CRC, so every part unpacks and checks alone; the parts of test.exe add up to the whole.
TEST(ArjEngine, SplitVolumesList) {
    uint64_t exe_total = 0;
    struct Row { const char* file; size_t members; } rows[] = {
        {"arj/Arj.store.split.arj", 1}, {"arj/Arj.store.split.a01", 1},
        {"arj/Arj.store.split.a02", 2}, {"arj/Arj.store.split.a03", 1},
        {"arj/Arj.store.split.a04", 4}, {"arj/Arj.store.split.a05", 1},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.file);
        DataStream stream;
        ASSERT_TRUE(stream.OpenFile(test::TestData(row.file), true));
        arj::ArjDirectory dir;
        ASSERT_EQ(arj::ReadArjDirectory(stream, dir), DirectoryStatus::Ok);
        EXPECT_EQ(dir.members.size(), row.members);
        for (const auto& m : dir.members) {
            if (!m.is_file) continue;
            engines::MemorySink sink(m.unpacked_size);
            auto r = arj::UnpackArjMember(stream, m.header_offset, sink);
            EXPECT_TRUE(r.Good()) << m.name;
            if (m.name == "EXE/TEST.EXE") exe_total += r.size;
        }
    }
    EXPECT_EQ(exe_total, 45056u);
}

TEST(ArjEngine, LargeFileMatchesAliceOriginalSize) {
    for (const char* f : {"arj/Arj.method1.largefile.arj", "arj/Arj.method4.largefile.arj"}) {
        DataStream stream;
        ASSERT_TRUE(stream.OpenFile(test::TestData(f), true));
        arj::ArjDirectory dir;
        ASSERT_EQ(arj::ReadArjDirectory(stream, dir), DirectoryStatus::Ok);
        ASSERT_EQ(dir.members.size(), 1u);
        EXPECT_EQ(dir.members[0].name, "alice29.txt");
        EXPECT_EQ(dir.members[0].unpacked_size, 152089u);
        Unpacked u = UnpackMember(stream, dir.members[0]);
        ASSERT_EQ(u.status, UnpackStatus::Ok);
        EXPECT_NE(u.bytes.find("Alice"), std::string::npos);
    }
}

TEST(ArjEngine, SampleNamesFoldersAndFlags) {
    DataStream stream;
    ASSERT_TRUE(stream.OpenFile(test::TestData("arj/Arj.encrypted.arj"), true));
    arj::ArjDirectory dir;
    ASSERT_EQ(arj::ReadArjDirectory(stream, dir), DirectoryStatus::Ok);
    ASSERT_EQ(dir.members.size(), 5u);
    EXPECT_EQ(dir.members[0].name, "EXE/TEST.EXE");
    EXPECT_EQ(dir.members[0].name_part_offset, 4);
    EXPECT_TRUE(dir.members[0].encrypted);
    EXPECT_EQ(dir.members[2].name, "EXE");
    EXPECT_TRUE(dir.members[2].is_folder);
    EXPECT_FALSE(dir.members[2].is_file);

    DataStream t;
    ASSERT_TRUE(t.OpenFile(test::TestData("arj/t.arj"), true));
    ASSERT_EQ(arj::ReadArjDirectory(t, dir), DirectoryStatus::Ok);
    ASSERT_EQ(dir.members.size(), 1u);
    EXPECT_EQ(dir.members[0].name, "t/t.txt");
    EXPECT_EQ(dir.members[0].host_os, arj::kUnix);
    EXPECT_EQ(dir.members[0].mode.kind, engines::MemberMode::Kind::Unix);
    EXPECT_EQ(UnpackMember(t, dir.members[0]).bytes, "42");
}

// A file that merely starts with the header id is no ARJ archive; a damaged header CRC is
// not trusted.
TEST(ArjEngine, HeaderCrcIsChecked) {
    std::string good = test::ReadFile(test::TestData("arj/Arj.method1.arj"));
    test::TempDir dir;
    struct Row { const char* name; std::string bytes; DirectoryStatus want; } rows[] = {
        {"id only", std::string("\x60\xEA\x1E\x00", 4) + std::string(64, 'x'), DirectoryStatus::NotThisFormat},
        {"main crc", [&] { std::string s = good; s[10] ^= 1; return s; }(), DirectoryStatus::NotThisFormat},
        {"size 2601", [&] { std::string s = good; s[2] = char(0x29); s[3] = char(0x0A); return s; }(), DirectoryStatus::NotThisFormat},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::WriteFile(dir / "x.arj", row.bytes);
        DataStream s;
        ASSERT_TRUE(s.OpenFile(dir / "x.arj", true));
        arj::ArjDirectory d;
        EXPECT_EQ(arj::ReadArjDirectory(s, d), row.want);
    }
    // A damaged second header ends the listing after the first member.
    DataStream s0;
    ASSERT_TRUE(s0.OpenFile(test::TestData("arj/Arj.method1.arj"), true));
    arj::ArjDirectory d0;
    ASSERT_EQ(arj::ReadArjDirectory(s0, d0), DirectoryStatus::Ok);
    ASSERT_GE(d0.members.size(), 2u);
    std::string bad = good;
    bad[size_t(d0.members[1].header_offset) + 12] ^= 0x40;
    test::WriteFile(dir / "y.arj", bad);
    DataStream s1;
    ASSERT_TRUE(s1.OpenFile(dir / "y.arj", true));
    arj::ArjDirectory d1;
    EXPECT_EQ(arj::ReadArjDirectory(s1, d1), DirectoryStatus::Truncated);
    EXPECT_EQ(d1.members.size(), 1u);
    arj::ArjMember again;
    EXPECT_TRUE(arj::ReadArjMemberAt(s0, d0.members[1].header_offset, again));
    EXPECT_FALSE(arj::ReadArjMemberAt(s1, d0.members[1].header_offset, again));
}

// Archives made by the real arj with each method, a folder tree and a 0755 file.
TEST(ArjEngine, RealArjEveryMethodWithFolders) {
    if (!test::HaveTool("arj")) GTEST_SKIP() << "arj is not installed";
    test::TempDir dir;
    ::mkdir((dir / "src").c_str(), 0755);
    ::mkdir((dir / "src/sub").c_str(), 0755);
    ::mkdir((dir / "src/sub/deeper").c_str(), 0755);
    std::string text, binary;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i * 7 % 1000) + " of the text\n";
    uint32_t x = 12345;
    for (int i = 0; i < 300000; ++i) {
        x = x * 1103515245 + 12345;
        binary += char((x >> 16) % ((i / 5000) % 7 + 2));  // runs of skewed bytes
    }
    std::map<std::string, std::string> files = {
        {"sub/text.txt", text}, {"sub/deeper/bin.dat", binary}, {"empty.txt", ""},
        {"one.txt", "1"}, {"sub/script.sh", "#!/bin/sh\necho hi\n"}};
    for (auto& [name, bytes] : files) test::WriteFile(dir / ("src/" + name), bytes);
    ::chmod((dir / "src/sub/script.sh").c_str(), 0755);
    test::SetMtime(dir / "src/one.txt", 1651400430);  // 2022-05-01 10:20:30 UTC
    for (int method = 1; method <= 4; ++method) {
        SCOPED_TRACE(method);
        std::string archive = dir / ("m" + std::to_string(method) + ".arj");
        auto r = test::Run({"arj", "a", "-r", "-y", "-m" + std::to_string(method), archive, "*"},
                           dir / "src");
        ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
        DataStream stream;
        ASSERT_TRUE(stream.OpenFile(archive, true));
        arj::ArjDirectory d;
        ASSERT_EQ(arj::ReadArjDirectory(stream, d), DirectoryStatus::Ok);
        size_t seen = 0;
        for (const auto& m : d.members) {
            if (!m.is_file) continue;
            auto it = files.find(m.name);
            ASSERT_NE(it, files.end()) << m.name;
            ++seen;
            Unpacked u = UnpackMember(stream, m);
            ASSERT_EQ(u.status, UnpackStatus::Ok) << m.name;
            EXPECT_EQ(u.bytes, it->second) << m.name;
            EXPECT_EQ(Crc(u.bytes), m.crc32);
            if (m.name == "sub/script.sh") {
                EXPECT_EQ(m.mode.kind, engines::MemberMode::Kind::Unix);
                EXPECT_EQ(m.mode.bits & 0777, 0755u);
            }
            if (m.name == "sub/deeper/bin.dat") {
                EXPECT_EQ(m.method, method);
            }
            if (m.name == "one.txt") {
                EXPECT_EQ(m.time.kind, engines::MemberTime::Kind::Unix);
                EXPECT_EQ(m.time.unix_time, 1651400430);
            }
        }
        EXPECT_EQ(seen, files.size());
    }
}

TEST(ArjEngine, ChunkedInputCancelAndBudget) {
    DataStream stream;
    ASSERT_TRUE(stream.OpenFile(test::TestData("arj/Arj.method1.largefile.arj"), true));
    arj::ArjDirectory d;
    ASSERT_EQ(arj::ReadArjDirectory(stream, d), DirectoryStatus::Ok);
    const auto& m = d.members[0];
    std::string packed(m.packed_size, '\0');
    ASSERT_TRUE(engines::ReadExactAt(stream, m.data_offset, packed.data(), packed.size()));
    std::string whole;
    for (int method : {1, 4}) {
        if (method == 4) {
            DataStream s4;
            ASSERT_TRUE(s4.OpenFile(test::TestData("arj/Arj.method4.largefile.arj"), true));
            arj::ArjDirectory d4;
            ASSERT_EQ(arj::ReadArjDirectory(s4, d4), DirectoryStatus::Ok);
            packed.assign(d4.members[0].packed_size, '\0');
            ASSERT_TRUE(engines::ReadExactAt(s4, d4.members[0].data_offset, packed.data(), packed.size()));
        }
        for (size_t chunk : {size_t(1), size_t(3), size_t(7), size_t(4096)}) {
            test::ChunkedSource src(packed, chunk);
            engines::MemorySink sink(m.unpacked_size);
            ASSERT_EQ(arj::UnpackArj(method, src, m.unpacked_size, sink), UnpackStatus::Ok);
            EXPECT_EQ(Crc(test::AsString(sink.Data())), m.crc32);
        }
        // The output budget is the caller's: a smaller one cancels, never grows past it.
        engines::SpanSource src(reinterpret_cast<const uint8_t*>(packed.data()), packed.size());
        engines::MemorySink small(1000);
        EXPECT_EQ(arj::UnpackArj(method, src, m.unpacked_size, small), UnpackStatus::Cancelled);
        EXPECT_TRUE(small.OverBudget());
        EXPECT_LE(small.Data().size(), 1000u);
        engines::SpanSource src2(reinterpret_cast<const uint8_t*>(packed.data()), packed.size());
        test::CancellingSink cancel(1);  // the first chunk: the window holds this whole member
        EXPECT_EQ(arj::UnpackArj(method, src2, m.unpacked_size, cancel), UnpackStatus::Cancelled);
        EXPECT_EQ(cancel.calls(), 1);
    }
    engines::SpanSource none(nullptr, 0);
    engines::MemorySink sink(10);
    EXPECT_EQ(arj::UnpackArj(5, none, 1, sink), UnpackStatus::Unsupported);
    EXPECT_FALSE(arj::ArjMethodSupported(7));
}

// Every cut of a packed member fails or still yields the right bytes; never an overrun.
TEST(ArjEngine, TruncatedMembersAndArchives) {
    for (const char* f : {"arj/Arj.method1.arj", "arj/Arj.method4.arj", "arj/Arj.method3.arj"}) {
        SCOPED_TRACE(f);
        std::string bytes = test::ReadFile(test::TestData(f));
        DataStream stream;
        ASSERT_TRUE(stream.OpenFile(test::TestData(f), true));
        arj::ArjDirectory d;
        ASSERT_EQ(arj::ReadArjDirectory(stream, d), DirectoryStatus::Ok);
        const arj::ArjMember* member = nullptr;
        for (const auto& m : d.members) {
            if (m.is_file && m.method != 0 && (!member || m.packed_size < member->packed_size)) member = &m;
        }
        ASSERT_NE(member, nullptr);
        std::string packed = bytes.substr(size_t(member->data_offset), member->packed_size);
        Unpacked full = UnpackMember(stream, *member);
        for (size_t cut = 0; cut < packed.size(); cut += 1 + cut / 16) {
            engines::SpanSource src(reinterpret_cast<const uint8_t*>(packed.data()), cut);
            engines::MemorySink sink(member->unpacked_size);
            UnpackStatus s = arj::UnpackArj(member->method, src, member->unpacked_size, sink);
            if (s == UnpackStatus::Ok) {
                EXPECT_EQ(test::AsString(sink.Data()), full.bytes) << cut;
            }
        }
        for (size_t cut = 0; cut < bytes.size(); cut += 1 + cut / 8) {
            DataStream mem;
            ASSERT_TRUE(mem.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), cut));
            arj::ArjDirectory dd;
            DirectoryStatus s = arj::ReadArjDirectory(mem, dd);
            EXPECT_NE(s, DirectoryStatus::Ok) << cut;
            EXPECT_LE(dd.members.size(), d.members.size());
        }
    }
}

// One call per member for the handler: header read again, refusals, CRC-32 compared.
TEST(ArjEngine, MemberUnpackChecksHeaderAndCrc) {
    std::string bytes = test::ReadFile(test::TestData("arj/Arj.store.arj"));
    DataStream stream;
    ASSERT_TRUE(stream.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    arj::ArjDirectory d;
    ASSERT_EQ(arj::ReadArjDirectory(stream, d), DirectoryStatus::Ok);
    const auto& m = d.members[0];
    engines::MemorySink good(m.unpacked_size);
    arj::ArjMember header;
    auto r = arj::UnpackArjMember(stream, m.header_offset, good, &header);
    EXPECT_TRUE(r.Good());
    EXPECT_EQ(r.crc, m.crc32);
    EXPECT_EQ(header.name, m.name);
    // One byte of the stored data changed: the data comes out, the CRC says it is wrong.
    std::string damaged = bytes;
    damaged[size_t(m.data_offset) + 100] ^= 0x55;
    DataStream ds;
    ASSERT_TRUE(ds.AttachMemory(reinterpret_cast<const uint8_t*>(damaged.data()), damaged.size()));
    engines::MemorySink sink(m.unpacked_size);
    r = arj::UnpackArjMember(ds, m.header_offset, sink);
    EXPECT_EQ(r.status, UnpackStatus::Ok);
    EXPECT_FALSE(r.crc_ok);
    EXPECT_FALSE(r.Good());
    // A damaged header is not trusted, not even for extraction.
    std::string bad_header = bytes;
    bad_header[size_t(m.header_offset) + 20] ^= 1;
    DataStream dh;
    ASSERT_TRUE(dh.AttachMemory(reinterpret_cast<const uint8_t*>(bad_header.data()), bad_header.size()));
    r = arj::UnpackArjMember(dh, m.header_offset, sink);
    EXPECT_FALSE(r.header_ok);
    EXPECT_FALSE(r.Good());
    // Garbled members and folder entries are refused.
    DataStream enc;
    ASSERT_TRUE(enc.OpenFile(test::TestData("arj/Arj.encrypted.arj"), true));
    arj::ArjDirectory de;
    ASSERT_EQ(arj::ReadArjDirectory(enc, de), DirectoryStatus::Ok);
    for (const auto& e : de.members) {
        engines::MemorySink s(1 << 20);
        r = arj::UnpackArjMember(enc, e.header_offset, s);
        EXPECT_TRUE(r.header_ok);
        EXPECT_EQ(r.status, UnpackStatus::Unsupported) << e.name;
        EXPECT_TRUE(s.Data().empty());
    }
}

TEST(ArjEngine, ProgressSeesEveryHeaderAndCancels) {
    DataStream stream;
    ASSERT_TRUE(stream.OpenFile(test::TestData("arj/Arj.method2.arj"), true));
    arj::ArjDirectory d;
    std::vector<int64_t> offsets;
    ASSERT_EQ(arj::ReadArjDirectory(stream, d, [&](int64_t o) { offsets.push_back(o); return true; }),
              DirectoryStatus::Ok);
    ASSERT_EQ(offsets.size(), d.members.size() + 1);  // and the end marker
    for (size_t i = 0; i < d.members.size(); ++i) EXPECT_EQ(offsets[i], d.members[i].header_offset);
    int calls = 0;
    EXPECT_EQ(arj::ReadArjDirectory(stream, d, [&](int64_t) { return ++calls < 3; }),
              DirectoryStatus::Cancelled);
}

}  // namespace
}  // namespace quorbel
