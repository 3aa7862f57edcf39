// The installer as a whole: resources carried in the program file, unpacking the main program
// into a private folder, and quorbel-setup-probe run end to end.
#include "installer/setup_steps.h"

#include <filesystem>
#include <map>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/resources.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel::installer {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;

bool IsEmptyFolder(const std::string& folder) {
    return fs::is_directory(folder) && fs::directory_iterator(folder) == fs::directory_iterator();
}

std::string ProgramArchive(const std::string& name, bool damaged) {
    test::ZipMemberInput m;
    m.name = name;
    m.data = "#!/bin/sh\n";
    m.override_crc = damaged;
    m.crc = 7;
    return test::BuildZip({m});
}

unsigned ModeOf(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0u;
}

TEST(ResourcesTest, TableBlobsComeBackUnscrambled) {
    const std::string plain = std::string("PK\3\4", 4) + std::string(70000, 'r') + "tail";
    static std::vector<uint8_t> blob;  // a table points at static storage
    blob.assign(plain.begin(), plain.end());
    ScrambleResource("TGA", 9201, blob.data(), blob.size());
    EXPECT_NE(std::string(blob.begin(), blob.end()), plain);
    const EmbeddedResource table[] = {{"TGA", 9201, blob.data(), blob.size()}};
    ASSERT_TRUE(RegisterEmbeddedResources(table, 1));
    auto loaded = LoadResource("TGA", 9201);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(std::string(loaded->begin(), loaded->end()), plain);
    EXPECT_FALSE(LoadResource("tga", 9201));
    EXPECT_FALSE(LoadResource("TGA", 9202));
}

TEST(UnpackProgramTest, DamagedProgramIsNeitherKeptNorStarted) {
    test::IsolatedEnvironment env;
    std::string zip = ProgramArchive(kProgramName, true);
    AddResource("ZIP", kProgramResource, std::vector<uint8_t>(zip.begin(), zip.end()));
    UnpackedProgram unpacked = UnpackProgram(env / "tmp");
    EXPECT_EQ(unpacked.program, "");
    EXPECT_EQ(RunInstall(unpacked), -1);
    RemoveUnpacked(unpacked);
    EXPECT_TRUE(IsEmptyFolder(env / "tmp"));
}

TEST(UnpackProgramTest, OnlyTheProgramMemberIsStarted) {
    test::IsolatedEnvironment env;
    std::string zip = ProgramArchive("other", false);
    AddResource("ZIP", kProgramResource, std::vector<uint8_t>(zip.begin(), zip.end()));
    UnpackedProgram unpacked = UnpackProgram(env / "tmp");
    EXPECT_EQ(unpacked.program, "");
    EXPECT_EQ(ModeOf(unpacked.folder), 0700u);
    RemoveUnpacked(unpacked);
    EXPECT_TRUE(IsEmptyFolder(env / "tmp"));
}

std::map<std::string, std::vector<std::string>> ReadReport(const std::string& path) {
    std::map<std::string, std::vector<std::string>> facts;
    std::string text = ReadFile(path);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        size_t colon = line.find(':');
        if (colon != std::string::npos) facts[line.substr(0, colon)].push_back(line.substr(colon + 1));
        start = end + 1;
    }
    return facts;
}

TEST(SetupProbeTest, RunsTheProgramWithInstallAndCleansUp) {
    for (const char* temp_name : {"tmp-setup", "temp folder with spaces"}) {
        SCOPED_TRACE(temp_name);
        test::IsolatedEnvironment env;
        std::string temp = env / temp_name;
        fs::create_directories(temp);
        test::ScopedEnv tmpdir("TMPDIR", temp);
        test::ScopedEnv report("QUORBEL_PROBE_REPORT", env / "report.txt");
        test::ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");

        test::CommandResult run = test::Run({QUORBEL_SETUP_PROBE_PATH});
        EXPECT_EQ(run.exit_code, 0) << run.err;
        auto facts = ReadReport(env / "report.txt");
        EXPECT_EQ(facts["count"], std::vector<std::string>{"1"});
        EXPECT_EQ(facts["arg"], std::vector<std::string>{"/INSTALL"});
        EXPECT_EQ(facts["mode"], std::vector<std::string>{"755"});
        EXPECT_EQ(facts["folder-mode"], std::vector<std::string>{"700"});
        ASSERT_EQ(facts["path"].size(), 1u);
        EXPECT_EQ(fs::path(facts["path"][0]).parent_path().parent_path(), fs::path(temp));
        EXPECT_EQ(fs::path(facts["path"][0]).filename(), "quorbel");
        EXPECT_TRUE(IsEmptyFolder(temp)) << "something of the unpacked program was left behind";
    }
}

TEST(SetupProbeTest, ProgramFileHoldsNoPlainArchive) {
    std::string zip = ReadFile(QUORBEL_SETUP_PROBE_ZIP);
    std::string binary = ReadFile(QUORBEL_SETUP_PROBE_PATH);
    ASSERT_GT(zip.size(), 60u);
    // The local header with the member name, and the end record: either would give it away.
    EXPECT_EQ(binary.find(zip.substr(0, 30 + 7)), std::string::npos);
    EXPECT_EQ(binary.find(zip.substr(zip.size() - 22)), std::string::npos);
}

}  // namespace
}  // namespace quorbel::installer
