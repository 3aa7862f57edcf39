#include <gtest/gtest.h>

#include "core/messages.h"
#include "formats/format_table.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

using test::Member;

TEST(FormatTableTest, FormatsKeepTheirFixedOrder) {
    int last = 0;
    for (const FormatRow& row : FormatTable()) {
        EXPECT_GT(row.order, last) << row.name;
        last = row.order;
    }
    ASSERT_FALSE(FormatTable().empty());
    EXPECT_STREQ(FormatTable()[0].name, "ZIP");
}

TEST(FormatTableTest, ContentDecidesNotTheExtension) {
    test::IsolatedEnvironment env;
    SetLanguage(Language::English);
    std::string zip = test::BuildZip({Member("a.txt", "a")});
    struct Row {
        const char* name;
        std::string bytes;
        const char* format;  // nullptr: nothing opens it
    } rows[] = {
        {"plain.zip", zip, "ZIP"},
        {"installer.exe", std::string(4096, 'M') + zip, nullptr},  // offsets not adjusted
        {"renamed.dat", zip, "ZIP"},
        {"notes.zip", "just some text, no archive at all", nullptr},
    };
    for (const Row& r : rows) {
        std::string path = env / r.name;
        test::WriteFile(path, r.bytes);
        int status = -1;
        std::string message;
        auto handler = OpenArchiveFile(path, status, nullptr, &message);
        if (r.format) {
            ASSERT_TRUE(handler) << r.name << ": " << message;
            EXPECT_EQ(handler->FormatName(), r.format);
            EXPECT_EQ(status, kStatusOk);
        } else {
            EXPECT_FALSE(handler) << r.name;
            EXPECT_FALSE(message.empty());
        }
    }
    // A file no format knows gets the unknown-format message; a damaged ZIP its own.
    int status = -1;
    std::string message;
    OpenArchiveFile(env / "notes.zip", status, nullptr, &message);
    EXPECT_EQ(message.rfind("Unknown archive format.", 0), 0u) << message;
    std::string damaged = zip;
    damaged[damaged.find("PK\x01\x02")] = 'X';
    test::WriteFile(env / "damaged.zip", damaged);
    OpenArchiveFile(env / "damaged.zip", status, nullptr, &message);
    EXPECT_NE(message.find("contains corrupted information"), std::string::npos) << message;
    OpenArchiveFile(env / "missing.zip", status, nullptr, &message);
    EXPECT_EQ(message.rfind("Cannot open file", 0), 0u) << message;
}

TEST(FormatTableTest, AbortStopsTheWholeOpen) {
    test::IsolatedEnvironment env;
    std::vector<test::ZipMemberInput> many;
    for (int i = 0; i < 50; ++i) many.push_back(Member("m" + std::to_string(i), "x"));
    test::WriteFile(env / "a.zip", test::BuildZip(many));
    class AbortAll : public ProgressSink {
    public:
        int SetPos(int64_t p, bool redraw) override {
            ++calls;
            RequestCancel();
            return ProgressSink::SetPos(p, redraw);
        }
        int calls = 0;
    } sink;
    int status = -1;
    auto handler = OpenArchiveFile(env / "a.zip", status, &sink);
    EXPECT_FALSE(handler);
    EXPECT_EQ(status, kStatusAborted);
    EXPECT_EQ(sink.calls, 1);  // no later format was tried
}

TEST(FormatTableTest, KnownAndArchiveFiles) {
    test::IsolatedEnvironment env;
    test::WriteFile(env / "x.dat", test::BuildZip({Member("a", "a")}));
    test::WriteFile(env / "y.dat", "nothing");
    test::WriteFile(env / "short.dat", std::string(21, 'P'));
    struct Row {
        const char* name;
        bool archive, known;
    } rows[] = {
        {"a.ZIP", true, true}, {"b.tgz", true, true},   {"c.Lzh", true, true},
        {"d.png", false, true}, {"e.HTML", false, true}, {"f.txt", false, false},
        {"x.dat", true, true},  {"y.dat", false, false}, {"short.dat", false, false},
    };
    for (const Row& r : rows) {
        std::string path = env / r.name;
        if (!std::string(r.name).ends_with(".dat")) test::WriteFile(path, "");
        EXPECT_EQ(IsArchiveFile(path), r.archive) << r.name;
        EXPECT_EQ(IsKnownFile(path), r.known) << r.name;
    }
    EXPECT_FALSE(IsKnownFile(env.dir().path()));  // a folder is neither
}

}  // namespace
}  // namespace quorbel
