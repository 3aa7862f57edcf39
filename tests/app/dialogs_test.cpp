// The extract, add and password dialogs and the options pages, driven on the offscreen
// platform without being shown modally.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <algorithm>
#include <filesystem>

#include <unistd.h>

#include "app/dialogs/add_dialog.h"
#include "app/dialogs/extract_dialog.h"
#include "app/dialogs/option_panels.h"
#include "app/dialogs/password_dialog.h"
#include "app/ops/add_request.h"
#include "app/options/quorbel_options.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/text_format.h"
#include "core/zip/zip_archive.h"
#include "platform/registry_access.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;

// Stops once it has been asked for the position `limit` times.
class AbortingSink : public ProgressSink {
public:
    explicit AbortingSink(int limit) : limit_(limit) {}
    int SetPos(int64_t position, bool redraw) override {
        ProgressSink::SetPos(position, redraw);
        if (++calls_ >= limit_) RequestCancel();
        return Cancelled() ? 0 : 1;
    }
    std::vector<std::string> texts;
    void SetText(const std::string& text, bool redraw) override {
        texts.push_back(text);
        ProgressSink::SetText(text, redraw);
    }

private:
    int limit_;
    int calls_ = 0;
};

// Changes the current directory for the lifetime of the object.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::string& path) : old_(fs::current_path()) { fs::current_path(path); }
    ~ScopedCwd() { fs::current_path(old_); }

private:
    fs::path old_;
};

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        SetProgramPassword("");
    }
    void TearDown() override { SetProgramPassword(""); }

    // A real archive made by zip: two files of 1000 and 234 bytes and a folder.
    std::string MakeArchive() {
        test::WriteFile(env_ / "src/big.txt", std::string(1000, 'b'));
        test::WriteFile(env_ / "src/dir/small.txt", std::string(234, 's'));
        const std::string archive = env_ / "sample.zip";
        EXPECT_EQ(test::Run({"zip", "-r", "-q", archive, "big.txt", "dir"}, env_ / "src").exit_code, 0);
        return archive;
    }
    int IndexOf(const ArchiveHandler& handler, const std::string& name) {
        for (size_t i = 0; i < handler.EntryCount(); ++i)
            if (handler.Entry(i).full_name == name) return int(i);
        return -1;
    }
    // Accepts an extract dialog with `destination` typed in the box.
    std::optional<ExtractChoice> ExtractTo(ArchiveHandler& handler, const QString& destination,
                                           bool folder_only = false) {
        CExtractDialog dialog(nullptr, handler, {}, folder_only);
        dialog.Destination()->setEditText(destination);
        dialog.accept();
        return dialog.Result();
    }

    test::IsolatedEnvironment env_;
};

TEST_F(DialogsTest, ExtractDialogOffersSelectedFilesOnlyWhenThereIsASelection) {
    QUORBEL_REQUIRE_TOOL("zip");
    ZipArchive zip;
    ASSERT_EQ(zip.Open(MakeArchive()), kStatusOk);
    const int big = IndexOf(zip, "big.txt");
    ASSERT_GE(big, 0);
    struct Row {
        std::vector<int> selected;
        bool all_checked, selected_enabled;
        int64_t needed;
    } rows[] = {
        {{}, true, false, 1234},  // every file
        {{big}, false, true, 1000},
    };
    for (const Row& r : rows) {
        CExtractDialog dialog(nullptr, zip, r.selected, false);
        EXPECT_EQ(dialog.windowTitle(), "Quorbel - Extract To...");
        EXPECT_EQ(dialog.ConfirmButton()->text(), "E&xtract");
        EXPECT_EQ(dialog.AllFiles()->isChecked(), r.all_checked);
        EXPECT_EQ(dialog.SelectedFiles()->isEnabled(), r.selected_enabled);
        EXPECT_EQ(dialog.SpaceNeededText().toStdString(), SizeShortText(r.needed));
        EXPECT_TRUE(dialog.AvailableSpaceText().startsWith("Available space on drive /"));
    }
    // Choosing all files counts everything again.
    CExtractDialog dialog(nullptr, zip, {big}, false);
    dialog.AllFiles()->setChecked(true);
    EXPECT_EQ(dialog.SpaceNeededText().toStdString(), SizeShortText(1234));
    // Folder-only mode confirms with OK.
    CExtractDialog chooser(nullptr, zip, {big}, true);
    EXPECT_EQ(chooser.ConfirmButton()->text(), "OK");
}

