// What the readers make of the fuzz targets' regression files: each one is read from disk and
// from memory, and must give the sound result, not merely survive.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "core/gz_archive.h"
#include "core/status.h"
#include "core/zip/zip_archive.h"
#include "formats/tar_archive.h"
#include "formats/uue_archive.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;

// From the source folder the build names: __FILE__ may be relative (a compiler cache rewrites
// paths), and the tests run from the build folder.
std::string Regression(const std::string& relative) {
    return (fs::path(QUORBEL_SOURCE_DIR) / "fuzz" / "regressions" / relative).string();
}

std::string Unpack(ArchiveHandler& h, const ArchiveEntry& e, int& status) {
    MemoryBlock block = h.UnpackEntry(e, status);
    return block ? std::string(reinterpret_cast<const char*>(block.data.get()), block.size) : std::string();
}

std::string Names(const ArchiveHandler& h) {
    std::string names;
    for (const ArchiveEntry& e : h.Entries()) names += (names.empty() ? "" : "|") + e.full_name;
    return names;
}

struct Case {
    const char* file;
    std::function<std::unique_ptr<ArchiveHandler>()> make;
    int open_status;
    std::function<void(ArchiveHandler&)> check;  // after a successful open
};

template <typename T>
std::function<std::unique_ptr<ArchiveHandler>()> Make() {
    return [] { return std::make_unique<T>(); };
}

TEST(HostileArchivesTest, RegressionFilesGiveTheSoundResultFromDiskAndMemory) {
    test::IsolatedEnvironment env;
    const Case cases[] = {
        {"zip/ratio-int-overflow.zip", Make<ZipArchive>(), kStatusOk,
         [](ArchiveHandler& h) {
             EXPECT_EQ(h.Entry(0).RatioText(), "-999999%");
             EXPECT_EQ(h.Info().ratio, "-999999%");
         }},
        {"zip/total-size-int64-overflow.zip", Make<ZipArchive>(), kStatusOk,
         [](ArchiveHandler& h) {
             EXPECT_EQ(h.TotalUnpacked(), INT64_MAX);
             EXPECT_NE(h.Info().total_unpacked, "?");
         }},
        {"zip/deep-name-quadratic-tree.zip", Make<ZipArchive>(), kStatusFailed, nullptr},
        {"zip/overlapping-members-bomb.zip", Make<ZipArchive>(), kStatusCorrupt, nullptr},
        {"zip/dos-folder-attribute-without-slash.zip", Make<ZipArchive>(), kStatusOk,
         [](ArchiveHandler& h) {
             ASSERT_EQ(h.EntryCount(), 2u);
             EXPECT_EQ(h.Entry(0).full_name, "folder\\");
             EXPECT_FALSE(h.Entry(0).is_file);
             EXPECT_EQ(h.FileCount(), 1);
         }},
        {"zip/name-with-zero-byte.zip", Make<ZipArchive>(), kStatusOk,
         [](ArchiveHandler& h) { EXPECT_EQ(Names(h), "visible.txt"); }},
        {"tar/empty-gnu-longname-drops-member.tar", Make<TarArchive>(), kStatusOk,
         [](ArchiveHandler& h) {
             ASSERT_EQ(Names(h), "kept.txt");
             int status = 0;
             EXPECT_EQ(Unpack(h, h.Entry(0), status), "kept\n");
             EXPECT_EQ(status, kUnpackOk);
         }},
        {"tar/deep-longname-bad-alloc.tar", Make<TarArchive>(), kStatusFailed, nullptr},
        {"tar/sparse-size-16-gigabytes.tar", Make<TarArchive>(), kStatusOk,
         [](ArchiveHandler& h) {
             // Listed as its header says, but never made: 16 GB of holes from a 1 KB archive.
             ASSERT_EQ(h.EntryCount(), 1u);
             EXPECT_EQ(h.Entry(0).unpacked, int64_t(16) << 30);
             int status = -1;
             EXPECT_FALSE(h.UnpackEntry(h.Entry(0), status));
             EXPECT_EQ(status, kStatusFailed);
         }},
        {"tar/solaris-acl-record-listed.tar", Make<TarArchive>(), kStatusOk,
         [](ArchiveHandler& h) {
             ASSERT_EQ(Names(h), "file.txt");
             int status = 0;
             EXPECT_EQ(Unpack(h, h.Entry(0), status), "abc");
         }},
        {"tar/global-pax-path-names-members.tar", Make<TarArchive>(), kStatusOk,
         [](ArchiveHandler& h) { EXPECT_EQ(Names(h), "one.txt|two.txt"); }},
        {"tar/consecutive-pax-headers-merged.tar", Make<TarArchive>(), kStatusOk,
         [](ArchiveHandler& h) {
             ASSERT_EQ(Names(h), "second-name");
             // The first header's time went with it; the member's own header holds.
             EXPECT_EQ(h.Entry(0).time, 1577836800);
         }},
        {"tar/empty-member-at-end-from-memory.tar", Make<TarArchive>(), kStatusOk,
         [](ArchiveHandler& h) {
             ASSERT_EQ(Names(h), "a.txt|empty");
             int status = 0;
             EXPECT_EQ(Unpack(h, h.Entry(1), status), "");
             EXPECT_EQ(status, kUnpackOk);
         }},
        {"uue/empty-blocks-megabyte-buffers.uue", Make<UueArchive>(), kStatusOk,
         [](ArchiveHandler& h) {
             EXPECT_EQ(h.EntryCount(), 1500u);
             for (size_t i = 0; i < h.EntryCount(); ++i) {
                 int status = 0;
                 EXPECT_EQ(Unpack(h, h.Entry(i), status), "");
                 ASSERT_EQ(status, kUnpackOk);
             }
         }},
    };
    for (const Case& c : cases) {
        const std::string path = Regression(c.file);
        ASSERT_TRUE(fs::exists(path)) << path;
        const std::string bytes = test::ReadFile(path);
        for (bool from_memory : {false, true}) {
            SCOPED_TRACE(std::string(c.file) + (from_memory ? " from memory" : " from disk"));
            std::unique_ptr<ArchiveHandler> h = c.make();
            const int status = from_memory
                                   ? h->OpenFromMemory(std::vector<uint8_t>(bytes.begin(), bytes.end()), c.file)
                                   : h->Open(path);
            EXPECT_EQ(status, c.open_status) << h->LastMessage();
            if (status == kStatusOk && c.check) c.check(*h);
            if (status != kStatusOk) {
                EXPECT_FALSE(h->LastMessage().empty());
            }
        }
    }
}

