// quorbel-cli settings, run as the real program.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/registry_access.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

using test::CommandResult;
using test::ReadFile;
using test::ScopedEnv;
using test::TempDir;
using test::WriteFile;

CommandResult Settings(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QUORBEL_CLI_PATH, "settings"};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::Run(argv);
}

class CliSettingsTest : public ::testing::Test {
protected:
    TempDir dir_;
    ScopedEnv env_{"QUORBEL_REGISTRY_DIR", dir_ / "registry"};
    RegistryAccess reg_;
};

const char kProgramKey[] = "Software\\Dorvex\\Quorbel";

TEST_F(CliSettingsTest, SetThenGetRoundTrips) {
    const std::vector<std::string> texts = {"1", "", "C:\\Tools\\rar.exe", "say \"hi\"",
                                            "two\nlines", "\xc3\xa9t\xc3\xa9"};
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string name = "Value" + std::to_string(i);
        CommandResult set = Settings({"set", "Options\\Extract", name, texts[i]});
        EXPECT_EQ(set.exit_code, 0) << set.err;
        EXPECT_EQ(set.out, "");
        CommandResult get = Settings({"get", "Options\\Extract", name});
        EXPECT_EQ(get.exit_code, 0) << get.err;
        EXPECT_EQ(get.out, texts[i] + "\n");
        EXPECT_EQ(get.err, "");
    }
}

TEST_F(CliSettingsTest, RelativeKeysLieBelowTheProgramKey) {
    ASSERT_EQ(Settings({"set", "Options\\Extract", "bOverwrite", "1"}).exit_code, 0);
    EXPECT_EQ(reg_.ReadText(RegistryRoot::CurrentUser,
                            std::string(kProgramKey) + "\\Options\\Extract", "bOverwrite"),
              "1");
    ASSERT_EQ(Settings({"set", "", "Top", "t"}).exit_code, 0);  // the program key itself
    EXPECT_EQ(reg_.ReadText(RegistryRoot::CurrentUser, kProgramKey, "Top"), "t");
}

TEST_F(CliSettingsTest, SlashesWorkAsSeparators) {
    struct Case {
        std::string set_key, get_key;
    };
    const std::vector<Case> cases = {
        {"Options/Extract", "Options\\Extract"},
        {"Options\\AddFiles", "options/addfiles/"},
        {"HKEY_LOCAL_MACHINE/Software/Dorvex", "HKEY_LOCAL_MACHINE\\Software\\Dorvex\\"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Settings({"set", c.set_key, "v", c.set_key}).exit_code, 0) << c.set_key;
        CommandResult get = Settings({"get", c.get_key, "V"});
        EXPECT_EQ(get.exit_code, 0) << get.err;
        EXPECT_EQ(get.out, c.set_key + "\n");
    }
    EXPECT_EQ(reg_.ReadText(RegistryRoot::LocalMachine, "Software\\Dorvex", "v"),
              "HKEY_LOCAL_MACHINE/Software/Dorvex");
}

TEST_F(CliSettingsTest, AbsoluteKeysNameTheirRoot) {
    struct Case {
        std::string key;
        RegistryRoot root;
        std::string path;
    };
    const std::vector<Case> cases = {
        {"HKEY_CURRENT_USER\\Software\\Dorvex\\Tovel\\ToolBar", RegistryRoot::CurrentUser,
         "Software\\Dorvex\\Tovel\\ToolBar"},
        {"HKEY_LOCAL_MACHINE\\Software\\Dorvex\\Quorbel", RegistryRoot::LocalMachine,
         "Software\\Dorvex\\Quorbel"},
        {"HKEY_CLASSES_ROOT\\.zip", RegistryRoot::ClassesRoot, ".zip"},
        {"HKEY_CLASSES_ROOT", RegistryRoot::ClassesRoot, ""},
    };
    for (const Case& c : cases) {
        CommandResult set = Settings({"set", c.key, "Name", c.key});
        ASSERT_EQ(set.exit_code, 0) << set.err;
        EXPECT_EQ(reg_.ReadText(c.root, c.path, "Name"), c.key) << c.key;
        EXPECT_EQ(Settings({"get", c.key, "Name"}).out, c.key + "\n");
    }
    // The same key reached both ways.
    EXPECT_EQ(Settings({"get", "HKEY_CURRENT_USER\\Software\\Dorvex\\Quorbel\\Options", "x"})
                  .exit_code,
              1);
    ASSERT_EQ(Settings({"set", "Options", "x", "y"}).exit_code, 0);
    EXPECT_EQ(Settings({"get", "HKEY_CURRENT_USER\\Software\\Dorvex\\Quorbel\\Options", "x"}).out,
              "y\n");
}

