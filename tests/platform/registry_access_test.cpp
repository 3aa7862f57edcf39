#include "platform/registry_access.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/registry_hive.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScopedEnv;
using test::TempDir;
using test::WriteFile;

constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;

// Every test gets its own registry folder, which does not exist yet.
class RegistryAccessTest : public ::testing::Test {
protected:
    std::string Folder() const { return dir_ / "registry"; }
    std::string UserHive() const { return Folder() + "/HKEY_CURRENT_USER.reg"; }
    std::vector<std::string> FolderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Folder()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir_;
    ScopedEnv env_{"QUORBEL_REGISTRY_DIR", dir_ / "registry"};
    RegistryAccess reg_;
};

TEST_F(RegistryAccessTest, ReadsOfMissingValuesGiveTheFallbackAndCreateNothing) {
    ASSERT_TRUE(reg_.WriteText(RegistryRoot::LocalMachine, "Other", "v", "1"));
    const std::string path = "Software\\Dorvex\\Quorbel\\Options\\Extract";
    struct Case {
        const char* what;
        std::function<bool()> read_gives_fallback;
    };
    const std::vector<Case> cases = {
        {"ReadText", [&] { return reg_.ReadText(kUser, path, "bOverwrite", "fb") == "fb"; }},
        {"ReadInteger", [&] { return reg_.ReadInteger(kUser, path, "bOverwrite", -9) == -9; }},
        {"ReadBinary", [&] { return !reg_.ReadBinary(kUser, path, "Blob").has_value(); }},
        {"KeyExists", [&] { return !reg_.KeyExists(kUser, path); }},
        {"EnumTextValues", [&] { return reg_.EnumTextValues(kUser, path).empty(); }},
        {"EnumNonTextValues", [&] { return reg_.EnumNonTextValues(kUser, path).empty(); }},
        {"EnumSubKeys", [&] { return reg_.EnumSubKeys(kUser, path).empty(); }},
    };
    for (const Case& c : cases) EXPECT_TRUE(c.read_gives_fallback()) << c.what;
    // No hive file for the current user appeared; only the other root's files are there.
    EXPECT_EQ(FolderEntries(),
              (std::vector<std::string>{"HKEY_LOCAL_MACHINE.reg", "HKEY_LOCAL_MACHINE.reg.lock"}));
}

TEST_F(RegistryAccessTest, ReadsWithoutAFolderCreateNoFolder) {
    EXPECT_EQ(reg_.ReadText(kUser, "A", "v", "fb"), "fb");
    EXPECT_EQ(reg_.ReadInteger(kUser, "A", "v", 7), 7);
    EXPECT_FALSE(reg_.KeyExists(kUser, "A"));
    EXPECT_TRUE(reg_.DeleteValue(kUser, "A", "v"));  // nothing to delete
    EXPECT_TRUE(reg_.DeleteKey(kUser, "A"));
    EXPECT_FALSE(fs::exists(Folder()));
}

