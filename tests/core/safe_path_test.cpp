#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

#include "core/safe_path.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

TEST(SafePathTest, NamesStayBelowTheDestination) {
    struct Row {
        const char* stored;
        const char* expected;  // nullptr: refused
    } rows[] = {
        {"a\\b\\c.txt", "a/b/c.txt"},
        {"a/b//c.txt", "a/b/c.txt"},
        {"/etc/passwd", "etc/passwd"},
        {"\\\\server\\share\\x", "server/share/x"},
        {"C:\\Windows\\x.dll", "Windows/x.dll"},
        {"c:x.txt", "x.txt"},
        {"./a/./b", "a/b"},
        {"a/../b", "b"},
        {"../evil.txt", nullptr},
        {"a/../../evil.txt", nullptr},
        {"..\\..\\evil.txt", nullptr},
        {"/../x", nullptr},
        {"", nullptr},
        {"..", nullptr},
        {"a/..", nullptr},
    };
    for (const Row& r : rows) {
        auto got = SafeRelativePath(r.stored);
        if (r.expected) {
            ASSERT_TRUE(got.has_value()) << r.stored;
            EXPECT_EQ(*got, r.expected) << r.stored;
        } else {
            EXPECT_FALSE(got.has_value()) << r.stored << " -> " << got.value_or("");
        }
    }
}

TEST(SafePathTest, SymbolicLinksInTheDestinationAreFollowedWhenChecking) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "dest");
    std::filesystem::create_directories(dir / "outside");
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "dest/link").c_str()), 0);
    EXPECT_TRUE(StaysInside(dir / "dest", dir / "dest/a/b.txt"));
    EXPECT_FALSE(StaysInside(dir / "dest", dir / "dest/link/b.txt"));
    EXPECT_FALSE(StaysInside(dir / "dest", dir / "elsewhere.txt"));
    // A folder may be the destination itself; a linked folder or the parent may not.
    EXPECT_TRUE(FolderStaysInside(dir / "dest", dir / "dest"));
    EXPECT_TRUE(FolderStaysInside(dir / "dest", dir / "dest/a/b"));
    EXPECT_FALSE(FolderStaysInside(dir / "dest", dir / "dest/link"));
    EXPECT_FALSE(FolderStaysInside(dir / "dest", dir / "dest/link/new"));
    EXPECT_FALSE(FolderStaysInside(dir / "dest", dir.path()));
    EXPECT_FALSE(FolderStaysInside(dir / "dest", dir / "dest/.."));
    EXPECT_FALSE(FolderStaysInside(dir / "dest", dir / "dest/a/../.."));
    // A link below the destination that points inside it is followed and allowed.
    std::filesystem::create_directories(dir / "dest/real");
    ASSERT_EQ(symlink((dir / "dest/real").c_str(), (dir / "dest/inner").c_str()), 0);
    EXPECT_TRUE(FolderStaysInside(dir / "dest", dir / "dest/inner"));
    EXPECT_TRUE(FolderStaysInside(dir / "dest", dir / "dest/inner/new"));
    // The destination reached through a link of its own is still itself.
    ASSERT_EQ(symlink((dir / "dest").c_str(), (dir / "alias").c_str()), 0);
    EXPECT_TRUE(FolderStaysInside(dir / "alias", dir / "alias/real"));
    EXPECT_TRUE(FolderStaysInside(dir / "alias", dir / "dest/real"));
    EXPECT_FALSE(FolderStaysInside(dir / "alias", dir / "alias/link"));
}

}  // namespace
}  // namespace quorbel
