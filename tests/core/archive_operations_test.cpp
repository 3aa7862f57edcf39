// The shared operations, driven through a real ZIP handler whose writing primitives are
// recorded instead of performed.
#include <gtest/gtest.h>

#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/messages.h"
#include "core/settings.h"
#include "core/user_prompts.h"
#include "core/zip/zip_archive.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"
#include "platform/trash.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;

class RecordingZip : public ZipArchive {
public:
    int AddFile(const std::string& disk_path, const std::string& base, const std::string& folder) override {
        added.push_back(disk_path + "|" + base + "|" + folder);
        return kStatusOk;
    }
    int Save(const std::string&, int64_t, const std::vector<uint8_t>*) override {
        ++saves;
        return kStatusOk;
    }
    int DeleteEntry(int index, bool save_now) override {
        deleted.push_back(index);
        return ZipArchive::DeleteEntry(index, save_now);
    }
    std::vector<std::string> added;
    std::vector<int> deleted;
    int saves = 0;
};

// Members carry the builder's default stamp, 2025-04-08 12:00:00.
using test::Member;

constexpr std::time_t kMemberTime = 1744113600;  // 2025-04-08 12:00:00 UTC

class OperationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        SetProgramPassword("");
        SetPrompts(nullptr);
    }
    void TearDown() override {
        SetPrompts(nullptr);
        SetProgramPassword("");
    }
    std::string MakeZip(const std::vector<test::ZipMemberInput>& members, const std::string& name = "a.zip") {
        std::string path = env_ / name;
        test::WriteFile(path, test::BuildZip(members));
        return path;
    }
    test::IsolatedEnvironment env_;
};

