// quorbel-shell, the file managers' companion: it leaves the shell command block and starts the
// program with "/SHELLCOMMAND". The program here is a stand-in script that records how it was
// started.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/settings_layout.h"
#include "platform/instance.h"
#include "platform/registry_access.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::IsolatedEnvironment;
using test::ReadFile;
using test::WriteFile;

// A stand-in for the program: writes its folder and its arguments, one a line, then renames the
// record into place so the test never reads half of it.
void MakeStandIn(const std::string& path) {
    WriteFile(path,
              "#!/bin/sh\n"
              "{ pwd; printf '%s\\n' \"$@\"; } > \"$0.args.tmp\" && mv \"$0.args.tmp\" \"$0.args\"\n");
    fs::permissions(path, fs::perms::owner_all);
}

// The stand-in runs detached from the companion, so its record appears some time after the
// companion exits.
std::string WaitForRecord(const std::string& path) {
    for (int i = 0; i < 200 && !fs::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return ReadFile(path);
}

std::string CopyOfCompanion(const std::string& folder) {
    fs::create_directories(folder);
    const std::string copy = folder + "/quorbel-shell";
    fs::copy_file(QUORBEL_SHELL_PATH, copy);
    return copy;
}

TEST(CompanionTest, WritesTheBlockAndStartsTheProgramBesideIt) {
    IsolatedEnvironment env;
    const std::string folder = env / "installed";
    const std::string companion = CopyOfCompanion(folder);
    MakeStandIn(folder + "/quorbel");
    WriteFile(env / "work/a b.txt", "a");
    fs::create_directories(env / "work/sub");

    test::CommandResult result =
        test::Run({companion, "1", "a b.txt", "./sub/", "file://" + env.dir().path() + "/work/c%20d.zip"},
            env / "work");
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(WaitForRecord(folder + "/quorbel.args"), folder + "\n/SHELLCOMMAND\n");

    auto payload = ReadClipboardBlock("Quorbel");
    ASSERT_TRUE(payload.has_value());
    auto block = ParseShellCommandBlock(*payload);
    ASSERT_TRUE(block.has_value());
    EXPECT_EQ(block->type, 1u);
    const std::vector<std::string> expected = {env / "work/a b.txt", env / "work/sub",
                                               env / "work/c d.zip"};
    EXPECT_EQ(block->paths, expected);
}

TEST(CompanionTest, FallsBackToTheRecordedProgram) {
    IsolatedEnvironment env;
    const std::string companion = CopyOfCompanion(env / "alone");
    const std::string recorded = env / "elsewhere/quorbel";
    MakeStandIn(recorded);

    // Nothing beside it and nothing recorded: nothing to start.
    test::CommandResult result = test::Run({companion, "5", "/tmp/x.zip"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_FALSE(ReadClipboardBlock("Quorbel").has_value());

    RegistryAccess reg;
    reg.WriteText(RegistryRoot::CurrentUser, layout::kProgramPathKey, layout::kProgramPathValue,
                  recorded);
    result = test::Run({companion, "5", "/tmp/x.zip"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(WaitForRecord(recorded + ".args"), env / "elsewhere" + "\n/SHELLCOMMAND\n");
    auto block = ParseShellCommandBlock(ReadClipboardBlock("Quorbel").value_or(std::vector<uint8_t>{}));
    ASSERT_TRUE(block.has_value());
    EXPECT_EQ(block->type, 5u);
    EXPECT_EQ(block->paths, std::vector<std::string>{"/tmp/x.zip"});
}

TEST(CompanionTest, UsageErrors) {
    IsolatedEnvironment env;
    const std::vector<std::vector<std::string>> cases = {
        {}, {"3"}, {"x", "/tmp/a.zip"}, {"8", "/tmp/a.zip"}, {"-1", "/tmp/a.zip"}, {"3", ""}};
    for (const auto& args : cases) {
        std::vector<std::string> argv = {QUORBEL_SHELL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        test::CommandResult result = test::Run(argv);
        EXPECT_EQ(result.exit_code, 2) << (args.empty() ? "(none)" : args[0]);
        EXPECT_NE(result.err.find("usage: quorbel-shell TYPE PATH..."), std::string::npos);
    }
    EXPECT_FALSE(ReadClipboardBlock("Quorbel").has_value());
}

}  // namespace
}  // namespace quorbel
