// Every archive quorbel-cli writes must be accepted by the peers: unzip -t, 7z t, zipinfo.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include <sys/stat.h>

#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;


class CliWriteTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUORBEL_REQUIRE_TOOL("unzip");
        QUORBEL_REQUIRE_TOOL("7z");
        QUORBEL_REQUIRE_TOOL("zipinfo");
        src_ = env_ / "src";
        test::WriteFile(src_ + "/a.txt", "alpha\n");
        test::WriteFile(src_ + "/docs/readme.txt", std::string(20000, 'r'));
        test::WriteFile(src_ + "/docs/caf\xc3\xa9.txt", "unicode name");
        test::WriteFile(src_ + "/run.sh", "#!/bin/sh\necho hi\n");
        chmod((src_ + "/run.sh").c_str(), 0755);
        std::string noise;
        for (int i = 0; i < 40000; ++i) noise += char((i * 7919u) >> 3);
        test::WriteFile(src_ + "/bin/noise.bin", noise);
        test::WriteFile(src_ + "/empty", "");
        for (const auto& e : fs::recursive_directory_iterator(src_))
            if (e.is_regular_file()) test::SetMtime(e.path().string(), 1700000000);
        archive_ = env_ / "t.zip";
    }
    test::CommandResult Cli(std::vector<std::string> args, const std::string& cwd = "") {
        args.insert(args.begin(), QUORBEL_CLI_PATH);
        return test::Run(args, cwd);
    }
    // Both peers accept the archive (with the password when one is given).
    void ExpectPeersAccept(const std::string& password = "") {
        std::vector<std::string> unzip = {"unzip", "-tq"};
        if (!password.empty()) unzip.insert(unzip.end(), {"-P", password});
        unzip.push_back(archive_);
        auto u = test::Run(unzip);
        EXPECT_EQ(u.exit_code, 0) << u.out << u.err;
        std::vector<std::string> seven = {"7z", "t"};
        if (!password.empty()) seven.push_back("-p" + password);
        seven.push_back(archive_);
        auto s = test::Run(seven);
        EXPECT_EQ(s.exit_code, 0) << s.out << s.err;
        EXPECT_NE(s.out.find("Everything is Ok"), std::string::npos) << s.out;
        EXPECT_EQ(s.out.find("WARNINGS"), std::string::npos) << s.out;
    }
    std::string ZipInfo() { return test::Run({"zipinfo", archive_}).out; }

    test::IsolatedEnvironment env_;
    std::string src_, archive_;
};

