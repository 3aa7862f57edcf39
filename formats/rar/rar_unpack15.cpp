#include "formats/rar/rar_unpack15.h"

#include <iterator>

namespace quorbel::rar {

using engines::HuffmanTable;
using engines::UnpackStatus;

namespace {

struct LengthRun {
    uint8_t length;
    uint16_t count;
};

// Canonical code lengths of the fixed tables, as runs (length, how many symbols).
constexpr LengthRun kLength1[] = {{2, 2}, {3, 1}, {4, 2}, {5, 2}, {6, 4}, {7, 5}, {8, 4}, {9, 4}, {10, 8}, {12, 224}};
constexpr LengthRun kLength2[] = {{3, 5}, {4, 2}, {5, 2}, {6, 4}, {7, 5}, {8, 4}, {9, 4}, {10, 8}, {11, 2}, {12, 220}};
constexpr LengthRun kRank0[] = {{4, 8}, {5, 8}, {6, 8}, {7, 9}, {12, 224}};
constexpr LengthRun kRank1[] = {{5, 4}, {6, 40}, {7, 16}, {8, 16}, {9, 4}, {11, 47}, {12, 130}};
constexpr LengthRun kRank2[] = {{5, 2}, {6, 5}, {7, 46}, {8, 64}, {9, 116}, {10, 24}};
constexpr LengthRun kRank3[] = {{6, 2}, {7, 14}, {8, 202}, {9, 33}, {10, 6}};
constexpr LengthRun kRank4[] = {{8, 255}, {9, 2}};

// Short-match codes: the code (left-aligned in a byte) and its length, by symbol; the second
// symbol of the first set and the fourth of the second are one bit longer when the alternate
// flag is on, which makes room for symbol 14.
constexpr uint8_t kShortCode1[15] = {0x00, 0xA0, 0xD0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE, 0xFF, 0xC0, 0x80, 0x90, 0x98, 0x9C, 0xB0};
constexpr uint8_t kShortLength1[15] = {1, 3, 4, 4, 5, 6, 7, 8, 8, 4, 4, 5, 6, 6, 4};
constexpr uint8_t kShortCode2[15] = {0x00, 0x40, 0x60, 0xA0, 0xD0, 0xE0, 0xF0, 0xF8, 0xFC, 0xC0, 0x80, 0x90, 0x98, 0x9C, 0xB0};
constexpr uint8_t kShortLength2[15] = {2, 3, 3, 3, 4, 4, 5, 6, 6, 4, 4, 5, 6, 6, 4};

void BuildFixed(HuffmanTable& table, const LengthRun* runs, size_t run_count, size_t symbols) {
    uint8_t lengths[257] = {};
    size_t n = 0;
    for (size_t r = 0; r < run_count; ++r)
        for (uint16_t i = 0; i < runs[r].count && n < symbols; ++i) lengths[n++] = runs[r].length;
    table.Build(lengths, symbols, 12, 12, false);
}

}  // namespace

Unpack15::Tables::Tables() {
    BuildFixed(length1, kLength1, std::size(kLength1), 256);
    BuildFixed(length2, kLength2, std::size(kLength2), 256);
    BuildFixed(rank[0], kRank0, std::size(kRank0), 257);
    BuildFixed(rank[1], kRank1, std::size(kRank1), 257);
    BuildFixed(rank[2], kRank2, std::size(kRank2), 257);
    BuildFixed(rank[3], kRank3, std::size(kRank3), 257);
    BuildFixed(rank[4], kRank4, std::size(kRank4), 257);
    for (int table = 0; table < 4; ++table) {
        const bool second = table >= 2, alternate = (table & 1) != 0;
        uint8_t lengths[15];
        for (int s = 0; s < 15; ++s) lengths[s] = second ? kShortLength2[s] : kShortLength1[s];
        lengths[second ? 3 : 1] = alternate ? 4 : 3;
        const uint8_t* codes = second ? kShortCode2 : kShortCode1;
        for (int v = 0; v < 256; ++v) {
            // The first symbol whose code is a prefix of v (the sets leave no gap).
            int s = 0;
            for (; s < 15; ++s) {
                const unsigned mask = (0xFF00u >> lengths[s]) & 0xFF;
                if (((unsigned(v) ^ codes[s]) & mask) == 0) break;
            }
            if (s == 15) s = 0;
            short_symbol[table][v] = uint8_t(s);
            short_length[table][v] = lengths[s];
        }
    }
}

const Unpack15::Tables& Unpack15::Fixed() {
    static const Tables tables;
    return tables;
}

Unpack15::Unpack15() : fixed_(Fixed()) { Reset(); }

void Unpack15::ResetRanks(uint16_t* list, uint8_t* next_place) {
    for (int i = 0; i < 256; ++i) list[i] = uint16_t((list[i] & ~0xFF) | (7 - i / 32));
    for (int i = 0; i < 256; ++i) next_place[i] = 0;
    for (int i = 6; i >= 0; --i) next_place[i] = uint8_t((7 - i) * 32);
}

void Unpack15::Reset() {
    for (int i = 0; i < 256; ++i) {
        literals_[i] = distances_[i] = uint16_t(i << 8);
        short_distances_[i] = uint8_t(i);
        flags_list_[i] = uint16_t(((256 - i) & 0xFF) << 8);
        literal_place_[i] = distance_place_[i] = flag_place_[i] = 0;
    }
    ResetRanks(distances_, distance_place_);
    avg_literal_ = 0x3500;
    avg_long_distance_ = avg_short_ = avg_long_length_ = avg_below_max_ = 0;
    max_dist3_ = 0x2001;
    literal_weight_ = match_weight_ = 0x80;
    literal_run_ = 0;
    alternate_short_ = false;
    for (uint32_t& d : old_dist_) d = 0;
    old_dist_ptr_ = 0;
    last_dist_ = last_length_ = 0;
}

bool Unpack15::NextFlag(RarBitInput& in) {
    if (--flags_left_ < 0) {
        ReadFlags(in);
        flags_left_ = 7;
    }
    const bool set = flag_buf_ & 0x80;
    flag_buf_ = (flag_buf_ << 1) & 0xFF;
    return set;
}

void Unpack15::ReadFlags(RarBitInput& in) {
    const int place = fixed_.rank[2].Decode(in);
    // Symbol 256 codes no flags byte; the old flags stay.
    if (place < 0 || place > 255) return;
    uint32_t flags;
    uint8_t new_place;
    for (;;) {
        flags = flags_list_[place];
        flag_buf_ = flags >> 8;
        new_place = flag_place_[flags & 0xFF]++;
        ++flags;
        if (flags & 0xFF) break;
        ResetRanks(flags_list_, flag_place_);
    }
    flags_list_[place] = flags_list_[new_place];
    flags_list_[new_place] = uint16_t(flags);
}

void Unpack15::Literal(RarBitInput& in, RarWindow& window) {
    const int table = avg_literal_ > 0x75FF ? 4 : avg_literal_ > 0x5DFF ? 3 : avg_literal_ > 0x35FF ? 2
                      : avg_literal_ > 0x0DFF ? 1 : 0;
    const int symbol = fixed_.rank[table].Decode(in);
    if (symbol < 0) {
        bad_ = true;
        return;
    }
    int place;
    if (stored_run_) {
        if (symbol == 0) {
            // An escape: the run ends, or a short match inside it.
            if (in.Read(1)) {
                literal_run_ = 0;
                stored_run_ = false;
                return;
            }
            const uint32_t length = in.Read(1) ? 4 : 3;
            const int high = fixed_.rank[2].Decode(in);
            if (high < 0) {
                bad_ = true;
                return;
            }
            const uint32_t distance = (uint32_t(high) << 5) | in.Read(5);
            Copy(window, distance, length);
            return;
        }
        place = symbol - 1;
    } else {
        place = symbol & 0xFF;
        if (literal_run_++ >= 16 && flags_left_ == 0) stored_run_ = true;
    }
    avg_literal_ += uint32_t(place);
    avg_literal_ -= avg_literal_ >> 8;
    literal_weight_ += 16;
    if (literal_weight_ > 0xFF) {
        literal_weight_ = 0x90;
        match_weight_ >>= 1;
    }
    window.PutByte(uint8_t(literals_[place] >> 8));
    uint32_t value;
    uint8_t new_place;
    for (;;) {
        value = literals_[place];
        new_place = literal_place_[value & 0xFF]++;
        ++value;
        if ((value & 0xFF) <= 0xA1) break;
        ResetRanks(literals_, literal_place_);
    }
    literals_[place] = literals_[new_place];
    literals_[new_place] = uint16_t(value);
}

void Unpack15::LongMatch(RarBitInput& in, RarWindow& window) {
    literal_run_ = 0;
    match_weight_ += 16;
    if (match_weight_ > 0xFF) {
        match_weight_ = 0x90;
        literal_weight_ >>= 1;
    }
    const uint32_t old_avg_length = avg_long_length_;
    uint32_t length;
    if (avg_long_length_ >= 122) {
        const int s = fixed_.length2.Decode(in);
        length = s < 0 ? 0 : uint32_t(s);
    } else if (avg_long_length_ >= 64) {
        const int s = fixed_.length1.Decode(in);
        length = s < 0 ? 0 : uint32_t(s);
    } else {
        // A unary length; eight zeros are followed by the length in eight bits.
        const uint32_t bits = in.Peek(16);
        if (bits < 0x100) {
            length = bits;
            in.Consume(16);
        } else {
            length = 0;
            while (((bits << length) & 0x8000) == 0) ++length;
            in.Consume(int(length) + 1);
        }
    }
    avg_long_length_ += length;
    avg_long_length_ -= avg_long_length_ >> 5;

    const int table = avg_long_distance_ > 0x28FF ? 2 : avg_long_distance_ > 0x6FF ? 1 : 0;
    const int place = fixed_.rank[table].Decode(in);
    if (place < 0) {
        bad_ = true;
        return;
    }
    avg_long_distance_ += uint32_t(place);
    avg_long_distance_ -= avg_long_distance_ >> 8;
    uint32_t value;
    uint8_t new_place;
    for (;;) {
        value = distances_[place & 0xFF];
        new_place = distance_place_[value & 0xFF]++;
        ++value;
        if (value & 0xFF) break;
        ResetRanks(distances_, distance_place_);
    }
    distances_[place & 0xFF] = distances_[new_place];
    distances_[new_place] = uint16_t(value);
    const uint32_t distance = ((value & 0xFF00) | (in.Peek(16) >> 8)) >> 1;
    in.Consume(7);

    const uint32_t old_avg_below = avg_below_max_;
    if (length != 1 && length != 4) {
        if (length == 0 && distance <= max_dist3_) {
            ++avg_below_max_;
            avg_below_max_ -= avg_below_max_ >> 8;
        } else if (avg_below_max_ > 0) {
            --avg_below_max_;
        }
    }
    length += 3;
    if (distance >= max_dist3_) ++length;
    if (distance <= 256) length += 8;
    max_dist3_ = old_avg_below > 0xB0 || (avg_literal_ >= 0x2A00 && old_avg_length < 0x40) ? 0x7F00 : 0x2001;
    old_dist_[old_dist_ptr_++] = distance;
    old_dist_ptr_ &= 3;
    last_length_ = length;
    last_dist_ = distance;
    Copy(window, distance, length);
}

void Unpack15::ShortMatch(RarBitInput& in, RarWindow& window) {
    literal_run_ = 0;
    if (repeat_count_ == 2) {
        if (in.Read(1)) {
            Copy(window, last_dist_, last_length_);
            return;
        }
        repeat_count_ = 0;
    }
    const int table = (avg_short_ < 37 ? 0 : 2) + (alternate_short_ ? 1 : 0);
    const uint32_t next = in.Peek(8);
    uint32_t length = fixed_.short_symbol[table][next];
    in.Consume(fixed_.short_length[table][next]);

    if (length >= 9) {
        if (length == 9) {
            ++repeat_count_;
            Copy(window, last_dist_, last_length_);
            return;
        }
        repeat_count_ = 0;
        if (length == 14) {
            const int s = fixed_.length2.Decode(in);
            if (s < 0) {
                bad_ = true;
                return;
            }
            length = uint32_t(s) + 5;
            const uint32_t distance = in.Read(15) | 0x8000;
            last_length_ = length;
            last_dist_ = distance;
            Copy(window, distance, length);
            return;
        }
        const uint32_t which = length;
        const uint32_t distance = old_dist_[(old_dist_ptr_ - (length - 9)) & 3];
        const int s = fixed_.length1.Decode(in);
        if (s < 0) {
            bad_ = true;
            return;
        }
        length = uint32_t(s) + 2;
        if (length == 0x101 && which == 10) {
            // Switches the short-match codes.
            alternate_short_ = !alternate_short_;
            return;
        }
        if (distance > 256) ++length;
        if (distance >= max_dist3_) ++length;
        old_dist_[old_dist_ptr_++] = distance;
        old_dist_ptr_ &= 3;
        last_length_ = length;
        last_dist_ = distance;
        Copy(window, distance, length);
        return;
    }

    repeat_count_ = 0;
    avg_short_ += length;
    avg_short_ -= avg_short_ >> 4;
    const int s = fixed_.rank[2].Decode(in);
    if (s < 0) {
        bad_ = true;
        return;
    }
    const int place = s & 0xFF;
    uint32_t distance = short_distances_[place];
    if (place > 0) {
        short_distances_[place] = short_distances_[place - 1];
        short_distances_[place - 1] = uint8_t(distance);
    }
    length += 2;
    ++distance;
    old_dist_[old_dist_ptr_++] = distance;
    old_dist_ptr_ &= 3;
    last_length_ = length;
    last_dist_ = distance;
    Copy(window, distance, length);
}

UnpackStatus Unpack15::Decode(RarBitInput& in, RarWindow& window) {
    flag_buf_ = 0;
    flags_left_ = 0;
    stored_run_ = false;
    repeat_count_ = 0;
    bad_ = false;
    if (window.Left() == 0) return UnpackStatus::Ok;
    ReadFlags(in);
    flags_left_ = 8;
    uint32_t checked = 0;
    while (window.Left() > 0) {
        if (++checked == 4096) {
            checked = 0;
            if (in.Overrun() || bad_) return UnpackStatus::Corrupt;
            if (window.Cancelled()) return UnpackStatus::Cancelled;
        }
        if (stored_run_) {
            Literal(in, window);
            continue;
        }
        // Flag 1: the more used of literal and long match; 01: the other; 00: a short match.
        const bool matches_lead = match_weight_ > literal_weight_;
        if (NextFlag(in)) {
            if (matches_lead)
                LongMatch(in, window);
            else
                Literal(in, window);
        } else if (NextFlag(in)) {
            if (matches_lead)
                Literal(in, window);
            else
                LongMatch(in, window);
        } else {
            ShortMatch(in, window);
        }
    }
    if (in.Overrun() || bad_) return UnpackStatus::Corrupt;
    return UnpackStatus::Ok;
}

}  // namespace quorbel::rar