TEST_F(DialogsTest, SameDestinationTwiceIsKeptTwiceButListedOnce) {
    ZipArchive zip;
    const std::string out = env_ / "out";
    fs::create_directories(out);
    ASSERT_TRUE(ExtractTo(zip, QString::fromStdString(out)));
    ASSERT_TRUE(ExtractTo(zip, QString::fromStdString(out)));
    AppRegistry reg;
    EXPECT_EQ(reg.ReadText(kExtractHistoryKey, "File0"), out);
    EXPECT_EQ(reg.ReadText(kExtractHistoryKey, "File1"), out);
    CExtractDialog dialog(nullptr, zip, {}, false);
    ASSERT_EQ(dialog.Destination()->count(), 1);
    EXPECT_EQ(dialog.Destination()->currentText().toStdString(), out);
    // The tree follows the box.
    EXPECT_EQ(dialog.TreeFolder().toStdString(), out);
    // The folder-only dialog keeps its own history.
    EXPECT_TRUE(reg.ReadText(kSelectFolderHistoryKey, "File0").empty());
}

TEST_F(DialogsTest, HistoryBoxSkipsEmptyValuesAndPrefixesOfListedOnes) {
    const std::vector<std::string> values = {"/data/Music", "", "/data/music", "/DATA/mu",
                                             "/data", "/other", "/data/music/rock"};
    EXPECT_EQ(HistoryComboEntries(values),
              (std::vector<std::string>{"/data/Music", "/other", "/data/music/rock"}));
}

TEST_F(DialogsTest, RelativeDestinationIsCompletedFromTheCurrentDirectory) {
    ZipArchive zip;
    fs::create_directories(env_ / "work");
    ScopedCwd cwd(env_ / "work");
    const std::string expected = fs::current_path().string() + "/out/sub";
    CExtractDialog dialog(nullptr, zip, {}, false);
    dialog.Destination()->setEditText("out/sub");
    dialog.Options()->Overwrite()->setChecked(false);
    dialog.accept();
    ASSERT_TRUE(dialog.Result());
    EXPECT_EQ(dialog.Result()->destination, expected);
    EXPECT_FALSE(dialog.Result()->options.overwrite);
    const ExtractOptions stored = LoadExtractOptions();
    EXPECT_EQ(stored.path, expected);
    EXPECT_FALSE(stored.overwrite);
    EXPECT_TRUE(stored.skip_older);
    EXPECT_EQ(AppRegistry().ReadText(kExtractHistoryKey, "File0"), expected);
    // Choosing a folder writes no extract options.
    ASSERT_TRUE(ExtractTo(zip, "elsewhere", true));
    EXPECT_EQ(LoadExtractOptions().path, expected);
    EXPECT_EQ(AppRegistry().ReadText(kSelectFolderHistoryKey, "File0"),
              fs::current_path().string() + "/elsewhere");
}

TEST_F(DialogsTest, PasswordMismatchKeepsTheDialogOpen) {
    SetProgramPassword("old");
    CPasswordDialog dialog;
    EXPECT_EQ(dialog.Password()->text(), "old");
    EXPECT_EQ(dialog.Confirmation()->text(), "old");
    // Masked by default, with 'x' for every character.
    EXPECT_TRUE(dialog.Mask()->isChecked());
    EXPECT_EQ(dialog.Password()->displayText(), "xxx");
    std::vector<QString> shown;
    dialog.SetMismatchHandler([&](const QString& message) { shown.push_back(message); });
    dialog.show();
    dialog.Password()->setText("secret");
    dialog.Confirmation()->setText("secreT");
    dialog.accept();
    EXPECT_EQ(shown, std::vector<QString>{"Incorrect password"});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ProgramPassword(), "old");
    // Matching texts set the password and store the mask choice.
    dialog.Mask()->setChecked(false);
    EXPECT_EQ(dialog.Password()->displayText(), "secret");
    dialog.Confirmation()->setText("secret");
    dialog.accept();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(ProgramPassword(), "secret");
    EXPECT_FALSE(LoadMaskPassword());
    EXPECT_EQ(shown.size(), 1u);
}

