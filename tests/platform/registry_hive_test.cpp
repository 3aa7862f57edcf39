#include "platform/registry_hive.h"

#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const char kRoot[] = "HKEY_CURRENT_USER";

std::vector<std::string> Names(const std::string& path) {
    std::vector<std::string> names;
    EXPECT_TRUE(SplitRegistryPath(path, names)) << path;
    return names;
}

RegistryHive Parse(const std::string& text) {
    RegistryHive hive(kRoot);
    hive.FromText(text);
    return hive;
}

const HiveValue* Value(const RegistryHive& hive, const std::string& path, const std::string& name) {
    const HiveKey* key = hive.FindKey(Names(path));
    return key ? key->FindValue(name) : nullptr;
}

std::string Text(const RegistryHive& hive, const std::string& path, const std::string& name) {
    const HiveValue* v = Value(hive, path, name);
    if (!v) return "<missing>";
    if (v->binary) return "<binary>";
    return v->text;
}

std::vector<std::string> SubKeyNames(const HiveKey& key) {
    std::vector<std::string> names;
    for (const auto& sub : key.sub_keys()) names.push_back(sub->name());
    return names;
}

std::vector<std::string> ValueNames(const HiveKey& key) {
    std::vector<std::string> names;
    for (const HiveValue& v : key.values()) names.push_back(v.name);
    return names;
}