TEST_F(RegistryAccessTest, FirstWriteCreatesAPrivateFolder) {
    ASSERT_TRUE(reg_.WriteText(kUser, "A", "v", "1"));
    struct stat st;
    ASSERT_EQ(stat(Folder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // The saved file replaced a temporary one; none is left behind.
    EXPECT_EQ(FolderEntries(),
              (std::vector<std::string>{"HKEY_CURRENT_USER.reg", "HKEY_CURRENT_USER.reg.lock"}));
}

TEST_F(RegistryAccessTest, EachRootHasItsOwnHive) {
    const std::vector<std::pair<RegistryRoot, std::string>> roots = {
        {RegistryRoot::CurrentUser, "HKEY_CURRENT_USER"},
        {RegistryRoot::LocalMachine, "HKEY_LOCAL_MACHINE"},
        {RegistryRoot::ClassesRoot, "HKEY_CLASSES_ROOT"},
    };
    for (const auto& [root, name] : roots) ASSERT_TRUE(reg_.WriteText(root, "K", "root", name));
    for (const auto& [root, name] : roots) {
        EXPECT_EQ(reg_.ReadText(root, "K", "root"), name);
        EXPECT_EQ(ReadFile(Folder() + "/" + name + ".reg"),
                  "REGEDIT4\n\n[" + name + "\\K]\n\"root\"=\"" + name + "\"\n");
    }
}

TEST_F(RegistryAccessTest, WriteCreatesTheIntermediateKeys) {
    ASSERT_TRUE(reg_.WriteText(kUser, "Software\\Dorvex\\Quorbel\\Options\\Extract", "bOverwrite",
                               "1"));
    for (const char* path : {"Software", "Software\\Dorvex", "Software\\Dorvex\\Quorbel",
                             "Software\\Dorvex\\Quorbel\\Options",
                             "Software\\Dorvex\\Quorbel\\Options\\Extract"})
        EXPECT_TRUE(reg_.KeyExists(kUser, path)) << path;
    EXPECT_EQ(reg_.EnumSubKeys(kUser, "Software\\Dorvex"), (std::vector<std::string>{"Quorbel"}));
    EXPECT_TRUE(reg_.KeyExists(kUser, ""));  // the root
}

TEST_F(RegistryAccessTest, TrailingBackslashAddressesTheSameKey) {
    struct Case {
        std::string write_path;
        std::string read_path;
    };
    const std::vector<Case> cases = {
        {"A\\B\\", "A\\B"},
        {"A\\B", "A\\B\\"},
        {"A\\B\\", "A\\B\\"},
        {"C\\", "C"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "v" + std::to_string(n++);
        ASSERT_TRUE(reg_.WriteText(kUser, c.write_path, name, "x")) << c.write_path;
        EXPECT_EQ(reg_.ReadText(kUser, c.read_path, name), "x") << c.read_path;
        EXPECT_TRUE(reg_.KeyExists(kUser, c.read_path)) << c.read_path;
    }
    EXPECT_EQ(reg_.EnumSubKeys(kUser, "A"), (std::vector<std::string>{"B"}));
    EXPECT_EQ(reg_.EnumSubKeys(kUser, ""), (std::vector<std::string>{"A", "C"}));
}

TEST_F(RegistryAccessTest, IntegersAreDecimalText) {
    struct Case {
        std::string stored;
        long long expected;
    };
    const std::vector<Case> cases = {
        {"42", 42},
        {"-7", -7},
        {"+5", 5},
        {"  12", 12},
        {"0", 0},
        {"abc", 0},
        {"", 0},
        {"12abc", 12},
        {"3.9", 3},
        {"0x10", 0},
        {"99999999999999999999", LLONG_MAX},
        {"-99999999999999999999", LLONG_MIN},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(reg_.WriteText(kUser, "N", "n", c.stored));
        EXPECT_EQ(reg_.ReadInteger(kUser, "N", "n", 77), c.expected) << '"' << c.stored << '"';
    }
    for (long long value : {0LL, 1LL, -123LL, LLONG_MAX, LLONG_MIN}) {
        ASSERT_TRUE(reg_.WriteInteger(kUser, "N", "n", value));
        EXPECT_EQ(reg_.ReadText(kUser, "N", "n"), std::to_string(value));
        EXPECT_EQ(reg_.ReadInteger(kUser, "N", "n", 77), value);
    }
    EXPECT_EQ(reg_.ReadInteger(kUser, "N", "missing", 77), 77);
    ASSERT_TRUE(reg_.WriteBinary(kUser, "N", "blob", {'4', '2'}));
    EXPECT_EQ(reg_.ReadInteger(kUser, "N", "blob", 77), 77);  // not text
}

TEST_F(RegistryAccessTest, NamesCompareWithoutCaseAndKeepTheirCase) {
    ASSERT_TRUE(reg_.WriteText(kUser, "Options\\Extract", "bOverwrite", "0"));
    ASSERT_TRUE(reg_.WriteText(kUser, "OPTIONS\\EXTRACT", "BOVERWRITE", "1"));
    ASSERT_TRUE(reg_.WriteText(kUser, "options\\AddFiles", "Action", "2"));
    EXPECT_EQ(reg_.ReadText(kUser, "options\\extract", "boverwrite"), "1");
    EXPECT_EQ(reg_.EnumTextValues(kUser, "Options\\Extract"),
              (RegistryAccess::TextValues{{"bOverwrite", "1"}}));
    EXPECT_EQ(reg_.EnumSubKeys(kUser, ""), (std::vector<std::string>{"Options"}));
    EXPECT_EQ(reg_.EnumSubKeys(kUser, "OPTIONS"), (std::vector<std::string>{"Extract", "AddFiles"}));
}

TEST_F(RegistryAccessTest, TextsRoundTripThroughTheFile) {
    const std::vector<std::string> texts = {
        "",
        "C:\\Program Files\\",
        "\"quoted\"",
        "line one\nline two\r\n",
        "tab\tand\x01control",
        std::string("nul\0inside", 10),
        "\xc3\xa9\xe2\x82\xac\xf0\x9f\x93\xa6",  // é € and a four-byte character
        "ends with backslash\\",
    };
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string name = "t" + std::to_string(i) + " \"" + texts[i] + "\"";
        ASSERT_TRUE(reg_.WriteText(kUser, "Texts", name, texts[i]));
    }
    // A fresh parse of the file, not only a read back through the same code path.
    RegistryHive hive("HKEY_CURRENT_USER");
    ASSERT_EQ(hive.Load(UserHive()), RegistryHive::LoadResult::Loaded);
    const HiveKey* key = hive.FindKey({"Texts"});
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->values().size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string name = "t" + std::to_string(i) + " \"" + texts[i] + "\"";
        EXPECT_EQ(key->values()[i].name, name);
        EXPECT_EQ(reg_.ReadText(kUser, "Texts", name), texts[i]) << i;
    }
}

TEST_F(RegistryAccessTest, BinaryValuesRoundTrip) {
    std::vector<uint8_t> all_bytes;
    for (int b = 0; b < 256; ++b) all_bytes.push_back(uint8_t(b));
    const std::vector<std::vector<uint8_t>> blocks = {{}, {0x00}, {0xde, 0xad, 0xbe, 0xef}, all_bytes};
    for (size_t i = 0; i < blocks.size(); ++i)
        ASSERT_TRUE(reg_.WriteBinary(kUser, "Bin", "b" + std::to_string(i), blocks[i]));
    ASSERT_TRUE(reg_.WriteText(kUser, "Bin", "text", "t"));
    for (size_t i = 0; i < blocks.size(); ++i) {
        auto read = reg_.ReadBinary(kUser, "Bin", "B" + std::to_string(i));
        ASSERT_TRUE(read.has_value()) << i;
        EXPECT_EQ(*read, blocks[i]) << i;
        EXPECT_EQ(reg_.ReadText(kUser, "Bin", "b" + std::to_string(i), "fb"), "fb") << i;
    }
    EXPECT_FALSE(reg_.ReadBinary(kUser, "Bin", "text").has_value());
    EXPECT_EQ(reg_.EnumNonTextValues(kUser, "Bin"),
              (std::vector<std::string>{"b0", "b1", "b2", "b3"}));
    EXPECT_EQ(reg_.EnumTextValues(kUser, "Bin"), (RegistryAccess::TextValues{{"text", "t"}}));

    // A value changes its kind when written as the other kind.
    ASSERT_TRUE(reg_.WriteText(kUser, "Bin", "b2", "now text"));
    EXPECT_EQ(reg_.ReadText(kUser, "Bin", "b2"), "now text");
    EXPECT_FALSE(reg_.ReadBinary(kUser, "Bin", "b2").has_value());
}

TEST_F(RegistryAccessTest, DeletingAKeyRemovesItsNestedSubKeys) {
    for (const char* path : {"Top\\A\\B\\C", "Top\\A\\B\\D", "Top\\A\\E", "Top\\Keep"})
        ASSERT_TRUE(reg_.WriteText(kUser, path, "v", path));
    ASSERT_TRUE(reg_.WriteBinary(kUser, "Top\\A\\B", "blob", {1}));

    ASSERT_TRUE(reg_.DeleteKey(kUser, "TOP\\a\\"));
    for (const char* path : {"Top\\A", "Top\\A\\B", "Top\\A\\B\\C", "Top\\A\\B\\D", "Top\\A\\E"})
        EXPECT_FALSE(reg_.KeyExists(kUser, path)) << path;
    EXPECT_EQ(reg_.EnumSubKeys(kUser, "Top"), (std::vector<std::string>{"Keep"}));
    EXPECT_EQ(reg_.ReadText(kUser, "Top\\Keep", "v"), "Top\\Keep");
    EXPECT_EQ(ReadFile(UserHive()).find("Top\\A"), std::string::npos);

    EXPECT_FALSE(reg_.DeleteKey(kUser, ""));  // a root is never deleted
    EXPECT_FALSE(reg_.DeleteKey(kUser, "\\"));
    EXPECT_TRUE(reg_.KeyExists(kUser, "Top\\Keep"));
}

TEST_F(RegistryAccessTest, DeletingAValueRemovesOnlyThatValue) {
    ASSERT_TRUE(reg_.WriteText(kUser, "K", "a", "1"));
    ASSERT_TRUE(reg_.WriteText(kUser, "K", "b", "2"));
    ASSERT_TRUE(reg_.WriteBinary(kUser, "K", "c", {3}));
    ASSERT_TRUE(reg_.DeleteValue(kUser, "K", "A"));
    ASSERT_TRUE(reg_.DeleteValue(kUser, "K", "c"));
    EXPECT_EQ(reg_.EnumTextValues(kUser, "K"), (RegistryAccess::TextValues{{"b", "2"}}));
    EXPECT_TRUE(reg_.EnumNonTextValues(kUser, "K").empty());
    EXPECT_TRUE(reg_.KeyExists(kUser, "K"));  // an empty key stays
    EXPECT_EQ(ReadFile(UserHive()), "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"b\"=\"2\"\n");
    ASSERT_TRUE(reg_.DeleteValue(kUser, "K", "b"));
    EXPECT_EQ(ReadFile(UserHive()), "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n");
}

TEST_F(RegistryAccessTest, EnumerationsKeepCreationOrder) {
    const std::vector<std::string> order = {"zulu", "Alpha", "mike", "Bravo"};
    for (const std::string& name : order) {
        ASSERT_TRUE(reg_.WriteText(kUser, "E", name, name + "!"));
        ASSERT_TRUE(reg_.WriteText(kUser, "E\\" + name, "v", "1"));
    }
    RegistryAccess::TextValues expected;
    for (const std::string& name : order) expected.emplace_back(name, name + "!");
    EXPECT_EQ(reg_.EnumTextValues(kUser, "E"), expected);
    EXPECT_EQ(reg_.EnumSubKeys(kUser, "E"), order);
}

TEST_F(RegistryAccessTest, DamagedHiveLoadsWhatItCanAndWritesKeepIt) {
    WriteFile(UserHive(),
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Good]\r\n\"a\"=\"1\"\r\n"
              "\"broken\"=\"no end\r\n"
              "\"b\"=hex:0z\r\n"
              "\"c\"=hex:02\r\n"
              "[HKEY_CURRENT_USER\\Cut");
    EXPECT_EQ(reg_.EnumTextValues(kUser, "Good"), (RegistryAccess::TextValues{{"a", "1"}}));
    EXPECT_EQ(reg_.ReadBinary(kUser, "Good", "c"), (std::vector<uint8_t>{2}));
    EXPECT_EQ(reg_.ReadText(kUser, "Good", "broken", "fb"), "fb");
    EXPECT_EQ(reg_.EnumSubKeys(kUser, ""), (std::vector<std::string>{"Good"}));

    // The next write saves the part that was understood, in the clean form.
    ASSERT_TRUE(reg_.WriteText(kUser, "Good", "d", "4"));
    EXPECT_EQ(ReadFile(UserHive()),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Good]\n\"a\"=\"1\"\n\"c\"=hex:02\n\"d\"=\"4\"\n");
}

