// Multi-disk ZIP sets: sets we write must be read by the peers (7z, Info-ZIP's zip -s 0 and
// unzip), split archives made by zip -s must be read back member by member, and a set whose
// records point beyond its disks must be refused. (A lone first disk on a fixed drive is among
// the files that do not open in cli_zip_test.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include <sys/stat.h>

#include "core/byte_reader.h"
#include "core/messages.h"
#include "core/user_prompts.h"
#include "core/zip/zip_archive.h"
#include "core/zip/zip_span.h"
#include "platform/file_system.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using zip::SplitPartPath;

std::string Noise(size_t n) {
    std::string s(n, '\0');
    uint32_t x = 12345;
    for (char& c : s) c = char((x = x * 1664525u + 1013904223u) >> 24);
    return s;
}

// The person at the drive: answers from the script, and takes each finished disk out of the
// drive by moving it aside under its Info-ZIP name.
class MovingPrompts : public ScriptedPrompts {
public:
    MovingPrompts(std::string target, std::vector<std::string> answers)
        : ScriptedPrompts(std::move(answers)), target_(std::move(target)) {}
    bool AskNextDisk(const std::string& message) override {
        if (FileExists(target_)) std::rename(target_.c_str(), SplitPartPath(target_, moved_++).c_str());
        return ScriptedPrompts::AskNextDisk(message);
    }

private:
    std::string target_;
    uint32_t moved_ = 0;
};

// The person at a removable drive. Answers: "ok" puts the disk the question names in the
// drive, "stay" says ready without changing it, anything else cancels.
class SwappingPrompts : public NoPrompts {
public:
    SwappingPrompts(std::vector<std::string> disks, std::string drive_file, std::vector<std::string> answers)
        : disks_(std::move(disks)), drive_file_(std::move(drive_file)), answers_(std::move(answers)) {}
    bool AskNextDisk(const std::string& message) override {
        std::string answer = asked.size() < answers_.size() ? answers_[asked.size()] : "no";
        asked.push_back(message);
        unsigned n = 0;
        if (answer == "ok" && std::sscanf(message.c_str(), "Please insert disk #%u", &n) == 1 && n >= 1 &&
            n <= disks_.size())
            test::WriteFile(drive_file_, test::ReadFile(disks_[n - 1]));
        return answer == "ok" || answer == "stay";
    }
    std::vector<std::string> asked;

private:
    std::vector<std::string> disks_;
    std::string drive_file_;
    std::vector<std::string> answers_;
};

class ZipSpanTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        src_ = env_ / "src";
        test::WriteFile(src_ + "/a.txt", "alpha\n");
        std::string text;
        for (int i = 0; i < 9000; ++i) text += "line " + std::to_string(i * 7) + " of the text\n";
        test::WriteFile(src_ + "/docs/long.txt", text);
        test::WriteFile(src_ + "/bin/noise.bin", Noise(200000));
        test::WriteFile(src_ + "/bin/empty", "");
        for (const auto& e : fs::recursive_directory_iterator(src_))
            if (e.is_regular_file()) test::SetMtime(e.path().string(), 1700000000);
        archive_ = env_ / "plain.zip";
        ZipArchive maker;
        ASSERT_EQ(maker.CreateFromFolder(archive_, src_), kStatusOk) << maker.LastMessage();
    }
    void TearDown() override { SetPrompts(nullptr); }

    struct SpanResult {
        int status;
        std::string message;
        std::vector<std::string> asked;
        bool can_update;
    };
    SpanResult Span(const std::string& target, int64_t volume, std::vector<std::string> answers,
                    ProgressSink* sink = nullptr, bool move_disks = true) {
        ZipArchive zip;
        EXPECT_EQ(zip.Open(archive_), kStatusOk);
        zip.SetSink(sink);
        MovingPrompts moving(target, answers);
        ScriptedPrompts staying(answers);
        ScriptedPrompts& prompts = move_disks ? moving : staying;
        SetPrompts(&prompts);
        int status = zip.SaveAs(target, volume, nullptr);
        SetPrompts(nullptr);
        return {status, zip.LastMessage(), prompts.Asked(), zip.CanUpdate()};
    }
    static std::vector<std::string> Disks(const std::string& last) {
        std::vector<std::string> disks;
        for (uint32_t k = 0; FileExists(SplitPartPath(last, k)); ++k) disks.push_back(SplitPartPath(last, k));
        disks.push_back(last);
        return disks;
    }
    // Every member of the set reads back through our reader with its CRC checked.
    void ExpectReadsBack(const std::string& path) {
        ZipArchive zip;
        ASSERT_EQ(zip.Open(path), kStatusOk) << zip.LastMessage();
        int files = 0;
        for (size_t i = 0; i < zip.EntryCount(); ++i) {
            const ArchiveEntry& e = zip.Entry(i);
            if (!e.is_file) continue;
            ++files;
            int status = -1;
            MemoryBlock block = zip.UnpackEntry(e, status);
            ASSERT_EQ(status, kUnpackOk) << e.full_name << ": " << zip.LastMessage();
            std::string name = e.full_name;
            std::replace(name.begin(), name.end(), '\\', '/');
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data.get()), block.size),
                      test::ReadFile(src_ + "/" + name))
                << name;
        }
        EXPECT_EQ(files, 4);
    }

    test::IsolatedEnvironment env_;
    std::string src_, archive_;
};

