#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

#include "core/archive_handler.h"
#include "core/messages.h"
#include "core/text_format.h"
#include "core/zip/zip_archive.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

// A handler whose entries are filled by the test itself.
class ListHandler : public ArchiveHandler {
public:
    ListHandler() { format_name_ = "TEST"; }
};

TEST(ArchiveHandlerTest, SetEntryFillsTextsTreeTotalsAndHints) {
    test::IsolatedEnvironment env;
    SetLanguage(Language::English);
    ListHandler h;
    ASSERT_TRUE(h.AllocateEntries(6));
    EXPECT_EQ(h.ProgressStep(), 3);  // floor(sqrt(6)) + 1
    // 2025-04-08 12:00:00 local (TZ=UTC in the tests).
    h.SetEntry(0, true, "a/b//c.txt", 50, 100, 0xABCDEF, 0x21, false, 0x5A88, 0x6000, "note");
    h.SetEntry(1, false, "a/", -1, -1, -1, 0x10, false, 0, 0, "");
    h.SetEntry(2, true, "Tools/SeTuP.ExE", 10, 8, 0x1, 0, true, 0x5A88, 0x6000, "");
    h.SetEntry(3, true, "empty", 0, 0, 0, 0, false, 0x5A88, 0x6000, "");
    h.SetEntry(4, true, "x/install.exe", -1, -1, -1, 0x07, false, 0x5A88, 0x6000, "");
    h.SetEntry(5, true, "big.bin", 1536, 1048575, 0, 0, false, 0x5A88, 0x6000, "");

    const ArchiveEntry& c = h.Entry(0);
    EXPECT_EQ(c.full_name, "a\\b\\c.txt");
    EXPECT_EQ(c.Folder(), "a\\b");
    EXPECT_EQ(c.NamePart(), "c.txt");
    EXPECT_EQ(c.SizeText(), "100");
    EXPECT_EQ(c.RatioText(), "50%");
    EXPECT_EQ(c.CrcText(), "ABCDEF");
    EXPECT_EQ(c.AttributeText(), "RA");
    EXPECT_EQ(c.DateText(), "04/08/2025 12:00:00");
    EXPECT_EQ(c.comment, "note");
    EXPECT_EQ(c.picture_state, 2);

    const ArchiveEntry& grown = h.Entry(2);
    EXPECT_EQ(grown.ratio, -25);
    EXPECT_EQ(grown.RatioText(), "-25%");
    EXPECT_TRUE(grown.is_setup);
    EXPECT_EQ(h.Entry(3).RatioText(), "?");  // unpacked size 0
    EXPECT_EQ(h.Entry(4).SizeText(), "?");
    EXPECT_EQ(h.Entry(4).CrcText(), "?");
    EXPECT_EQ(h.Entry(4).AttributeText(), "RHS");
    EXPECT_EQ(h.Entry(5).SizeText(), "1,048,575");
    EXPECT_EQ(h.Entry(5).SizeShortText(), "1023.9 Kb");

    EXPECT_EQ(h.FileCount(), 5);
    EXPECT_TRUE(h.HasEncrypted());
    EXPECT_EQ(h.SetupCount(), 2);
    EXPECT_EQ(h.FirstSetupEntry(), "Tools\\SeTuP.ExE");
    EXPECT_EQ(h.TotalUnpacked(), 100 + 8 + 0 + 1048575);
    EXPECT_EQ(h.TotalPacked(), 50 + 10 + 0 + 1536);
    EXPECT_EQ(h.HintIndex(kHintName), 4);  // "install.exe"
    EXPECT_EQ(h.HintLength(kHintFolder), 5);  // "Tools"
    EXPECT_EQ(h.HintIndex(kHintFolder), 2);
    EXPECT_EQ(h.HintIndex(kHintComment), 0);

    // The folder entry itself is not in the tree; the folders of files are.
    ASSERT_EQ(h.Folders().size(), 4u);
    EXPECT_EQ(h.FolderPathOf(h.Folders()[0].node), "a");
    EXPECT_EQ(h.FolderPathOf(h.Folders()[1].node), "a\\b");
    FolderNode* ab = h.LookupFolder("A\\B\\", false);
    ASSERT_EQ(ab->files.size(), 1u);
    EXPECT_EQ(ab->files[0], 0);
    EXPECT_EQ(h.Root().files.size(), 2u);  // empty, big.bin
    // Without creation a lookup stops at the deepest folder that exists.
    EXPECT_EQ(h.LookupFolder("a\\b\\missing", false), ab);
    EXPECT_EQ(h.Folders().size(), 4u);

    EXPECT_EQ(h.FindEntry("A/B/C.TXT"), 0);
    EXPECT_EQ(h.FindEntry("a\\c.txt"), -1);
    EXPECT_EQ(h.FindEntry("tools\\setup.exe"), 2);
}