TEST_F(RegistryAccessTest, WritesSeeChangesMadeByOthersMeanwhile) {
    ASSERT_TRUE(reg_.WriteText(kUser, "K", "mine", "1"));
    // Another process replaces the file between two of our writes.
    RegistryHive other("HKEY_CURRENT_USER");
    ASSERT_EQ(other.Load(UserHive()), RegistryHive::LoadResult::Loaded);
    other.CreateKey({"K"}).SetText("theirs", "2");
    ASSERT_TRUE(other.Save(UserHive()));
    ASSERT_TRUE(reg_.WriteText(kUser, "K", "mine2", "3"));
    EXPECT_EQ(reg_.EnumTextValues(kUser, "K"),
              (RegistryAccess::TextValues{{"mine", "1"}, {"theirs", "2"}, {"mine2", "3"}}));
}

TEST_F(RegistryAccessTest, ReadsFollowTheFileByteForByte) {
    // Reads share one parse while the file is unchanged; an edit of the same size in place
    // (same inode, perhaps the same time stamp) must still be seen, as must the file going.
    ASSERT_TRUE(reg_.WriteText(kUser, "K", "v", "1"));
    EXPECT_EQ(reg_.ReadInteger(kUser, "K", "v", -1), 1);
    std::string text = ReadFile(UserHive());
    text.replace(text.find("\"v\"=\"1\""), 7, "\"v\"=\"2\"");
    WriteFile(UserHive(), text);
    EXPECT_EQ(reg_.ReadInteger(kUser, "K", "v", -1), 2);
    ASSERT_EQ(unlink(UserHive().c_str()), 0);
    EXPECT_EQ(reg_.ReadInteger(kUser, "K", "v", -1), -1);
    EXPECT_FALSE(reg_.KeyExists(kUser, "K"));
}