const uint8_t* At(const std::string& bytes, size_t pos) {
    return reinterpret_cast<const uint8_t*>(bytes.data()) + pos;
}

// Local headers, central records and the end record each lie whole on one disk.
void ExpectRecordsWhole(const std::vector<std::string>& disks) {
    std::vector<size_t> start;
    std::string all;
    for (const auto& d : disks) {
        start.push_back(all.size());
        all += test::ReadFile(d);
    }
    auto disk_of = [&](size_t pos) { return size_t(std::upper_bound(start.begin(), start.end(), pos) - start.begin() - 1); };
    auto whole = [&](size_t pos, size_t len) { return disk_of(pos) == disk_of(pos + len - 1) && pos + len <= all.size(); };
    size_t end = all.rfind("PK\x05\x06");
    ASSERT_NE(end, std::string::npos);
    EXPECT_TRUE(whole(end, 22));
    EXPECT_EQ(disk_of(end), disks.size() - 1);
    EXPECT_EQ(Le16(At(all, end + 4)), disks.size() - 1);
    size_t pos = start.at(Le16(At(all, end + 6))) + Le32(At(all, end + 16));
    for (unsigned i = 0; i < Le16(At(all, end + 10)); ++i) {
        ASSERT_EQ(Le32(At(all, pos)), 0x02014b50u);
        size_t len = 46 + Le16(At(all, pos + 28)) + Le16(At(all, pos + 30)) + Le16(At(all, pos + 32));
        EXPECT_TRUE(whole(pos, len));
        size_t local = start.at(Le16(At(all, pos + 34))) + Le32(At(all, pos + 42));
        ASSERT_EQ(Le32(At(all, local)), 0x04034b50u);
        EXPECT_TRUE(whole(local, 30 + Le16(At(all, local + 26)) + Le16(At(all, local + 28))));
        pos += len;
    }
}

// Info-ZIP's zip -s 0 cuts members short when the split size is a multiple of 65536 (its own
// sets too), so the sizes here are not.
TEST_F(ZipSpanTest, WrittenSetsAreReadByPeersAndByUs) {
    QUORBEL_REQUIRE_TOOL("7z");
    QUORBEL_REQUIRE_TOOL("zip");
    QUORBEL_REQUIRE_TOOL("unzip");
    const std::string original = test::ReadFile(archive_);
    // Positions in the set's single output are the archive's own, 4 bytes on (the marker), so
    // a disk end can be aimed into a local header and into the first central record.
    ZipArchive plain;
    ASSERT_EQ(plain.Open(archive_), kStatusOk);
    const int64_t local = 4 + plain.Entry(size_t(plain.FindEntry("docs\\long.txt"))).header_offset;
    const int64_t central = 4 + int64_t(plain.End().central_offset);
    for (int64_t volume : {int64_t(70000), (local + 12) / 2, (central + 20) / 3, int64_t(1) << 20}) {
        SCOPED_TRACE(volume);
        const std::string folder = env_ / ("out" + std::to_string(volume));
        const std::string target = folder + "/set.zip";
        fs::create_directories(folder);
        SpanResult r = Span(target, volume, std::vector<std::string>(10, "ok"));
        ASSERT_EQ(r.status, kStatusOk) << r.message;
        EXPECT_FALSE(r.can_update);
        EXPECT_EQ(test::ReadFile(archive_), original);  // the open archive is not replaced
        std::vector<std::string> disks = Disks(target);
        ASSERT_EQ(r.asked.size(), disks.size());
        for (size_t k = 0; k < disks.size(); ++k) {
            EXPECT_EQ(r.asked[k], "Please insert disk #" + std::to_string(k + 1) + " in drive " +
                                      MountPointOf(folder) + ".");
            int64_t size = FileSize(disks[k]);
            EXPECT_LE(size, volume);
            if (k + 1 < disks.size()) {
                EXPECT_GT(size, volume - 128);  // filled, bar a header that did not fit
            }
        }
        EXPECT_EQ(test::ReadFile(disks[0]).substr(0, 4), "PK\x07\x08");
        ExpectRecordsWhole(disks);
        auto seven = test::Run({"7z", "t", target});
        EXPECT_NE(seven.out.find("Everything is Ok"), std::string::npos) << seven.out << seven.err;
        auto join = test::Run({"zip", "-s", "0", target, "--out", folder + "/joined.zip"});
        EXPECT_EQ(join.exit_code, 0) << join.err;
        auto unzip = test::Run({"unzip", "-tq", folder + "/joined.zip"});
        EXPECT_EQ(unzip.exit_code, 0) << unzip.out << unzip.err;
        ExpectReadsBack(target);
    }
}

