// Search over an archive made here: name patterns, the folder boundary, case, the word
// operators, members that cannot be searched, duplicates, and a stop that keeps what was found.
#include <gtest/gtest.h>

#include "app/ops/member_path.h"
#include "app/ops/search.h"
#include "core/settings.h"
#include "core/zip/zip_archive.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace quorbel {
namespace {

using test::Member;

// Says stop at its n-th position report.
class StopAfter : public ProgressSink {
public:
    explicit StopAfter(int n) : left_(n) {}
    int SetPos(int64_t position, bool redraw) override {
        ProgressSink::SetPos(position, redraw);
        return --left_ > 0 ? 1 : 0;
    }

private:
    int left_;
};

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramPassword("");
        auto secret = Member("secret.txt", "alpha inside");
        secret.encrypt_with = "pw";
        auto big = Member("big.txt", std::string(4000, 'x') + "alpha");
        test::WriteFile(path_, test::BuildZip({
                                   Member("docs/readme.txt", "Alpha and beta"),
                                   Member("docs/a.b.txt", "alpha only"),
                                   Member("Docs/sub/notes.TXT", "gamma BETA"),
                                   Member("docsold/old.txt", "alpha beta"),
                                   Member("img/pic.png", std::string("alpha\0binary", 12)),
                                   secret,
                                   big,
                                   Member("phrase.txt", "hello world"),
                               }));
        ASSERT_EQ(zip_.Open(path_), kStatusOk);
    }

    std::string Names(const SearchResult& r) {
        std::string out;
        for (int i : r.matches) out += (out.empty() ? "" : " ") + DisplayPath(zip_.Entry(size_t(i)).full_name);
        return out;
    }

    test::IsolatedEnvironment env_;
    std::string path_ = env_ / "search.zip";
    ZipArchive zip_;
};

TEST_F(SearchTest, QueriesFindTheirMembers) {
    const struct {
        const char* path;
        const char* names;
        const char* text;
        bool match_case, match_words;
        const char* expected;
        int not_searched;
    } rows[] = {
        {"", "", "", false, false,
         "docs/readme.txt docs/a.b.txt Docs/sub/notes.TXT docsold/old.txt img/pic.png secret.txt "
         "big.txt phrase.txt", 0},
        // "*.txt" takes a.b.txt too, and upper-case extensions.
        {"", "*.txt", "", false, false,
         "docs/readme.txt docs/a.b.txt Docs/sub/notes.TXT docsold/old.txt secret.txt big.txt "
         "phrase.txt", 0},
        {"", "?i?.*", "", false, false, "img/pic.png big.txt", 0},
        {"", "*.b.*", "", false, false, "docs/a.b.txt", 0},
        // A folder takes itself and what lies below it, in any case; "docsold" is another folder.
        {"docs", "", "", false, false, "docs/readme.txt docs/a.b.txt Docs/sub/notes.TXT", 0},
        {"DOCS/", "", "", false, false, "docs/readme.txt docs/a.b.txt Docs/sub/notes.TXT", 0},
        {"docs\\sub", "*", "", false, false, "Docs/sub/notes.TXT", 0},
        {"doc", "", "", false, false, "", 0},
        // A member matching several patterns is listed once.
        {"", "*.txt;read* , *.TXT", "", false, false,
         "docs/readme.txt docs/a.b.txt Docs/sub/notes.TXT docsold/old.txt secret.txt big.txt "
         "phrase.txt", 0},
        {"", "*.png readme.*", "", false, false, "docs/readme.txt img/pic.png", 0},
        // Contents: the encrypted member and the one above the size cap are not searched.
        {"", "", "alpha", false, false, "docs/readme.txt docs/a.b.txt docsold/old.txt img/pic.png", 2},
        {"", "", "Alpha", true, false, "docs/readme.txt", 2},
        {"", "", "BETA", true, false, "Docs/sub/notes.TXT", 2},
        {"", "*.png", "alpha", false, false, "img/pic.png", 0},
        {"", "", "hello world", false, false, "phrase.txt", 2},
        {"", "", "world hello", false, false, "", 2},
        {"", "", "alpha beta", false, true, "docs/readme.txt docsold/old.txt", 2},
        {"", "", "+alpha -beta", false, true, "docs/a.b.txt img/pic.png", 2},
        {"", "", "/gamma  /hello", false, true, "Docs/sub/notes.TXT phrase.txt", 2},
        // Excluded words alone select the members holding none of them.
        {"", "", "-alpha -beta", false, true, "phrase.txt", 2},
        {"", "", "-alpha -BETA", true, true, "docs/readme.txt phrase.txt", 2},
        {"docs", "", "/missing", false, true, "", 0},
    };
    for (const auto& row : rows) {
        SearchQuery q;
        q.path = row.path;
        q.names = row.names;
        q.text = row.text;
        q.match_case = row.match_case;
        q.match_words = row.match_words;
        q.size_cap = 1000;
        const SearchResult r = SearchEntries(zip_, q, SilentSink());
        const std::string label = std::string(row.path) + "|" + row.names + "|" + row.text;
        EXPECT_EQ(Names(r), row.expected) << label;
        EXPECT_EQ(r.not_searched, row.not_searched) << label;
        EXPECT_FALSE(r.aborted) << label;
    }
}

