// Archive conversion: samples of every readable format into ZIP (checked by unzip -t) and ARJ
// (checked by arj t), the report, and what a failing target must leave alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/ops/conversion.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/user_prompts.h"
#include "platform/registry_access.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

class ConversionTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        SetProgramPassword("");
        LoadHandlerOptions();
        fs::create_directories(env_ / "out");
    }
    ConversionOptions Options(int format, bool rename = true) {
        ConversionOptions o;
        o.format = format;
        o.output_folder = env_ / "out";
        o.rename_on_collision = rename;
        return o;
    }
    test::IsolatedEnvironment env_;
};

const std::vector<std::string> kSamples = {"arj/Arj.method1.arj", "arj/Arj.method4.arj", "arj/t.arj",
                                           "lha/lha213_lh5.lzh", "lha/lha_amiga_122_lh1.lzh", "zoo/t.zoo"};

TEST_F(ConversionTest, SamplesIntoZip) {
    QUORBEL_REQUIRE_TOOL("unzip");
    std::vector<std::string> sources;
    for (const auto& s : kSamples) sources.push_back(test::TestData(s));
    ConversionResult r = ConvertArchives(sources, Options(0), SilentSink(), 0);
    ASSERT_TRUE(r.stop_message.empty()) << r.stop_message;
    EXPECT_EQ(r.errors, 0) << r.report;
    ASSERT_EQ(r.converted.size(), sources.size()) << r.report;
    for (const auto& line : r.lines) {
        EXPECT_EQ(line.status, "OK") << line.source;
        EXPECT_EQ(test::Run({"unzip", "-t", line.output}).exit_code, 0) << line.output;
    }
    EXPECT_NE(r.report.find("Converting archives into .zip..."), std::string::npos);
    EXPECT_NE(r.report.find("6 files converted. No errors detected."), std::string::npos) << r.report;
    // t.arj and t.zoo: the second one went to "t (1).zip"; another run takes the next number.
    EXPECT_TRUE(fs::exists(env_ / "out/t (1).zip"));
    ConversionResult again = ConvertArchives({test::TestData("zoo/t.zoo")}, Options(0), SilentSink(), 0);
    ASSERT_EQ(again.lines.size(), 1u);
    EXPECT_EQ(again.lines[0].output, env_ / "out/t (2).zip");
}

TEST_F(ConversionTest, SamplesIntoArj) {
    QUORBEL_REQUIRE_TOOL("arj");
    AppRegistry().WriteText("Programs", "ARJ", "arj");
    std::vector<std::string> sources;
    for (const auto& s : kSamples) sources.push_back(test::TestData(s));
    ConversionResult r = ConvertArchives(sources, Options(1), SilentSink(), 0);
    EXPECT_EQ(r.errors, 0) << r.report;
    ASSERT_EQ(r.converted.size(), sources.size()) << r.report;
    for (const auto& line : r.lines) EXPECT_EQ(test::Run({"arj", "t", line.output}).exit_code, 0) << line.output;
    EXPECT_TRUE(fs::exists(env_ / "out/lha213_lh5.arj"));
}

TEST_F(ConversionTest, AFailingTargetLeavesOutputAndSourceAlone) {
    // The archiver exists but fails: the old output stays, nothing half-built is left.
    AppRegistry().WriteText("Programs", "ARJ", "/bin/false");
    WriteFile(env_ / "out/t.arj", "previous output");
    const std::string source = test::TestData("zoo/t.zoo");
    const std::string before = ReadFile(source);
    ConversionResult r = ConvertArchives({source}, Options(1, false), SilentSink(), 0);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_TRUE(r.lines[0].error);
    EXPECT_NE(r.lines[0].status.find("exit status 1"), std::string::npos) << r.lines[0].status;
    EXPECT_EQ(ReadFile(env_ / "out/t.arj"), "previous output");
    EXPECT_EQ(ReadFile(source), before);
    EXPECT_TRUE(r.converted.empty());
    EXPECT_NE(r.report.find("0 files converted.  1 errors detected."), std::string::npos) << r.report;
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(env_ / "out")) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"t.arj"});
}

TEST_F(ConversionTest, TheOutputMayNotBeTheSource) {
    QUORBEL_REQUIRE_TOOL("arj");
    AppRegistry().WriteText("Programs", "ARJ", "arj");
    fs::copy_file(test::TestData("arj/t.arj"), env_ / "out/a.arj");
    const std::string before = ReadFile(env_ / "out/a.arj");
    ConversionResult r = ConvertArchives({env_ / "out/a.arj"}, Options(1, false), SilentSink(), 0);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_TRUE(r.lines[0].error);
    EXPECT_NE(r.lines[0].status.find("is the archive being converted"), std::string::npos);
    EXPECT_EQ(ReadFile(env_ / "out/a.arj"), before);
    // With renaming on, it goes beside it.
    r = ConvertArchives({env_ / "out/a.arj"}, Options(1, true), SilentSink(), 0);
    EXPECT_EQ(r.lines[0].output, env_ / "out/a (1).arj");
    EXPECT_EQ(ReadFile(env_ / "out/a.arj"), before);
}

TEST_F(ConversionTest, MissingArchiverStopsEverything) {
    ConversionResult r = ConvertArchives({test::TestData("zoo/t.zoo")}, Options(3), SilentSink(), 0);
    EXPECT_EQ(r.stop_message, FormatText(MessageTemplate(kMsgNoProgram).c_str(), "ZOO"));
    EXPECT_TRUE(r.lines.empty());
    // RAR and ACE are read natively now, but writing them still needs their archivers.
    for (const auto& [format, shown] : {std::pair{4, "RAR"}, std::pair{5, "ACE"}}) {
        r = ConvertArchives({test::TestData("zoo/t.zoo")}, Options(format), SilentSink(), 0);
        EXPECT_EQ(r.stop_message, FormatText(MessageTemplate(kMsgNoProgram).c_str(), shown));
    }
}

TEST_F(ConversionTest, UnreadableAndSkippedSources) {
    QUORBEL_REQUIRE_TOOL("tar");
    WriteFile(env_ / "junk.bin", "not an archive at all");
    fs::create_directories(env_ / "t");
    WriteFile(env_ / "t/file.txt", "x");
    fs::create_symlink("file.txt", env_ / "t/link");
    ASSERT_EQ(test::Run({"tar", "cf", env_ / "links.tar", "-C", env_.dir().path(), "t"}).exit_code, 0);
    ConversionResult r = ConvertArchives({env_ / "junk.bin", env_ / "links.tar"}, Options(0), SilentSink(), 0);
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_TRUE(r.lines[0].error);
    EXPECT_NE(r.lines[0].status.find("Unknown archive format"), std::string::npos);
    EXPECT_FALSE(r.lines[1].error);
    EXPECT_EQ(r.lines[1].skipped, 1);
    EXPECT_EQ(r.lines[1].status, "Warning: 1 member(s) skipped");
    EXPECT_EQ(r.converted, std::vector<size_t>{1});
    EXPECT_EQ(ConversionOutputPath("/x/y/name.tar.gz", Options(6, false)), env_ / "out/name.tar.j");
}

}  // namespace
}  // namespace quorbel
