// The ARJ, LHA and ZOO handlers with the real archivers Debian has (arj, jlha): changes made
// through them, judged and committed by the handler, and read back natively.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "core/messages.h"
#include "core/settings.h"
#include "core/status.h"
#include "formats/arj/arj_archive.h"
#include "formats/format_table.h"
#include "formats/lha/lha_archive.h"
#include "formats/zoo/zoo_archive.h"
#include "platform/registry_access.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

std::string Unpacked(ArchiveHandler& archive, const std::string& name, int* status_out = nullptr) {
    int index = archive.FindEntry(name);
    if (index < 0) return "<missing " + name + ">";
    int status = 0;
    MemoryBlock block = archive.UnpackEntry(archive.Entry(size_t(index)), status);
    if (status_out) *status_out = status;
    if (status != kUnpackOk) return "<status " + std::to_string(status) + ": " + archive.LastMessage() + ">";
    return std::string(reinterpret_cast<const char*>(block.data.get()), block.size);
}

class RealArchiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        SetProgramPassword("");
        LoadHandlerOptions();
        umask(022);
        fs::create_directories(env_ / "src/sub/deep");
        WriteFile(env_ / "src/a.txt", "top a");
        WriteFile(env_ / "src/README", "no dot in this name");
        WriteFile(env_ / "src/sub/a.txt", "the sub a");
        WriteFile(env_ / "src/sub/deep/tool.sh", "#!/bin/sh\necho hi\n");
        chmod((env_ / "src/sub/deep/tool.sh").c_str(), 0755);
    }
    void TearDown() override { SetProgramPassword(""); }
    test::IsolatedEnvironment env_;
};