TEST_F(RegistryAccessTest, ReadingOnceKeepsItsFirstLoadUntilItWrites) {
    ASSERT_TRUE(reg_.WriteText(kUser, "K", "v", "1"));
    RegistryAccess once(RegistryAccess::Reading::Once);
    EXPECT_EQ(once.ReadInteger(kUser, "K", "v", -1), 1);
    // Another process changes the value, then the file goes: the group still reads its moment.
    ASSERT_TRUE(reg_.WriteText(kUser, "K", "v", "2"));
    EXPECT_EQ(once.ReadInteger(kUser, "K", "v", -1), 1);
    EXPECT_EQ(once.EnumTextValues(kUser, "K"), (RegistryAccess::TextValues{{"v", "1"}}));
    ASSERT_EQ(unlink(UserHive().c_str()), 0);
    EXPECT_TRUE(once.KeyExists(kUser, "K"));
    EXPECT_FALSE(reg_.KeyExists(kUser, "K"));
    // Its own write goes to the file as it is now, and its reads follow from then on.
    ASSERT_TRUE(once.WriteText(kUser, "K", "w", "3"));
    EXPECT_EQ(once.ReadInteger(kUser, "K", "v", -1), -1);
    EXPECT_EQ(once.ReadInteger(kUser, "K", "w", -1), 3);
    // Roots are held apart.
    ASSERT_TRUE(reg_.WriteText(RegistryRoot::LocalMachine, "M", "x", "4"));
    EXPECT_EQ(once.ReadInteger(RegistryRoot::LocalMachine, "M", "x", -1), 4);
    // A new object reads afresh.
    ASSERT_TRUE(reg_.WriteText(kUser, "K", "w", "5"));
    EXPECT_EQ(RegistryAccess(RegistryAccess::Reading::Once).ReadInteger(kUser, "K", "w", -1), 5);
    EXPECT_EQ(once.ReadInteger(kUser, "K", "w", -1), 3);
}