TEST(ArchiveHandlerTest, ZeroDosTimeShowsTheArchiveFilesTime) {
    test::IsolatedEnvironment env;
    std::string path = env / "t.zip";
    test::ZipMemberInput m;
    m.name = "a.txt";
    m.data = "x";
    m.dos_date = 0;
    m.dos_time = 0;
    test::WriteFile(path, test::BuildZip({m}));
    test::SetMtime(path, 1000000000);
    ZipArchive zip;
    ASSERT_EQ(zip.Open(path), kStatusOk);
    EXPECT_EQ(zip.Entry(0).time, 1000000000);
}

TEST(ArchiveHandlerTest, ReopeningAnUnchangedArchiveReadsNothing) {
    test::IsolatedEnvironment env;
    std::string path = env / "t.zip";
    test::ZipMemberInput m;
    m.name = "a.txt";
    m.data = "one";
    test::WriteFile(path, test::BuildZip({m}));
    test::SetMtime(path, 1000000000);
    ZipArchive zip;
    ASSERT_EQ(zip.Open(path), kStatusOk);
    ASSERT_EQ(zip.EntryCount(), 1u);
    // Same path, not newer: the old entries stay even though the file changed.
    m.name = "b.txt";
    test::WriteFile(path, test::BuildZip({m, m}));
    test::SetMtime(path, 1000000000);
    EXPECT_EQ(zip.Open(path), kStatusOk);
    EXPECT_EQ(zip.EntryCount(), 1u);
    // Touched: read again.
    test::SetMtime(path, 1000000100);
    EXPECT_EQ(zip.Open(path), kStatusOk);
    EXPECT_EQ(zip.EntryCount(), 2u);
}

TEST(ArchiveHandlerTest, UnsupportedOperationsNameTheFormat) {
    test::IsolatedEnvironment env;
    for (Language lang : {Language::English, Language::French}) {
        SetLanguage(lang);
        ListHandler h;
        EXPECT_EQ(h.AddFile("/x", "", ""), kStatusFailed);
        EXPECT_EQ(h.LastMessage(), FormatText(MessageTemplate(kMsgUnsupportedOperation).c_str(), "TEST"));
        EXPECT_NE(h.LastMessage().find("TEST"), std::string::npos);
        EXPECT_EQ(h.SaveAs("/x", 0, nullptr), kStatusFailed);
    }
    SetLanguage(Language::English);
    ListHandler h;
    h.AddFile("/x", "", "");
    EXPECT_EQ(h.LastMessage(), "This version of Quorbel cannot realize this operation on a TEST file.");
}

TEST(ArchiveHandlerTest, ScratchFoldersArePrivateAndRemoved) {
    test::IsolatedEnvironment env;
    std::string work, drag;
    {
        ListHandler a, b;
        // Made on first use only: opening tries a handler of every format.
        EXPECT_FALSE(std::filesystem::exists(env / "tmp/Quorbel") && !std::filesystem::is_empty(env / "tmp/Quorbel"));
        work = a.WorkFolder();
        EXPECT_TRUE(std::filesystem::is_directory(work));
        drag = a.DragFolder();
        EXPECT_NE(a.WorkFolder(), b.WorkFolder());
        EXPECT_NE(a.WorkFolder(), a.DragFolder());
        EXPECT_EQ(work.rfind(env / "tmp/Quorbel/", 0), 0u) << work;
        // The name carries our process id.
        std::string name = work.substr(work.find_last_of('/') + 1);
        EXPECT_NE(name.find("_" + std::to_string(getpid())), std::string::npos);
        test::WriteFile(work + "/left.txt", "x");
    }
    EXPECT_FALSE(std::filesystem::exists(work));
    EXPECT_FALSE(std::filesystem::exists(drag));
}

