// The external-archiver handler against a recording stand-in archiver
// (tests/formats/data/standin_archiver.py): exact argument vectors per format and command,
// and how failures are judged.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>

#include "core/messages.h"
#include "core/settings.h"
#include "core/status.h"
#include "formats/external/external_archive.h"
#include "formats/external/run_program.h"
#include "formats/jar_archive.h"
#include "platform/registry_access.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

const std::string kStandIn = std::string(QUORBEL_SOURCE_DIR) + "/tests/formats/data/standin_archiver.py";

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// A handler of any of the six formats whose listing is the stand-in's fake archive.
class FakeArchive : public ExternalArchive {
public:
    explicit FakeArchive(const std::string& format) : ExternalArchive(format), format_(format) {}
    int ReadDirectory() override {
        std::string text = ReadFile(path_);
        std::vector<std::pair<std::string, std::string>> members;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            size_t tab = line.find('\t');
            if (tab == std::string::npos) return kStatusNotThisFormat;
            members.emplace_back(line.substr(0, tab), Unhex(line.substr(tab + 1)));
        }
        if (!AllocateEntries(members.size())) return kStatusFailed;
        for (size_t i = 0; i < members.size(); ++i) {
            const auto& [name, data] = members[i];
            uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
            SetExternalEntry(i, true, name, name, int64_t(data.size()), int64_t(data.size()), crc,
                             0x20, false, 0x5021, 0, "");
        }
        return kStatusOk;
    }
    bool CanAddFolder() override { return format_ != "ZOO"; }

protected:
    std::unique_ptr<ExternalArchive> NewOfSameFormat() const override {
        return std::make_unique<FakeArchive>(format_);
    }

private:
    std::string format_;
};

std::string FakeArchiveText(const std::vector<std::pair<std::string, std::string>>& members) {
    std::string text;
    for (const auto& [name, data] : members) text += name + "\t" + Hex(data) + "\n";
    return text;
}

struct Run {
    std::vector<std::string> argv;
    std::string cwd;
};

// The runs the stand-in recorded, oldest first.
std::vector<Run> Recorded(const std::string& log) {
    std::vector<Run> runs;
    std::istringstream lines(ReadFile(log));
    std::string line;
    while (std::getline(lines, line)) {
        // {"argv": ["a", "b"], "cwd": "..."}: the stand-in writes plain ASCII paths here.
        Run run;
        size_t open = line.find('[') + 1, close = line.find(']');
        std::string list = line.substr(open, close - open);
        size_t pos = 0;
        while ((pos = list.find('"', pos)) != std::string::npos) {
            size_t end = list.find('"', pos + 1);
            while (list[end - 1] == '\\' && list[end - 2] != '\\') end = list.find('"', end + 1);
            std::string item = list.substr(pos + 1, end - pos - 1);
            std::string unescaped;
            for (size_t i = 0; i < item.size(); ++i) {
                if (item[i] == '\\' && i + 1 < item.size()) ++i;
                unescaped += item[i];
            }
            run.argv.push_back(unescaped);
            pos = end + 1;
        }
        size_t c = line.find("\"cwd\": \"") + 8;
        run.cwd = line.substr(c, line.rfind('"') - c);
        runs.push_back(run);
    }
    return runs;
}

class ExternalArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(env_ / "bin");
        fs::create_directories(env_ / "files/sub");
        standin_ = env_ / "bin/standin";
        fs::create_symlink(kStandIn, standin_);
        log_ = env_ / "runs.log";
        setenv("STANDIN_LOG", log_.c_str(), 1);
        setenv("STANDIN_MODE", "ok", 1);
        SetProgramPassword("");
        LoadHandlerOptions();
    }
    void TearDown() override {
        unsetenv("STANDIN_LOG");
        unsetenv("STANDIN_MODE");
        SetProgramPassword("");
    }
    void UseProgram(const std::string& format, const std::string& program) {
        AppRegistry().WriteText("Programs", format, program);
    }
    // An archive holding docs/readme.txt and a same-named readme.txt at the top.
    std::string MakeArchive() {
        std::string path = env_ / "t.arc";
        WriteFile(path, FakeArchiveText({{"docs/readme.txt", "the docs one"}, {"readme.txt", "top"}}));
        return path;
    }

    test::IsolatedEnvironment env_;
    std::string standin_, log_;
};

