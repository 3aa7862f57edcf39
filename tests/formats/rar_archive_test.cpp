// The RAR handler on real archives: listing (names, folders, Unix modes, links, volumes),
// native RAR 1.5 and 2.0 unpacking against the original files, and the refusals a damaged or
// unsupported archive must give.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "core/data_stream.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/status.h"
#include "formats/engines/crc16.h"
#include "formats/format_table.h"
#include "formats/rar/rar_archive.h"
#include "formats/rar/rar_directory.h"
#include "formats/rar/rar_volume_names.h"
#include "platform/registry_access.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TestData;
using test::WriteFile;

const std::string kCyrillic = "\xD1\x82\xD0\xB5\xD1\x81\xD1\x82.txt";  // "тест.txt"

[[maybe_unused]] std::string Unpacked(ArchiveHandler& archive, const std::string& name, int* status_out = nullptr) {
    int index = archive.FindEntry(name);
    if (index < 0) return "<missing " + name + ">";
    int status = 0;
    MemoryBlock block = archive.UnpackEntry(archive.Entry(size_t(index)), status);
    if (status_out) *status_out = status;
    if (status != kUnpackOk) return "<status " + std::to_string(status) + ": " + archive.LastMessage() + ">";
    return std::string(reinterpret_cast<const char*>(block.data.get()), block.size);
}

std::string Names(ArchiveHandler& archive) {
    std::string all;
    for (size_t i = 0; i < archive.EntryCount(); ++i) {
        const ArchiveEntry& e = archive.Entry(i);
        all += e.full_name + (e.is_file ? "" : "/") + ";";
    }
    return all;
}

class RarArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        SetProgramPassword("");
        LoadHandlerOptions();
    }
    void TearDown() override { SetProgramPassword(""); }
    test::IsolatedEnvironment env_;
};

struct Sample {
    const char* archive;
    const char* listing;
};

bool EndsWithNoCase(const std::string& s, const std::string& tail) {
    if (s.size() < tail.size()) return false;
    for (size_t i = 0; i < tail.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - tail.size() + i])) != tail[i]) return false;
    return true;
}

void PutLe(std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}

// A block with its header CRC (the low half of the CRC-32 after the CRC field).
std::string Block(uint8_t type, uint16_t flags, const std::string& body, int size_override = -1) {
    std::string h;
    h.push_back(char(type));
    PutLe(h, flags, 2);
    PutLe(h, size_override >= 0 ? uint64_t(size_override) : body.size() + 7, 2);
    h += body;
    std::string out;
    PutLe(out, engines::Crc32(0, reinterpret_cast<const uint8_t*>(h.data()), h.size()) & 0xFFFF, 2);
    return out + h;
}

const std::string kMarker("Rar!\x1A\x07\x00", 7);
std::string ArchiveHeader(uint16_t flags = 0) { return Block(0x73, flags, std::string(6, '\0')); }

// A stored member: host, attributes and flags as given; with kLargeSizes the high halves of
// the sizes come before the name.
std::string StoredMember(const std::string& name, const std::string& data, uint8_t host = 2,
                         uint32_t attributes = 0x20, uint16_t flags = 0, uint32_t crc_override = 0,
                         uint32_t size_override = 0, uint8_t version = 20) {
    std::string body;
    PutLe(body, data.size(), 4);
    PutLe(body, size_override ? size_override : data.size(), 4);
    body.push_back(char(host));
    PutLe(body, crc_override ? crc_override : engines::Crc32(0, reinterpret_cast<const uint8_t*>(data.data()), data.size()), 4);
    PutLe(body, 0x5A216000, 4);
    body.push_back(char(version));
    body.push_back(0x30);
    PutLe(body, name.size(), 2);
    PutLe(body, attributes, 4);
    if (flags & rar::kLargeSizes) PutLe(body, 0, 8);
    body += name;
    return Block(0x74, uint16_t(0x8000 | flags), body) + data;
}