TEST(ArchiveHandlerTest, RemoveEntryCompactsIndices) {
    test::IsolatedEnvironment env;
    ListHandler h;
    h.AllocateEntries(3);
    h.SetEntry(0, true, "a", 1, 1, 0, 0, false, 0x5A88, 0, "");
    h.SetEntry(1, true, "d/b", 1, 1, 0, 0, false, 0x5A88, 0, "");
    h.SetEntry(2, true, "d/c", 1, 1, 0, 0, false, 0x5A88, 0, "");
    EXPECT_EQ(h.RemoveEntry(1, true), kStatusOk);
    EXPECT_EQ(h.EntryCount(), 2u);
    EXPECT_EQ(h.FileCount(), 2);
    EXPECT_EQ(h.FindEntry("d\\c"), 1);
    EXPECT_EQ(h.FindEntry("d\\b"), -1);
    EXPECT_EQ(h.RemoveEntry(5, true), kStatusFailed);
}

// Entries point at date texts and records their handler keeps once; those must stay put while
// the tables grow, entries move down and pending adds extend the record store.
TEST(ArchiveHandlerTest, SharedDateTextsAndRecordsStayValid) {
    test::IsolatedEnvironment env;
    SetLanguage(Language::English);
    ListHandler h;
    const int kTimes = 1440;  // every minute of one day: the date table grows many times
    ASSERT_TRUE(h.AllocateEntries(kTimes + 1));
    for (int i = 0; i < kTimes; ++i)
        h.SetEntry(size_t(i), true, "f" + std::to_string(i), 1, 2, 0, 0, false, 0x5A88,
                   uint16_t(((i / 60) << 11) | ((i % 60) << 5)), "");
    h.SetEntry(size_t(kTimes), true, "same", 1, 2, 0, 0, false, 0x5A88, uint16_t((1 << 11) | (7 << 5)), "");
    EXPECT_EQ(&h.Entry(67).DateText(), &h.Entry(size_t(kTimes)).DateText());  // 01:07, shared
    EXPECT_EQ(h.RemoveEntry(0, true), kStatusOk);
    for (size_t i = 0; i < h.EntryCount(); ++i) {
        const ArchiveEntry& e = h.Entry(i);
        ASSERT_EQ(e.DateText(), ShortDateText(e.time)) << i;
        ASSERT_EQ(e.LongDateText(), LongDateText(e.time)) << i;
    }
    EXPECT_EQ(h.Entry(0).DateText(), "04/08/2025 00:01:00");

    std::string zip_path = env.dir() / "r.zip", disk = env.dir() / "new.txt";
    test::ZipMemberInput member;
    member.name = "a.txt";
    member.data = "aaaa";
    test::WriteFile(zip_path, test::BuildZip({member}));
    test::WriteFile(disk, "fresh");
    ZipArchive zip;
    ASSERT_EQ(zip.Open(zip_path), kStatusOk);
    const std::string before = zip.Entry(0).LongDateText();
    for (int i = 0; i < 40; ++i)  // each pending add appends a record to the store
        ASSERT_EQ(zip.AddFile(disk, env.dir().path(), "d" + std::to_string(i)), kStatusOk);
    std::span<const uint8_t> record = zip.FormatHeader(zip.Entry(0));
    ASSERT_EQ(record.size(), 46u);
    EXPECT_EQ(std::string(record.begin(), record.begin() + 4), "PK\x01\x02");
    ASSERT_EQ(zip.Save("", 0, nullptr), kStatusOk) << zip.LastMessage();
    ASSERT_EQ(zip.EntryCount(), 41u);
    EXPECT_EQ(zip.Entry(0).LongDateText(), before);
    EXPECT_EQ(zip.FormatHeader(zip.Entry(40)).size(), 46u);
    int status = -1;
    MemoryBlock data = zip.UnpackEntry(zip.Entry(40), status);
    ASSERT_EQ(status, kUnpackOk);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.data.get()), data.size), "fresh");
}

}  // namespace
}  // namespace quorbel