TEST_F(RegistryAccessTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kWrites = 50;
    std::vector<std::unique_ptr<test::ChildProcess>> children;
    for (const char* prefix : {"first", "second"}) {
        // No gtest macros in the child: its verdict is its exit code.
        children.push_back(std::make_unique<test::ChildProcess>([prefix] {
            RegistryAccess reg;
            int failures = 0;
            for (int i = 0; i < kWrites; ++i) {
                std::string name = std::string(prefix) + std::to_string(i);
                if (!reg.WriteText(kUser, "Race", name, name)) ++failures;
            }
            return failures == 0 ? 0 : 1;
        }));
        ASSERT_TRUE(children.back()->Started());
    }
    for (const auto& child : children) EXPECT_EQ(child->Wait(), 0);
    const RegistryAccess::TextValues& values = reg_.EnumTextValues(kUser, "Race");
    EXPECT_EQ(values.size(), size_t(2 * kWrites));
    for (const char* prefix : {"first", "second"})
        for (int i = 0; i < kWrites; ++i) {
            std::string name = std::string(prefix) + std::to_string(i);
            EXPECT_EQ(reg_.ReadText(kUser, "Race", name, "<lost>"), name);
        }
}

TEST_F(RegistryAccessTest, UnwritableFolderMakesWritesFail) {
    // Root ignores permission bits, so the folder is made impossible instead: its parent is a
    // regular file.
    WriteFile(dir_ / "file", "x");
    ScopedEnv env("QUORBEL_REGISTRY_DIR", dir_ / "file/registry");
    struct Case {
        const char* what;
        std::function<bool()> write;
    };
    const std::vector<Case> cases = {
        {"WriteText", [&] { return reg_.WriteText(kUser, "A\\B", "v", "1"); }},
        {"WriteInteger", [&] { return reg_.WriteInteger(kUser, "A\\B", "v", 1); }},
        {"WriteBinary", [&] { return reg_.WriteBinary(kUser, "A\\B", "v", {1}); }},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.write()) << c.what;
        EXPECT_FALSE(reg_.KeyExists(kUser, "A")) << c.what;
        EXPECT_EQ(reg_.ReadText(kUser, "A\\B", "v", "fb"), "fb") << c.what;
    }
    EXPECT_EQ(ReadFile(dir_ / "file"), "x");
}

