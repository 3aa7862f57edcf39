// The help pages the installation unpacks: one page per help topic in each language, each with
// its title and stylesheet, and no link that leads nowhere once the pages are installed (the
// general pages go to <installation>/help, the pages of the chosen language to help/local).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/install/help_topics.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;

const fs::path kHelpSource = fs::path(QUORBEL_SOURCE_DIR) / "resources" / "help";

struct Language {
    const char* folder;  // below resources/help
    const char* code;    // the pages' lang attribute
};
constexpr Language kLanguages[] = {{"local-en", "en"}, {"local-fr", "fr"}};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The source of an installed help path for one language: "local/..." comes from the
// language's folder, everything else from the general pages.
fs::path SourceOf(const fs::path& installed, const Language& language) {
    auto part = installed.begin();
    if (part == installed.end() || *part != "local") return kHelpSource / "general" / installed;
    fs::path rest;
    for (++part; part != installed.end(); ++part) rest /= *part;
    return kHelpSource / language.folder / rest;
}

std::vector<std::string> Captures(const std::string& html, const std::regex& pattern, int group) {
    std::vector<std::string> found;
    for (std::sregex_iterator it(html.begin(), html.end(), pattern), end; it != end; ++it)
        found.push_back((*it)[group].str());
    return found;
}