struct FormatRow {
    const char* format;
    // Arguments after the program for: add a top-level file, add into a folder (staged),
    // delete docs/readme.txt, extract docs/readme.txt. "@A" the working copy, "@O" the
    // extraction folder with '/', "@X" the archive itself; an empty vector = refused.
    std::vector<std::string> add, add_staged, del, extract;
};

std::vector<std::string> Expand(const std::vector<std::string>& row, const std::string& working,
                                 const std::string& archive, const std::string& out) {
    std::vector<std::string> v;
    for (const std::string& a : row) v.push_back(a == "@A" ? working : a == "@X" ? archive : a == "@O" ? out : a);
    return v;
}

const std::vector<FormatRow> kFormats = {
    {"ARJ", {"a", "-e", "-y", "@A", "new.txt"}, {"a", "-r", "-y", "@A", "*.*"},
     {"d", "-y", "@A", "docs/readme.txt"}, {"e", "-y", "@X", "docs/readme.txt"}},
    {"RAR", {"a", "-ep", "-y", "@A", "new.txt"}, {"a", "-r", "-y", "@A", "*.*"},
     {"d", "-y", "@A", "docs/readme.txt"}, {"x", "-y", "@X", "@O", "docs/readme.txt"}},
    {"ACE", {"a", "-ep", "-y", "-m5", "@A", "new.txt"}, {"a", "-y", "-r", "-m5", "@A", "*.*"},
     {"d", "-y", "@A", "docs/readme.txt"}, {"x", "-y", "@X", "@O", "docs/readme.txt"}},
    {"LHA", {"a", "/x1", "/r2", "/m", "/x", "@A", "new.txt"}, {"a", "/r", "/r2", "/m", "/x", "@A", "*.*"},
     {"d", "/m", "@A", "docs/readme.txt"}, {"e", "/m", "@X", "@O", "docs/readme.txt"}},
    {"ZOO", {"-add", "@A", "new.txt"}, {}, {"-delete", "@A", "docs/readme.txt"},
     {"-extract", "@X", "docs/readme.txt"}},
    {"JAR", {"a", "-y", "@A", "new.txt"}, {"a", "-y", "-r", "@A", "*.*"},
     {"d", "-y", "@A", "docs/readme.txt"}, {"e", "-y", "@X", "docs/readme.txt"}},
};