TEST_F(RegistryAccessTest, FailedWritesLeaveTheHiveUnchanged) {
    ASSERT_TRUE(reg_.WriteText(kUser, "K", "v", "old"));
    ASSERT_TRUE(reg_.WriteText(kUser, "K\\Sub", "w", "1"));
    const std::string before = ReadFile(UserHive());
    // A folder where the lock file belongs cannot be opened for locking, whoever we are.
    fs::remove(UserHive() + ".lock");
    fs::create_directory(UserHive() + ".lock");
    struct Case {
        const char* what;
        std::function<bool()> write;
    };
    const std::vector<Case> cases = {
        {"WriteText", [&] { return reg_.WriteText(kUser, "K", "v", "new"); }},
        {"WriteText new key", [&] { return reg_.WriteText(kUser, "New", "v", "1"); }},
        {"WriteInteger", [&] { return reg_.WriteInteger(kUser, "K", "v", 5); }},
        {"WriteBinary", [&] { return reg_.WriteBinary(kUser, "K", "v", {1}); }},
        {"DeleteValue", [&] { return reg_.DeleteValue(kUser, "K", "v"); }},
        {"DeleteKey", [&] { return reg_.DeleteKey(kUser, "K\\Sub"); }},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.write()) << c.what;
        EXPECT_EQ(ReadFile(UserHive()), before) << c.what;
    }
    EXPECT_EQ(reg_.ReadText(kUser, "K", "v"), "old");
}

TEST_F(RegistryAccessTest, UnreadableHiveIsNeverOverwritten) {
    // The hive path is a folder: reads see an empty hive, writes refuse to replace it.
    fs::create_directories(UserHive());
    WriteFile(UserHive() + "/inside", "keep");
    EXPECT_EQ(reg_.ReadText(kUser, "K", "v", "fb"), "fb");
    EXPECT_FALSE(reg_.WriteText(kUser, "K", "v", "1"));
    EXPECT_EQ(ReadFile(UserHive() + "/inside"), "keep");
}

