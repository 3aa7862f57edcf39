// Name and text search timed inside one process, apart from opening the archive:
//   quorbel-search-bench ARCHIVE NAMES [TEXT]
// prints "open_ms N", "search_ms N" and "found N" (best of three searches).
#include <chrono>
#include <cstdio>
#include <string>

#include "app/ops/search.h"
#include "formats/format_table.h"

int main(int argc, char** argv) {
    using namespace quorbel;
    using Clock = std::chrono::steady_clock;
    if (argc < 3) {
        std::fprintf(stderr, "usage: quorbel-search-bench ARCHIVE NAMES [TEXT]\n");
        return 2;
    }
    const auto t0 = Clock::now();
    int status = 0;
    auto handler = OpenArchiveFile(argv[1], status);
    if (!handler) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    const auto t1 = Clock::now();
    SearchQuery query;
    query.names = argv[2];
    if (argc > 3) query.text = argv[3];
    double best = 1e18;
    size_t found = 0;
    for (int run = 0; run < 3; ++run) {
        const auto s = Clock::now();
        const SearchResult r = SearchEntries(*handler, query, SilentSink());
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - s).count();
        if (ms < best) best = ms;
        found = r.matches.size();
    }
    std::printf("open_ms %.1f\nsearch_ms %.1f\nfound %zu\n",
                std::chrono::duration<double, std::milli>(t1 - t0).count(), best, found);
    return 0;
}
