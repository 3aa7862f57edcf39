// Shell integration: the registry records of the document type and the context menu, their
// XDG mirror (desktop entries, mimeapps.list, file-manager menus) and the menu group.
#include <gtest/gtest.h>

#include <QFile>
#include <QXmlStreamReader>

#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "app/install/help_topics.h"
#include "app/install/registrations.h"
#include "app/install/xdg_integration.h"
#include "core/messages.h"
#include "platform/registry_access.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::IsolatedEnvironment;
using test::ReadFile;
using test::ScopedEnv;
using test::WriteFile;

constexpr RegistryRoot kCR = RegistryRoot::ClassesRoot;
constexpr RegistryRoot kLM = RegistryRoot::LocalMachine;
const std::string kClsid = kShellExtensionClsid;

bool Exists(const std::string& path) { return fs::exists(path); }

// A private desktop: our own XDG folders, no desktop session that would send xdg-mime to its
// own tools, and the interface in English unless a test says otherwise.
class RegistrationsTest : public ::testing::Test {
protected:
    RegistrationsTest()
        : config_dirs_("XDG_CONFIG_DIRS", env_ / "etc-xdg"),
          desktop_("XDG_CURRENT_DESKTOP", ""),
          session_("DESKTOP_SESSION", ""),
          kde_("KDE_FULL_SESSION", ""),
          saved_language_(CurrentLanguage()) {
        SetLanguage(Language::English);
    }
    ~RegistrationsTest() override { SetLanguage(saved_language_); }

    std::string HiveText(RegistryRoot root) {
        return ReadFile(RegistryDirectory() + "/" + RegistryRootName(root) + ".reg");
    }
    std::string Default(RegistryRoot root, const std::string& key) {
        return reg_.ReadText(root, key, "", "<missing>");
    }

    IsolatedEnvironment env_;
    ScopedEnv config_dirs_, desktop_, session_, kde_;
    Language saved_language_;
    RegistryAccess reg_;
    AppRegistry app_;
    const std::string program_ = "/opt/Dorvex Quorbel/quorbel";
};

