// A small RAR 2.0 writer for the tests: archives with solid members, multimedia blocks and
// table switches that no sample has. Compression quality is beside the point: greedy matches
// from a one-entry hash, every match form of the format used somewhere, and prefix codes of
// (almost) equal lengths over the symbols a block uses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorbel::test {

struct Rar20Member {
    std::string name;
    std::string data;
    int audio_channels = 0;  // 1-4: multimedia blocks for this member; 0: LZ
    bool stored = false;
};

struct Rar20Options {
    bool solid = false;           // members after the first continue the dictionary
    bool end_block = true;        // the end-of-archive block of later versions
    size_t block_tokens = 20000;  // a new table every that many symbols
    uint8_t host_os = 2;          // Windows
};

std::string WriteRar20(const std::vector<Rar20Member>& members, const Rar20Options& options);

}  // namespace quorbel::test
