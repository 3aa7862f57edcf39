// The archive converter's dialog and the "Programs" options page on the offscreen platform.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <filesystem>

#include "app/convert_dialog.h"
#include "app/dialog_prompts.h"
#include "app/options/options_programs.h"
#include "app/options/quorbel_options.h"
#include "core/messages.h"
#include "core/progress_sink.h"
#include "core/settings.h"
#include "core/user_prompts.h"
#include "formats/external/external_archive.h"
#include "platform/registry_access.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;

class ConvertDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English);
        LoadHandlerOptions();
        SetLauncher(&launcher_);
        fs::create_directories(env_ / "out");
    }
    void TearDown() override { SetLauncher(nullptr); }
    test::IsolatedEnvironment env_;
    RecordingLauncher launcher_;
};

TEST_F(ConvertDialogTest, ConvertsListedArchivesAndKeepsTheFailedRows) {
    ScriptedPrompts prompts({});
    ScriptedFileChooser files({test::TestData("zoo/t.zoo")});
    std::vector<std::string> reports;
    ConvertDialog dialog(prompts, files, SilentSink(), [&](const std::string& r) { reports.push_back(r); });
    EXPECT_EQ(dialog.windowTitle(), "Archive Converter - [Quorbel]");
    EXPECT_FALSE(dialog.StartButton()->isEnabled());
    dialog.AddFiles();
    test::WriteFile(env_ / "junk.lzh", "not an archive");
    dialog.AddArchive(env_ / "junk.lzh");
    dialog.OutputFolder()->setCurrentText(QString::fromStdString(env_ / "out"));
    EXPECT_EQ(dialog.Caption()->text(), "2 archive(s) to convert");
    EXPECT_TRUE(dialog.StartButton()->isEnabled());
    dialog.Format()->setCurrentIndex(0);
    dialog.Start();
    EXPECT_TRUE(fs::exists(env_ / "out/t.zip"));
    EXPECT_EQ(dialog.Archives(), std::vector<std::string>{env_ / "junk.lzh"}) << "the converted row left";
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("1 files converted.  1 errors detected."), std::string::npos) << reports[0];
    EXPECT_EQ(launcher_.calls, std::vector<std::string>{"folder " + (env_ / "out")});
    // The settings and the folder history are kept.
    AppRegistry reg;
    EXPECT_EQ(reg.ReadText("Options\\Convert\\OutputFolder", "Folder0", ""), env_ / "out");
    EXPECT_EQ(reg.ReadText("Options\\Convert", "Format", ""), "0");
}

TEST_F(ConvertDialogTest, AMissingArchiverIsOneMessage) {
    ScriptedPrompts prompts({});
    ScriptedFileChooser files({});
    ConvertDialog dialog(prompts, files, SilentSink(), nullptr);
    dialog.AddArchive(test::TestData("zoo/t.zoo"));
    dialog.OutputFolder()->setCurrentText(QString::fromStdString(env_ / "out"));
    dialog.Format()->setCurrentIndex(1);  // ARJ, with no archiver named
    dialog.Start();
    ASSERT_EQ(prompts.Asked().size(), 1u);
    EXPECT_EQ(prompts.Asked()[0], FormatText(MessageTemplate(kMsgNoProgram).c_str(), "ARJ"));
    EXPECT_EQ(dialog.Archives().size(), 1u);
}

TEST_F(ConvertDialogTest, ProgramsPageStoresPathsAndOnlyChangedTemplates) {
    AppRegistry reg;
    reg.WriteText("Programs", "ARJ", "arj");
    CQuorbelOptions sheet;
    AddStandardPages(sheet);
    COptionsPrograms* page = nullptr;
    for (COptionsPage* p : sheet.Pages())
        if (auto* programs = dynamic_cast<COptionsPrograms*>(p)) page = programs;
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->ProgramField("ARJ")->text(), "arj");
    EXPECT_EQ(page->PasswordNote()->text().toStdString(), StringById(text_id::kPasswordVisible));
    // ARJ's row shows the arj set; the user changes one slot.
    page->TemplateFormat()->setCurrentText("ARJ");
    EXPECT_EQ(page->Templates()->item(6, 1)->text().toStdString(), TemplatesForProgram("ARJ", "arj").extract);
    page->Templates()->item(4, 1)->setText("d -y -i %Archive %File");
    page->ProgramField("LHA")->setText("/opt/lha/lha.exe");
    sheet.StoreAll();
    EXPECT_EQ(reg.ReadText("Programs", "LHA", ""), "/opt/lha/lha.exe");
    EXPECT_EQ(reg.ReadText("Programs\\Templates\\ARJ", "Delete", "none"), "d -y -i %Archive %File");
    EXPECT_EQ(reg.ReadText("Programs\\Templates\\ARJ", "Extract", "none"), "none") << "unchanged slots are not stored";
    EXPECT_EQ(ConfiguredTemplates("ARJ", "arj").delete_entries, "d -y -i %Archive %File");
}

}  // namespace
}  // namespace quorbel