TEST_F(RegistrationsTest, FileTypesWriteEveryRecord) {
    app_.WriteInteger(kDataTypeKey, "PNG", 1);
    ASSERT_TRUE(RegisterFileTypes(true, program_));

    for (const char* ext : kArchiveDataTypes)
        EXPECT_EQ(Default(kCR, std::string(".") + ext), "Quorbel.Document") << ext;
    EXPECT_EQ(Default(kCR, ".PNG"), "Quorbel.Document");
    for (const char* ext : {".BMP", ".JPG", ".CLP", ".PSD"}) EXPECT_FALSE(reg_.KeyExists(kCR, ext)) << ext;

    const struct {
        const char* key;
        const char* value;
        std::string expected;
    } records[] = {
        {"Quorbel.Document\\", "", "Quorbel File"},
        {"Quorbel.Document\\Shell\\Open\\Command\\", "", program_ + " %1"},
        // The type's icon is that of the last extension registered: PNG, a picture.
        {"Quorbel.Document\\DefaultIcon\\", "", program_ + ",3"},
        {".zip\\ShellNew\\", "Command", program_ + " /NEW"},
    };
    for (const auto& r : records) EXPECT_EQ(reg_.ReadText(kCR, r.key, r.value), r.expected) << r.key;

    const std::string entry = ReadFile(xdg::DocumentEntryPath());
    EXPECT_NE(entry.find("\nExec=\"/opt/Dorvex Quorbel/quorbel\" %f\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nIcon=dorvex-quorbel\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("application/zip;"), std::string::npos);
    EXPECT_NE(entry.find("image/png;"), std::string::npos);
    EXPECT_EQ(entry.find("image/bmp"), std::string::npos);
    EXPECT_NE(entry.find("[Desktop Action new-archive]\nName=New Archive\n"), std::string::npos);
    EXPECT_NE(entry.find("Exec=\"/opt/Dorvex Quorbel/quorbel\" /NEW\n"), std::string::npos);
    const std::string mimeapps = ReadFile(xdg::MimeAppsPath());
    EXPECT_NE(mimeapps.find("[Default Applications]\n"), std::string::npos);
    EXPECT_NE(mimeapps.find("application/zip=dorvex-quorbel.desktop;\n"), std::string::npos);
    EXPECT_NE(mimeapps.find("[Added Associations]\n"), std::string::npos);

    // Switching an extension off again takes back its records and its default.
    app_.WriteInteger(kDataTypeKey, "PNG", 0);
    ASSERT_TRUE(RegisterFileTypes(true, program_));
    EXPECT_FALSE(reg_.KeyExists(kCR, ".PNG"));
    EXPECT_EQ(reg_.ReadText(kCR, "Quorbel.Document\\DefaultIcon\\", ""), program_ + ",4");
    EXPECT_EQ(ReadFile(xdg::MimeAppsPath()).find("image/png"), std::string::npos);
}

TEST_F(RegistrationsTest, ZipSwitchedOffLeavesZipAlone) {
    ASSERT_TRUE(RegisterFileTypes(true, program_));
    app_.WriteInteger(kDataTypeKey, "ZIP", 0);
    ASSERT_TRUE(RegisterFileTypes(true, program_));
    EXPECT_FALSE(reg_.KeyExists(kCR, ".zip"));
    EXPECT_EQ(Default(kCR, ".ARJ"), "Quorbel.Document");
    EXPECT_EQ(Default(kCR, ".CAB"), "Quorbel.Document");

    // Another program's .zip stays its own.
    reg_.WriteText(kCR, ".zip", "", "Other.Archive");
    reg_.WriteText(kCR, ".zip\\ShellNew", "NullFile", "");
    ASSERT_TRUE(RegisterFileTypes(true, program_));
    EXPECT_EQ(Default(kCR, ".zip"), "Other.Archive");
    EXPECT_EQ(reg_.ReadText(kCR, ".zip\\ShellNew", "Command", "<missing>"), "<missing>");

    const std::string entry = ReadFile(xdg::DocumentEntryPath());
    EXPECT_EQ(entry.find("application/zip"), std::string::npos);
    EXPECT_EQ(entry.find("new-archive"), std::string::npos);
    EXPECT_NE(entry.find("application/x-arj;"), std::string::npos);
    const std::string mimeapps = ReadFile(xdg::MimeAppsPath());
    EXPECT_EQ(mimeapps.find("application/zip"), std::string::npos);
    EXPECT_NE(mimeapps.find("application/x-arj=dorvex-quorbel.desktop;"), std::string::npos);
}

TEST_F(RegistrationsTest, ContextMenuRecordsFollowTheSwitch) {
    reg_.WriteText(kCR, "*\\shellex\\ContextMenuHandlers\\", "Foreign", "kept");
    reg_.WriteText(kCR, "*\\shellex\\ContextMenuHandlers\\Other\\", "", "{0000}");
    ASSERT_TRUE(RegisterContextMenu(true, program_));

    const struct {
        RegistryRoot root;
        std::string key, value, expected;
    } records[] = {
        {kCR, "CLSID\\" + kClsid, "", "Quorbel Shell Extension"},
        {kCR, "CLSID\\" + kClsid + "\\InProcServer32", "", "/opt/Dorvex Quorbel/quorbel.dll"},
        {kCR, "CLSID\\" + kClsid + "\\InProcServer32", "ThreadingModel", "Apartment"},
        {kCR, "Quorbel\\shellex\\ContextMenuHandlers", "", "QuorbelMenu"},
        {kCR, "Quorbel\\shellex\\ContextMenuHandlers\\QuorbelMenu", "", kClsid},
        {kCR, "*\\shellex\\ContextMenuHandlers\\QuorbelMenu", "", kClsid},
        {kCR, "Directory\\shellex\\ContextMenuHandlers", "", "QuorbelMenu"},
        {kCR, "Directory\\shellex\\ContextMenuHandlers\\QuorbelMenu", "", kClsid},
        {kCR, "Folder\\shellex\\ContextMenuHandlers\\Quorbel", "", kClsid},
        {kLM, "Software\\CLASSES\\Folder\\shellex\\ContextMenuHandlers\\Quorbel", "", kClsid},
        {kLM, "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved", kClsid,
         "Quorbel Shell Extension"},
    };
    for (const auto& r : records)
        EXPECT_EQ(reg_.ReadText(r.root, r.key, r.value, "<missing>"), r.expected) << r.key;

    const std::string service = ReadFile(xdg::ServiceMenuPath());
    EXPECT_NE(service.find("Exec=\"/opt/Dorvex Quorbel/quorbel-shell\" 3 %F\n"), std::string::npos)
        << service;
    EXPECT_NE(service.find("Name=Extract here (into folder)\n"), std::string::npos);
    const std::string script = xdg::NautilusScriptsFolder() + "/Quorbel - Add to <name>.zip";
    EXPECT_NE(ReadFile(script).find("exec '/opt/Dorvex Quorbel/quorbel-shell' 1 \"$@\"\n"),
              std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat(script.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    const std::string uca = ReadFile(xdg::ThunarActionsPath());
    EXPECT_NE(uca.find("<command>'/opt/Dorvex Quorbel/quorbel-shell' 5 %F</command>"), std::string::npos);
    EXPECT_NE(uca.find("<name>Add to &lt;name&gt;.zip</name>"), std::string::npos);

    // The menus follow the language; the other language's items do not linger.
    SetLanguage(Language::French);
    ASSERT_TRUE(RegisterContextMenu(true, program_));
    EXPECT_TRUE(Exists(xdg::NautilusScriptsFolder() + "/Quorbel - Ouvrir avec Quorbel"));
    EXPECT_FALSE(Exists(xdg::NautilusScriptsFolder() + "/Quorbel - Open with Quorbel"));
    EXPECT_NE(ReadFile(xdg::ThunarActionsPath()).find("<name>Extraire vers...</name>"), std::string::npos);
    EXPECT_EQ(ReadFile(xdg::ThunarActionsPath()).find("<name>Extract to...</name>"), std::string::npos);

    app_.WriteInteger(kShellExtKey, kShellExtEnable, 0);
    ASSERT_TRUE(RegisterContextMenu(true, program_));
    for (const auto& r : records)
        EXPECT_EQ(reg_.ReadText(r.root, r.key, r.value, "<missing>"), "<missing>") << r.key;
    EXPECT_FALSE(reg_.KeyExists(kCR, "Quorbel"));
    EXPECT_FALSE(reg_.KeyExists(kCR, "CLSID\\" + kClsid));
    EXPECT_EQ(reg_.ReadText(kCR, "*\\shellex\\ContextMenuHandlers", "Foreign"), "kept");
    EXPECT_EQ(Default(kCR, "*\\shellex\\ContextMenuHandlers\\Other"), "{0000}");
    EXPECT_TRUE(reg_.KeyExists(kCR, "Directory\\shellex\\ContextMenuHandlers"));
    EXPECT_FALSE(Exists(xdg::ServiceMenuPath()));
    EXPECT_TRUE(fs::is_empty(xdg::NautilusScriptsFolder()));
    EXPECT_EQ(ReadFile(xdg::ThunarActionsPath()).find("dorvex-quorbel"), std::string::npos);
}

TEST_F(RegistrationsTest, UnregisteringLeavesOnlyOthersBehind) {
    const std::string mimeapps_before =
        "# the user's own choices\n"
        "[Default Applications]\n"
        "text/plain=org.example.Editor.desktop\n"
        "application/zip=org.example.Archiver.desktop;\n"
        "\n"
        "[Removed Associations]\n"
        "image/png=org.example.Viewer.desktop;\n";
    const std::string uca_before =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<actions>\n"
        "<action>\n\t<icon>utilities-terminal</icon>\n\t<name>Open Terminal Here</name>\n"
        "\t<unique-id>1700000000000000-1</unique-id>\n\t<command>exo-open --launch TerminalEmulator</command>\n"
        "\t<patterns>*</patterns>\n\t<directories/>\n</action>\n"
        "</actions>\n";
    WriteFile(xdg::MimeAppsPath(), mimeapps_before);
    WriteFile(xdg::ThunarActionsPath(), uca_before);
    WriteFile(xdg::DataHome() + "/applications/org.example.Archiver.desktop", "[Desktop Entry]\n");

    ASSERT_TRUE(RegisterFileTypes(true, program_));
    ASSERT_TRUE(RegisterContextMenu(true, program_));
    const std::string merged = ReadFile(xdg::MimeAppsPath());
    EXPECT_NE(merged.find("text/plain=org.example.Editor.desktop\n"), std::string::npos);
    EXPECT_NE(merged.find("application/zip=dorvex-quorbel.desktop;org.example.Archiver.desktop;\n"),
              std::string::npos)
        << merged;
    EXPECT_NE(ReadFile(xdg::ThunarActionsPath()).find("Open Terminal Here"), std::string::npos);

    ASSERT_TRUE(RegisterFileTypes(false, program_));
    ASSERT_TRUE(RegisterContextMenu(false, program_));
    EXPECT_EQ(ReadFile(xdg::MimeAppsPath()), mimeapps_before);
    EXPECT_EQ(ReadFile(xdg::ThunarActionsPath()), uca_before);
    for (RegistryRoot root : {kCR, kLM}) {
        const std::string hive = HiveText(root);
        EXPECT_EQ(hive.find("Quorbel"), std::string::npos) << hive;
        EXPECT_EQ(hive.find(kClsid), std::string::npos) << hive;
    }
    EXPECT_FALSE(Exists(xdg::DocumentEntryPath()));
    EXPECT_FALSE(Exists(xdg::ServiceMenuPath()));
    EXPECT_TRUE(Exists(xdg::DataHome() + "/applications/org.example.Archiver.desktop"));

    // Files that held nothing but ours go with our lines.
    ASSERT_TRUE(fs::remove(xdg::MimeAppsPath()));
    ASSERT_TRUE(RegisterFileTypes(true, program_));
    ASSERT_TRUE(RegisterFileTypes(false, program_));
    EXPECT_FALSE(Exists(xdg::MimeAppsPath()));
}

TEST_F(RegistrationsTest, MimeAppsMergeKeepsOtherLines) {
    const struct {
        const char* name;
        std::string before;
        std::vector<std::string> wanted;
        std::string after;
    } cases[] = {
        {"our entry moves to the front", "[Default Applications]\r\na/b=x.desktop;dorvex-quorbel.desktop\r\n",
         {"a/b"},
         "[Default Applications]\r\na/b=dorvex-quorbel.desktop;x.desktop\r\n\n[Added Associations]\na/b=dorvex-quorbel.desktop;\n"},
        {"a type no longer wanted loses only us",
         "[Added Associations]\na/b=dorvex-quorbel.desktop;x.desktop;\nc/d=dorvex-quorbel.desktop;\n[Other]\nk=v",
         {}, "[Added Associations]\na/b=x.desktop;\n[Other]\nk=v"},
        {"a group we emptied goes", "[Other]\nk=v\n\n[Added Associations]\na/b=dorvex-quorbel.desktop;\n", {},
         "[Other]\nk=v\n"},
        {"nothing of ours, nothing changes", "[Default Applications]\na/b = x.desktop ; \n", {},
         "[Default Applications]\na/b = x.desktop ; \n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(xdg::MergeMimeApps(c.before, xdg::kDesktopId, c.wanted), c.after) << c.name;

    std::string merged;
    EXPECT_FALSE(xdg::MergeThunarActions("<not-actions/>\n", "<action>x</action>\n", merged));
    ASSERT_TRUE(xdg::MergeThunarActions("<actions/>\n", "<action>x</action>\n", merged));
    EXPECT_EQ(merged, "<actions>\n<action>x</action>\n</actions>\n");
}

TEST_F(RegistrationsTest, XdgMimeNamesUsAsDefault) {
    QUORBEL_REQUIRE_TOOL("xdg-mime");
    // xdg-mime checks that the entry's program exists.
    const std::string program = env_ / "bin/quorbel";
    WriteFile(program, "#!/bin/sh\n");
    fs::permissions(program, fs::perms::owner_all);
    ASSERT_TRUE(RegisterFileTypes(true, program));
    test::CommandResult result = test::Run({"xdg-mime", "query", "default", "application/zip"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "dorvex-quorbel.desktop\n");
    ASSERT_TRUE(RegisterFileTypes(false, program));
    result = test::Run({"xdg-mime", "query", "default", "application/zip"});
    EXPECT_EQ(result.out.find("dorvex-quorbel"), std::string::npos);
}

TEST_F(RegistrationsTest, MenuGroupHasEveryEntryAndGoesCleanly) {
    const std::string folder = "/opt/Dorvex Quorbel";
    const std::string foreign = xdg::DataHome() + "/applications/org.example.Other.desktop";
    WriteFile(foreign, "[Desktop Entry]\n");
    ASSERT_TRUE(InstallMenuGroup(folder, false));

    const std::vector<std::string> files = xdg::MenuGroupFiles();
    ASSERT_EQ(files.size(), 3 + std::size(kHelpTopics) + 4 + 1);
    for (const std::string& f : files) EXPECT_TRUE(Exists(f)) << f;
    const std::string apps = xdg::DataHome() + "/applications/";
    const struct {
        std::string file, expected;
    } entries[] = {
        {"dorvex-quorbel-program.desktop", "Name=Quorbel\nExec=\"/opt/Dorvex Quorbel/quorbel\"\n"},
        {"dorvex-quorbel-uninstall.desktop",
         "Name=Uninstall Quorbel\nExec=\"/opt/Dorvex Quorbel/quorbel\" /UNINSTALL\n"},
        {"dorvex-quorbel-reinstall.desktop",
         "Name=Re-install Quorbel\nExec=\"/opt/Dorvex Quorbel/quorbel\" /INSTALL\n"},
        {"dorvex-quorbel-help-01.desktop",
         "Name= 1. Table des matières\nExec=xdg-open \"/opt/Dorvex Quorbel/help/local/index.htm\"\n"},
        // Quorbel's own entries show its icon, the help pages the desktop's help icon.
        {"dorvex-quorbel-program.desktop", "\nIcon=dorvex-quorbel\n"},
        {"dorvex-quorbel-uninstall.desktop", "\nIcon=dorvex-quorbel\n"},
        {"dorvex-quorbel-reinstall.desktop", "\nIcon=dorvex-quorbel\n"},
        {"dorvex-quorbel-help-01.desktop", "\nIcon=help-browser\n"},
        // The sub-groups count from 1 again.
        {"dorvex-quorbel-help-09.desktop", "Name= 1. Fenêtre principale\n"},
        {"dorvex-quorbel-help-18.desktop", "Name= 4. Options du mot de passe\n"},
    };
    for (const auto& e : entries)
        EXPECT_NE(ReadFile(apps + e.file).find(e.expected), std::string::npos) << e.file;

    const std::string menu = ReadFile(xdg::MenuMergePath());
    for (const char* part : {"<Name>Dorvex Quorbel</Name>", "<Directory>dorvex-quorbel.directory</Directory>",
                             "<Name>Help</Name>", "<Filename>dorvex-quorbel-help-18.desktop</Filename>"})
        EXPECT_NE(menu.find(part), std::string::npos) << part;

    ASSERT_TRUE(InstallMenuGroup(folder, true));
    EXPECT_NE(ReadFile(apps + "dorvex-quorbel-help-01.desktop").find("Name= 1. Table of content\n"),
              std::string::npos);

    ASSERT_TRUE(RemoveMenuGroup());
    for (const std::string& f : files) EXPECT_FALSE(Exists(f)) << f;
    EXPECT_TRUE(Exists(foreign));
}

TEST_F(RegistrationsTest, EveryDesktopFileValidates) {
    QUORBEL_REQUIRE_TOOL("desktop-file-validate");
    // Characters an Exec line has to quote or escape.
    const std::string folder = env_ / "Dorvex $HOME \\ 100% \"q\"";
    app_.WriteInteger(kDataTypeKey, "TIF", 1);
    SetLanguage(Language::French);
    ASSERT_TRUE(RegisterFileTypes(true, folder + "/quorbel"));
    ASSERT_TRUE(RegisterContextMenu(true, folder + "/quorbel"));
    ASSERT_TRUE(InstallMenuGroup(folder, false));

    int checked = 0;
    for (const auto& item : fs::recursive_directory_iterator(xdg::DataHome())) {
        const std::string path = item.path().string();
        const std::string ext = item.path().extension().string();
        if (ext != ".desktop" && ext != ".directory") continue;
        test::CommandResult result = test::Run({"desktop-file-validate", path});
        EXPECT_EQ(result.exit_code, 0) << path << "\n" << result.out << result.err;
        EXPECT_EQ(result.out + result.err, "") << path;
        ++checked;
    }
    EXPECT_EQ(checked, 1 + 1 + 3 + int(std::size(kHelpTopics)) + 4);

    for (const std::string& xml : {xdg::ThunarActionsPath(), xdg::MenuMergePath()}) {
        QFile file(QString::fromStdString(xml));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << xml;
        QXmlStreamReader reader(&file);
        while (!reader.atEnd()) reader.readNext();
        EXPECT_FALSE(reader.hasError()) << xml << ": " << reader.errorString().toStdString();
    }
}

}  // namespace
}  // namespace quorbel
