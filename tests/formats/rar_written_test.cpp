// RAR 2.0 archives made by the tests' own writer (solid chains, multimedia blocks with one to
// four channels, table switches inside members): unar must unpack each to the same bytes
// before our engine is checked against them, so a fault shared by writer and engine cannot
// pass.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/messages.h"
#include "core/settings.h"
#include "core/status.h"
#include "formats/engines/crc16.h"
#include "formats/rar/rar_archive.h"
#include "formats/rar/rar_unpack.h"
#include "formats/rar20_test_writer.h"
#include "support/test_support.h"
#include "formats/engine_test_util.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::Rar20Member;
using test::Rar20Options;

std::string Text(size_t size, unsigned seed) {
    std::mt19937 rnd(seed);
    static const char* words[] = {"archive ", "member ", "solid ", "window ", "table ", "delta ",
                                  "volume ", "header ", "quorbel ", "\n", "0123 ", "zz "};
    std::string s;
    while (s.size() < size) {
        s += words[rnd() % 12];
        if (rnd() % 50 == 0) s += char(rnd() & 0xFF);
    }
    s.resize(size);
    return s;
}

// Interleaved channels of smooth waves with a little noise: what the multimedia mode is for.
std::string Audio(size_t size, int channels, unsigned seed) {
    std::mt19937 rnd(seed);
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        int c = int(i % size_t(channels));
        double t = double(i / size_t(channels));
        double v = 100 * std::sin(t / (7.0 + c)) + 20 * std::sin(t / 1.7) + double(rnd() % 5);
        s[i] = char(uint8_t(int(v) + 128));
    }
    return s;
}

std::string Random(size_t size, unsigned seed) {
    std::mt19937 rnd(seed);
    std::string s(size, '\0');
    for (char& c : s) c = char(rnd() & 0xFF);
    return s;
}

struct Case {
    const char* name;
    bool solid;
    size_t block_tokens;
    std::vector<Rar20Member> members;
};

std::vector<Case> Cases() {
    const std::string text = Text(150000, 1);
    return {
        {"plain", false, 20000,
         {{"a.txt", Text(70000, 2)}, {"b.bin", Random(5000, 3)}, {"c.txt", "short"},
          {"d.txt", Text(3000, 4), 0, true}}},
        {"solid", true, 3000,
         {{"one.txt", text.substr(0, 60000)}, {"two.txt", text.substr(30000, 60000)},
          {"three.txt", text.substr(1000, 90000) + Random(3000, 5)}, {"four.txt", "x"}}},
        {"audio", false, 5000,
         {{"mono.raw", Audio(40000, 1, 6), 1}, {"stereo.raw", Audio(50000, 2, 7), 2},
          {"quad.raw", Audio(30000, 4, 8), 4}}},
        {"solid-mixed", true, 4000,
         {{"text1.txt", text.substr(0, 40000)}, {"wave.raw", Audio(40000, 2, 9), 2},
          {"wave3.raw", Audio(20000, 3, 10), 3}, {"text2.txt", text.substr(20000, 40000)}}},
    };
}

class RarWrittenTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        SetProgramPassword("");
        LoadHandlerOptions();
    }
    test::IsolatedEnvironment env_;
};