TEST_F(ExternalArchiveTest, EveryFormatAndCommandGetsItsExactArguments) {
    for (const FormatRow& row : kFormats) {
        SCOPED_TRACE(row.format);
        fs::remove(log_);
        UseProgram(row.format, standin_);
        FakeArchive archive(row.format);
        std::string path = MakeArchive();
        ASSERT_EQ(archive.Open(path), kStatusOk) << archive.LastMessage();
        const std::string working = archive.WorkFolder() + "/t.arc";

        // A file at the top: run in its own folder with its bare name.
        WriteFile(env_ / "files/new.txt", "new");
        ASSERT_EQ(archive.AddFile(env_ / "files/new.txt", env_ / "files", ""), kStatusOk) << archive.LastMessage();
        auto runs = Recorded(log_);
        ASSERT_EQ(runs.size(), 1u);
        auto add = Expand(row.add, working, path, "");
        add.insert(add.begin(), "standin");
        EXPECT_EQ(runs[0].argv, add);
        EXPECT_EQ(runs[0].cwd, env_ / "files");
        EXPECT_GE(archive.FindEntry("new.txt"), 0);
        EXPECT_TRUE(fs::exists(env_ / "t.old")) << "the previous archive is kept as .old";

        // A file below the base folder: staged under its relative path and added as a tree.
        WriteFile(env_ / "files/sub/deep.txt", "deep");
        int r = archive.AddFile(env_ / "files/sub/deep.txt", env_ / "files", "");
        runs = Recorded(log_);
        if (row.add_staged.empty()) {
            EXPECT_EQ(r, kStatusFailed);
            EXPECT_EQ(archive.LastMessage(), FormatText(MessageTemplate(kMsgUnsupportedOperation).c_str(), row.format));
            EXPECT_EQ(runs.size(), 1u) << "nothing runs for a refused command";
        } else {
            ASSERT_EQ(r, kStatusOk) << archive.LastMessage();
            ASSERT_EQ(runs.size(), 2u);
            auto want = Expand(row.add_staged, working, path, "");
            want.insert(want.begin(), "standin");
            EXPECT_EQ(runs[1].argv, want);
            EXPECT_NE(runs[1].cwd, env_ / "files") << "never the base folder with a bare name";
            EXPECT_GE(archive.FindEntry("sub\\deep.txt"), 0);
            EXPECT_LT(archive.FindEntry("deep.txt"), 0);
        }
        size_t before = Recorded(log_).size();

        // Extraction by full stored name into a fresh folder: the docs member's bytes, not the
        // same-named one at the top.
        int index = archive.FindEntry("docs\\readme.txt");
        ASSERT_GE(index, 0);
        int status = 0;
        MemoryBlock block = archive.UnpackEntry(archive.Entry(size_t(index)), status);
        ASSERT_EQ(status, kUnpackOk) << archive.LastMessage();
        EXPECT_EQ(std::string(reinterpret_cast<char*>(block.data.get()), block.size), "the docs one");
        runs = Recorded(log_);
        ASSERT_EQ(runs.size(), before + 1);
        const std::string out = runs.back().cwd;
        auto want = Expand(row.extract, working, path, out + "/");
        want.insert(want.begin(), "standin");
        EXPECT_EQ(runs.back().argv, want);
        EXPECT_FALSE(fs::exists(out)) << "the private extraction folder is removed";

        // Delete by stored name; the same-named member at the top stays.
        index = archive.FindEntry("docs\\readme.txt");
        ASSERT_EQ(archive.DeleteEntry(index, true), kStatusOk) << archive.LastMessage();
        runs = Recorded(log_);
        want = Expand(row.del, working, path, "");
        want.insert(want.begin(), "standin");
        EXPECT_EQ(runs.back().argv, want);
        EXPECT_LT(archive.FindEntry("docs\\readme.txt"), 0);
        EXPECT_GE(archive.FindEntry("readme.txt"), 0);
        archive.Close();
        fs::remove(env_ / "t.old");
    }
}

struct FailureRow {
    const char* mode;
    const char* expected_text;  // a piece of the message
};

TEST_F(ExternalArchiveTest, AFailedChangeLeavesTheArchiveAsItWas) {
    const std::vector<FailureRow> rows = {
        {"fail", "exit status 2"},
        {"lie", "did not store"},
        {"garbage", "did not write a readable archive"},
    };
    UseProgram("ARJ", standin_);
    for (const FailureRow& row : rows) {
        SCOPED_TRACE(row.mode);
        std::string path = MakeArchive();
        const std::string original = ReadFile(path);
        FakeArchive archive("ARJ");
        ASSERT_EQ(archive.Open(path), kStatusOk);
        setenv("STANDIN_MODE", row.mode, 1);
        WriteFile(env_ / "files/new.txt", "new");
        EXPECT_EQ(archive.AddFile(env_ / "files/new.txt", env_ / "files", ""), kStatusFailed);
        EXPECT_NE(archive.LastMessage().find(row.expected_text), std::string::npos) << archive.LastMessage();
        EXPECT_EQ(ReadFile(path), original);
        EXPECT_FALSE(fs::exists(env_ / "t.old"));
        EXPECT_FALSE(fs::exists(archive.WorkFolder() + "/t.arc")) << "no working copy is left behind";
        if (std::string(row.mode) == "fail") {
            EXPECT_NE(archive.LastMessage().find("failing as asked"), std::string::npos)
                << "the tool's own output is in the message";
        }
        // A delete the archiver did not do is a failure too.
        int index = archive.FindEntry("readme.txt");
        EXPECT_EQ(archive.DeleteEntry(index, true), kStatusFailed);
        EXPECT_EQ(ReadFile(path), original);
        setenv("STANDIN_MODE", "ok", 1);
    }
}