TEST_F(CliSettingsTest, ListShowsTextValuesThenSubKeys) {
    ASSERT_TRUE(reg_.WriteText(RegistryRoot::CurrentUser, "Software\\Dorvex\\Quorbel\\Options",
                               "Language", "2"));
    ASSERT_TRUE(reg_.WriteBinary(RegistryRoot::CurrentUser, "Software\\Dorvex\\Quorbel\\Options",
                                 "Blob", {1, 2}));
    ASSERT_EQ(Settings({"set", "Options\\Extract", "bOverwrite", "1"}).exit_code, 0);
    ASSERT_EQ(Settings({"set", "Options", "Theme", "dark"}).exit_code, 0);
    ASSERT_EQ(Settings({"set", "Options\\AddFiles", "Action", "0"}).exit_code, 0);

    CommandResult list = Settings({"list", "Options"});
    EXPECT_EQ(list.exit_code, 0) << list.err;
    EXPECT_EQ(list.out, "Language=2\nTheme=dark\n[Extract]\n[AddFiles]\n");

    CommandResult leaf = Settings({"list", "Options/Extract"});
    EXPECT_EQ(leaf.out, "bOverwrite=1\n");
    CommandResult top = Settings({"list", "HKEY_CURRENT_USER"});
    EXPECT_EQ(top.out, "[Software]\n");
}

TEST_F(CliSettingsTest, DeleteRemovesAValueOrAWholeKey) {
    ASSERT_EQ(Settings({"set", "Options\\Extract", "a", "1"}).exit_code, 0);
    ASSERT_EQ(Settings({"set", "Options\\Extract", "b", "2"}).exit_code, 0);
    ASSERT_EQ(Settings({"set", "Options\\Extract\\Deeper\\Deepest", "c", "3"}).exit_code, 0);
    ASSERT_EQ(Settings({"set", "Options\\Keep", "k", "4"}).exit_code, 0);

    CommandResult del = Settings({"delete", "Options\\Extract", "A"});
    EXPECT_EQ(del.exit_code, 0) << del.err;
    EXPECT_EQ(Settings({"list", "Options\\Extract"}).out, "b=2\n[Deeper]\n");

    del = Settings({"delete", "Options\\Extract"});
    EXPECT_EQ(del.exit_code, 0) << del.err;
    EXPECT_EQ(Settings({"list", "Options"}).out, "[Keep]\n");
    EXPECT_FALSE(reg_.KeyExists(RegistryRoot::CurrentUser,
                                "Software\\Dorvex\\Quorbel\\Options\\Extract\\Deeper"));

    // A binary value can be deleted too.
    ASSERT_TRUE(reg_.WriteBinary(RegistryRoot::CurrentUser, "Software\\Dorvex\\Quorbel\\Options",
                                 "Blob", {1}));
    EXPECT_EQ(Settings({"delete", "Options", "blob"}).exit_code, 0);
    EXPECT_TRUE(reg_.EnumNonTextValues(RegistryRoot::CurrentUser,
                                       "Software\\Dorvex\\Quorbel\\Options")
                    .empty());
}

TEST_F(CliSettingsTest, MissingThingsFailWithAMessage) {
    ASSERT_EQ(Settings({"set", "Options", "present", "1"}).exit_code, 0);
    ASSERT_TRUE(reg_.WriteBinary(RegistryRoot::CurrentUser, "Software\\Dorvex\\Quorbel\\Options",
                                 "Blob", {1}));
    const std::string before = ReadFile(dir_ / "registry/HKEY_CURRENT_USER.reg");
    const std::vector<std::vector<std::string>> cases = {
        {"get", "Options", "absent"},
        {"get", "Options", "Blob"},  // not a text value
        {"get", "Nowhere", "present"},
        {"list", "Nowhere"},
        {"list", "HKEY_CURRENT_USER\\Nowhere"},
        {"delete", "Options", "absent"},
        {"delete", "Nowhere", "present"},
        {"delete", "Nowhere"},
        {"delete", "HKEY_CURRENT_USER"},  // a root
    };
    for (const auto& args : cases) {
        CommandResult r = Settings(args);
        EXPECT_EQ(r.exit_code, 1) << args[0] << " " << args[1];
        EXPECT_EQ(r.out, "") << args[0] << " " << args[1];
        EXPECT_NE(r.err, "") << args[0] << " " << args[1];
    }
    EXPECT_EQ(ReadFile(dir_ / "registry/HKEY_CURRENT_USER.reg"), before);
}