TEST_F(RarArchiveTest, SamplesListAndUnpackToTheOriginals) {
    const std::string exe = ReadFile(TestData("rar/sharpcompress-original-test.exe.expected"));
    const std::string jpg = ReadFile(TestData("rar/sharpcompress-original-test.jpg.expected"));
    const Sample samples[] = {
        {"rar/Rar2.rar", "exe/;jpg/;exe\\test.exe;jpg\\test.jpg;" },
        {"rar/Rar15.rar", "EXE/;EXE\\TEST.EXE;JPG/;JPG\\TEST.JPG;TECT.TXT;"},
        {"rar/Rar.none.rar", "exe\\test.exe;jpg\\test.jpg;"},
        // The set: every volume read, split members joined.
        {"rar/Rar2.multi.rar", "exe/;jpg/;exe\\test.exe;jpg\\test.jpg;"},
    };
    for (const Sample& s : samples) {
        SCOPED_TRACE(s.archive);
        RarArchive rar;
        ASSERT_EQ(rar.Open(TestData(s.archive)), kStatusOk) << rar.LastMessage();
        EXPECT_EQ(Names(rar).substr(0, std::string(s.listing).size()), s.listing);
        for (size_t i = 0; i < rar.EntryCount(); ++i) {
            const ArchiveEntry& e = rar.Entry(i);
            if (!e.is_file) continue;
            int status = 0;
            MemoryBlock block = rar.UnpackEntry(e, status);
            ASSERT_EQ(status, kUnpackOk) << e.full_name << ": " << rar.LastMessage();
            std::string got(reinterpret_cast<const char*>(block.data.get()), block.size);
            if (EndsWithNoCase(e.full_name, ".txt")) {
                // The text the archives hold is a later edition than the original kept beside
                // them: its CRC is the check.
                EXPECT_EQ(got.size(), 15498u);
                EXPECT_EQ(engines::Crc32(0, block.data.get(), block.size), 0x9bd160fau);
                continue;
            }
            if (e.unpacked == 0) continue;
            const std::string& want = EndsWithNoCase(e.full_name, "exe") ? exe : jpg;
            EXPECT_TRUE(got == want) << e.full_name << " " << got.size();
        }
    }
}


TEST_F(RarArchiveTest, NamesAreDecodedAndTheStoredBytesKept) {
    // Unicode field, CP437 on DOS hosts, the multi-volume set's Unicode member.
    RarArchive rar;
    ASSERT_EQ(rar.Open(TestData("rar/Rar2.rar")), kStatusOk);
    EXPECT_GE(rar.FindEntry(kCyrillic), 0) << Names(rar);
    RarArchive multi;
    ASSERT_EQ(multi.Open(TestData("rar/Rar2.multi.rar")), kStatusOk);
    ASSERT_GE(multi.FindEntry(kCyrillic), 0) << Names(multi);
    EXPECT_EQ(multi.Directory().volumes.size(), 7u);

    const std::string path = env_ / "oem.rar";
    WriteFile(path, kMarker + ArchiveHeader() + StoredMember("\x81" "ber.txt", "u", 0) +
                        StoredMember("caf\xC3\xA9.txt", "e", 3, 0100644));
    RarArchive oem;
    ASSERT_EQ(oem.Open(path), kStatusOk);
    ASSERT_EQ(Names(oem), "\xC3\xBC" "ber.txt;caf\xC3\xA9.txt;");
    // The archiver gets the bytes as stored.
    EXPECT_EQ(oem.StoredNameOf(oem.Entry(0)), "\x81" "ber.txt");
}

TEST_F(RarArchiveTest, MembersAreFoundByTheirBlockNeverByAMask) {
    // "?.txt" is a name, not a pattern: it must not give a.txt's bytes.
    const std::string path = env_ / "mask.rar";
    WriteFile(path, kMarker + ArchiveHeader() + StoredMember("a.txt", "first") +
                        StoredMember("?.txt", "second") + StoredMember("*", "third"));
    RarArchive rar;
    ASSERT_EQ(rar.Open(path), kStatusOk);
    EXPECT_EQ(Unpacked(rar, "?.txt"), "second");
    EXPECT_EQ(Unpacked(rar, "*"), "third");
    EXPECT_EQ(Unpacked(rar, "a.txt"), "first");
}

struct BlockCase {
    const char* what;
    std::string bytes;
    int open_status;
    const char* listing;
};

