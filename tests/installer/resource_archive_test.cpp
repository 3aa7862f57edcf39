// The installer's archive unpacking: path helpers, good archives, and damaged ones that must
// leave nothing behind.
#include "installer/resource_archive.h"

#include <filesystem>
#include <functional>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/resources.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel::installer {
namespace {

namespace fs = std::filesystem;
using test::BuildZip;
using test::ReadFile;
using test::ZipMemberInput;

std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        found.push_back(fs::relative(it->path(), folder).string());
    std::sort(found.begin(), found.end());
    return found;
}

// One member; `tweak` adjusts the fields that make it defective.
ZipMemberInput Member(const std::string& name, const std::string& data, void (*tweak)(ZipMemberInput&) = nullptr) {
    ZipMemberInput m;
    m.name = name;
    m.data = data;
    if (tweak) tweak(m);
    return m;
}

void Stored(ZipMemberInput& m) { m.method = 0; }

bool Extract(const std::string& zip, const std::string& dest, std::string* written = nullptr,
             const MemberWriter& writer = {}) {
    return ExtractArchiveBytes(reinterpret_cast<const uint8_t*>(zip.data()), zip.size(), dest, written, writer);
}

TEST(JoinPathTest, JoinsWithOneSeparator) {
    struct Row { const char* folder; const char* name; const char* joined; };
    const Row rows[] = {
        {"/tmp", "quorbel", "/tmp/quorbel"},
        {"/tmp/", "quorbel", "/tmp/quorbel"},
        {"/tmp", "/quorbel", "/tmp/quorbel"},
        {"/tmp/", "/quorbel", "/tmp/quorbel"},
        {"/", "etc", "/etc"},
        {"", "quorbel", "quorbel"},
        {"", "/abs", "/abs"},
        {"/tmp/x", "", "/tmp/x"},
        {"/tmp/x/", "", "/tmp/x/"},
        {"a b", "c d/e", "a b/c d/e"},
    };
    for (const Row& r : rows) EXPECT_EQ(JoinPath(r.folder, r.name), r.joined) << r.folder << " + " << r.name;
}

TEST(EnsureFolderTest, CreatesMissingParentsOnly) {
    test::TempDir dir;
    test::WriteFile(dir / "file", "x");
    struct Row { std::string path; bool ok; };
    const Row rows[] = {
        {"/", true},
        {dir.path(), true},
        {dir / "a/b/c", true},
        {dir / "a/b/c/", true},      // trailing separator dropped
        {dir / "d/", true},
        {dir / "file", false},       // a file is no folder
        {dir / "file/below", false},
        {dir / "x//y///z", true},    // doubled separators
        // 20,000 levels: longer than any path the system takes, refused without recursion.
        {dir / [] { std::string p; for (int i = 0; i < 20000; ++i) p += "d/"; return p; }(), false},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(EnsureFolder(r.path), r.ok) << r.path;
        if (r.ok) {
            EXPECT_TRUE(fs::is_directory(r.path)) << r.path;
        }
    }
    EXPECT_EQ(ReadFile(dir / "file"), "x");
}

TEST(ExtractArchiveBytesTest, WritesEveryMemberWithItsPath) {
    test::TempDir dir;
    std::string big(200000, 'q');
    std::string zip = BuildZip({
        Member("readme.txt", "hello", Stored),
        Member("docs/", "", Stored),
        Member("empty.txt", "", Stored),
        Member("docs\\local\\index.htm", big),
    });
    std::string written;
    ASSERT_TRUE(Extract(zip, dir.path(), &written));
    EXPECT_EQ(FilesBelow(dir.path()),
              (std::vector<std::string>{"docs", "docs/local", "docs/local/index.htm", "readme.txt"}));
    EXPECT_EQ(ReadFile(dir / "readme.txt"), "hello");
    EXPECT_EQ(ReadFile(dir / "docs/local/index.htm"), big);
    EXPECT_EQ(written, dir / "docs/local/index.htm");
}

TEST(ExtractArchiveBytesTest, ReadsWhatZipWrites) {
    QUORBEL_REQUIRE_TOOL("zip");
    test::TempDir src, dest;
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "line " + std::to_string(i) + "\n";
    fs::create_directories(src / "sub");
    test::WriteFile(src / "sub/Quorbel.txt", text);
    ASSERT_EQ(test::Run({"zip", "-q", "-r", "-9", src / "a.zip", "sub"}, src.path()).exit_code, 0);
    ASSERT_TRUE(Extract(ReadFile(src / "a.zip"), dest.path()));
    EXPECT_EQ(ReadFile(dest / "sub/Quorbel.txt"), text);  // the member keeps its case
}

// Byte offset of the first central directory record of an archive made by BuildZip or zip.
size_t CentralOffset(const std::string& zip) { return zip.rfind(std::string("PK\1\2", 4)); }

std::string Patched32(std::string zip, size_t at, uint32_t value) {
    zip.replace(at, 4, test::Le32s(value));
    return zip;
}