TEST(RegistryRootTest, NamesMapBothWays) {
    struct Case {
        std::string name;
        std::optional<RegistryRoot> root;
    };
    const std::vector<Case> cases = {
        {"HKEY_CURRENT_USER", RegistryRoot::CurrentUser},
        {"HKEY_LOCAL_MACHINE", RegistryRoot::LocalMachine},
        {"HKEY_CLASSES_ROOT", RegistryRoot::ClassesRoot},
        {"hkey_current_user", RegistryRoot::CurrentUser},
        {"HKEY_USERS", std::nullopt},
        {"HKCU", std::nullopt},
        {"", std::nullopt},
        {"HKEY_CURRENT_USER\\", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(RegistryRootFromName(c.name), c.root) << c.name;
    for (RegistryRoot root :
         {RegistryRoot::CurrentUser, RegistryRoot::LocalMachine, RegistryRoot::ClassesRoot})
        EXPECT_EQ(RegistryRootFromName(RegistryRootName(root)), root);
}

TEST(RegistryDirectoryTest, FollowsTheEnvironment) {
    struct Case {
        std::string registry_dir, xdg_config_home, home, expected;
    };
    // Empty means unset.
    const std::vector<Case> cases = {
        {"/custom/reg", "/xdg", "/home/u", "/custom/reg"},
        {"", "/xdg", "/home/u", "/xdg/dorvex/registry"},
        {"", "", "/home/u", "/home/u/.config/dorvex/registry"},
        {"", "relative/config", "/home/u", "/home/u/.config/dorvex/registry"},
    };
    for (const Case& c : cases) {
        ScopedEnv a("QUORBEL_REGISTRY_DIR", c.registry_dir);
        ScopedEnv b("XDG_CONFIG_HOME", c.xdg_config_home);
        ScopedEnv h("HOME", c.home);
        EXPECT_EQ(RegistryDirectory(), c.expected)
            << c.registry_dir << " | " << c.xdg_config_home << " | " << c.home;
    }
}

TEST(AppRegistryTest, FullPathJoinsWithOneBackslash) {
    struct Case {
        std::string relative, full;
    };
    const std::vector<Case> cases = {
        {"", "Software\\Dorvex\\Quorbel"},
        {"Options\\Extract", "Software\\Dorvex\\Quorbel\\Options\\Extract"},
        {"\\Options\\Extract\\", "Software\\Dorvex\\Quorbel\\Options\\Extract\\"},
        {"\\\\Programs", "Software\\Dorvex\\Quorbel\\Programs"},
    };
    for (const Case& c : cases) EXPECT_EQ(AppRegistry::FullPath(c.relative), c.full) << c.relative;
}

TEST_F(RegistryAccessTest, AppRegistryWorksBelowTheProgramKey) {
    AppRegistry app;
    ASSERT_TRUE(app.WriteBool("Options\\Extract", "bOverwrite", true));
    ASSERT_TRUE(app.WriteInteger("Options\\Extract", "Action", 3));
    ASSERT_TRUE(app.WriteText("", "Version", "1.0"));
    ASSERT_TRUE(app.WriteBinary("Programs", "Blob", {9}));

    const std::string base = "Software\\Dorvex\\Quorbel";
    EXPECT_EQ(reg_.ReadText(kUser, base + "\\Options\\Extract", "bOverwrite"), "1");
    EXPECT_EQ(reg_.ReadText(kUser, base, "Version"), "1.0");
    EXPECT_TRUE(app.ReadBool("Options\\Extract", "bOverwrite", false));
    EXPECT_FALSE(app.ReadBool("Options\\Extract", "bMissing", false));
    EXPECT_TRUE(app.ReadBool("Options\\Extract", "bMissing", true));
    EXPECT_EQ(app.ReadInteger("Options\\Extract", "Action", 0), 3);
    EXPECT_EQ(app.ReadText("", "Version"), "1.0");
    EXPECT_EQ(app.ReadBinary("Programs", "Blob"), (std::vector<uint8_t>{9}));
    EXPECT_EQ(app.EnumSubKeys(""), (std::vector<std::string>{"Options", "Programs"}));
    EXPECT_EQ(app.EnumTextValues("Options\\Extract"),
              (RegistryAccess::TextValues{{"bOverwrite", "1"}, {"Action", "3"}}));
    EXPECT_EQ(app.EnumNonTextValues("Programs"), (std::vector<std::string>{"Blob"}));
    EXPECT_TRUE(app.KeyExists("Options\\"));
    ASSERT_TRUE(app.DeleteValue("", "Version"));
    EXPECT_EQ(app.ReadText("", "Version", "gone"), "gone");
    ASSERT_TRUE(app.DeleteKey("Options"));
    EXPECT_FALSE(app.KeyExists("Options\\Extract"));
    EXPECT_EQ(reg_.EnumSubKeys(kUser, "Software\\Dorvex"), (std::vector<std::string>{"Quorbel"}));
}

}  // namespace
}  // namespace quorbel