std::vector<std::string> LinksOf(const std::string& html) {
    static const std::regex link(R"re((?:href|src)\s*=\s*"([^"]*)")re", std::regex::icase);
    return Captures(html, link, 1);
}

std::set<std::string> IdsOf(const std::string& html) {
    static const std::regex id(R"re(\bid\s*=\s*"([^"]*)")re", std::regex::icase);
    const std::vector<std::string> ids = Captures(html, id, 1);
    return {ids.begin(), ids.end()};
}

// What a reader sees of a page: the body without tags, with runs of blanks (no-break spaces
// included) made one blank.
std::string VisibleText(const std::string& html) {
    // Plain searches, not a regex over the whole page: std::regex recurses once per character
    // and a long page overflows the stack of an instrumented build.
    std::string text = html;
    const size_t head = text.find("<head>"), head_end = text.find("</head>");
    if (head != std::string::npos && head_end != std::string::npos && head_end > head)
        text.replace(head, head_end + 7 - head, " ");
    for (size_t open; (open = text.find('<')) != std::string::npos;) {
        const size_t close = text.find('>', open);
        if (close == std::string::npos) break;
        text.replace(open, close + 1 - open, " ");
    }
    for (size_t at; (at = text.find("\xC2\xA0")) != std::string::npos;) text.replace(at, 2, " ");
    std::string collapsed;
    for (char c : text) {
        const bool blank = c == ' ' || c == '\n' || c == '\r' || c == '\t';
        if (!blank) collapsed += c;
        else if (!collapsed.empty() && collapsed.back() != ' ') collapsed += ' ';
    }
    if (!collapsed.empty() && collapsed.back() == ' ') collapsed.pop_back();
    return collapsed;
}

std::string TopicPath(const HelpTopic& topic) { return std::string(topic.page).substr(6); }

TEST(HelpPagesTest, EveryTopicHasAPageInEachLanguage) {
    static const std::regex title(R"(<title>([^<]*\S[^<]*)</title>)", std::regex::icase);
    for (const Language& language : kLanguages)
        for (const HelpTopic& topic : kHelpTopics) {
            SCOPED_TRACE(std::string(language.folder) + " " + topic.page);
            ASSERT_EQ(std::string(topic.page).rfind("local/", 0), 0u);
            const fs::path page = SourceOf(topic.page, language);
            ASSERT_TRUE(fs::is_regular_file(page));
            const std::string html = ReadAll(page);
            EXPECT_TRUE(std::regex_search(html, title));
            EXPECT_NE(html.find(std::string("<html lang=\"") + language.code + "\""), std::string::npos);
            EXPECT_NE(html.find("<meta charset=\"utf-8\""), std::string::npos);
            EXPECT_NE(html.find("rel=\"stylesheet\""), std::string::npos);
            EXPECT_EQ(html.find("<script"), std::string::npos);
            EXPECT_GE(VisibleText(html).size(), 500u);
        }
}

TEST(HelpPagesTest, EachLanguageHoldsExactlyTheTopicPages) {
    std::set<std::string> topics;
    for (const HelpTopic& topic : kHelpTopics) topics.insert(TopicPath(topic));
    for (const Language& language : kLanguages) {
        SCOPED_TRACE(language.folder);
        std::set<std::string> pages;
        for (const auto& item : fs::recursive_directory_iterator(kHelpSource / language.folder))
            if (item.is_regular_file())
                pages.insert(item.path().lexically_relative(kHelpSource / language.folder).string());
        EXPECT_EQ(pages, topics);
    }
}

TEST(HelpPagesTest, EveryLinkResolvesOnceInstalled) {
    static const std::regex scheme("^[A-Za-z][A-Za-z0-9+.-]*:");
    struct Page {
        fs::path installed;  // below <installation>/help
        const Language* language;
    };
    std::vector<Page> pages;
    for (const Language& language : kLanguages) {
        // The general pages are installed with either language below them.
        for (const auto& item : fs::recursive_directory_iterator(kHelpSource / "general"))
            if (item.path().extension() == ".htm")
                pages.push_back({item.path().lexically_relative(kHelpSource / "general"), &language});
        for (const HelpTopic& topic : kHelpTopics) pages.push_back({topic.page, &language});
    }
    int checked = 0;
    for (const Page& page : pages) {
        const std::string html = ReadAll(SourceOf(page.installed, *page.language));
        for (const std::string& link : LinksOf(html)) {
            SCOPED_TRACE(std::string(page.language->folder) + " " + page.installed.string() + " -> " + link);
            ASSERT_FALSE(std::regex_search(link, scheme)) << "only relative links";
            ASSERT_FALSE(link.empty() || link[0] == '/');
            const size_t hash = link.find('#');
            const std::string file = link.substr(0, hash);
            const fs::path target =
                file.empty() ? page.installed : (page.installed.parent_path() / file).lexically_normal();
            ASSERT_NE(target.begin()->string(), "..") << "leaves the help folder";
            const fs::path source = SourceOf(target, *page.language);
            ASSERT_TRUE(fs::is_regular_file(source)) << source;
            if (hash != std::string::npos) {
                EXPECT_EQ(IdsOf(ReadAll(source)).count(link.substr(hash + 1)), 1u);
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 2 * int(std::size(kHelpTopics)));
}

TEST(HelpPagesTest, TableOfContentLinksEveryTopic) {
    for (const Language& language : kLanguages) {
        SCOPED_TRACE(language.folder);
        std::set<std::string> linked;
        for (const std::string& link : LinksOf(ReadAll(kHelpSource / language.folder / "index.htm")))
            linked.insert(link.substr(0, link.find('#')));
        for (const HelpTopic& topic : kHelpTopics) EXPECT_EQ(linked.count(TopicPath(topic)), 1u) << topic.page;
    }
    // The general start page leads to the table of content of whichever language is installed.
    const std::vector<std::string> start = LinksOf(ReadAll(kHelpSource / "general" / "index.htm"));
    EXPECT_NE(std::find(start.begin(), start.end(), "local/index.htm"), start.end());
}

TEST(HelpPagesTest, LicencePagesCarryTheLicenceText) {
    const std::string licence = ReadAll(fs::path(QUORBEL_SOURCE_DIR) / "resources" / "license.txt");
    const size_t rule = licence.find("\n---");
    ASSERT_NE(rule, std::string::npos) << "English, a rule, then French";
    const std::string parts[] = {licence.substr(0, rule), licence.substr(licence.find('\n', rule + 1))};
    for (size_t i = 0; i < std::size(kLanguages); ++i) {
        SCOPED_TRACE(kLanguages[i].folder);
        const std::string page = VisibleText(ReadAll(kHelpSource / kLanguages[i].folder / "license.htm"));
        // Paragraphs are separated by blank lines; the first one is the heading.
        std::vector<std::string> paragraphs;
        std::istringstream lines(parts[i]);
        std::string line, paragraph;
        while (std::getline(lines, line)) {
            if (line.empty()) {
                if (!paragraph.empty()) paragraphs.push_back(VisibleText(paragraph));
                paragraph.clear();
            } else {
                paragraph += line + "\n";
            }
        }
        if (!paragraph.empty()) paragraphs.push_back(VisibleText(paragraph));
        ASSERT_GE(paragraphs.size(), 4u);
        for (size_t p = 1; p < paragraphs.size(); ++p)
            EXPECT_NE(page.find(paragraphs[p]), std::string::npos) << paragraphs[p];
    }
}

}  // namespace
}  // namespace quorbel