TEST_F(RarArchiveTest, BlockChainFaults) {
    const std::string a = StoredMember("a.txt", "alpha"), b = StoredMember("b.txt", "beta");
    // A sub-block of later versions (file-header layout, its data counted in the header) and
    // an authenticity block with added data: both skipped by their sizes.
    std::string sub_body;
    PutLe(sub_body, 3, 4);
    PutLe(sub_body, 3, 4);
    sub_body += std::string(17, '\0');
    PutLe(sub_body, 2, 2);
    PutLe(sub_body, 0, 4);
    sub_body += "CMT";
    const std::string sub = Block(0x7A, 0x8000, sub_body) + "xyz";
    std::string sign_body;
    PutLe(sign_body, 4, 4);
    const std::string sign = Block(0x79, 0x8000, sign_body) + "sign";
    const std::string end = Block(0x7B, 0x4000, "");
    const std::string head = kMarker + ArchiveHeader();
    const std::string program(3000, '\x90');
    std::string bad_crc = b;
    bad_crc[bad_crc.size() - 6] ^= 1;  // a byte of the name: the header CRC no longer matches
    const std::vector<BlockCase> cases = {
        {"end block ends the listing, junk after it unread", head + a + end + "garbage after the end", kStatusOk, "a.txt;"},
        {"0x79 and 0x7A skipped by their sizes", head + a + sub + sign + b + end, kStatusOk, "a.txt;b.txt;"},
        {"unknown type before any member", head + Block(0x80, 0, "") + a, kStatusNotThisFormat, ""},
        {"unknown type after a member stops there", head + a + Block(0x80, 0, "") + b, kStatusOk, "a.txt;"},
        {"header size below 7", head + Block(0x74, 0, "", 3) + a, kStatusNotThisFormat, ""},
        {"header size below 7 after a member", head + a + Block(0x7A, 0, "", 0), kStatusOk, "a.txt;"},
        {"damaged header CRC ends the listing", head + a + bad_crc + StoredMember("c.txt", "c"), kStatusOk, "a.txt;"},
        {"damaged archive header", kMarker + ArchiveHeader().replace(3, 1, "\x01") + a, kStatusNotThisFormat, ""},
        {"only the archive header", head + end, kStatusFailed, ""},
        {"64-bit sizes move the name", head + StoredMember("big.txt", "wide", 2, 0x20, rar::kLargeSizes) + end, kStatusOk, "big.txt;"},
        // Self-extractors: the archive after a program, found by a marker with a sound archive
        // header behind it.
        {"self-extractor", "MZ" + program + head + a + end, kStatusOk, "a.txt;"},
        {"self-extractor with a stray marker in its program", "MZ" + program + kMarker + "no header" + head + a + end, kStatusOk, "a.txt;"},
        {"archive after something not a program", "XY" + program + head + a + end, kStatusNotThisFormat, ""},
        {"program with a marker only", "MZ" + program + kMarker + "no header" + a, kStatusNotThisFormat, ""},
        {"archive beyond the first MiB of a program", "MZ" + std::string(1 << 20, 'p') + head + a + end, kStatusNotThisFormat, ""},
    };
    for (const BlockCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = env_ / "case.rar";
        WriteFile(path, c.bytes);
        RarArchive rar;
        EXPECT_EQ(rar.Open(path), c.open_status) << rar.LastMessage();
        if (c.open_status == kStatusOk) {
            EXPECT_EQ(Names(rar), c.listing);
        }
    }
    // A self-extractor's data lies where the headers say, in the file as a whole.
    WriteFile(env_ / "sfx.exe", cases[10].bytes);
    RarArchive sfx;
    ASSERT_EQ(sfx.Open(env_ / "sfx.exe"), kStatusOk);
    EXPECT_EQ(Unpacked(sfx, "a.txt"), "alpha");
    // The wide header's data is where its size says.
    WriteFile(env_ / "wide.rar", cases[9].bytes);
    RarArchive wide;
    ASSERT_EQ(wide.Open(env_ / "wide.rar"), kStatusOk);
    EXPECT_EQ(Unpacked(wide, "big.txt"), "wide");
}

