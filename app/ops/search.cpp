#include "app/ops/search.h"

#include <array>
#include <cstring>

#include "app/ops/member_path.h"
#include "core/messages.h"
#include "core/progress_sink.h"
#include "core/status.h"

namespace quorbel {

namespace {

// One character of a UTF-8 name at `i`, folded to lower case, and `i` moved past it. Letters
// of ASCII, Latin-1, Greek and Cyrillic fold; a byte that starts no valid sequence stands for
// itself, so any name can be matched.
char32_t NextFolded(std::string_view s, size_t& i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp = c;
    size_t len = 1;
    if (c >= 0xC2 && c <= 0xDF) len = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF) len = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4) len = 4, cp = c & 0x07;
    if (len > 1) {
        if (i + len > s.size()) {
            len = 1;
            cp = c;
        } else {
            for (size_t k = 1; k < len; ++k) {
                const unsigned char n = static_cast<unsigned char>(s[i + k]);
                if ((n & 0xC0) != 0x80) {
                    len = 1;
                    cp = c;
                    break;
                }
                cp = (cp << 6) | (n & 0x3F);
            }
        }
    }
    i += len;
    if (cp >= 'A' && cp <= 'Z') return cp + 0x20;
    if (cp < 0x80) return cp;
    if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 0x20;
    if (cp >= 0x391 && cp <= 0x3A9 && cp != 0x3A2) return cp + 0x20;
    if (cp >= 0x410 && cp <= 0x42F) return cp + 0x20;
    if (cp >= 0x400 && cp <= 0x40F) return cp + 0x50;
    return cp;
}

unsigned char FoldByte(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 0x20 : c; }

// Horspool search, bytes folded (ASCII letters) unless `exact`.
bool FindBytes(const uint8_t* data, size_t size, const std::string& word, bool exact) {
    const size_t m = word.size();
    if (m == 0) return true;
    if (m > size) return false;
    if (exact) return memmem(data, size, word.data(), m) != nullptr;
    std::array<size_t, 256> shift;
    shift.fill(m);
    std::string folded(m, '\0');
    for (size_t k = 0; k < m; ++k) folded[k] = char(FoldByte(static_cast<unsigned char>(word[k])));
    for (size_t k = 0; k + 1 < m; ++k) {
        const unsigned char f = static_cast<unsigned char>(folded[k]);
        shift[f] = m - 1 - k;
        if (f >= 'a' && f <= 'z') shift[f - 0x20] = m - 1 - k;
    }
    const unsigned char last = static_cast<unsigned char>(folded[m - 1]);
    for (size_t pos = 0; pos + m <= size;) {
        const unsigned char c = data[pos + m - 1];
        if (FoldByte(c) == last) {
            size_t k = 0;
            while (k + 1 < m && FoldByte(data[pos + k]) == static_cast<unsigned char>(folded[k])) ++k;
            if (k + 1 >= m) return true;
        }
        pos += shift[c];
    }
    return false;
}

}  // namespace