TEST_F(SearchTest, PasswordAndCapDecideWhatIsSearched) {
    SetProgramPassword("pw");
    SearchQuery q;
    q.text = "alpha";
    SearchResult r = SearchEntries(zip_, q, SilentSink());
    EXPECT_EQ(Names(r), "docs/readme.txt docs/a.b.txt docsold/old.txt img/pic.png secret.txt big.txt");
    EXPECT_EQ(r.not_searched, 0);
    SetProgramPassword("wrong");
    r = SearchEntries(zip_, q, SilentSink());
    EXPECT_EQ(r.not_searched, 1);
    SetProgramPassword("");
}

TEST_F(SearchTest, StopKeepsWhatWasFound) {
    // Eight entries: the stop is tested at entries 0, 3 and 6; the second test stops, by name
    // and by content alike (these small members report no progress of their own).
    StopAfter stop(2);
    SearchQuery q;
    SearchResult r = SearchEntries(zip_, q, stop);
    EXPECT_TRUE(r.aborted);
    EXPECT_EQ(Names(r), "docs/readme.txt docs/a.b.txt Docs/sub/notes.TXT");
    StopAfter stop_in_content(2);
    q.text = "a";
    r = SearchEntries(zip_, q, stop_in_content);
    EXPECT_TRUE(r.aborted);
    EXPECT_EQ(Names(r), "docs/readme.txt docs/a.b.txt Docs/sub/notes.TXT");
}

TEST(SearchPatterns, NamesAndWords) {
    const struct {
        const char* pattern;
        const char* name;
        bool match;
    } rows[] = {
        {"", "x", true},          {"*", "a.b.txt", true},         {"*.txt", "readme.txt", true},
        {"*.txt", "a.b.txt", true}, {"*.txt", "a.txt.gz", false}, {"a?c", "abc", true},
        {"a?c", "ac", false},     {"a*b*c", "aXbYbZc", true},     {"a*b*c", "aXbYbZ", false},
        {"*a*", "bbb", false},    {"**", "", true},               {"?", "\xe8\xaa\x9e", true},
        {"\xc3\x89T\xc3\x89.*", "\xc3\xa9t\xc3\xa9.doc", true},   {"README", "readme", true},
        {"x*", "", false},
    };
    for (const auto& row : rows) EXPECT_EQ(MatchName(row.pattern, row.name), row.match) << row.pattern << " " << row.name;
    EXPECT_EQ(SplitNamePatterns(" *.a,,*.b; c "), (std::vector<std::string>{"*.a", "*.b", "c"}));
    EXPECT_TRUE(InFolder("docs", "DOCS"));
    EXPECT_TRUE(InFolder("Docs\\Sub", "docs"));
    EXPECT_FALSE(InFolder("docsold", "docs"));
    EXPECT_FALSE(InFolder("", "docs"));
    ContentTest words("+a  /b -c /d plain", false, true);
    EXPECT_EQ(words.Required(), (std::vector<std::string>{"a", "plain"}));
    EXPECT_EQ(words.Optional(), (std::vector<std::string>{"b", "d"}));
    EXPECT_EQ(words.Excluded(), (std::vector<std::string>{"c"}));
    // A word longer than the data never occurs; folding covers the last byte too.
    const std::string data = "abcXYZ";
    EXPECT_FALSE(ContentTest("abcXYZW", false, false).Matches(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
    EXPECT_TRUE(ContentTest("cxyz", false, false).Matches(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
    EXPECT_FALSE(ContentTest("cxyz", true, false).Matches(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
}

}  // namespace
}  // namespace quorbel
