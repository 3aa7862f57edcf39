#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "core/data_stream.h"
#include "core/progress_sink.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

TEST(DataStreamTest, MemoryWriteGrowsInWholeSteps) {
    DataStream s;
    ASSERT_TRUE(s.CreateMemory(0));
    const char ten[10] = "123456789";
    EXPECT_EQ(s.Write(ten, 10), 10u);
    EXPECT_EQ(s.MemoryCapacity(), DataStream::kGrowStep);
    std::string big(DataStream::kGrowStep * 2, 'x');
    EXPECT_EQ(s.Write(big.data(), big.size()), big.size());
    EXPECT_EQ(s.MemoryCapacity(), 3 * DataStream::kGrowStep);
    EXPECT_EQ(std::memcmp(s.MemoryData(), ten, 10), 0);
}

TEST(DataStreamTest, ShortReadAtTheEndSetsTheEndFlag) {
    std::vector<uint8_t> block(100, 7);
    DataStream s;
    s.AttachMemory(block.data(), block.size());
    EXPECT_EQ(s.Seek(90, DataStream::Origin::Start), 90);
    uint8_t buf[100];
    EXPECT_EQ(s.Read(buf, 100), 10u);
    EXPECT_TRUE(s.AtEnd());
    EXPECT_EQ(s.LastCount(), 10u);
    // The end itself is a position, as in a file: an empty member may start there.
    EXPECT_EQ(s.Seek(100, DataStream::Origin::Start), 100);
    EXPECT_FALSE(s.AtEnd());
    EXPECT_EQ(s.Read(buf, 1), 0u);
    EXPECT_TRUE(s.AtEnd());
    // A seek past the end stays on the last byte.
    EXPECT_EQ(s.Seek(500, DataStream::Origin::Start), 99);
    EXPECT_TRUE(s.AtEnd());
    s.Rewind();
    EXPECT_FALSE(s.AtEnd());
    EXPECT_EQ(s.Tell(), 0);
}

TEST(DataStreamTest, FileRoundTripAndSize) {
    test::TempDir dir;
    DataStream w;
    ASSERT_TRUE(w.OpenFile(dir / "f.bin", false));
    EXPECT_EQ(w.Name(), dir / "f.bin");
    EXPECT_EQ(w.Write("abcdef", 6), 6u);
    EXPECT_TRUE(w.Flush());
    w.Close();
    EXPECT_TRUE(w.Name().empty());
    DataStream r;
    ASSERT_TRUE(r.OpenFile(dir / "f.bin", true));
    EXPECT_EQ(r.Size(), 6);
    char buf[4] = {};
    EXPECT_EQ(r.Seek(-3, DataStream::Origin::End), 3);
    EXPECT_EQ(r.Read(buf, 3), 3u);
    EXPECT_STREQ(buf, "def");
    EXPECT_FALSE(r.OpenFile(dir / "missing", true));
}