TEST(RegistryHiveTest, SplitPathDropsEmptyNamesAndRejectsBadOnes) {
    struct Case {
        std::string path;
        bool ok;
        std::vector<std::string> names;
    };
    const std::vector<Case> cases = {
        {"", true, {}},
        {"\\", true, {}},
        {"Software", true, {"Software"}},
        {"Software\\Dorvex\\", true, {"Software", "Dorvex"}},
        {"\\Software\\\\Dorvex", true, {"Software", "Dorvex"}},
        {"Key with spaces\\[x]", true, {"Key with spaces", "[x]"}},
        {"Bad\nName", false, {}},
        {"Bad\x01Name\\X", false, {}},
        {"Bad\x7fName", false, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> names = {"stale"};
        EXPECT_EQ(SplitRegistryPath(c.path, names), c.ok) << c.path;
        if (c.ok) {
            EXPECT_EQ(names, c.names) << c.path;
        }
    }
}

TEST(RegistryHiveTest, SplitPathLimitsTheDepth) {
    std::string path;
    for (size_t i = 0; i < kMaxRegistryKeyDepth; ++i) path += "k\\";
    std::vector<std::string> names;
    EXPECT_TRUE(SplitRegistryPath(path, names));
    EXPECT_EQ(names.size(), kMaxRegistryKeyDepth);
    EXPECT_FALSE(SplitRegistryPath(path + "one-too-many", names));
}

TEST(RegistryHiveTest, EscapesRoundTripAndStayOnOneLine) {
    const std::vector<std::string> texts = {
        "",
        "plain",
        "say \"hi\"",
        "C:\\Program Files\\Tool\\",
        "\\\\server\\share",
        "two\nlines",
        "cr\rlf\r\n",
        "tab\there",
        std::string("nul\0byte", 8),
        "\x01\x02\x1f\x7f",
        "D\xc3\xa9j\xc3\xa0 vu \xe2\x80\x94 \xe6\x97\xa5\xe6\x9c\xac",  // UTF-8
        "\xff\xfe not UTF-8",
        "\\x41 is not an escape here",
        "\"",
        "\\",
    };
    for (const std::string& text : texts) {
        std::string escaped = EscapeRegistryText(text);
        EXPECT_EQ(escaped.find('\n'), std::string::npos) << escaped;
        EXPECT_EQ(escaped.find('\r'), std::string::npos) << escaped;
        std::string back;
        ASSERT_TRUE(UnescapeRegistryText(escaped, back)) << escaped;
        EXPECT_EQ(back, text) << escaped;

        // The same text as a value name and as a value, through the whole file form.
        RegistryHive hive(kRoot);
        hive.CreateKey(Names("Software\\Test")).SetText(text, text);
        RegistryHive reread = Parse(hive.ToText());
        EXPECT_EQ(Text(reread, "Software\\Test", text), text) << hive.ToText();
        EXPECT_EQ(reread.ToText(), hive.ToText());
    }
}

TEST(RegistryHiveTest, MalformedEscapesAreRejected) {
    for (const std::string escaped : {"\\", "end\\", "\\q", "\\x", "\\x4", "\\xg0", "\\X41"}) {
        std::string text;
        EXPECT_FALSE(UnescapeRegistryText(escaped, text)) << escaped;
    }
}

TEST(RegistryHiveTest, WritesTheDocumentedTextForm) {
    RegistryHive hive(kRoot);
    HiveKey& extract = hive.CreateKey(Names("Software\\Dorvex\\Quorbel\\Options\\Extract"));
    extract.SetText("bOverwrite", "1");
    extract.SetBinary("Blob", {0x01, 0xff, 0x00});
    extract.SetText("", "default");
    extract.SetText("Path", "C:\\x \"y\"\n");
    hive.CreateKey(Names("Software\\Dorvex\\Quorbel\\Programs"));
    hive.CreateKey(Names("Software\\Dorvex\\Quorbel\\Empty")).SetBinary("None", {});

    EXPECT_EQ(hive.ToText(),
              "REGEDIT4\n"
              "\n[HKEY_CURRENT_USER\\Software]\n"
              "\n[HKEY_CURRENT_USER\\Software\\Dorvex]\n"
              "\n[HKEY_CURRENT_USER\\Software\\Dorvex\\Quorbel]\n"
              "\n[HKEY_CURRENT_USER\\Software\\Dorvex\\Quorbel\\Options]\n"
              "\n[HKEY_CURRENT_USER\\Software\\Dorvex\\Quorbel\\Options\\Extract]\n"
              "\"bOverwrite\"=\"1\"\n"
              "\"Blob\"=hex:01,ff,00\n"
              "@=\"default\"\n"
              "\"Path\"=\"C:\\\\x \\\"y\\\"\\n\"\n"
              "\n[HKEY_CURRENT_USER\\Software\\Dorvex\\Quorbel\\Programs]\n"
              "\n[HKEY_CURRENT_USER\\Software\\Dorvex\\Quorbel\\Empty]\n"
              "\"None\"=hex:\n");
}

TEST(RegistryHiveTest, RootValuesGetTheirOwnKeyLine) {
    RegistryHive hive(kRoot);
    EXPECT_EQ(hive.ToText(), "REGEDIT4\n");
    hive.root().SetText("Top", "1");
    EXPECT_EQ(hive.ToText(), "REGEDIT4\n\n[HKEY_CURRENT_USER]\n\"Top\"=\"1\"\n");
    EXPECT_EQ(Text(Parse(hive.ToText()), "", "Top"), "1");
}

TEST(RegistryHiveTest, ReadsTolerantly) {
    // CRLF endings, blank lines, comments, blanks around lines and '=', lower-case "hex:", a
    // hex list continued over lines, a missing REGEDIT4 line, duplicate values (last wins).
    const std::string text =
        "\r\n; exported by hand\r\n"
        "  [hkey_current_user\\Software\\A]  \r\n"
        "\r\n"
        "\"one\" = \"1\"\r\n"
        "\t\"blob\"=HEX: 0a , 0B,c,\\\r\n"
        "   ff,\\\n"
        "   00\r\n"
        "\"dup\"=\"first\"\n"
        "\"DUP\"=\"second\"\n"
        "@=\"default\"\n"
        "[HKEY_CURRENT_USER\\Software\\B]";
    RegistryHive hive = Parse(text);
    EXPECT_EQ(Text(hive, "Software\\A", "one"), "1");
    const HiveValue* blob = Value(hive, "Software\\A", "blob");
    ASSERT_NE(blob, nullptr);
    EXPECT_TRUE(blob->binary);
    EXPECT_EQ(blob->data, (std::vector<uint8_t>{0x0a, 0x0b, 0x0c, 0xff, 0x00}));
    EXPECT_EQ(Text(hive, "Software\\A", "dup"), "second");
    EXPECT_EQ(Text(hive, "Software\\A", ""), "default");
    EXPECT_EQ(ValueNames(*hive.FindKey(Names("Software\\A"))),
              (std::vector<std::string>{"one", "blob", "dup", ""}));
    EXPECT_EQ(SubKeyNames(*hive.FindKey(Names("Software"))), (std::vector<std::string>{"A", "B"}));
}

TEST(RegistryHiveTest, DamagedLinesAreSkipped) {
    struct Case {
        const char* defect;
        std::string line;
        std::vector<std::string> expected;  // value names left in key K, in order
    };
    // Every file is: key K, "before", the damaged line, "after", then key L with "later".
    const std::vector<Case> cases = {
        {"unterminated_text", "\"x\"=\"no end", {"before", "after"}},
        {"unterminated_name", "\"x=\"1\"", {"before", "after"}},
        {"junk_after_text", "\"x\"=\"1\" junk", {"before", "after"}},
        {"bad_escape", "\"x\"=\"a\\qb\"", {"before", "after"}},
        {"truncated_hex_escape", "\"x\"=\"a\\x4\"", {"before", "after"}},
        {"bad_hex_digit", "\"x\"=hex:0g,11", {"before", "after"}},
        {"hex_byte_too_long", "\"x\"=hex:100", {"before", "after"}},
        {"hex_empty_item", "\"x\"=hex:01,,02", {"before", "after"}},
        {"unknown_kind", "\"x\"=dword:00000001", {"before", "after"}},
        {"no_equals", "\"x\" \"1\"", {"before", "after"}},
        {"no_value", "\"x\"=", {"before", "after"}},
        {"stray_bytes", std::string("\0\xff\x01garbage", 10), {"before", "after"}},
        {"lone_quote", "\"", {"before", "after"}},
        {"lone_at", "@", {"before", "after"}},
        // A damaged or foreign key line drops the values up to the next key line.
        {"truncated_key_line", "[HKEY_CURRENT_USER\\Soft", {"before"}},
        {"other_root", "[HKEY_LOCAL_MACHINE\\Software\\K]", {"before"}},
        {"bad_key_name", "[HKEY_CURRENT_USER\\Bad\x01Name]", {"before"}},
        {"empty_brackets", "[]", {"before"}},
    };
    for (const Case& c : cases) {
        const std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"before\"=\"b\"\n" + c.line +
                                 "\n\"after\"=\"a\"\n\n[HKEY_CURRENT_USER\\L]\n\"later\"=\"l\"\n";
        RegistryHive hive = Parse(text);
        const HiveKey* k = hive.FindKey(Names("K"));
        ASSERT_NE(k, nullptr) << c.defect;
        EXPECT_EQ(ValueNames(*k), c.expected) << c.defect;
        EXPECT_EQ(Text(hive, "L", "later"), "l") << c.defect;
        EXPECT_EQ(SubKeyNames(hive.root()), (std::vector<std::string>{"K", "L"})) << c.defect;
    }
}

TEST(RegistryHiveTest, TruncatedFilesLoadOnlyWholeValues) {
    RegistryHive full(kRoot);
    HiveKey& a = full.CreateKey(Names("Software\\A"));
    a.SetText("text", "some \"quoted\" text\nover lines \\");
    a.SetText("utf8", "\xc3\xa9t\xc3\xa9");
    full.CreateKey(Names("Software\\A\\Deeper")).SetText("x", "y");
    full.CreateKey(Names("Software\\B")).SetText("z", "");
    const std::string text = full.ToText();

    for (size_t cut = 0; cut <= text.size(); ++cut) {
        RegistryHive part = Parse(text.substr(0, cut));
        // Every text that was read is the whole original text; nothing half-read is kept.
        for (const char* path : {"Software\\A", "Software\\A\\Deeper", "Software\\B"}) {
            const HiveKey* key = part.FindKey(Names(path));
            if (!key) continue;
            const HiveKey* original = full.FindKey(Names(path));
            for (const HiveValue& v : key->values()) {
                const HiveValue* o = original->FindValue(v.name);
                ASSERT_NE(o, nullptr) << "cut " << cut;
                EXPECT_EQ(v.text, o->text) << "cut " << cut;
            }
        }
    }
    EXPECT_EQ(Parse(text).ToText(), text);
}

TEST(RegistryHiveTest, NamesCompareWithoutCaseAndKeepTheirCase) {
    RegistryHive hive(kRoot);
    HiveKey& options = hive.CreateKey(Names("Software\\Options"));
    options.SetText("bOverwrite", "0");
    EXPECT_EQ(&hive.CreateKey(Names("SOFTWARE\\options")), &options);
    EXPECT_EQ(hive.FindKey(Names("software\\OPTIONS")), &options);
    EXPECT_TRUE(options.SetText("BOVERWRITE", "1"));
    EXPECT_EQ(ValueNames(options), (std::vector<std::string>{"bOverwrite"}));
    EXPECT_EQ(Text(hive, "SOFTWARE\\OPTIONS", "boverwrite"), "1");
    EXPECT_EQ(SubKeyNames(hive.root()), (std::vector<std::string>{"Software"}));
    EXPECT_EQ(SubKeyNames(*hive.FindKey(Names("Software"))), (std::vector<std::string>{"Options"}));
}

TEST(RegistryHiveTest, SettersReportWhetherAnythingChanged) {
    HiveKey key("K");
    EXPECT_TRUE(key.SetText("a", ""));  // a new empty value is a change
    EXPECT_FALSE(key.SetText("A", ""));
    EXPECT_TRUE(key.SetText("a", "x"));
    EXPECT_TRUE(key.SetBinary("a", {}));  // the kind changes
    EXPECT_FALSE(key.SetBinary("a", {}));
    EXPECT_TRUE(key.SetBinary("a", {1}));
    EXPECT_TRUE(key.SetText("a", ""));
    EXPECT_EQ(key.values().size(), 1u);
    EXPECT_TRUE(key.DeleteValue("A"));
    EXPECT_FALSE(key.DeleteValue("a"));
}

TEST(RegistryHiveTest, KeepsCreationOrderThroughTheFile) {
    RegistryHive hive(kRoot);
    for (const char* name : {"zeta", "Alpha", "mid", "beta"}) {
        hive.CreateKey(Names(std::string("P\\") + name));
        hive.CreateKey(Names("P")).SetText(name, name);
    }
    RegistryHive reread = Parse(hive.ToText());
    const std::vector<std::string> order = {"zeta", "Alpha", "mid", "beta"};
    EXPECT_EQ(SubKeyNames(*reread.FindKey(Names("P"))), order);
    EXPECT_EQ(ValueNames(*reread.FindKey(Names("P"))), order);
}

TEST(RegistryHiveTest, DeletingAKeyRemovesEverythingBelowIt) {
    RegistryHive hive(kRoot);
    hive.CreateKey(Names("A\\B\\C\\D")).SetText("v", "1");
    hive.CreateKey(Names("A\\B\\E")).SetBinary("b", {1, 2});
    hive.CreateKey(Names("A\\F"));
    hive.CreateKey(Names("G")).SetText("keep", "1");

    EXPECT_TRUE(hive.DeleteKey(Names("a\\b")));
    EXPECT_EQ(hive.FindKey(Names("A\\B")), nullptr);
    EXPECT_EQ(hive.FindKey(Names("A\\B\\C\\D")), nullptr);
    EXPECT_EQ(SubKeyNames(*hive.FindKey(Names("A"))), (std::vector<std::string>{"F"}));
    EXPECT_EQ(Text(hive, "G", "keep"), "1");
    EXPECT_FALSE(hive.DeleteKey(Names("A\\B")));
    EXPECT_FALSE(hive.DeleteKey({}));  // the root stays
    EXPECT_EQ(Parse(hive.ToText()).ToText(), hive.ToText());
    EXPECT_EQ(hive.ToText().find("\\B"), std::string::npos);
}

TEST(RegistryHiveTest, SaveReplacesTheFileAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string file = dir / "HKEY_CURRENT_USER.reg";
    RegistryHive hive(kRoot);

    EXPECT_EQ(hive.Load(file), RegistryHive::LoadResult::Missing);
    hive.CreateKey(Names("Software\\A")).SetText("v", "1");
    ASSERT_TRUE(hive.Save(file));
    hive.CreateKey(Names("Software\\A")).SetText("v", "2");
    ASSERT_TRUE(hive.Save(file));
    EXPECT_EQ(ReadFile(file), hive.ToText());

    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        entries.push_back(entry.path().filename().string());
    EXPECT_EQ(entries, (std::vector<std::string>{"HKEY_CURRENT_USER.reg"}));

    RegistryHive reread(kRoot);
    EXPECT_EQ(reread.Load(file), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(Text(reread, "Software\\A", "v"), "2");
}

TEST(RegistryHiveTest, LoadAndSaveReportUnusablePaths) {
    TempDir dir;
    WriteFile(dir / "plain", "not a folder");
    fs::create_directory(dir / "folder.reg");
    RegistryHive hive(kRoot);
    hive.root().SetText("v", "1");

    struct Case {
        std::string file;
        RegistryHive::LoadResult load;
        bool save;
    };
    const std::vector<Case> cases = {
        {dir / "missing.reg", RegistryHive::LoadResult::Missing, true},
        {dir / "no-folder/x.reg", RegistryHive::LoadResult::Missing, false},
        {dir / "plain/x.reg", RegistryHive::LoadResult::Missing, false},
        {dir / "folder.reg", RegistryHive::LoadResult::Failed, false},
    };
    for (const Case& c : cases) {
        RegistryHive loaded(kRoot);
        loaded.root().SetText("stale", "1");
        EXPECT_EQ(loaded.Load(c.file), c.load) << c.file;
        EXPECT_TRUE(loaded.root().values().empty()) << c.file;
        EXPECT_EQ(hive.Save(c.file), c.save) << c.file;
    }
    EXPECT_TRUE(fs::is_directory(dir / "folder.reg"));
    EXPECT_TRUE(fs::is_empty(dir / "folder.reg"));
}

TEST(RegistryHiveTest, LockIsExclusiveUntilReleased) {
    TempDir dir;
    const std::string file = dir / "HKEY_CURRENT_USER.reg";
    int probe = -1;
    {
        HiveLock lock(file);
        ASSERT_TRUE(lock.locked());
        // flock() conflicts between open file descriptions, even within one process.
        probe = open((file + ".lock").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(probe, 0);
        int rc = flock(probe, LOCK_EX | LOCK_NB);
        int error = errno;
        EXPECT_NE(rc, 0);
        EXPECT_EQ(error, EWOULDBLOCK);
    }
    EXPECT_EQ(flock(probe, LOCK_EX | LOCK_NB), 0);
    close(probe);

    fs::create_directory(dir / "dir.reg.lock");
    EXPECT_FALSE(HiveLock(dir / "dir.reg").locked());
}

TEST(RegistryHiveTest, EnsureDirectoryCreatesPrivateFolders) {
    TempDir dir;
    WriteFile(dir / "plain", "x");
    const std::string nested = dir / "a/b/registry";
    ASSERT_TRUE(EnsureRegistryDirectory(nested));
    for (const std::string& folder : {dir / "a", dir / "a/b", nested}) {
        struct stat st;
        ASSERT_EQ(stat(folder.c_str(), &st), 0) << folder;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
    }
    EXPECT_TRUE(EnsureRegistryDirectory(nested + "/"));
    EXPECT_FALSE(EnsureRegistryDirectory(dir / "plain"));
    EXPECT_FALSE(EnsureRegistryDirectory(dir / "plain/registry"));
    EXPECT_FALSE(EnsureRegistryDirectory(""));
}

}  // namespace
}  // namespace quorbel