TEST_F(ExternalArchiveTest, CreateFromFolderKeepsTheOldFileUntilTheNewOneIsGood) {
    UseProgram("RAR", standin_);
    WriteFile(env_ / "files/a.txt", "a");
    WriteFile(env_ / "files/sub/b.txt", "b");
    const std::string target = env_ / "out.arc";
    WriteFile(target, FakeArchiveText({{"old.txt", "old"}}));
    for (const char* mode : {"fail", "lie"}) {
        SCOPED_TRACE(mode);
        setenv("STANDIN_MODE", mode, 1);
        FakeArchive archive("RAR");
        // A stale working copy holding exactly the expected members must not pass for this
        // run's result.
        fs::create_directories(archive.WorkFolder());
        WriteFile(archive.WorkFolder() + "/out.arc", FakeArchiveText({{"a.txt", "a"}, {"sub/b.txt", "b"}}));
        EXPECT_EQ(archive.CreateFromFolder(target, env_ / "files"), kStatusFailed);
        EXPECT_EQ(ReadFile(target), FakeArchiveText({{"old.txt", "old"}}));
    }
    setenv("STANDIN_MODE", "ok", 1);
    FakeArchive archive("RAR");
    ASSERT_EQ(archive.CreateFromFolder(target, env_ / "files"), kStatusOk) << archive.LastMessage();
    EXPECT_EQ(archive.EntryCount(), 2u);
    EXPECT_GE(archive.FindEntry("sub\\b.txt"), 0);
}

TEST_F(ExternalArchiveTest, NoProgramMeansMessage102AndNothingTouched) {
    std::string path = MakeArchive();
    const std::string original = ReadFile(path);
    for (const std::string& program : {std::string(""), env_ / "bin/missing", env_ / "files"}) {
        UseProgram("ACE", program);
        FakeArchive archive("ACE");
        ASSERT_EQ(archive.Open(path), kStatusOk);
        WriteFile(env_ / "files/new.txt", "new");
        EXPECT_EQ(archive.AddFile(env_ / "files/new.txt", env_ / "files", ""), kStatusNoProgram);
        EXPECT_EQ(archive.LastMessage(), FormatText(MessageTemplate(kMsgNoProgram).c_str(), "ACE"));
        EXPECT_EQ(ReadFile(path), original);
    }
    // A file that exists but cannot be executed is no program either.
    WriteFile(env_ / "bin/plain", "#!/bin/sh\n");
    chmod((env_ / "bin/plain").c_str(), 0644);
    UseProgram("ACE", env_ / "bin/plain");
    FakeArchive archive("ACE");
    EXPECT_FALSE(archive.LocateProgram());
}

TEST_F(ExternalArchiveTest, ABareProgramNameIsFoundOnPath) {
    test::ScopedEnv path("PATH", (env_ / "bin") + ":" + getenv("PATH"));
    UseProgram("ARJ", "standin");
    FakeArchive archive("ARJ");
    ASSERT_TRUE(archive.LocateProgram());
    EXPECT_EQ(archive.ProgramPath(), standin_);
}

