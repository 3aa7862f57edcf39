// RAR 1.5's method: LZ77 whose literals, distances and flag bytes are coded with fixed
// Huffman tables over self-organising lists (a symbol names a rank, and ranks move up as they
// are used), with running averages that choose among the tables and between literals and
// matches, and a "stored run" mode for stretches of unmatched bytes.
#pragma once

#include <cstdint>

#include "formats/engines/huffman.h"
#include "formats/engines/unpack.h"
#include "formats/rar/rar_window.h"

namespace quorbel::rar {

class Unpack15 {
public:
    Unpack15();
    // The state at the start of a non-solid member.
    void Reset();
    // Decodes the member the window was begun for; the state stays for a solid successor.
    engines::UnpackStatus Decode(RarBitInput& in, RarWindow& window);

private:
    // The fixed tables: two for lengths, five for literals and distances (by how skewed the
    // recent ranks were), and the short-match codes.
    struct Tables {
        engines::HuffmanTable length1, length2;
        engines::HuffmanTable rank[5];
        // Per (average bucket, alternate flag): the short-match symbol and its code length,
        // by the next 8 bits.
        uint8_t short_symbol[4][256];
        uint8_t short_length[4][256];
        Tables();
    };
    static const Tables& Fixed();

    void ReadFlags(RarBitInput& in);
    // The next flag bit, reading a new flag byte when the current one is used up.
    bool NextFlag(RarBitInput& in);
    void Literal(RarBitInput& in, RarWindow& window);
    void LongMatch(RarBitInput& in, RarWindow& window);
    void ShortMatch(RarBitInput& in, RarWindow& window);
    void Copy(RarWindow& window, uint32_t distance, uint32_t length) { window.CopyMatch(distance, length); }
    static void ResetRanks(uint16_t* list, uint8_t* next_place);

    const Tables& fixed_;
    // Self-organising lists: high byte the value, low byte a use counter.
    uint16_t literals_[256], distances_[256], flags_list_[256];
    uint8_t literal_place_[256], distance_place_[256], flag_place_[256];
    uint8_t short_distances_[256];
    uint32_t avg_literal_ = 0, avg_long_distance_ = 0, avg_short_ = 0, avg_long_length_ = 0,
             avg_below_max_ = 0;
    uint32_t max_dist3_ = 0x2001;
    uint32_t literal_weight_ = 0x80, match_weight_ = 0x80;
    uint32_t literal_run_ = 0;     // literals in a row
    bool alternate_short_ = false;
    uint32_t old_dist_[4] = {};
    uint32_t old_dist_ptr_ = 0;
    uint32_t last_dist_ = 0, last_length_ = 0;
    // Per member.
    uint32_t flag_buf_ = 0;
    int flags_left_ = 0;
    bool stored_run_ = false;
    int repeat_count_ = 0;
    bool bad_ = false;
};

}  // namespace quorbel::rar
