// Search in an archive: member names by patterns, member contents by a phrase or by words with
// operators, below a chosen folder. Contents are unpacked whole into memory, one member at a
// time, and never written to disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/archive_handler.h"
#include "core/progress_sink.h"

namespace quorbel {

// Members larger than this are not unpacked for a content search (they are counted as not
// searched): the search holds one whole member in memory.
inline constexpr uint64_t kSearchSizeCap = uint64_t(256) << 20;

struct SearchQuery {
    std::string path;        // folder as typed, '/' or '\' between folders; "" the whole archive
    std::string names;       // the "Name :" text: patterns split at blanks, commas, semicolons
    std::string text;        // "" searches by name only
    bool match_case = false;
    bool match_words = false;
    uint64_t size_cap = kSearchSizeCap;
};

struct SearchResult {
    std::vector<int> matches;  // entry indices, in index order, each once
    int not_searched = 0;      // name matched, but the content could not be read or was too large
    bool aborted = false;      // the user stopped; `matches` holds what was found until then
};

// The name patterns of a "Name :" text; an empty text gives no pattern (every name matches).
std::vector<std::string> SplitNamePatterns(std::string_view names);

// Whether a file name matches a pattern: '*' any run of characters, '?' one character,
// letters compared without regard to case. "*.txt" matches "a.b.txt" too. "" and "*" match
// every name.
bool MatchName(std::string_view pattern, std::string_view name);

// Whether a member stored under `folder` ('\' separated) lies in the folder `prefix` (stored
// form, no separator at its ends): the folder itself or one below it, compared without regard
// to case. "docs" takes "DOCS" and "docs\old" but not "docsold".
bool InFolder(std::string_view folder, std::string_view prefix);

// The content test of one query.
class ContentTest {
public:
    ContentTest(const std::string& text, bool match_case, bool match_words);
    bool Matches(const uint8_t* data, size_t size) const;
    const std::vector<std::string>& Required() const { return required_; }
    const std::vector<std::string>& Optional() const { return optional_; }
    const std::vector<std::string>& Excluded() const { return excluded_; }

private:
    bool Occurs(const std::string& word, const uint8_t* data, size_t size) const;

    bool match_case_;
    std::vector<std::string> required_, optional_, excluded_;
};

// Runs the query over the handler's entries in index order. Progress shows one step per entry
// and the user's stop is tested every ⌊√entries⌋ + 1 entries and during each unpacking.
SearchResult SearchEntries(ArchiveHandler& handler, const SearchQuery& query, ProgressSink& sink);

}  // namespace quorbel