TEST_F(ExternalArchiveTest, APasswordGoesOnlyWhereTheTemplateAsksForIt) {
    UseProgram("ARJ", standin_);
    std::string path = MakeArchive();
    FakeArchive archive("ARJ");
    ASSERT_EQ(archive.Open(path), kStatusOk);
    SetProgramPassword("s3cret");
    WriteFile(env_ / "files/%Password.txt", "x");
    ASSERT_EQ(archive.AddFile(env_ / "files/%Password.txt", env_ / "files", ""), kStatusOk) << archive.LastMessage();
    auto runs = Recorded(log_);
    ASSERT_EQ(runs.size(), 1u);
    std::vector<std::string> want = {"standin", "a", "-e", "-y", "-gs3cret", archive.WorkFolder() + "/t.arc",
                                     "%Password.txt"};
    EXPECT_EQ(runs[0].argv, want);
    // ZOO's password templates have no place for it.
    UseProgram("ZOO", standin_);
    FakeArchive zoo("ZOO");
    ASSERT_EQ(zoo.Open(path), kStatusOk);
    WriteFile(env_ / "files/z.txt", "z");
    ASSERT_EQ(zoo.AddFile(env_ / "files/z.txt", env_ / "files", ""), kStatusOk);
    runs = Recorded(log_);
    for (const std::string& a : runs.back().argv) EXPECT_EQ(a.find("s3cret"), std::string::npos);
}

TEST_F(ExternalArchiveTest, LinuxToolsGetTheFolderFilesInsteadOfAWildcard) {
    // A program called "jlha" gets the jlha set: files listed, no "*.*".
    std::string jlha = env_ / "bin/jlha";
    fs::create_symlink(kStandIn, jlha);
    UseProgram("LHA", jlha);
    std::string path = MakeArchive();
    FakeArchive archive("LHA");
    ASSERT_EQ(archive.Open(path), kStatusOk);
    WriteFile(env_ / "files/sub/deep.txt", "deep");
    ASSERT_EQ(archive.AddFile(env_ / "files/sub/deep.txt", env_ / "files", "more"), kStatusOk) << archive.LastMessage();
    auto runs = Recorded(log_);
    ASSERT_EQ(runs.size(), 1u);
    std::vector<std::string> want = {"jlha", "a", archive.WorkFolder() + "/t.arc", "more/sub/deep.txt"};
    EXPECT_EQ(runs[0].argv, want);
    EXPECT_GE(archive.FindEntry("more\\sub\\deep.txt"), 0);
}

TEST_F(ExternalArchiveTest, TemplateOverridesFromTheSettingsWin) {
    UseProgram("RAR", standin_);
    AppRegistry().WriteText("Programs\\Templates\\RAR", "Delete", "d -idq %Archive \"%File\"");
    AppRegistry().WriteText("Programs\\Templates\\RAR", "MakeSfx", "");
    FakeArchive archive("RAR");
    ASSERT_TRUE(archive.LocateProgram());
    EXPECT_EQ(archive.Templates().delete_entries, "d -idq %Archive \"%File\"");
    EXPECT_EQ(archive.Templates().make_sfx, "");
    EXPECT_EQ(archive.Templates().add_file, DefaultTemplates("RAR").add_file);
}

TEST_F(ExternalArchiveTest, AnExtractedFileOfTheWrongSizeOrCrcIsRefused) {
    UseProgram("RAR", standin_);
    std::string path = MakeArchive();
    FakeArchive archive("RAR");
    ASSERT_EQ(archive.Open(path), kStatusOk);
    // The archive changes behind the listing's back: same name, other bytes.
    WriteFile(path, FakeArchiveText({{"docs/readme.txt", "the docs 1ne"}, {"readme.txt", "top"}}));
    int status = 0;
    int index = archive.FindEntry("docs\\readme.txt");
    EXPECT_FALSE(archive.UnpackEntry(archive.Entry(size_t(index)), status));
    EXPECT_EQ(status, kUnpackDataError);
    WriteFile(path, FakeArchiveText({{"docs/readme.txt", "short"}, {"readme.txt", "top"}}));
    EXPECT_FALSE(archive.UnpackEntry(archive.Entry(size_t(index)), status));
    EXPECT_EQ(status, kUnpackDataError);
    // Nothing extracted at all.
    setenv("STANDIN_MODE", "lie", 1);
    EXPECT_FALSE(archive.UnpackEntry(archive.Entry(size_t(index)), status));
    EXPECT_EQ(status, kUnpackDataError);
}