TEST_F(RarWrittenTest, UnarAndOurEngineAgreeOnEveryWrittenArchive) {
    ASSERT_TRUE(test::HaveTool("unar")) << "unar is needed (scripts/deps.sh)";
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        Rar20Options options;
        options.solid = c.solid;
        options.block_tokens = c.block_tokens;
        const std::string path = env_ / (std::string(c.name) + ".rar");
        test::WriteFile(path, test::WriteRar20(c.members, options));

        // The peer first: the writer's output is a valid RAR 2.0 archive.
        const std::string out = env_ / (std::string(c.name) + "-unar");
        auto r = test::Run({"unar", "-q", "-f", "-D", "-o", out, path});
        ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
        for (const Rar20Member& m : c.members)
            ASSERT_TRUE(test::ReadFile(out + "/" + m.name) == m.data) << m.name << " by unar";

        // Then ours, in order and backwards (a solid member decoded after its successor
        // needs the chain decoded again).
        RarArchive rar;
        ASSERT_EQ(rar.Open(path), kStatusOk) << rar.LastMessage();
        ASSERT_EQ(rar.EntryCount(), c.members.size());
        for (int pass = 0; pass < 2; ++pass) {
            for (size_t k = 0; k < c.members.size(); ++k) {
                size_t i = pass == 0 ? k : c.members.size() - 1 - k;
                int status = 0;
                MemoryBlock block = rar.UnpackEntry(rar.Entry(i), status);
                ASSERT_EQ(status, kUnpackOk) << c.members[i].name << ": " << rar.LastMessage();
                EXPECT_TRUE(std::string(reinterpret_cast<const char*>(block.data.get()), block.size) ==
                            c.members[i].data)
                    << c.members[i].name;
            }
        }
    }
}

TEST_F(RarWrittenTest, DamagedPackedDataIsStatus12NeverSuccess) {
    Rar20Options options;
    const std::string data = Text(30000, 11);
    std::string archive = test::WriteRar20({{"t.txt", data}}, options);
    // One bit flipped in the middle of the packed data: the CRC check catches what the
    // decoder does not.
    for (size_t at : {archive.size() / 2, archive.size() - 20}) {
        std::string bad = archive;
        bad[at] = char(bad[at] ^ 0x10);
        const std::string path = env_ / "bad.rar";
        test::WriteFile(path, bad);
        RarArchive rar;
        ASSERT_EQ(rar.Open(path), kStatusOk);
        int status = 0;
        MemoryBlock block = rar.UnpackEntry(rar.Entry(0), status);
        EXPECT_EQ(status, kUnpackDataError) << at;
        EXPECT_FALSE(block);
    }
}

TEST_F(RarWrittenTest, TruncatedStreamsEndInCorruptWithinTheSizeAndNeverHang) {
    const std::vector<Rar20Member> members = {{"a.txt", Text(20000, 12)}, {"w.raw", Audio(8000, 2, 13), 2}};
    for (const Rar20Member& m : members) {
        std::string archive = test::WriteRar20({m}, Rar20Options{});
        // The packed bytes follow the 20-byte marker and archive header and the file header.
        // ... and end with the end block and the writer's two spare bytes before it.
        const size_t start = 7 + 13 + 32 + m.name.size();
        const std::string packed = archive.substr(start, archive.size() - 7 - 2 - start);
        for (size_t cut = 0; cut < packed.size(); cut += 1 + packed.size() / 97) {
            const std::string part = packed.substr(0, cut);
            test::ChunkedSource source(part, 13);
            engines::MemorySink sink(m.data.size());
            rar::RarDecoder decoder;
            auto r = decoder.Unpack(20, 0x33, false, source, m.data.size(), sink);
            EXPECT_NE(r, engines::UnpackStatus::Ok) << m.name << " cut at " << cut;
            EXPECT_LE(sink.Data().size(), m.data.size());
        }
    }
}

TEST_F(RarWrittenTest, ASinkThatRefusesCancelsTheEngine) {
    const std::string data = Random(3 << 20, 14) + Text(2 << 20, 15);
    std::string archive = test::WriteRar20({{"big.bin", data}}, Rar20Options{});
    const size_t start = 7 + 13 + 32 + 7;
    const std::string packed = archive.substr(start, archive.size() - 7 - start);
    test::ChunkedSource source(packed, 4096);
    test::CancellingSink sink(2);
    rar::RarDecoder decoder;
    EXPECT_EQ(decoder.Unpack(20, 0x33, false, source, data.size(), sink), engines::UnpackStatus::Cancelled);
    EXPECT_EQ(sink.calls(), 2);
}

}  // namespace
}  // namespace quorbel
