// The packer that reads and deflates new members ahead of the writer: results in order, the
// same bytes whatever the number of workers, a budget that never stalls, a wait that stops.
#include <gtest/gtest.h>

#include <thread>

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "core/zip/deflate.h"
#include "core/zip/member_packer.h"
#include "support/test_support.h"

namespace quorbel::zip {
namespace {

std::string Noise(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    for (char& c : s) {
        seed = seed * 1664525u + 1013904223u;
        c = char(seed >> 24);
    }
    return s;
}

std::string Text(size_t n) {
    std::string s;
    while (s.size() < n) s += "member " + std::to_string(s.size() % 977) + " of the folder\n";
    s.resize(n);
    return s;
}

std::string Inflate(const uint8_t* data, size_t size, size_t out_size) {
    std::string out(out_size, '\0');
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(size);
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    inflateEnd(&z);
    return out;
}

struct Case {
    const char* name;
    std::string data;  // empty name: the file is not written
    bool present = true;
    bool deflated = false;
};

TEST(MemberPackerTest, ResultsComeInOrderWhateverTheWorkersAndBudget) {
    test::TempDir dir;
    const std::vector<Case> cases = {
        {"empty", "", true, false},
        {"one", "x", true, false},
        {"text", Text(100000), true, true},
        {"noise", Noise(300000, 7), true, false},
        {"missing", "", false, false},
        {"big-text", Text(3u << 20), true, true},
        {"half", Noise(50000, 9) + Text(200000), true, true},
    };
    std::vector<MemberPacker::Job> jobs;
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string path = dir / cases[i].name;
        if (cases[i].present) test::WriteFile(path, cases[i].data);
        // Every other member leaves room for an encryption header.
        jobs.push_back({path, i % 2 ? size_t(12) : 0});
    }
    if (mkdir((dir / "folder").c_str(), 0755) == 0) jobs.push_back({dir / "folder", 0});

    std::vector<std::string> first_run;
    // One byte of budget: every file waits until it is the one the writer wants.
    for (auto [workers, budget] : {std::pair{1u, uint64_t(1) << 30}, {3u, uint64_t(1)}, {8u, uint64_t(200000)}}) {
        SCOPED_TRACE(testing::Message() << workers << " workers, budget " << budget);
        MemberPacker packer(jobs, workers, budget);
        std::vector<std::string> run;
        for (size_t k = 0; k < jobs.size(); ++k) {
            std::optional<PackedFile> f = packer.Take(k, [] { return true; });
            ASSERT_TRUE(f.has_value());
            if (k >= cases.size()) {
                EXPECT_EQ(f->outcome, PackedFile::Outcome::kCannotOpen) << "a folder is no file";
                continue;
            }
            const Case& c = cases[k];
            SCOPED_TRACE(c.name);
            if (!c.present) {
                EXPECT_EQ(f->outcome, PackedFile::Outcome::kCannotOpen);
                continue;
            }
            ASSERT_EQ(f->outcome, PackedFile::Outcome::kPacked);
            const size_t room = jobs[k].room;
            EXPECT_EQ(f->size, c.data.size());
            EXPECT_EQ(f->crc, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(c.data.data()), uInt(c.data.size()))));
            EXPECT_EQ(f->deflated, c.deflated);
            EXPECT_TRUE(S_ISREG(f->mode));
            ASSERT_GE(f->data.size, room);
            const uint8_t* body = f->data.data.get() + room;
            const size_t body_size = f->data.size - room;
            std::string back = f->deflated ? Inflate(body, body_size, c.data.size())
                                           : std::string(reinterpret_cast<const char*>(body), body_size);
            EXPECT_TRUE(back == c.data);
            run.emplace_back(reinterpret_cast<const char*>(body), body_size);
        }
        EXPECT_FALSE(packer.Take(jobs.size(), [] { return true; }).has_value());
        if (first_run.empty())
            first_run = run;
        else
            EXPECT_TRUE(run == first_run) << "the same bytes whatever the number of workers";
    }
}

TEST(MemberPackerTest, FilesAboveTheThresholdAreLeftToTheCaller) {
    test::TempDir dir;
    const std::string path = dir / "huge";
    {
        int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, off_t(kStreamingThreshold) + 1), 0);  // sparse: nothing is read
        close(fd);
    }
    MemberPacker packer({{path, 0}}, 2, 1);
    std::optional<PackedFile> f = packer.Take(0, [] { return true; });
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->outcome, PackedFile::Outcome::kTooLarge);
    EXPECT_EQ(f->size, kStreamingThreshold + 1);
    EXPECT_FALSE(f->data);
}

// A worker stuck on a pipe keeps the result from coming; the wait asks on, and the third
// refusal ends it. The pipe is then opened so the stuck worker can finish and be joined.
TEST(MemberPackerTest, TheWaitStopsWhenTheCallerSaysSo) {
    test::TempDir dir;
    const std::string pipe = dir / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::vector<MemberPacker::Job> jobs = {{pipe, 0}};
    for (int i = 0; i < 20; ++i) {
        const std::string path = dir / ("f" + std::to_string(i));
        test::WriteFile(path, Text(5000));
        jobs.push_back({path, 0});
    }
    int asked = 0;
    {
        MemberPacker packer(jobs, 2, 1u << 20);
        EXPECT_FALSE(packer.Take(0, [&] { return ++asked < 3; }).has_value());
        EXPECT_EQ(asked, 3);
        EXPECT_FALSE(packer.Take(1, [] { return true; }).has_value()) << "a stopped packer gives nothing";
        int fd = open(pipe.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        close(fd);
    }
}

}  // namespace
}  // namespace quorbel::zip