TEST_F(DialogsTest, SavedFolderNameStartsTheStoredPaths) {
    QUORBEL_REQUIRE_TOOL("unzip");
    const std::string docs = env_ / "Docs";
    test::WriteFile(docs + "/a.txt", "alpha");
    test::WriteFile(docs + "/b.txt", "beta");
    test::WriteFile(docs + "/skip.txt", "not chosen");
    CAddDialog dialog(nullptr, "");
    dialog.Options()->FlagBox(CAddOptionsPanel::kSaveCurrentFolderName)->setChecked(true);
    // The change reaches the request at once but not the settings.
    EXPECT_TRUE(dialog.Request().save_current_folder_name);
    EXPECT_FALSE(LoadAddRequest().save_current_folder_name);
    dialog.SetCurrentFolder(docs);
    dialog.SetSelectedNames({"a.txt", "b.txt"});
    dialog.accept();
    ASSERT_TRUE(dialog.Result());
    const AddRequest& request = *dialog.Result();
    EXPECT_EQ(request.paths, (std::vector<std::string>{docs + "/a.txt", docs + "/b.txt"}));
    EXPECT_EQ(request.base_folder, env_.dir().path());
    EXPECT_EQ(AppRegistry().ReadText("Folders", "AddPath"), docs);

    ZipArchive zip;
    const std::string archive = env_ / "docs.zip";
    ASSERT_EQ(zip.Create(archive), kStatusOk);
    ASSERT_EQ(zip.AddFiles(request), kStatusOk) << zip.LastMessage();
    ASSERT_EQ(zip.EntryCount(), 2u);
    for (size_t i = 0; i < zip.EntryCount(); ++i)
        EXPECT_EQ(zip.Entry(i).full_name.rfind("Docs\\", 0), 0u) << zip.Entry(i).full_name;
    const test::CommandResult listing = test::Run({"unzip", "-l", archive});
    ASSERT_EQ(listing.exit_code, 0) << listing.err;
    EXPECT_NE(listing.out.find("Docs/a.txt"), std::string::npos) << listing.out;
    EXPECT_NE(listing.out.find("Docs/b.txt"), std::string::npos) << listing.out;
    EXPECT_EQ(listing.out.find("skip.txt"), std::string::npos) << listing.out;
}

TEST_F(DialogsTest, FolderButtonTakesTheFilesMatchingTheNameField) {
    const std::string folder = env_ / "pick";
    for (const char* name : {"a.txt", "b.dat", "noext", "sub/c.txt"})
        test::WriteFile(folder + "/" + name, name);
    struct Row {
        const char* field;
        bool sub_folders;
        std::vector<std::string> expected;
    } rows[] = {
        {"", true, {"a.txt", "b.dat", "noext", "sub/c.txt"}},
        {"", false, {"a.txt", "b.dat", "noext"}},
        {"*.TXT", true, {"a.txt", "sub/c.txt"}},
    };
    for (const Row& r : rows) {
        CAddDialog dialog(nullptr, "pw");
        dialog.SetCurrentFolder(folder);
        dialog.Options()->FlagBox(CAddOptionsPanel::kIncludeSubFolders)->setChecked(r.sub_folders);
        dialog.FileName()->setText(r.field);
        dialog.FolderButton()->click();
        ASSERT_TRUE(dialog.Result()) << r.field;
        std::vector<std::string> expected;
        for (const std::string& name : r.expected) expected.push_back(folder + "/" + name);
        EXPECT_EQ(dialog.Result()->paths, expected) << r.field;
        EXPECT_EQ(dialog.Result()->base_folder, folder);
        EXPECT_EQ(dialog.Result()->password, "pw");
    }
}