TEST_F(ZipSpanTest, WritingStopsCleanly) {
    struct AbortWhileCopying : ProgressSink {
        int SetPos(int64_t p, bool redraw) override {
            if (Text().rfind("Copying", 0) == 0 && ++calls == 2) RequestCancel();
            return ProgressSink::SetPos(p, redraw);
        }
        int calls = 0;
    };
    struct Row {
        const char* name;
        std::string target;
        int64_t volume;
        std::vector<std::string> answers;
        bool abort_sink;
        int status;
        std::string message_start;
        std::vector<std::string> left;  // disk files that exist afterwards
    };
    const std::string out = env_ / "out";
    fs::create_directories(out);
    std::vector<Row> rows = {
        {"cancel_first_disk", out + "/a.zip", 70000, {"no"}, false, kStatusAborted, "Aborted", {}},
        {"cancel_second_disk", out + "/b.zip", 70000, {"ok", "cancel"}, false, kStatusAborted, "Aborted", {"b.z01"}},
        {"abort_on_second_disk", out + "/c.zip", 70000, {"ok", "ok", "ok"}, true, kStatusAborted, "Aborted", {"c.z01"}},
        {"missing_folder", out + "/none/d.zip", 70000, {"ok"}, false, kStatusCannotCreate, "Cannot create file", {}},
        {"volume_below_minimum", out + "/e.zip", 65535, {"ok"}, false, kStatusNoDiskSpace, "There is not enough", {}},
    };
    struct stat full{};
    if (stat("/dev/full", &full) == 0 && S_ISCHR(full.st_mode))
        rows.push_back({"disk_full", "/dev/full", 70000, {"ok"}, false, kStatusNoDiskSpace,
                        "There is not enough free disk space for writing in folder \"/dev\".", {}});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        AbortWhileCopying sink;
        // The device is never moved aside: its disk is "changed" by the script alone.
        SpanResult r = Span(row.target, row.volume, row.answers, row.abort_sink ? &sink : nullptr,
                            row.target != "/dev/full");
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.message.rfind(row.message_start, 0), 0u) << r.message;
        EXPECT_TRUE(r.can_update);
        if (row.target == "/dev/full") continue;
        std::vector<std::string> left;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(FolderOfPath(row.target), ec))
            if (e.path().stem() == fs::path(row.target).stem()) left.push_back(e.path().filename().string());
        EXPECT_EQ(left, row.left);
    }
}