TEST_F(CliSettingsTest, BadUsageExitsWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"GET", "Options", "x"},
        {"get"},
        {"get", "Options"},
        {"get", "Options", "x", "y"},
        {"set", "Options", "x"},
        {"set", "Options", "x", "y", "z"},
        {"list"},
        {"list", "a", "b"},
        {"delete"},
        {"delete", "a", "b", "c"},
    };
    for (const auto& args : cases) {
        CommandResult r = Settings(args);
        std::string shown = args.empty() ? "(none)" : args[0];
        EXPECT_EQ(r.exit_code, 2) << shown << " with " << args.size() << " words";
        EXPECT_EQ(r.err.rfind("usage: quorbel-cli settings", 0), 0u) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ / "registry"));
}

TEST_F(CliSettingsTest, UnwritableStoreMakesSetAndDeleteFail) {
    ASSERT_EQ(Settings({"set", "Options", "v", "1"}).exit_code, 0);
    // Root ignores permission bits; a regular file in the folder's place cannot be bypassed.
    WriteFile(dir_ / "file", "x");
    {
        ScopedEnv broken("QUORBEL_REGISTRY_DIR", dir_ / "file/registry");
        CommandResult set = Settings({"set", "Options", "v", "2"});
        EXPECT_EQ(set.exit_code, 1);
        EXPECT_NE(set.err, "");
    }
    // The lock file replaced by a folder: the hive is there but cannot be changed.
    const std::string hive = dir_ / "registry/HKEY_CURRENT_USER.reg";
    std::filesystem::remove(hive + ".lock");
    std::filesystem::create_directory(hive + ".lock");
    const std::string before = ReadFile(hive);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"set", "Options", "v", "2"}, {"delete", "Options", "v"},
          {"delete", "Options"}}) {
        CommandResult r = Settings(args);
        EXPECT_EQ(r.exit_code, 1) << args[0];
        EXPECT_NE(r.err, "") << args[0];
    }
    EXPECT_EQ(ReadFile(hive), before);
    EXPECT_EQ(Settings({"get", "Options", "v"}).out, "1\n");
}

TEST_F(CliSettingsTest, ConcurrentProgramsLoseNoValue) {
    constexpr int kWrites = 50;
    std::vector<std::unique_ptr<test::ChildProcess>> children;
    for (const char* prefix : {"left", "right"}) {
        // No gtest macros in the child: its verdict is its exit code.
        children.push_back(std::make_unique<test::ChildProcess>([prefix] {
            int failures = 0;
            for (int i = 0; i < kWrites; ++i) {
                std::string name = std::string(prefix) + std::to_string(i);
                if (Settings({"set", "Race", name, name}).exit_code != 0) ++failures;
            }
            return failures == 0 ? 0 : 1;
        }));
        ASSERT_TRUE(children.back()->Started());
    }
    for (const auto& child : children) EXPECT_EQ(child->Wait(), 0);
    CommandResult list = Settings({"list", "Race"});
    ASSERT_EQ(list.exit_code, 0) << list.err;
    size_t lines = 0;
    for (char c : list.out) lines += c == '\n';
    EXPECT_EQ(lines, size_t(2 * kWrites));
    for (const char* prefix : {"left", "right"})
        for (int i = 0; i < kWrites; ++i) {
            std::string name = std::string(prefix) + std::to_string(i);
            EXPECT_EQ(reg_.ReadText(RegistryRoot::CurrentUser, std::string(kProgramKey) + "\\Race",
                                    name, "<lost>"),
                      name);
        }
}

}  // namespace
}  // namespace quorbel