// A read file is served through a buffer that grows while reading goes on: whatever the mix
// of seeks and read sizes, every read returns the file's bytes, and the end flag behaves as a
// file's (set by a short read, cleared by a seek).
// Also within a shared reading, where reads inside the first page come from its copy: the
// second of two streams there reads through the same open file.
void CheckReadsAgainst(const std::string& path, const std::string& bytes) {
    uint32_t state = 777;
    DataStream r;
    ASSERT_TRUE(r.OpenFile(path, true));
    const int64_t size = int64_t(bytes.size());
    std::vector<uint8_t> buf(200 * 1024);
    int64_t pos = 0;
    for (int step = 0; step < 3000; ++step) {
        state = state * 1103515245u + 12345u;
        const uint32_t pick = state >> 8;
        if (pick % 4 == 0) {
            // A seek from one of the three origins, now and then before the start or past the end.
            const int64_t target = int64_t(pick >> 4) % (size + 5000) - 100;
            const int origin = int(pick >> 2) % 3;
            const int64_t offset = origin == 0 ? target : origin == 1 ? target - pos : target - size;
            const int64_t got = r.Seek(offset, origin == 0   ? DataStream::Origin::Start
                                               : origin == 1 ? DataStream::Origin::Current
                                                             : DataStream::Origin::End);
            if (target < 0) {
                ASSERT_EQ(got, -1) << step;
            } else {
                ASSERT_EQ(got, target) << step;
                pos = target;
                ASSERT_FALSE(r.AtEnd()) << step;
            }
            ASSERT_EQ(r.Tell(), pos) << step;
            continue;
        }
        // Reads of one byte, a few, about a buffer's worth, and much more.
        const size_t sizes[] = {1, 3, 4095, 4096, 5000, 70000, 150000};
        const size_t n = sizes[(pick >> 3) % 7];
        const size_t expected = pos >= size ? 0 : size_t(std::min<int64_t>(int64_t(n), size - pos));
        ASSERT_EQ(r.Read(buf.data(), n), expected) << step;
        ASSERT_EQ(std::memcmp(buf.data(), bytes.data() + pos, expected), 0) << step;
        pos += int64_t(expected);
        ASSERT_EQ(r.Tell(), pos) << step;
        if (expected < n) {
            ASSERT_TRUE(r.AtEnd()) << step;
        }
    }
    EXPECT_EQ(r.Size(), size);
    EXPECT_FALSE(r.Error());
    // Bits come from the same buffer.
    r.Rewind();
    EXPECT_EQ(r.Tell(), 0);
    int first = 0;
    for (int i = 0; i < 8; ++i) first = first << 1 | r.ReadBit();
    EXPECT_EQ(first, uint8_t(bytes[0]));
    uint8_t second = 0;
    EXPECT_EQ(r.Read(&second, 1), 1u);
    EXPECT_EQ(second, uint8_t(bytes[1]));
}

TEST(DataStreamTest, FileReadsThroughTheBufferReturnTheFileBytes) {
    test::TempDir dir;
    // A large file, one shorter than a page, and one of exactly a page.
    for (size_t length : {size_t(300 * 1024 + 17), size_t(1000), size_t(4096)}) {
        SCOPED_TRACE(length);
        std::string bytes(length, '\0');
        uint32_t state = 12345;
        for (char& c : bytes) c = char((state = state * 1103515245u + 12345u) >> 24);
        test::WriteFile(dir / "f.bin", bytes);
        CheckReadsAgainst(dir / "f.bin", bytes);
        SharedReading shared(dir / "f.bin");
        CheckReadsAgainst(dir / "f.bin", bytes);
        CheckReadsAgainst(dir / "f.bin", bytes);
    }
}