// Deep but sane paths still make their whole tree, and every folder's path reads back.
TEST(HostileArchivesTest, DeepFolderTreeIsBuiltAndNamed) {
    test::IsolatedEnvironment env;
    ZipArchive h;
    std::string name;
    for (int i = 0; i < 1000; ++i) name += "d" + std::to_string(i % 10) + "/";
    const std::string zip = test::BuildZip({test::Member(name + "file.txt", "deep")});
    ASSERT_EQ(h.OpenFromMemory(std::vector<uint8_t>(zip.begin(), zip.end()), "deep.zip"), kStatusOk)
        << h.LastMessage();
    ASSERT_EQ(h.Folders().size(), 1000u);
    std::string expected = name.substr(0, name.size() - 1);
    for (char& ch : expected)
        if (ch == '/') ch = '\\';
    EXPECT_EQ(h.FolderPathOf(h.Folders().back().node), expected);
    EXPECT_EQ(h.FolderPathOf(h.Folders().front().node), "d0");
    const FolderNode* deepest = h.LookupFolder(expected, false);
    ASSERT_NE(deepest, nullptr);
    EXPECT_EQ(deepest->files.size(), 1u);
    // Case does not matter, and a path that goes on past the tree stops at its deepest folder.
    EXPECT_EQ(h.LookupFolder("D0\\D1", false), h.Folders()[1].node);
    EXPECT_EQ(h.LookupFolder("d0\\nothing\\more", false), h.Folders()[0].node);
}

}  // namespace
}  // namespace quorbel