std::vector<std::string> SplitNamePatterns(std::string_view names) {
    std::vector<std::string> patterns;
    std::string current;
    for (char c : names) {
        if (c == ' ' || c == ',' || c == ';' || c == '\t') {
            if (!current.empty()) patterns.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) patterns.push_back(std::move(current));
    return patterns;
}

bool MatchName(std::string_view pattern, std::string_view name) {
    // Wildcard matching with one remembered star: on a mismatch the last '*' takes one more
    // character and matching resumes after it, which is linear enough for file names.
    if (pattern.empty()) return true;
    size_t p = 0, n = 0;
    size_t star_p = std::string_view::npos, star_n = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star_p = ++p;
            star_n = n;
            continue;
        }
        if (p < pattern.size()) {
            size_t pp = p, nn = n;
            const bool any = pattern[p] == '?';
            const char32_t pc = any ? U'?' : NextFolded(pattern, pp);
            if (any) ++pp;
            if (NextFolded(name, nn) == pc || any) {
                p = pp;
                n = nn;
                continue;
            }
        }
        if (star_p == std::string_view::npos) return false;
        NextFolded(name, star_n);
        p = star_p;
        n = star_n;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool InFolder(std::string_view folder, std::string_view prefix) {
    if (prefix.empty()) return true;
    if (folder.size() < prefix.size()) return false;
    size_t a = 0, b = 0;
    while (b < prefix.size()) {
        if (a >= folder.size() || NextFolded(folder, a) != NextFolded(prefix, b)) return false;
    }
    return a == folder.size() || folder[a] == '\\';
}

ContentTest::ContentTest(const std::string& text, bool match_case, bool match_words)
    : match_case_(match_case) {
    if (!match_words) {
        required_.push_back(text);
        return;
    }
    std::string current;
    auto flush = [&] {
        if (current.empty()) return;
        if (current[0] == '+') required_.push_back(current.substr(1));
        else if (current[0] == '-') excluded_.push_back(current.substr(1));
        else if (current[0] == '/') optional_.push_back(current.substr(1));
        else required_.push_back(current);
        current.clear();
    };
    for (char c : text) {
        if (c == ' ') flush();
        else current += c;
    }
    flush();
}

bool ContentTest::Occurs(const std::string& word, const uint8_t* data, size_t size) const {
    return FindBytes(data, size, word, match_case_);
}

bool ContentTest::Matches(const uint8_t* data, size_t size) const {
    if (!required_.empty()) {
        for (const std::string& w : required_)
            if (!Occurs(w, data, size)) return false;
    } else if (!optional_.empty()) {
        bool any = false;
        for (const std::string& w : optional_)
            if ((any = Occurs(w, data, size))) break;
        if (!any) return false;
    }
    // Excluded words alone ("-alpha -beta") select what holds none of them.
    for (const std::string& w : excluded_)
        if (Occurs(w, data, size)) return false;
    return true;
}

SearchResult SearchEntries(ArchiveHandler& handler, const SearchQuery& query, ProgressSink& sink) {
    SearchResult result;
    std::vector<std::string> patterns = SplitNamePatterns(query.names);
    if (patterns.empty()) patterns.emplace_back("*");
    const std::string prefix = StoredPath(query.path);
    const bool by_content = !query.text.empty();
    const ContentTest test(query.text, query.match_case, query.match_words);

    ScopedSink<ArchiveHandler> use_sink(handler, &sink);
    ProgressScope scope(&sink);
    const size_t count = handler.EntryCount();
    sink.SetRange(0, int64_t(count));
    sink.SetTextById(text_id::kSearching);
    const size_t step = size_t(ProgressStep(count));
    for (size_t i = 0; i < count; ++i) {
        if (i % step == 0 && (sink.SetPos(int64_t(i)) == 0 || sink.Cancelled())) {
            result.aborted = true;
            break;
        }
        const ArchiveEntry& e = handler.Entry(i);
        if (!e.allocated || !e.is_file || !InFolder(e.Folder(), prefix)) continue;
        const std::string_view name = e.NamePart();
        bool named = false;
        for (const std::string& p : patterns)
            if ((named = MatchName(p, name))) break;
        if (!named) continue;
        if (!by_content) {
            result.matches.push_back(int(i));
            continue;
        }
        // A size the archive does not state could be anything: it is not unpacked either.
        if (e.unpacked < 0 || uint64_t(e.unpacked) > query.size_cap) {
            ++result.not_searched;
            continue;
        }
        int status = kStatusFailed;
        MemoryBlock block = handler.UnpackEntry(e, status);
        if (status == kUnpackAborted || sink.Cancelled()) {
            result.aborted = true;
            break;
        }
        if (!block || status != kStatusOk) {
            ++result.not_searched;
            continue;
        }
        if (test.Matches(block.data.get(), block.size)) result.matches.push_back(int(i));
        sink.SetTextById(text_id::kSearching, false);
    }
    sink.SetPos(int64_t(count));
    return result;
}

}  // namespace quorbel