TEST_F(ExternalArchiveTest, AStaleSelfExtractorIsNotTakenForTheResult) {
    UseProgram("ARJ", standin_);
    std::string path = MakeArchive();
    FakeArchive archive("ARJ");
    ASSERT_EQ(archive.Open(path), kStatusOk);
    setenv("STANDIN_MODE", "lie", 1);
    fs::create_directories(archive.WorkFolder());
    WriteFile(archive.WorkFolder() + "/t.exe", "MZ stale");
    EXPECT_EQ(archive.SaveAs(env_ / "t.exe", 0, nullptr), kStatusCannotCreate);
    EXPECT_FALSE(fs::exists(env_ / "t.exe"));
    setenv("STANDIN_MODE", "ok", 1);
    ASSERT_EQ(archive.SaveAs(env_ / "t.exe", 0, nullptr), kStatusOk) << archive.LastMessage();
    EXPECT_EQ(ReadFile(env_ / "t.exe"), "MZ self-extractor");
}

TEST(JarListing, KeysAndShapes) {
    const std::string text =
        "Chapter=1\n"
        "  File=docs\\readme.txt\nSize=12\nModified=2020-01-02 03:04:05\nAttributes=9\n"
        "File=folder\nAttributes=16\n"
        "File=noattr.txt\nSize=3\nChapter=2\n"
        "File=badtime.txt\nModified=yesterday at noon\nAttributes=32\n"
        "attributes=1\n";
    auto members = JarArchive::ParseListing(text);
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[0].name, "docs\\readme.txt");
    EXPECT_EQ(members[0].size, 12);
    EXPECT_TRUE(members[0].has_time);
    EXPECT_EQ(members[0].year, 2020);
    EXPECT_EQ(members[0].second, 5);
    EXPECT_EQ(members[0].attributes, 0x21u);
    EXPECT_EQ(members[1].name, "badtime.txt");
    EXPECT_FALSE(members[1].has_time) << "a Modified value of another shape is not read as a date";
    EXPECT_EQ(members[1].size, -1);
}

TEST_F(ExternalArchiveTest, JarListsThroughTheArchiversListing) {
    UseProgram("JAR", standin_);
    // A JAR signature at offset 14, then the stand-in's members after a line break.
    std::string head(14, 'x');
    head += std::string("\x1A\x4A\x61\x72\x1B\x00", 6);
    std::string path = env_ / "t.j";
    // The stand-in reads its fake archive from the "lt" argument: give it one of its own.
    WriteFile(path, head);
    WriteFile(env_ / "listing-source", "");
    JarArchive jar;
    // The stand-in's "lt" reads the archive as a fake archive; a file it cannot parse lists
    // nothing, so the handler gets an empty listing and still opens.
    int status = jar.Open(path);
    auto runs = Recorded(log_);
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_GE(runs[0].argv.size(), 4u);
    EXPECT_EQ(runs[0].argv[1], "lt");
    EXPECT_EQ(runs[0].argv[2], path);
    EXPECT_EQ(runs[0].argv[3], jar.WorkFolder() + "/quorbel.lt");
    EXPECT_EQ(runs[0].cwd, env_ / "bin") << "the archiver's own folder";
    EXPECT_EQ(status, kStatusNotThisFormat) << "no listing was written";
}

// --- the runner itself ---

class AbortAfter : public ProgressSink {
public:
    explicit AbortAfter(int calls) : left_(calls) {}
    int SetPos(int64_t, bool) override { return --left_ > 0 ? 1 : 0; }

private:
    int left_;
};

TEST(RunProgram, TellsHowTheProgramEnded) {
    ProgramRequest ok{"sh", {"-c", "echo out; echo err >&2; exit 0"}, "", nullptr, true};
    ProgramResult r = RunProgram(ok);
    EXPECT_TRUE(r.Succeeded());
    EXPECT_EQ(r.output, "out\nerr\n");

    r = RunProgram({"sh", {"-c", "exit 3"}, "", nullptr, true});
    EXPECT_EQ(r.outcome, ProgramResult::Outcome::kExited);
    EXPECT_EQ(r.Describe(), "exit status 3");

    r = RunProgram({"sh", {"-c", "kill -9 $$"}, "", nullptr, true});
    EXPECT_EQ(r.Describe(), "killed");

    r = RunProgram({"/nonexistent/program", {}, "", nullptr, true});
    EXPECT_EQ(r.Describe(), "could not start");
}