// The streams of a shared reading use one open file and its status while it lasts; a stream
// that outlives it sees the file as it is from then on. Other paths, writing and other
// threads' streams are not concerned.
TEST(DataStreamTest, SharedReadingOpensTheFileOnce) {
    test::TempDir dir;
    test::WriteFile(dir / "a.bin", std::string(5000, 'a'));
    test::WriteFile(dir / "b.bin", "bb");
    DataStream kept;
    {
        SharedReading shared(dir / "a.bin");
        DataStream first;
        ASSERT_TRUE(first.OpenFile(dir / "a.bin", true));
        // Gone by name: the next stream still opens the same file.
        const std::string moved = dir / "moved.bin";
        ASSERT_EQ(std::rename((dir / "a.bin").c_str(), moved.c_str()), 0);
        ASSERT_TRUE(kept.OpenFile(dir / "a.bin", true));
        first.Close();
        EXPECT_EQ(kept.Size(), 5000);
        // Growth while the reading lasts is not seen; its status stands for the file.
        std::FILE* grow = std::fopen(moved.c_str(), "ab");
        ASSERT_NE(grow, nullptr);
        std::fputs(std::string(1000, 'c').c_str(), grow);
        std::fclose(grow);
        test::WriteFile(dir / "a.bin", "new");
        EXPECT_EQ(kept.Size(), 5000);
        struct stat st{};
        ASSERT_TRUE(kept.FileStatus(st));
        EXPECT_EQ(st.st_size, 5000);
        // Reads far beyond the first page and the end (no overflow on the way).
        uint8_t far[100];
        EXPECT_EQ(kept.Seek(INT64_MAX - 10, DataStream::Origin::Start), INT64_MAX - 10);
        EXPECT_EQ(kept.Read(far, sizeof far), 0u);
        EXPECT_EQ(kept.Seek(5990, DataStream::Origin::Start), 5990);  // what the file holds
        EXPECT_EQ(kept.Read(far, sizeof far), 10u);
        kept.Rewind();
        // Another path opens on its own.
        DataStream other;
        ASSERT_TRUE(other.OpenFile(dir / "b.bin", true));
        EXPECT_EQ(other.Size(), 2);
        // A missing file under the shared name fails as it would alone.
        DataStream missing;
        SharedReading none(dir / "none.bin");
        EXPECT_FALSE(missing.OpenFile(dir / "none.bin", true));
    }
    // The kept stream reads its own file, grown meanwhile, and asks the system again.
    EXPECT_EQ(kept.Size(), 6000);
    std::string back(6000, '\0');
    EXPECT_EQ(kept.Read(back.data(), back.size()), 6000u);
    EXPECT_EQ(back, std::string(5000, 'a') + std::string(1000, 'c'));
    // Without a shared reading the name leads to the new file.
    DataStream fresh;
    ASSERT_TRUE(fresh.OpenFile(dir / "a.bin", true));
    EXPECT_EQ(fresh.Size(), 3);
}

TEST(DataStreamTest, BitsAreMostSignificantFirstAndByteWritesFlushThem) {
    DataStream s;
    s.CreateMemory(0);
    for (int bit : {1, 0, 1}) s.WriteBit(bit);
    s.Write("Z", 1);  // ends the bit group: 101 padded to 0xA0
    ASSERT_GE(s.MemoryCapacity(), 2u);
    EXPECT_EQ(s.MemoryData()[0], 0xA0);
    EXPECT_EQ(s.MemoryData()[1], 'Z');
    DataStream r;
    uint8_t byte = 0xA0;
    r.AttachMemory(&byte, 1);
    EXPECT_EQ(r.ReadBit(), 1);
    EXPECT_EQ(r.ReadBit(), 0);
    EXPECT_EQ(r.ReadBit(), 1);
}

class CountingSink : public ProgressSink {
public:
    void Refresh() override {
        ++refreshes;
        ProgressSink::Refresh();
    }
    int refreshes = 0;
};

TEST(ProgressSinkTest, NestingRangesAndCancel) {
    CountingSink sink;
    sink.SetRange(1, 2);  // ignored before Begin
    EXPECT_EQ(sink.Maximum(), 100);
    sink.Begin();
    sink.SetText("outer");
    sink.Begin();  // inner Begin keeps the outer display
    EXPECT_EQ(sink.Text(), "outer");
    sink.SetRange(5, 5);
    EXPECT_EQ(sink.Minimum(), 5);
    EXPECT_EQ(sink.Maximum(), 6);
    sink.End(0);
    EXPECT_EQ(sink.Depth(), 1);
    sink.Begin();
    sink.End(1);
    EXPECT_EQ(sink.Depth(), 0);

    sink.Begin();
    EXPECT_EQ(sink.SetPos(3), 1);
    int before = sink.refreshes;
    EXPECT_EQ(sink.SetPos(3), 1);  // unchanged position: no redraw
    EXPECT_EQ(sink.refreshes, before);
    sink.RequestCancel();
    EXPECT_EQ(sink.SetPos(3), 0);  // cancelled, even without a change
    sink.End(0);
    sink.Begin();  // a new operation starts uncancelled
    EXPECT_EQ(sink.SetPos(1), 1);
    EXPECT_EQ(sink.Text(), "Working...");
}

}  // namespace
}  // namespace quorbel
