// What quorbel-cli loads at start: no Qt at all. Its print goes through quorbel-cli-print, and
// file type names come from the desktop library, loaded when the first one is asked for.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;

TEST(CliStartup, OnlyThePrinterLinksQt) {
    QUORBEL_REQUIRE_TOOL("readelf");
    const std::string printer = (fs::path(QUORBEL_CLI_PATH).parent_path() / "quorbel-cli-print").string();
    const test::CommandResult cli = test::Run({"readelf", "-d", QUORBEL_CLI_PATH});
    const test::CommandResult print = test::Run({"readelf", "-d", printer});
    ASSERT_EQ(cli.exit_code, 0) << cli.err;
    ASSERT_EQ(print.exit_code, 0) << print.err;
    EXPECT_EQ(cli.out.find("libQt6"), std::string::npos);
    EXPECT_NE(print.out.find("libQt6Gui"), std::string::npos);
}

TEST(CliStartup, MissingPrinterIsReported) {
    test::IsolatedEnvironment env;
    const std::string lone = env / "lone/quorbel-cli";
    fs::create_directories(env / "lone");
    fs::copy_file(QUORBEL_CLI_PATH, lone);
    const test::CommandResult run = test::Run({lone, "print", env / "a.zip", "--pdf", env / "a.pdf"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find(env / "lone/quorbel-cli-print"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(env / "a.pdf"));
}

TEST(CliStartup, TypeNamesComeFromTheDesktopLibraryWhenItLoads) {
    test::IsolatedEnvironment env;
    test::ZipMemberInput m;
    m.name = "notes.txt";
    m.data = "text";
    test::WriteFile(env / "a.zip", test::BuildZip({m}));
    const std::vector<std::string> list = {QUORBEL_CLI_PATH, "list", env / "a.zip", "--csv", "--columns", "1,3"};
    const test::CommandResult known = test::Run(list);
    ASSERT_EQ(known.exit_code, 0) << known.err;
    EXPECT_NE(known.out.find("notes.txt"), std::string::npos) << known.out;
    EXPECT_EQ(known.out.find("Unknown"), std::string::npos) << known.out;
    // Without the library the desktop knows no types; the listing goes on.
    test::ScopedEnv missing("QUORBEL_DESKTOP_LIBRARY", env / "nowhere/libquorbel-desktop.so");
    const test::CommandResult unknown = test::Run(list);
    ASSERT_EQ(unknown.exit_code, 0) << unknown.err;
    EXPECT_NE(unknown.out.find("notes.txt"), std::string::npos) << unknown.out;
    EXPECT_NE(unknown.out.find("Unknown"), std::string::npos) << unknown.out;
}

}  // namespace
}  // namespace quorbel