TEST_F(RarArchiveTest, SelfExtractorOfASampleUnpacksLikeTheSample) {
    const std::string plain_path = TestData("rar/Rar2.rar");
    WriteFile(env_ / "Rar2.exe", "MZ" + std::string(20000, '\x90') + ReadFile(plain_path));
    RarArchive plain, sfx;
    ASSERT_EQ(plain.Open(plain_path), kStatusOk);
    ASSERT_EQ(sfx.Open(env_ / "Rar2.exe"), kStatusOk) << sfx.LastMessage();
    EXPECT_EQ(Names(sfx), Names(plain));
    for (size_t i = 0; i < plain.EntryCount(); ++i) {
        const std::string& name = plain.Entry(i).full_name;
        if (plain.Entry(i).is_file) {
            EXPECT_EQ(Unpacked(sfx, name), Unpacked(plain, name)) << name;
        }
    }
}

TEST_F(RarArchiveTest, CrcAndSizeAreChecked) {
    struct {
        const char* what;
        std::string member;
        int status;
    } cases[] = {
        {"right", StoredMember("m.txt", "payload"), kUnpackOk},
        {"stored by a later version", StoredMember("m.txt", "payload", 2, 0x20, 0, 0, 0, 29), kUnpackOk},
        {"wrong CRC", StoredMember("m.txt", "payload", 2, 0x20, 0, 0x12345678), kUnpackDataError},
        // A 7-byte member that claims 4 GiB: nothing is allocated for the claim.
        {"size claimed past the data", StoredMember("m.txt", "payload", 2, 0x20, 0, 0, 0xFFFFFFF0u), kUnpackDataError},
        {"size claimed below the data", StoredMember("m.txt", "payload", 2, 0x20, 0, 0, 3), kUnpackDataError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = env_ / "crc.rar";
        WriteFile(path, kMarker + ArchiveHeader() + c.member);
        RarArchive rar;
        ASSERT_EQ(rar.Open(path), kStatusOk);
        int status = 0;
        Unpacked(rar, "m.txt", &status);
        EXPECT_EQ(status, c.status) << rar.LastMessage();
    }
    // In a set, the whole file's CRC is the last part's.
    RarArchive multi;
    ASSERT_EQ(multi.Open(TestData("rar/Rar2.multi.rar")), kStatusOk);
    int jpg = multi.FindEntry("jpg\\test.jpg");
    ASSERT_GE(jpg, 0);
    EXPECT_EQ(uint32_t(multi.Entry(size_t(jpg)).crc), 0x088814e3u);
    EXPECT_EQ(multi.MemberOf(multi.Entry(size_t(jpg)))->parts.size(), 5u);
}

TEST_F(RarArchiveTest, LaterMethodsAreUnsupportedOrGoToTheArchiver) {
    RarArchive rar;
    ASSERT_EQ(rar.Open(TestData("rar/Rar.rar")), kStatusOk) << rar.LastMessage();
    ASSERT_EQ(Names(rar), kCyrillic + ";exe\\test.exe;jpg\\test.jpg;Empty/;exe/;jpg/;");
    int status = 0;
    EXPECT_EQ(Unpacked(rar, "exe\\test.exe", &status).substr(0, 10), "<status 13");
    EXPECT_EQ(status, kUnpackUnsupported);

    // With an archiver configured, it unpacks them.
    ASSERT_TRUE(test::HaveTool("unar")) << "unar is needed (scripts/deps.sh)";
    AppRegistry().WriteText("Programs", "RAR", "unar");
    RarArchive with_archiver;
    ASSERT_EQ(with_archiver.Open(TestData("rar/Rar.rar")), kStatusOk);
    const std::string got = Unpacked(with_archiver, "exe\\test.exe");
    EXPECT_TRUE(got == ReadFile(TestData("rar/sharpcompress-original-test.exe.expected"))) << got.substr(0, 300);
}

TEST_F(RarArchiveTest, UnixModesAndLinks) {
    RarArchive owner;
    ASSERT_EQ(owner.Open(TestData("rar/rar2-unix-owner.rar")), kStatusOk);
    ASSERT_EQ(owner.EntryCount(), 1u);
    EXPECT_EQ(owner.Entry(0).unix_mode & 0777, 0664u);
    EXPECT_EQ(Unpacked(owner, "file.txt").size(), 4u);

    RarArchive links;
    ASSERT_EQ(links.Open(TestData("rar/test_read_format_rar.rar")), kStatusOk);
    int link = links.FindEntry("testlink");
    ASSERT_GE(link, 0) << Names(links);
    EXPECT_TRUE(links.MemberOf(links.Entry(size_t(link)))->is_symlink);
    const std::string out = env_ / "out";
    ASSERT_EQ(links.ExtractAll(out, true, true), kStatusOk) << links.LastMessage();
    EXPECT_TRUE(fs::exists(out + "/test.txt"));
    EXPECT_TRUE(fs::exists(out + "/testdir/test.txt"));
    // Neither a file nor a link: nothing at all.
    std::error_code ec;
    EXPECT_FALSE(fs::exists(fs::symlink_status(out + "/testlink", ec)));
}

TEST_F(RarArchiveTest, AClimbingNameIsNeverWrittenOutside) {
    const std::string path = env_ / "climb.rar";
    WriteFile(path, kMarker + ArchiveHeader() + StoredMember("..\\..\\evil.txt", "x") + StoredMember("ok.txt", "y"));
    RarArchive rar;
    ASSERT_EQ(rar.Open(path), kStatusOk);
    fs::create_directories(env_ / "deep/down");
    rar.ExtractAll(env_ / "deep/down", true, true);
    EXPECT_FALSE(fs::exists(env_ / "evil.txt"));
    EXPECT_FALSE(fs::exists(env_ / "deep/evil.txt"));
}

TEST_F(RarArchiveTest, ExtractAllWritesTheOriginals) {
    RarArchive rar;
    ASSERT_EQ(rar.Open(TestData("rar/Rar2.multi.rar")), kStatusOk);
    const std::string out = env_ / "x";
    ASSERT_EQ(rar.ExtractAll(out, true, true), kStatusOk) << rar.LastMessage();
    EXPECT_TRUE(ReadFile(out + "/exe/test.exe") == ReadFile(TestData("rar/sharpcompress-original-test.exe.expected")));
    EXPECT_TRUE(ReadFile(out + "/jpg/test.jpg") == ReadFile(TestData("rar/sharpcompress-original-test.jpg.expected")));
    EXPECT_EQ(ReadFile(out + "/" + kCyrillic).size(), 15498u);
}

TEST_F(RarArchiveTest, TheOpenerTakesRarFiles) {
    int status = 0;
    auto handler = OpenArchiveFile(TestData("rar/Rar15.rar"), status, nullptr, nullptr);
    ASSERT_TRUE(handler);
    EXPECT_EQ(handler->FormatName(), "RAR");
    // A file that only starts like RAR is left to the other formats.
    const std::string path = env_ / "not.rar";
    WriteFile(path, kMarker + std::string("\x00\x00\x79\x00\x00\x07\x00", 7));
    RarArchive rar;
    EXPECT_EQ(rar.Open(path), kStatusNotThisFormat);
}

TEST_F(RarArchiveTest, SamplesTruncatedAnywhereNeverCrashOrHang) {
    for (const char* name : {"rar/Rar15.rar", "rar/Rar2.rar", "rar/rar15-comment.rar"}) {
        const std::string bytes = ReadFile(TestData(name));
        for (size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 61) {
            const std::string path = env_ / "cut.rar";
            WriteFile(path, bytes.substr(0, cut));
            RarArchive rar;
            if (rar.Open(path) != kStatusOk) continue;
            for (size_t i = 0; i < rar.EntryCount(); ++i) {
                int status = 0;
                MemoryBlock block = rar.UnpackEntry(rar.Entry(i), status);
                if (status == kUnpackOk) {
                    EXPECT_EQ(int64_t(block.size), rar.Entry(i).unpacked);
                }
            }
        }
    }
}

TEST(RarVolumeNamesTest, BothSchemes) {
    const std::pair<const char*, const char*> old_names[] = {
        {"set.rar", "set.r00"}, {"set.r00", "set.r01"}, {"set.r09", "set.r10"}, {"set.r99", "set.s00"},
        {"dir.x/set", "dir.x/set.rar"}, {"set.exe", "set.rar"}, {"set.EXE", "set.rar"}, {"set.", "set.rar"},
        {"SET.RAR", "SET.R00"},
    };
    for (const auto& [from, to] : old_names) EXPECT_EQ(rar::NextVolumeNameOld(from), to) << from;
    const std::pair<const char*, const char*> new_names[] = {
        {"a.part1.rar", "a.part2.rar"}, {"a.part09.rar", "a.part10.rar"}, {"a.part9.rar", "a.part10.rar"},
        {"a.part001.rar", "a.part002.rar"}, {"plain.rar", ""},
    };
    for (const auto& [from, to] : new_names) EXPECT_EQ(rar::NextVolumeNameNew(from), to) << from;
    EXPECT_EQ(rar::FirstVolumeNameNew("a.part07.rar"), "a.part01.rar");
}

TEST_F(RarArchiveTest, NewNumberingSetIsFollowed) {
    RarArchive rar;
    ASSERT_EQ(rar.Open(TestData("rar/test_rar_multivolume_single_file.part1.rar")), kStatusOk);
    EXPECT_EQ(rar.Directory().volumes.size(), 3u);
    ASSERT_EQ(rar.EntryCount(), 1u);
    EXPECT_EQ(rar.Entry(0).unpacked, 20111);
    EXPECT_EQ(uint32_t(rar.Entry(0).crc), 0x5e05a663u);
    EXPECT_EQ(Unpacked(rar, "LibarchiveAddingTest.html").size(), 20111u);
    // Opened in the middle, the member's first part is missing: listed, never passed as whole.
    RarArchive middle;
    ASSERT_EQ(middle.Open(TestData("rar/test_rar_multivolume_single_file.part2.rar")), kStatusOk);
    int status = 0;
    Unpacked(middle, "LibarchiveAddingTest.html", &status);
    EXPECT_EQ(status, kUnpackDataError);
}

TEST_F(RarArchiveTest, EncryptedMembersNeedAPassword) {
    RarArchive rar;
    ASSERT_EQ(rar.Open(TestData("rar/rar202-comment-psw.rar")), kStatusOk);
    int status = 0;
    EXPECT_NE(Unpacked(rar, "FILE1.TXT", &status).find("<status 14"), std::string::npos);
    EXPECT_EQ(status, kUnpackNeedPassword);
}


TEST_F(RarArchiveTest, EncryptedMembersGoToTheArchiverWithThePassword) {
    ASSERT_TRUE(test::HaveTool("unar")) << "unar is needed (scripts/deps.sh)";
    AppRegistry().WriteText("Programs", "RAR", "unar");
    SetProgramPassword("password");
    RarArchive rar;
    ASSERT_EQ(rar.Open(TestData("rar/rar202-comment-psw.rar")), kStatusOk);
    ASSERT_TRUE(rar.Entry(0).encrypted);
    const std::string got = Unpacked(rar, "FILE1.TXT");
    ASSERT_EQ(got.size(), 7u) << got;
    EXPECT_EQ(engines::Crc32(0, reinterpret_cast<const uint8_t*>(got.data()), got.size()), 0x7a197dbau);
    // The archiver ran, not our engine.
    ASSERT_FALSE(rar.LastCommand().empty());
    EXPECT_EQ(fs::path(rar.LastCommand().front()).filename(), "unar");
}

TEST_F(RarArchiveTest, SelfExtractorNeedsTheModuleBesideTheArchiver) {
    // A stand-in archiver: a script that would succeed at anything.
    fs::create_directories(env_ / "bin");
    const std::string program = env_ / "bin/rar";
    WriteFile(program, "#!/bin/sh\nexit 0\n");
    fs::permissions(program, fs::perms::owner_all);
    AppRegistry().WriteText("Programs", "RAR", program);
    RarArchive rar;
    ASSERT_EQ(rar.Open(TestData("rar/Rar2.rar")), kStatusOk);
    EXPECT_EQ(rar.SaveAs(env_ / "out.exe", 0, nullptr), kStatusFailed);
    EXPECT_NE(rar.LastMessage().find(env_ / "bin/default.sfx"), std::string::npos) << rar.LastMessage();
    EXPECT_FALSE(fs::exists(env_ / "out.exe"));
}

}  // namespace
}  // namespace quorbel