TEST_F(OperationsTest, ExtractAllWritesFilesTimesAndRecordsThem) {
    ZipArchive zip;
    ASSERT_EQ(zip.Open(MakeZip({Member("d/x.txt", "xx"), Member("y.txt", "yyy")})), kStatusOk);
    std::string dest = env_ / "out";
    ASSERT_EQ(zip.ExtractAll(dest, true, true), kStatusOk);
    EXPECT_EQ(test::ReadFile(dest + "/d/x.txt"), "xx");
    EXPECT_EQ(test::ReadFile(dest + "/y.txt"), "yyy");
    struct stat st{};
    ASSERT_EQ(stat((dest + "/d/x.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, kMemberTime);
    EXPECT_EQ(zip.ExtractedFiles().size(), 2u);
    // Flat extraction drops the folders.
    ASSERT_EQ(zip.ExtractAll(env_ / "flat", false, true), kStatusOk);
    EXPECT_TRUE(fs::exists(env_ / "flat/x.txt"));
    // Clean-up mode removes what was written and the emptied folder.
    ASSERT_EQ(zip.ExtractAll(dest, true, false), kStatusOk);
    EXPECT_FALSE(fs::exists(dest + "/d"));
    EXPECT_FALSE(fs::exists(dest + "/y.txt"));
    // Nothing temporary is left behind by the writes.
    for (auto& e : fs::recursive_directory_iterator(env_ / "flat"))
        EXPECT_EQ(e.path().filename().string().find(".qbtmp-"), std::string::npos);
    // A format without a file path of its own writes a member into a file through UnpackEntry.
    EXPECT_FALSE(zip.UnpacksToFile());
    const std::string copy = env_ / "copy.txt";
    const int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(zip.UnpackEntryToFile(zip.Entry(1), fd), kUnpackOk);
    ::close(fd);
    EXPECT_EQ(test::ReadFile(copy), "yyy");
}

TEST_F(OperationsTest, NamesThatClimbOutAreRefused) {
    for (const char* name : {"../evil.txt", "a/../../evil.txt", "..\\evil.txt"}) {
        ZipArchive zip;
        ASSERT_EQ(zip.Open(MakeZip({Member(name, "bad")})), kStatusOk) << name;
        std::string dest = env_ / "dest";
        EXPECT_EQ(zip.ExtractAll(dest, true, true), kStatusFailed) << name;
        EXPECT_NE(zip.LastMessage().find("outside the destination folder"), std::string::npos);
        EXPECT_FALSE(fs::exists(env_ / "evil.txt")) << name;
        EXPECT_FALSE(fs::exists(env_.dir().path() + "/../evil.txt")) << name;
    }
    // Absolute names and drive letters land inside the destination.
    ZipArchive zip;
    ASSERT_EQ(zip.Open(MakeZip({Member("/abs/x.txt", "a"), Member("C:\\win\\y.txt", "b")})), kStatusOk);
    ASSERT_EQ(zip.ExtractAll(env_ / "dest2", true, true), kStatusOk);
    EXPECT_EQ(test::ReadFile(env_ / "dest2/abs/x.txt"), "a");
    EXPECT_EQ(test::ReadFile(env_ / "dest2/win/y.txt"), "b");
}

TEST_F(OperationsTest, SymbolicLinkInTheDestinationIsNotFollowed) {
    fs::create_directories(env_ / "dest");
    fs::create_directories(env_ / "elsewhere");
    fs::create_directory_symlink(env_ / "elsewhere", env_ / "dest/sub");
    ZipArchive zip;
    ASSERT_EQ(zip.Open(MakeZip({Member("sub/x.txt", "x")})), kStatusOk);
    EXPECT_EQ(zip.ExtractAll(env_ / "dest", true, true), kStatusFailed);
    EXPECT_FALSE(fs::exists(env_ / "elsewhere/x.txt"));
}

// A link in the member's own place is replaced like any file there, never written through.
TEST_F(OperationsTest, SymbolicLinkInTheMembersPlaceIsReplacedNotFollowed) {
    fs::create_directories(env_ / "dest/sub");
    test::WriteFile(env_ / "victim.txt", "untouched");
    fs::create_symlink(env_ / "victim.txt", env_ / "dest/sub/x.txt");
    ZipArchive zip;
    ASSERT_EQ(zip.Open(MakeZip({Member("sub/x.txt", "x")})), kStatusOk);
    zip.Extraction().overwrite = true;
    zip.Extraction().skip_older = false;
    EXPECT_EQ(zip.ExtractAll(env_ / "dest", true, true), kStatusOk);
    EXPECT_FALSE(fs::is_symlink(env_ / "dest/sub/x.txt"));
    EXPECT_EQ(test::ReadFile(env_ / "dest/sub/x.txt"), "x");
    EXPECT_EQ(test::ReadFile(env_ / "victim.txt"), "untouched");
}

TEST_F(OperationsTest, ExistingFilesFollowOverwriteAndSkipOlder) {
    struct Row {
        const char* what;
        bool overwrite, skip_older;
        std::time_t disk_time;
        std::vector<std::string> answers;
        const char* expected;
        bool reported;
    } rows[] = {
        {"overwrite, older disk file", true, true, kMemberTime - 100, {}, "new", false},
        {"overwrite, newer disk file kept", true, true, kMemberTime + 100, {}, "old", true},
        {"overwrite without skip-older", true, false, kMemberTime + 100, {}, "new", false},
        {"no overwrite, nobody answers", false, false, kMemberTime - 100, {}, "old", true},
        {"no overwrite, the user says yes", false, false, kMemberTime - 100, {"yes"}, "new", false},
        {"no overwrite, the user says no", false, false, kMemberTime - 100, {"no"}, "old", true},
    };
    for (const Row& r : rows) {
        std::string dest = env_ / "o";
        fs::remove_all(dest);
        test::WriteFile(dest + "/f.txt", "old");
        test::SetMtime(dest + "/f.txt", r.disk_time);
        ScriptedPrompts prompts(r.answers);
        SetPrompts(&prompts);
        ZipArchive zip;
        ASSERT_EQ(zip.Open(MakeZip({Member("f.txt", "new")})), kStatusOk);
        zip.Extraction().overwrite = r.overwrite;
        zip.Extraction().skip_older = r.skip_older;
        EXPECT_EQ(zip.ExtractAll(dest, true, true), kStatusOk) << r.what;
        EXPECT_EQ(test::ReadFile(dest + "/f.txt"), r.expected) << r.what;
        EXPECT_EQ(zip.SkippedReport().size(), r.reported ? 1u : 0u) << r.what;
        SetPrompts(nullptr);
    }
}

// The old file is exchanged for the new one, never written into: a second link to it keeps the
// old bytes. Bits, time and attributes arrive with the file.
TEST_F(OperationsTest, ReplacedFileIsSwappedOutWithItsAttributes) {
    const std::string dest = env_ / "r";
    test::WriteFile(dest + "/f.txt", "old");
    ASSERT_EQ(::chmod((dest + "/f.txt").c_str(), 0444), 0);
    ASSERT_EQ(::link((dest + "/f.txt").c_str(), (env_ / "other-link").c_str()), 0);
    auto ro_system = Member("f.txt", "new");
    ro_system.external_attrs = kAttrReadOnly | kAttrSystem;
    auto archived = Member("g.txt", "g");
    ZipArchive zip;
    ASSERT_EQ(zip.Open(MakeZip({ro_system, archived})), kStatusOk);
    zip.Extraction().overwrite = true;
    zip.Extraction().skip_older = false;
    ASSERT_EQ(zip.ExtractAll(dest, true, true), kStatusOk);
    EXPECT_EQ(test::ReadFile(dest + "/f.txt"), "new");
    EXPECT_EQ(test::ReadFile(env_ / "other-link"), "old");
    EXPECT_EQ(GetDosAttributes(dest + "/f.txt") & (kAttrReadOnly | kAttrSystem | kAttrArchive),
              kAttrReadOnly | kAttrSystem);
    EXPECT_EQ(GetDosAttributes(dest + "/g.txt") & (kAttrReadOnly | kAttrSystem | kAttrArchive), kAttrArchive);
    struct stat st{};
    ASSERT_EQ(::stat((dest + "/f.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(st.st_mtime, kMemberTime);
    EXPECT_EQ(st.st_nlink, 1u);
    for (auto& e : fs::directory_iterator(dest))
        EXPECT_EQ(e.path().filename().string().find(".qbtmp-"), std::string::npos);

    // A folder standing where the file goes is left as it is, and so is the new file.
    fs::create_directories(env_ / "d/sub");
    test::WriteFile(env_ / "d/new", "n");
    EXPECT_FALSE(ReplaceWithTemp(env_ / "d/new", env_ / "d/sub"));
    EXPECT_TRUE(fs::is_directory(env_ / "d/sub"));
    EXPECT_EQ(test::ReadFile(env_ / "d/new"), "n");
}

// Read when first used, not when the handler is made (the opener makes one per format tried).
TEST_F(OperationsTest, ExtractOptionsComeFromTheSettings) {
    ZipArchive zip;
    AppRegistry reg;
    reg.WriteBool("Options\\Extract", "bOverwrite", false);
    reg.WriteBool("Options\\Extract", "bSkipOlderFiles", false);
    EXPECT_FALSE(zip.Extraction().overwrite);
    EXPECT_FALSE(zip.Extraction().skip_older);
    EXPECT_TRUE(zip.Extraction().use_folder_names);
}

TEST_F(OperationsTest, EncryptedMemberWithoutPasswordIsNotWritten) {
    auto m = Member("s.txt", "secret");
    m.encrypt_with = "pw";
    ZipArchive zip;
    ASSERT_EQ(zip.Open(MakeZip({m})), kStatusOk);
    EXPECT_EQ(zip.ExtractAll(env_ / "e", true, true), kStatusNeedPassword);
    EXPECT_FALSE(fs::exists(env_ / "e/s.txt"));
    SetProgramPassword("pw");
    EXPECT_EQ(zip.ExtractAll(env_ / "e", true, true), kStatusOk);
    EXPECT_EQ(test::ReadFile(env_ / "e/s.txt"), "secret");
}

TEST_F(OperationsTest, DeleteGoesHighestFirstAndKeepsATrashCopy) {
    RecordingZip zip;
    ASSERT_EQ(zip.Open(MakeZip({Member("m0", "0"), Member("m1", "1"), Member("m2", "2"), Member("m3", "3"),
                                Member("m4", "4"), Member("m5", "5"), Member("m6", "6"), Member("m7", "7")})),
              kStatusOk);
    ASSERT_EQ(zip.DeleteEntries({2, 7, 4}, true), kStatusOk);
    EXPECT_EQ(zip.deleted, (std::vector<int>{7, 4, 2}));
    EXPECT_EQ(zip.saves, 1);
    ASSERT_EQ(zip.EntryCount(), 5u);
    EXPECT_EQ(zip.Entry(2).full_name, "m3");
    EXPECT_TRUE(zip.Modified());
    std::string trash = HomeTrashFolder();
    for (const char* name : {"m7", "m4", "m2"}) {
        EXPECT_EQ(test::ReadFile(trash + "/files/" + name), std::string(1, name[1])) << name;
        EXPECT_NE(test::ReadFile(trash + "/info/" + name + ".trashinfo").find("[Trash Info]"), std::string::npos);
    }
}

TEST_F(OperationsTest, DeleteStopsWhenTheTrashCopyCannotBeMade) {
    auto m = Member("s.txt", "secret");
    m.encrypt_with = "pw";
    RecordingZip zip;
    ASSERT_EQ(zip.Open(MakeZip({m})), kStatusOk);
    SetProgramPassword("wrong");
    EXPECT_EQ(zip.DeleteEntry(0, true), kUnpackBadPassword);
    EXPECT_EQ(zip.EntryCount(), 1u);
    EXPECT_EQ(zip.saves, 0);
    // With the trash copy switched off the member goes at once.
    AppRegistry().WriteBool("Options", "bMoveDeletedFilesToBin", false);
    RecordingZip plain;
    ASSERT_EQ(plain.Open(MakeZip({m}, "b.zip")), kStatusOk);
    EXPECT_EQ(plain.DeleteEntry(0, true), kStatusOk);
    EXPECT_EQ(plain.EntryCount(), 0u);
}

TEST_F(OperationsTest, AddFilesAppliesTheAction) {
    std::string src = env_ / "src";
    test::WriteFile(src + "/old.txt", "o");
    test::WriteFile(src + "/new.txt", "n");
    test::WriteFile(src + "/fresh.txt", "f");
    test::SetMtime(src + "/old.txt", kMemberTime - 50);   // older than its member
    test::SetMtime(src + "/fresh.txt", kMemberTime + 50); // newer than its member
    struct Row {
        int action;
        std::vector<std::string> expected;
    } rows[] = {
        {AddRequest::kAddReplace, {"/fresh.txt", "/new.txt", "/old.txt"}},
        {AddRequest::kFreshen, {"/fresh.txt"}},
        {AddRequest::kUpdate, {"/fresh.txt", "/new.txt"}},
    };
    for (const Row& r : rows) {
        RecordingZip zip;
        ASSERT_EQ(zip.Open(MakeZip({Member("old.txt", "1"), Member("FRESH.TXT", "2")})), kStatusOk);
        AddRequest request;
        request.action = r.action;
        request.base_folder = src;
        request.paths = {src + "/fresh.txt", src + "/new.txt", src + "/old.txt"};
        ASSERT_EQ(zip.AddFiles(request), kStatusOk);
        std::vector<std::string> expected;
        for (const auto& e : r.expected) expected.push_back(src + e + "|" + src + "|");
        EXPECT_EQ(zip.added, expected) << "action " << r.action;
        EXPECT_EQ(zip.saves, 1);
    }
}

TEST_F(OperationsTest, ModifyEntryRenamesAndComments) {
    RecordingZip zip;
    ASSERT_EQ(zip.Open(MakeZip({Member("a/readme.txt", "r")})), kStatusOk);
    EXPECT_EQ(zip.ModifyEntry(0, "a/readme.txt", nullptr), kStatusOk);
    EXPECT_EQ(zip.saves, 0);  // nothing changed
    EXPECT_EQ(zip.ModifyEntry(0, "b/Setup.exe", nullptr), kStatusOk);
    EXPECT_EQ(zip.saves, 1);
    EXPECT_EQ(zip.Entry(0).full_name, "b\\Setup.exe");
    EXPECT_EQ(zip.Entry(0).Folder(), "b");
    EXPECT_TRUE(zip.Entry(0).is_setup);
    std::string note = "a note";
    EXPECT_EQ(zip.ModifyEntry(0, "", &note), kStatusOk);
    EXPECT_EQ(zip.Entry(0).comment, "a note");
    std::string empty;
    EXPECT_EQ(zip.ModifyEntry(0, "", &empty), kStatusOk);  // "" counts as no comment argument
    EXPECT_EQ(zip.saves, 2);
    EXPECT_EQ(zip.ModifyEntry(0, "", nullptr), kStatusOk);  // clears it
    EXPECT_EQ(zip.Entry(0).comment, "");
    EXPECT_EQ(zip.ModifyEntry(0, "B/SETUP.EXE", nullptr), kStatusOk);  // a case change renames
    EXPECT_EQ(zip.Entry(0).full_name, "B\\SETUP.EXE");
    EXPECT_EQ(zip.ModifyEntry(9, "x", nullptr), kStatusFailed);
}

TEST_F(OperationsTest, CommitRebuiltKeepsTheOldArchiveAndItsMode) {
    struct Row {
        const char* archive;
        const char* old_name;
    } rows[] = {{"a.zip", "a.old"}, {"x.old", "x.old.old"}, {"noext", "noext.old"}};
    for (const Row& r : rows) {
        std::string path = MakeZip({Member("one", "1")}, r.archive);
        chmod(path.c_str(), 0640);
        test::WriteFile(env_ / (std::string(r.old_name)), "previous old");
        ZipArchive zip;
        ASSERT_EQ(zip.Open(path), kStatusOk);
        std::string rebuilt = zip.WorkFolder() + "/rebuilt.zip";
        test::WriteFile(rebuilt, test::BuildZip({Member("one", "1"), Member("two", "2")}));
        ASSERT_EQ(zip.CommitRebuilt(rebuilt), kStatusOk) << zip.LastMessage();
        EXPECT_EQ(zip.EntryCount(), 2u) << r.archive;  // re-read from the new file
        EXPECT_FALSE(fs::exists(rebuilt));
        struct stat st{};
        stat(path.c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0640u) << r.archive;
        ZipArchive old;
        ASSERT_EQ(old.Open(env_ / r.old_name), kStatusOk) << r.old_name;
        EXPECT_EQ(old.EntryCount(), 1u);
        // The .old that was there went to the trash first.
        EXPECT_EQ(test::ReadFile(HomeTrashFolder() + "/files/" + r.old_name), "previous old");
        fs::remove_all(HomeTrashFolder());
    }
}

TEST_F(OperationsTest, CommitRebuiltAcrossFileSystemsCopiesSafely) {
    if (!fs::exists("/dev/shm") || fs::space("/dev/shm").available < (1u << 20)) GTEST_SKIP() << "no /dev/shm";
    test::ScopedEnv tmp("TMPDIR", "/dev/shm");
    AppRegistry().WriteBool("Options", "bRenameOldFile", false);
    std::string path = MakeZip({Member("one", "1")});
    ZipArchive zip;
    ASSERT_EQ(zip.Open(path), kStatusOk);
    ASSERT_EQ(zip.WorkFolder().rfind("/dev/shm/", 0), 0u);
    std::string rebuilt = zip.WorkFolder() + "/rebuilt.zip";
    test::WriteFile(rebuilt, test::BuildZip({Member("two", "2")}));
    ASSERT_EQ(zip.CommitRebuilt(rebuilt), kStatusOk) << zip.LastMessage();
    EXPECT_EQ(zip.Entry(0).full_name, "two");
    EXPECT_FALSE(fs::exists(env_ / "a.old"));
    for (auto& e : fs::directory_iterator(env_.dir().path()))
        EXPECT_EQ(e.path().filename().string().find(".qbtmp-"), std::string::npos);
}

TEST_F(OperationsTest, ViewOpensTheExtractedCopyThroughTheLauncher) {
    RecordingLauncher launcher;
    SetLauncher(&launcher);
    ZipArchive zip;
    ASSERT_EQ(zip.Open(MakeZip({Member("dir/v.txt", "view me")})), kStatusOk);
    EXPECT_EQ(zip.ViewEntry(0), kStatusOk);
    ASSERT_EQ(launcher.calls.size(), 1u);
    EXPECT_EQ(launcher.calls[0], "open " + zip.WorkFolder() + "/v.txt");
    EXPECT_EQ(test::ReadFile(zip.WorkFolder() + "/v.txt"), "view me");
    // A second view replaces the copy whatever the extract options say.
    zip.Extraction().overwrite = false;
    EXPECT_EQ(zip.ViewEntry(0), kStatusOk);
    EXPECT_EQ(zip.DragEntries({0}), kStatusOk);
    EXPECT_EQ(launcher.calls.back(), "drag " + zip.DragFolder() + "/dir/v.txt");
    SetLauncher(nullptr);
}

}  // namespace
}  // namespace quorbel
