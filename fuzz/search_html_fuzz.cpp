// Name patterns, word queries and HTML escaping over arbitrary bytes. The input is three parts
// split at the first two zero bytes: a name pattern, a query text, and the member name and
// data it is matched against. Every escaped text must be free of raw markup characters.
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/ops/html_page.h"
#include "app/ops/search.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const size_t a = all.find('\0');
    const size_t b = a == std::string_view::npos ? a : all.find('\0', a + 1);
    const std::string_view pattern = all.substr(0, a);
    const std::string_view text = a == std::string_view::npos ? std::string_view() : all.substr(a + 1, b == std::string_view::npos ? std::string_view::npos : b - a - 1);
    const std::string_view rest = b == std::string_view::npos ? std::string_view() : all.substr(b + 1);

    for (const std::string& p : SplitNamePatterns(pattern)) MatchName(p, rest.substr(0, 64));
    MatchName(pattern, rest);
    InFolder(rest, pattern);
    const auto* bytes = reinterpret_cast<const uint8_t*>(rest.data());
    for (bool match_case : {false, true})
        for (bool words : {false, true}) ContentTest(std::string(text), match_case, words).Matches(bytes, rest.size());

    if (html::Escape(all).find_first_of("<>\"") != std::string::npos) std::abort();
    std::string encoded = html::EncodeText(all);
    for (size_t at = encoded.find("<BR>"); at != std::string::npos; at = encoded.find("<BR>"))
        encoded.erase(at, 4);
    if (encoded.find_first_of("<>\"") != std::string::npos) std::abort();
    return 0;
}