TEST_F(RealArchiverTest, ArjCreateAddDeleteGarbleExtract) {
    QUORBEL_REQUIRE_TOOL("arj");
    AppRegistry().WriteText("Programs", "ARJ", "arj");  // a bare name, found on PATH
    const std::string path = env_ / "t.arj";
    ArjArchive arj;
    ASSERT_EQ(arj.CreateFromFolder(path, env_ / "src"), kStatusOk) << arj.LastMessage();
    EXPECT_EQ(test::Run({"arj", "t", path}).exit_code, 0);
    ASSERT_EQ(arj.FileCount(), 4);
    EXPECT_EQ(Unpacked(arj, "sub\\a.txt"), "the sub a");
    EXPECT_EQ(Unpacked(arj, "a.txt"), "top a");
    EXPECT_EQ(Unpacked(arj, "README"), "no dot in this name");
    // A Unix mode stays a Unix mode: the script extracts executable, not read-only + system.
    int tool = arj.FindEntry("sub\\deep\\tool.sh");
    ASSERT_GE(tool, 0);
    EXPECT_EQ(arj.Entry(size_t(tool)).unix_mode & 0777, 0755u);
    EXPECT_EQ(arj.Entry(size_t(tool)).attributes & (0x01 | 0x04), 0u);
    ASSERT_EQ(arj.ExtractEntryAt(tool, env_ / "out", true, nullptr, true), kStatusOk);
    struct stat st{};
    ASSERT_EQ(stat((env_ / "out/sub/deep/tool.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u) << std::oct << arj.Entry(size_t(tool)).unix_mode;

    // A file below the base folder keeps its relative path.
    fs::create_directories(env_ / "more/x");
    WriteFile(env_ / "more/x/y.txt", "why");
    ASSERT_EQ(arj.AddFile(env_ / "more/x/y.txt", env_ / "more", ""), kStatusOk) << arj.LastMessage();
    EXPECT_EQ(Unpacked(arj, "x\\y.txt"), "why");
    EXPECT_LT(arj.FindEntry("y.txt"), 0);

    // Delete one of two same-named members.
    ASSERT_EQ(arj.DeleteEntry(arj.FindEntry("sub\\a.txt"), true), kStatusOk) << arj.LastMessage();
    EXPECT_LT(arj.FindEntry("sub\\a.txt"), 0);
    EXPECT_EQ(Unpacked(arj, "a.txt"), "top a");
    EXPECT_TRUE(fs::exists(env_ / "t.old"));
    EXPECT_EQ(test::Run({"arj", "t", path}).exit_code, 0);

    // Garbled with a password; unpacked through the archiver, selected by full stored name
    // while a same-named member sits at the top.
    SetProgramPassword("s3cret");
    WriteFile(env_ / "more/x/a.txt", "garbled sub a");
    ASSERT_EQ(arj.AddFile(env_ / "more/x/a.txt", env_ / "more", ""), kStatusOk) << arj.LastMessage();
    int secret = arj.FindEntry("x\\a.txt");
    ASSERT_GE(secret, 0);
    EXPECT_TRUE(arj.Entry(size_t(secret)).encrypted);
    EXPECT_EQ(Unpacked(arj, "x\\a.txt"), "garbled sub a");
    EXPECT_EQ(test::Run({"arj", "t", "-gs3cret", path}).exit_code, 0);
    SetProgramPassword("");
    int status = 0;
    Unpacked(arj, "x\\a.txt", &status);
    EXPECT_EQ(status, kUnpackNeedPassword);
}

TEST_F(RealArchiverTest, ArjFailureLeavesTheArchiveAndNoOld) {
    QUORBEL_REQUIRE_TOOL("arj");
    AppRegistry().WriteText("Programs", "ARJ", "arj");
    const std::string path = env_ / "t.arj";
    {
        ArjArchive arj;
        ASSERT_EQ(arj.CreateFromFolder(path, env_ / "src"), kStatusOk) << arj.LastMessage();
    }
    const std::string original = ReadFile(path);
    AppRegistry().WriteText("Programs", "ARJ", "/bin/false");
    ArjArchive arj;
    ASSERT_EQ(arj.Open(path), kStatusOk);
    EXPECT_EQ(arj.DeleteEntry(arj.FindEntry("a.txt"), true), kStatusFailed);
    EXPECT_NE(arj.LastMessage().find("exit status 1"), std::string::npos) << arj.LastMessage();
    EXPECT_EQ(ReadFile(path), original);
    EXPECT_FALSE(fs::exists(env_ / "t.old"));
    // Creating over it with a failing archiver keeps it too.
    EXPECT_EQ(arj.CreateFromFolder(path, env_ / "src"), kStatusFailed);
    EXPECT_EQ(ReadFile(path), original);
}

TEST_F(RealArchiverTest, JlhaAddsAndDeletesLhaMembers) {
    QUORBEL_REQUIRE_TOOL("jlha");
    AppRegistry().WriteText("Programs", "LHA", "jlha");
    const std::string path = env_ / "t.lzh";
    LhaArchive lha;
    ASSERT_EQ(lha.CreateFromFolder(path, env_ / "src"), kStatusOk) << lha.LastMessage();
    EXPECT_EQ(lha.FileCount(), 4);
    EXPECT_EQ(Unpacked(lha, "sub\\a.txt"), "the sub a");
    EXPECT_EQ(Unpacked(lha, "README"), "no dot in this name");
    ASSERT_EQ(lha.DeleteEntry(lha.FindEntry("sub\\a.txt"), true), kStatusOk) << lha.LastMessage();
    EXPECT_LT(lha.FindEntry("sub\\a.txt"), 0);
    EXPECT_EQ(Unpacked(lha, "a.txt"), "top a");
    if (test::HaveTool("lhasa")) {
        EXPECT_EQ(test::Run({"lhasa", "t", path}).exit_code, 0);
    }
}

TEST_F(RealArchiverTest, LhasaServesExtractionOnly) {
    QUORBEL_REQUIRE_TOOL("lhasa");
    AppRegistry().WriteText("Programs", "LHA", "lhasa");
    LhaArchive lha;
    ASSERT_EQ(lha.Open(test::TestData("lha/lha213_lh5.lzh")), kStatusOk);
    // Changes are refused: lhasa cannot make them.
    WriteFile(env_ / "n.txt", "n");
    EXPECT_EQ(lha.AddFile(env_ / "n.txt", env_.dir().path(), ""), kStatusFailed);
    EXPECT_EQ(lha.LastMessage(), FormatText(MessageTemplate(kMsgUnsupportedOperation).c_str(), "LHA"));
}

TEST_F(RealArchiverTest, UnarExtractsByFullStoredName) {
    QUORBEL_REQUIRE_TOOL("unar");
    AppRegistry().WriteText("Programs", "ARJ", "unar");
    ArjArchive arj;
    ASSERT_EQ(arj.Open(test::TestData("arj/Arj.method1.arj")), kStatusOk);
    int index = arj.FindEntry("EXE\\TEST.EXE");
    ASSERT_GE(index, 0);
    int status = 0;
    // The archiver's way (the one garbled members take), checked against the native one.
    MemoryBlock external = arj.ExternalArchive::UnpackEntry(arj.Entry(size_t(index)), status);
    ASSERT_EQ(status, kUnpackOk) << arj.LastMessage();
    MemoryBlock native = arj.UnpackEntry(arj.Entry(size_t(index)), status);
    ASSERT_EQ(status, kUnpackOk);
    ASSERT_EQ(external.size, native.size);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(external.data.get()), external.size),
              std::string(reinterpret_cast<char*>(native.data.get()), native.size));
    const std::vector<std::string>& argv = arj.LastCommand();
    ASSERT_FALSE(argv.empty());
    EXPECT_EQ(argv.back(), "EXE/TEST.EXE");
    // unar makes no archives.
    WriteFile(env_ / "n.txt", "n");
    EXPECT_EQ(arj.AddFile(env_ / "n.txt", env_.dir().path(), ""), kStatusFailed);
}

TEST_F(RealArchiverTest, ZooRefusesFolderTrees) {
    AppRegistry().WriteText("Programs", "ZOO", "/bin/true");
    ZooArchive zoo;
    EXPECT_EQ(zoo.CreateFromFolder(env_ / "t.zoo", env_ / "src"), kStatusFailed);
    EXPECT_EQ(zoo.LastMessage(), FormatText(MessageTemplate(kMsgUnsupportedOperation).c_str(), "ZOO"));
    EXPECT_FALSE(fs::exists(env_ / "t.zoo"));
}

TEST(NewFormatsInTheTable, OpenInOrder) {
    struct Row {
        const char* file;
        const char* format;
    };
    const Row rows[] = {{"arj/t.arj", "ARJ"}, {"lha/lha213_lh5.lzh", "LHA"}, {"zoo/t.zoo", "ZOO"},
                       {"ace/t.ace", "ACE"}};
    for (const Row& row : rows) {
        int status = 0;
        auto handler = OpenArchiveFile(test::TestData(row.file), status);
        ASSERT_TRUE(handler) << row.file;
        EXPECT_EQ(handler->FormatName(), row.format);
    }
    std::vector<std::string> order;
    for (const FormatRow& r : FormatTable()) order.push_back(r.name);
    std::vector<std::string> expected = {"ZIP", "ARJ", "LHA", "ZOO", "RAR", "UUE", "GZ", "TAR", "ACE", "CAB", "JAR"};
    EXPECT_EQ(order, expected);
}

}  // namespace
}  // namespace quorbel