TEST_F(CliWriteTest, CreateThenChangeStaysValidForPeers) {
    auto r = Cli({"create", archive_, src_});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ExpectPeersAccept();
    std::string info = ZipInfo();
    for (const char* name : {" a.txt", " docs/readme.txt", " docs/caf\xc3\xa9.txt", " run.sh", " bin/noise.bin", " empty"})
        EXPECT_NE(info.find(name), std::string::npos) << name << "\n" << info;
    EXPECT_NE(info.find("-rwxr-xr-x"), std::string::npos) << info;  // the mode is stored
    EXPECT_NE(info.find("defX 23-Nov-14 22:13 docs/readme.txt"), std::string::npos) << info;
    EXPECT_NE(info.find("stor 23-Nov-14 22:13 empty"), std::string::npos) << info;

    // Add under a folder, freshen, update, delete, rename, comment: peers accept every step.
    test::WriteFile(env_ / "more/new.txt", "new file");
    ASSERT_EQ(Cli({"add", archive_, env_ / "more/new.txt", "--folder", "extra"}).exit_code, 0);
    ExpectPeersAccept();
    EXPECT_NE(ZipInfo().find(" extra/new.txt"), std::string::npos);

    test::WriteFile(src_ + "/a.txt", "alpha, changed\n");
    test::SetMtime(src_ + "/a.txt", 1800000000);
    test::WriteFile(src_ + "/not-in-archive.txt", "x");
    r = Cli({"add", archive_, src_ + "/a.txt", src_ + "/not-in-archive.txt", "--action", "freshen", "--base", src_});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string listing = test::Run({"unzip", "-l", archive_}).out;
    EXPECT_EQ(listing.find("not-in-archive.txt"), std::string::npos);  // freshen adds nothing new
    EXPECT_EQ(test::Run({"unzip", "-p", archive_, "a.txt"}).out, "alpha, changed\n");
    r = Cli({"add", archive_, src_ + "/not-in-archive.txt", "--action", "update", "--base", src_});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(test::Run({"unzip", "-l", archive_}).out.find("not-in-archive.txt"), std::string::npos);

    ASSERT_EQ(Cli({"delete", archive_, "bin/noise.bin", "empty"}).exit_code, 0);
    ASSERT_EQ(Cli({"rename", archive_, "docs/readme.txt", "docs/README.TXT"}).exit_code, 0);
    ASSERT_EQ(Cli({"comment", archive_, "--text", "the archive note"}).exit_code, 0);
    ASSERT_EQ(Cli({"comment", archive_, "run.sh", "--text", "a script"}).exit_code, 0);
    ASSERT_EQ(Cli({"rename", archive_, "run.sh", "tools/run.sh"}).exit_code, 0);
    ExpectPeersAccept();
    listing = test::Run({"unzip", "-l", archive_}).out;
    EXPECT_EQ(listing.find("noise.bin"), std::string::npos);
    EXPECT_NE(listing.find("docs/README.TXT"), std::string::npos);  // a case change is a rename
    EXPECT_NE(listing.find("the archive note"), std::string::npos);
    std::string verbose = test::Run({"zipinfo", "-v", archive_}).out;
    EXPECT_NE(verbose.find("a script"), std::string::npos) << "the rename kept the comment";

    // What we wrote extracts with our own reader too, modes included.
    r = Cli({"extract", archive_, "-d", env_ / "out"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(test::ReadFile(env_ / "out/docs/README.TXT"), std::string(20000, 'r'));
    struct stat st{};
    ASSERT_EQ(stat((env_ / "out/tools/run.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    // The previous archive is kept as .old.
    EXPECT_TRUE(fs::exists(env_ / "t.old"));
}

TEST_F(CliWriteTest, EncryptedMembersOpenWithThePassword) {
    auto r = Cli({"--password", "s3cret", "create", archive_, src_});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ExpectPeersAccept("s3cret");
    auto wrong = test::Run({"unzip", "-tq", "-P", "nope", archive_});
    EXPECT_NE(wrong.exit_code, 0);
    r = test::Run({"unzip", "-P", "s3cret", "-d", env_ / "peer", archive_});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(test::ReadFile(env_ / "peer/docs/readme.txt"), std::string(20000, 'r'));
    EXPECT_EQ(test::ReadFile(env_ / "peer/empty"), "");
    // Two archives of the same files never share their encryption headers.
    std::string first = test::ReadFile(archive_);
    fs::remove(archive_);
    ASSERT_EQ(Cli({"--password", "s3cret", "create", archive_, src_}).exit_code, 0);
    EXPECT_NE(first, test::ReadFile(archive_));
    r = Cli({"--password", "s3cret", "test", archive_});
    EXPECT_EQ(r.exit_code, 0) << r.out;
}

TEST_F(CliWriteTest, SelfExtractorPrefixIsKept) {
    QUORBEL_REQUIRE_TOOL("zip");
    std::string plain = env_ / "plain.zip";
    ASSERT_EQ(test::Run({"zip", "-qr", plain, "."}, src_).exit_code, 0);
    std::string stub(8192, 'S');
    test::WriteFile(archive_, stub + test::ReadFile(plain));
    ASSERT_EQ(test::Run({"zip", "-qA", archive_}).exit_code, 0);
    test::WriteFile(env_ / "add.txt", "added");
    ASSERT_EQ(Cli({"add", archive_, env_ / "add.txt"}).exit_code, 0);
    EXPECT_EQ(test::ReadFile(archive_).substr(0, stub.size()), stub);
    ExpectPeersAccept();
}

TEST_F(CliWriteTest, DeletingTheOnlyMemberLeavesAnEndRecord) {
    test::WriteFile(env_ / "one/x.txt", "x");
    ASSERT_EQ(Cli({"create", archive_, env_ / "one"}).exit_code, 0);
    ASSERT_EQ(Cli({"delete", archive_, "x.txt"}).exit_code, 0);
    EXPECT_EQ(fs::file_size(archive_), 22u);
    auto r = Cli({"list", archive_});
    EXPECT_EQ(r.exit_code, 0) << r.err;
}

TEST_F(CliWriteTest, ManyMembersGetZip64Records) {
    std::string many = env_ / "many";
    for (int i = 0; i < 70000; ++i) {
        std::string dir = many + "/d" + std::to_string(i / 1000);
        if (i % 1000 == 0) fs::create_directories(dir);
        FILE* f = std::fopen((dir + "/f" + std::to_string(i)).c_str(), "wb");
        std::fputc('a' + i % 26, f);
        std::fclose(f);
    }
    auto r = Cli({"create", archive_, many});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    auto s = test::Run({"7z", "t", archive_});
    EXPECT_NE(s.out.find("Everything is Ok"), std::string::npos) << s.out.substr(0, 2000);
    EXPECT_NE(s.out.find("Files: 70000"), std::string::npos) << s.out.substr(s.out.size() > 500 ? s.out.size() - 500 : 0);
    r = Cli({"list", archive_, "--csv", "--columns", "1"});
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 70000);
}

TEST_F(CliWriteTest, UuencodeDecodesWithThePeer) {
    QUORBEL_REQUIRE_TOOL("uudecode");
    ASSERT_EQ(Cli({"create", archive_, src_}).exit_code, 0);
    auto r = Cli({"uuencode", archive_});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ASSERT_TRUE(fs::exists(env_ / "t.uue"));
    r = test::Run({"uudecode", "-o", env_ / "back.zip", env_ / "t.uue"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(test::ReadFile(env_ / "back.zip"), test::ReadFile(archive_));
    // And our reader lists the encoded archive as a UUE file holding it.
    r = Cli({"list", env_ / "t.uue", "--csv", "--columns", "1"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "t.zip\n");
}

// New members are packed ahead on worker threads; a cancel wherever it lands leaves the archive
// as it was and nothing beside it, and the workers are stopped (the process ends).
TEST_F(CliWriteTest, CancelledAddLeavesTheArchiveAsItWas) {
    ASSERT_EQ(Cli({"create", archive_, src_}).exit_code, 0);
    const std::string before = test::ReadFile(archive_);
    const std::string more = env_ / "more";
    for (int i = 0; i < 120; ++i) {
        std::string data;
        for (int j = 0; j < 2000 + i * 300; ++j) data += char('a' + (j * 31 + i) % 26);
        test::WriteFile(more + "/m" + std::to_string(i) + ".txt", data);
    }
    auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(env_.dir().path())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const auto names_before = listing();
    bool saw_cancel = false;
    for (int n : {3, 40, 130, 180, 230, 1000000}) {
        SCOPED_TRACE("QUORBEL_ABORT_AFTER=" + std::to_string(n));
        test::CommandResult r;
        {
            test::ScopedEnv abort_after("QUORBEL_ABORT_AFTER", std::to_string(n));
            r = Cli({"add", archive_, more});
        }
        if (r.exit_code == 0) {
            auto l = Cli({"list", archive_, "--csv", "--columns", "1"});
            EXPECT_EQ(std::count(l.out.begin(), l.out.end(), '\n'), 6 + 120);
            ExpectPeersAccept();
            break;
        }
        saw_cancel = true;
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.err.find("Aborted"), std::string::npos) << r.err;
        EXPECT_TRUE(test::ReadFile(archive_) == before);
        EXPECT_EQ(listing(), names_before);
    }
    EXPECT_TRUE(saw_cancel);
}

TEST_F(CliWriteTest, BadWriteUsage) {
    EXPECT_EQ(Cli({"add", archive_}).exit_code, 2);
    EXPECT_EQ(Cli({"rename", archive_, "x"}).exit_code, 2);
    EXPECT_EQ(Cli({"comment", archive_}).exit_code, 2);
    ASSERT_EQ(Cli({"create", archive_, src_}).exit_code, 0);
    auto r = Cli({"delete", archive_, "no/such/member"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("no/such/member"), std::string::npos);
    r = Cli({"add", archive_, env_ / "missing.txt"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.rfind("Cannot open file", 0), 0u) << r.err;
}

}  // namespace
}  // namespace quorbel
