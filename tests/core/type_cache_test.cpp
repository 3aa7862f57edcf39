#include <gtest/gtest.h>

#include "core/messages.h"
#include "core/type_cache.h"
#include "core/zip/zip_archive.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

TEST(TypeCacheTest, RowsPerExtensionAsWritten) {
    SetLanguage(Language::English);
    TypeCache& cache = TypeCache::Instance();
    int upper = cache.Lookup("dir\\A.TXT");
    int lower = cache.Lookup("b.txt");
    EXPECT_NE(upper, lower);  // extensions that differ in case are separate rows
    EXPECT_EQ(cache.Lookup("other\\c.txt"), lower);
    int none = cache.Lookup("README");
    int strange = cache.Lookup("x.qzqzqz-unknown");
    EXPECT_EQ(cache.At(none).name, "Unknown");
    EXPECT_EQ(cache.At(strange).name, "Unknown");
    EXPECT_NE(cache.At(lower).name, "Unknown");  // the desktop's type database knows .txt
    EXPECT_FALSE(cache.At(lower).icon_name.empty());
}

TEST(ArchiveHandlerMemoryTest, DirectoryReadFromBytesInMemory) {
    test::IsolatedEnvironment env;
    test::ZipMemberInput m;
    m.name = "help/index.htm";
    m.data = "<html>help</html>";
    std::string bytes = test::BuildZip({m});
    ZipArchive zip;
    ASSERT_EQ(zip.OpenFromMemory(std::vector<uint8_t>(bytes.begin(), bytes.end()), "help.zip"), kStatusOk);
    ASSERT_EQ(zip.EntryCount(), 1u);
    int status = 0;
    MemoryBlock block = zip.UnpackEntry(zip.Entry(0), status);
    ASSERT_EQ(status, kUnpackOk);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data.get()), block.size), m.data);
}

}  // namespace
}  // namespace quorbel