TEST_F(ZipSpanTest, SetsAreReadFromARemovableDrive) {
    const std::string folder = env_ / "disks";
    fs::create_directories(folder);
    ASSERT_EQ(Span(folder + "/set.zip", 70000, std::vector<std::string>(10, "ok")).status, kStatusOk);
    const std::vector<std::string> disks = Disks(folder + "/set.zip");
    ASSERT_EQ(disks.size(), 4u);
    const std::string drive = env_ / "drive";
    test::ScopedEnv removable("QUORBEL_REMOVABLE_ROOTS", drive);
    const std::string prompt = "Please insert disk #%d in drive " + MountPointOf(drive) + ".";
    auto asked = [&](std::vector<int> numbers) {
        std::vector<std::string> texts;
        for (int n : numbers) texts.push_back(FormatText(prompt.c_str(), n));
        return texts;
    };
    struct Row {
        const char* name;
        size_t in_drive;
        std::vector<std::string> answers;
        int status;
        std::vector<std::string> asked;
    } rows[] = {
        {"first_disk_in_drive", 0, {"ok", "ok", "ok"}, kStatusOk, asked({2, 3, 4})},
        {"last_disk_in_drive", 3, {"ok", "ok", "ok", "ok"}, kStatusOk, asked({1, 2, 3, 4})},
        {"cancel_third_disk", 0, {"ok", "no"}, kStatusAborted, asked({2, 3})},
        // Disk 1 left in the drive is not taken for disk 2; the question is asked again.
        {"wrong_disk_asked_again", 0, {"stay", "ok", "ok", "ok"}, kStatusOk, asked({2, 2, 3, 4})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::create_directories(drive);
        test::WriteFile(drive + "/set.zip", test::ReadFile(disks[row.in_drive]));
        SwappingPrompts prompts(disks, drive + "/set.zip", row.answers);
        SetPrompts(&prompts);
        ZipArchive zip;
        EXPECT_EQ(zip.Open(drive + "/set.zip"), row.status) << zip.LastMessage();
        EXPECT_EQ(prompts.asked, row.asked);
        if (row.status == kStatusOk) {
            EXPECT_EQ(zip.EntryCount(), 4u);
            EXPECT_FALSE(zip.CanEdit());
            int status = -1;
            zip.UnpackEntry(zip.Entry(size_t(zip.FindEntry("bin\\noise.bin"))), status);
            EXPECT_EQ(status, kUnpackOk) << zip.LastMessage();
        }
        SetPrompts(nullptr);
    }
    // A set held whole on one disk is read without a question.
    ASSERT_EQ(Span(env_ / "one.zip", 1 << 20, {"ok"}).status, kStatusOk);
    fs::copy_file(env_ / "one.zip", drive + "/one.zip");
    ScriptedPrompts none({});
    SetPrompts(&none);
    ZipArchive one;
    EXPECT_EQ(one.Open(drive + "/one.zip"), kStatusOk) << one.LastMessage();
    EXPECT_TRUE(none.Asked().empty());
}

TEST_F(ZipSpanTest, InfoZipSplitsAreReadAndTheirDamageRefused) {
    QUORBEL_REQUIRE_TOOL("zip");
    fs::create_directories(env_ / "split");
    ASSERT_EQ(test::Run({"zip", "-q", "-s", "64k", "-r", "../split/big.zip", "."}, src_).exit_code, 0);
    const std::vector<std::string> disks = Disks(env_ / "split/big.zip");
    ASSERT_GE(disks.size(), 4u);
    ExpectReadsBack(disks.back());
    ExpectReadsBack(disks.front());
    // A set made whole in one file by zip -s is complete.
    ASSERT_EQ(test::Run({"zip", "-q", "-s", "64k", "../single.zip", "a.txt"}, src_).exit_code, 0);
    ZipArchive single;
    EXPECT_EQ(single.Open(env_ / "single.zip"), kStatusOk) << single.LastMessage();

    const std::string last = test::ReadFile(disks.back());
    const size_t end = last.rfind("PK\x05\x06");
    ASSERT_EQ(Le16(At(last, end + 6)), disks.size() - 1);  // the directory is on the last disk
    const size_t noise = last.find("bin/noise.bin", Le32(At(last, end + 16))) - 46;
    struct Row {
        const char* name;
        size_t field;  // in the last disk
        int width;
        uint32_t value;
        int open_status;
        std::string message;
    };
    const Row rows[] = {
        {"member_disk_beyond_set", noise + 34, 2, 9, kStatusOk, ""},
        // Still inside the joined copy, but past the end of the member's own disk.
        {"member_offset_beyond_disk", noise + 42, 4,
         uint32_t(FileSize(disks.at(Le16(At(last, noise + 34)))) + 10), kStatusOk, ""},
        {"directory_disk_beyond_set", end + 6, 2, 9, kStatusCorrupt, "seams to be an archive"},
        {"directory_offset_beyond_disk", end + 16, 4, 0xFFFFFF, kStatusCorrupt, "seams to be an archive"},
        {"end_names_missing_disks", end + 4, 2, 40, kStatusCannotOpen,
         fs::path(SplitPartPath(disks.back(), uint32_t(disks.size() - 1))).filename().string()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string folder = env_ / row.name;
        fs::create_directories(folder);
        for (const auto& d : disks) fs::copy_file(d, folder + "/" + fs::path(d).filename().string());
        std::string patched = last;
        for (int i = 0; i < row.width; ++i) patched[row.field + size_t(i)] = char(row.value >> (8 * i));
        test::WriteFile(folder + "/big.zip", patched);
        ZipArchive zip;
        ASSERT_EQ(zip.Open(folder + "/big.zip"), row.open_status) << zip.LastMessage();
        EXPECT_NE(zip.LastMessage().find(row.message), std::string::npos) << zip.LastMessage();
        if (row.open_status != kStatusOk) continue;
        int status = -1;
        EXPECT_FALSE(zip.UnpackEntry(zip.Entry(size_t(zip.FindEntry("bin\\noise.bin"))), status));
        EXPECT_EQ(status, kUnpackDataError);
        EXPECT_EQ(zip.LastMessage().rfind("An error occurred while decompressing", 0), 0u);
        zip.UnpackEntry(zip.Entry(size_t(zip.FindEntry("docs\\long.txt"))), status);
        EXPECT_EQ(status, kUnpackOk);
    }
}

}  // namespace
}  // namespace quorbel