TEST_F(DialogsTest, StoppedFolderSearchGivesNoRequest) {
    const std::string folder = env_ / "deep";
    for (const char* name : {"1/a", "1/2/b", "1/2/3/c"}) test::WriteFile(folder + "/" + name, "x");
    AbortingSink sink(2);
    EXPECT_FALSE(ExpandFolder(folder, "*.*", true, sink));
    EXPECT_EQ(sink.texts.front(), "Searching files in folder \"" + folder + "\"...");
    AbortingSink again(3);
    CAddDialog stopped(nullptr, "", &again);
    stopped.SetCurrentFolder(folder);
    stopped.AddWholeFolder();
    EXPECT_FALSE(stopped.Result());
    EXPECT_EQ(stopped.result(), QDialog::Rejected);
}

TEST_F(DialogsTest, FilePatternRules) {
    struct Row {
        const char* name;
        const char* pattern;
        bool matches;
    } rows[] = {
        {"README", "*.*", true},    {"a.TXT", "*.txt", true},  {"a.txt.bak", "*.txt", false},
        {"notes", "notes.*", true}, {"ab", "a?", true},        {"abc", "a?", false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(MatchesFilePattern(r.name, r.pattern), r.matches) << r.name << " " << r.pattern;
}

TEST_F(DialogsTest, OptionsPagesStoreTheirValues) {
    AppRegistry reg;
    reg.WriteText(kExtractOptionsKey, "Path", "/kept");
    CQuorbelOptions sheet;
    AddStandardPages(sheet);
    ASSERT_EQ(sheet.Tabs()->count(), 7);  // General, Extract, Add Files, Password, Programs, Printing / Export, Interface
    auto* extract = dynamic_cast<COptionsExtract*>(sheet.Pages()[1]);
    auto* add = dynamic_cast<COptionsAddFiles*>(sheet.Pages()[2]);
    auto* password = dynamic_cast<COptionsPassword*>(sheet.Pages()[3]);
    ASSERT_TRUE(extract && add && password);
    // Loaded with the defaults.
    EXPECT_TRUE(extract->Panel()->OpenOutputFolder()->isChecked());
    EXPECT_EQ(add->Panel()->Action()->currentIndex(), 2);
    EXPECT_EQ(add->Panel()->Action()->itemText(0), "Add and replace files");
    EXPECT_TRUE(password->Mask()->isChecked());

    extract->Panel()->SkipOlder()->setChecked(false);
    extract->Panel()->OpenOutputFolder()->setChecked(false);
    add->Panel()->Action()->setCurrentIndex(1);
    add->Panel()->FlagBox(CAddOptionsPanel::kStoreFormat83)->setChecked(true);
    add->Panel()->FlagBox(CAddOptionsPanel::kIncludeSystemFiles)->setChecked(false);
    password->Mask()->setChecked(false);
    EXPECT_EQ(reg.ReadText(kAddOptionsKey, "Action", "none"), "none");  // nothing before Apply
    sheet.StoreAll();

    struct Row {
        const char* key;
        const char* value;
        const char* expected;
    } rows[] = {
        {kExtractOptionsKey, "bOverwrite", "1"},        {kExtractOptionsKey, "bSkipOlderFiles", "0"},
        {kExtractOptionsKey, "bUseFolderNames", "1"},   {kExtractOptionsKey, "bOpenOutputFolder", "0"},
        {kExtractOptionsKey, "Path", "/kept"},          {kAddOptionsKey, "Action", "1"},
        {kAddOptionsKey, "bStoreFormat83", "1"},        {kAddOptionsKey, "bIncludeSubFolders", "1"},
        {kAddOptionsKey, "bSaveCurrentFolderName", "0"},
        {kAddOptionsKey, "bIncludeOnlyNonArchivedFiles", "0"},
        {kAddOptionsKey, "bResetArchiveAttribute", "0"}, {kAddOptionsKey, "bIncludeSystemFiles", "0"},
        {kPasswordOptionsKey, "bMaskPassword", "0"},
    };
    for (const Row& r : rows) EXPECT_EQ(reg.ReadText(r.key, r.value), r.expected) << r.value;
    // A fresh add dialog starts from what the page stored.
    CAddDialog dialog(nullptr, "");
    EXPECT_EQ(dialog.Request().action, AddRequest::kFreshen);
    EXPECT_TRUE(dialog.Request().store_format83);
}

}  // namespace
}  // namespace quorbel