TEST(ExtractArchiveBytesTest, DamagedArchivesLeaveNothing) {
    std::string text(5000, 'a');
    for (size_t i = 0; i < text.size(); ++i) text[i] = char('a' + (i * 7) % 26);
    std::string good = BuildZip({Member("quorbel", text)});
    size_t central = CentralOffset(good);
    struct Row { const char* defect; std::string zip; };
    const Row rows[] = {
        {"crc_damaged_deflated", BuildZip({Member("quorbel", text, [](ZipMemberInput& m) {
             m.override_crc = true;
             m.crc = 1;
         })})},
        {"crc_damaged_stored", BuildZip({Member("quorbel", text, [](ZipMemberInput& m) {
             m.method = 0;
             m.override_crc = true;
             m.crc = 2;
         })})},
        // The recorded length is longer than what the data inflates to.
        {"stops_early", BuildZip({Member("quorbel", text, [](ZipMemberInput& m) {
             m.override_unpacked = true;
             m.unpacked = 6000;
         })})},
        {"longer_than_recorded", BuildZip({Member("quorbel", text, [](ZipMemberInput& m) {
             m.override_unpacked = true;
             m.unpacked = 4000;
         })})},
        {"huge_recorded_size", BuildZip({Member("quorbel", text, [](ZipMemberInput& m) {
             m.override_unpacked = true;
             m.unpacked = 0xFFFFFFF0u;
         })})},
        {"packed_cut_in_half", Patched32(good, central + 20, uint32_t(test::RawDeflate(text).size() / 2))},
        {"packed_beyond_archive", Patched32(good, central + 20, uint32_t(good.size()))},
        {"local_offset_beyond_archive", Patched32(good, central + 42, uint32_t(good.size() - 10))},
        {"encrypted", BuildZip({Member("quorbel", text, [](ZipMemberInput& m) { m.encrypt_with = "pw"; })})},
        {"unknown_method", BuildZip({Member("quorbel", text, [](ZipMemberInput& m) { m.method = 12; })})},
        {"name_climbs", BuildZip({Member("../quorbel", text)})},
        {"name_climbs_inside", BuildZip({Member("a/../../quorbel", text)})},
        {"name_climbs_backslash", BuildZip({Member("..\\quorbel", text)})},
        {"no_end_record", good.substr(0, good.size() - 22)},
    };
    for (const Row& r : rows) {
        test::TempDir dir;
        fs::create_directory(dir / "dest");
        std::string written = "stale";
        EXPECT_FALSE(Extract(r.zip, dir / "dest", &written)) << r.defect;
        EXPECT_EQ(written, "") << r.defect;
        EXPECT_EQ(FilesBelow(dir.path()), std::vector<std::string>{"dest"}) << r.defect;
    }
}

TEST(ExtractArchiveBytesTest, TruncatedAtAnyLengthWritesNothing) {
    std::string zip = BuildZip({Member("quorbel", std::string(3000, 'z') + "end")});
    test::TempDir dir;
    for (size_t length = 0; length < zip.size(); length += 7) {
        EXPECT_FALSE(Extract(zip.substr(0, length), dir.path())) << length;
        ASSERT_TRUE(FilesBelow(dir.path()).empty()) << length;
    }
}

TEST(ExtractArchiveBytesTest, LinkInDestinationDoesNotLeadOutside) {
    test::TempDir dir;
    fs::create_directories(dir / "dest");
    fs::create_directories(dir / "outside");
    fs::create_directory_symlink(dir / "outside", dir / "dest/link");
    EXPECT_FALSE(Extract(BuildZip({Member("link/quorbel", "x")}), dir / "dest"));
    EXPECT_TRUE(FilesBelow(dir / "outside").empty());
}

TEST(ExtractArchiveBytesTest, FailedWriteLeavesNoFileNorTemporary) {
    test::TempDir dir;
    std::string zip = BuildZip({Member("quorbel", std::string(10000, 'w'))});
    // Writes half the bytes and then fails, as a full disk would.
    MemberWriter half = [](int fd, const uint8_t* data, size_t size) {
        EXPECT_GT(write(fd, data, size / 2), 0);
        return false;
    };
    EXPECT_FALSE(Extract(zip, dir.path(), nullptr, half));
    EXPECT_TRUE(FilesBelow(dir.path()).empty());
}

TEST(ExtractResourceArchiveTest, ReadsRegisteredResource) {
    test::TempDir dir;
    std::string zip = BuildZip({Member("OLEPRO32.DLL", "library")});
    AddResource("ZIP", 9107, std::vector<uint8_t>(zip.begin(), zip.end()));
    std::string written;
    EXPECT_FALSE(ExtractResourceArchive(9999, dir.path(), "", false, &written));  // no such resource
    EXPECT_TRUE(FilesBelow(dir.path()).empty());
    ASSERT_TRUE(ExtractResourceArchive(9107, dir.path(), "olepro32.dll", true, &written));
    EXPECT_EQ(written, dir / "OLEPRO32.DLL");
    EXPECT_EQ(ReadFile(written), "library");
}

TEST(ExtractResourceArchiveTest, ExistingFileIsNeverReplaced) {
    test::TempDir dir;
    test::WriteFile(dir / "OLEPRO32.DLL", "mine");
    std::string zip = BuildZip({Member("OLEPRO32.DLL", "theirs")});
    AddResource("ZIP", 9108, std::vector<uint8_t>(zip.begin(), zip.end()));
    std::string written = "stale";
    EXPECT_TRUE(ExtractResourceArchive(9108, dir.path(), "OLEPRO32.DLL", true, &written));
    EXPECT_EQ(written, "");
    EXPECT_EQ(ReadFile(dir / "OLEPRO32.DLL"), "mine");
    // Without the flag it is unpacked over the old one.
    EXPECT_TRUE(ExtractResourceArchive(9108, dir.path(), "OLEPRO32.DLL", false, &written));
    EXPECT_EQ(ReadFile(dir / "OLEPRO32.DLL"), "theirs");
}

}  // namespace
}  // namespace quorbel::installer