TEST(RunProgram, OwnFolderNullInputNoShell) {
    test::TempDir dir;
    char before[4096];
    ASSERT_TRUE(getcwd(before, sizeof before));
    ProgramResult r = RunProgram({"pwd", {}, dir.path(), nullptr, true});
    EXPECT_EQ(r.output, dir.path() + "\n");
    char after[4096];
    ASSERT_TRUE(getcwd(after, sizeof after));
    EXPECT_STREQ(before, after) << "the caller's working folder never changes";
    // stdin is /dev/null: cat ends at once with nothing.
    r = RunProgram({"cat", {}, "", nullptr, true});
    EXPECT_TRUE(r.Succeeded());
    EXPECT_EQ(r.output, "");
    // Arguments reach the program untouched by any shell.
    r = RunProgram({"printf", {"%s|", "a b", "$HOME", "*", "'q'"}, "", nullptr, true});
    EXPECT_EQ(r.output, "a b|$HOME|*|'q'|");
}

TEST(RunProgram, CancelKillsTheWholeGroup) {
    test::TempDir dir;
    AbortAfter sink(3);
    // The shell starts a grandchild that would outlive it; the cancel must end both.
    std::string marker = dir / "late";
    ProgramResult r = RunProgram({"sh", {"-c", "(sleep 3; touch " + marker + ") & sleep 60"}, "", &sink, true});
    EXPECT_EQ(r.outcome, ProgramResult::Outcome::kCancelled);
    sleep(4);
    EXPECT_FALSE(fs::exists(marker)) << "the grandchild was killed with its group";
}

TEST(RunProgram, WindowsProgramsNeedWine) {
    test::TempDir dir;
    WriteFile(dir / "tool.exe", "MZ\x90\x00 not really a program");
    chmod((dir / "tool.exe").c_str(), 0755);
    test::ScopedEnv path("PATH", "/nonexistent");
    ProgramResult r = RunProgram({dir / "tool.exe", {}, "", nullptr, true});
    EXPECT_EQ(r.outcome, ProgramResult::Outcome::kNotStarted);
    EXPECT_NE(r.start_error.find("wine"), std::string::npos);
    EXPECT_EQ(WindowsPath("/tmp/a b/c.arj"), "Z:\\tmp\\a b\\c.arj");
}

struct SplitRow {
    const char* text;
    std::vector<std::string> args;
};

TEST(CommandTemplate, SplitBeforeFilling) {
    const std::vector<SplitRow> rows = {
        {"a -ep -y %Archive \"%File\"", {"a", "-ep", "-y", "%Archive", "%File"}},
        {"a -y -g\"%Password\" %Archive", {"a", "-y", "-g%Password", "%Archive"}},
        {"  x   \"two words\"  ", {"x", "two words"}},
        {"\"\"", {""}},
        {"say \"a \"\"q\"\" b\"", {"say", "a \"q\" b"}},
    };
    for (const SplitRow& row : rows) EXPECT_EQ(SplitCommandTemplate(row.text), row.args) << row.text;

    std::vector<std::pair<std::string, std::string>> values = {
        {"%Archive", "/a/%File.arj"}, {"%File", "%Password.txt"}, {"%Password", "pw"}};
    EXPECT_EQ(FillPlaceholders("%File", values), "%Password.txt") << "inserted text is not scanned again";
    EXPECT_EQ(FillPlaceholders("%Archive", values), "/a/%File.arj");
    EXPECT_EQ(FillPlaceholders("-g%Password%File", values), "-gpw%Password.txt");
    EXPECT_EQ(FillPlaceholders("%OutputDir", values), "%OutputDir") << "no value: the placeholder stays";
}

}  // namespace
}  // namespace quorbel
