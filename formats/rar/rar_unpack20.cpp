#include "formats/rar/rar_unpack20.h"

#include <cstdlib>
#include <cstring>

namespace quorbel::rar {

using engines::HuffmanTable;
using engines::UnpackStatus;

namespace {

constexpr uint8_t kLengthBase[28] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 12, 14, 16, 20,
                                     24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
constexpr uint8_t kLengthBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                     2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
constexpr uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
constexpr uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

// Distance slots: two per bit width from 0 to 15, then sixteen of 16 bits.
struct DistanceSlots {
    uint32_t base[48];
    uint8_t bits[48];
    constexpr DistanceSlots() : base(), bits() {
        uint32_t b = 0;
        for (int i = 0; i < 48; ++i) {
            uint8_t n = i < 4 ? 0 : i < 36 ? uint8_t((i - 2) / 2) : 16;
            base[i] = b;
            bits[i] = n;
            b += uint32_t(1) << n;
        }
    }
};
constexpr DistanceSlots kDistances;

bool BuildTable(HuffmanTable& table, const uint8_t* lengths, size_t count, int table_bits) {
    HuffmanTable::BuildResult r = table.Build(lengths, count, 15, table_bits, true);
    // A table with no code at all is legal as long as nothing is decoded with it.
    return r == HuffmanTable::BuildResult::Ok || r == HuffmanTable::BuildResult::Empty ||
           r == HuffmanTable::BuildResult::Incomplete;
}

}  // namespace

void Unpack20::Reset() {
    tables_read_ = false;
    audio_ = false;
    channels_ = 1;
    channel_ = 0;
    channel_delta_ = 0;
    for (Channel& c : audio_state_) c = Channel{};
    for (uint8_t& l : old_lengths_) l = 0;
    for (uint32_t& d : old_dist_) d = 0;
    old_dist_ptr_ = 0;
    last_dist_ = last_length_ = 0;
}

bool Unpack20::ReadTables(RarBitInput& in) {
    // Until this read succeeds no table may be used (a failed read leaves some unbuilt).
    tables_read_ = false;
    uint32_t head = in.Read(2);
    audio_ = (head & 2) != 0;
    // Without the "keep" bit the new lengths are not deltas of the old ones.
    if (!(head & 1)) for (uint8_t& l : old_lengths_) l = 0;
    size_t table_size;
    if (audio_) {
        channels_ = int(in.Read(2)) + 1;
        if (channel_ >= channels_) channel_ = 0;
        table_size = size_t(kAudioSymbols) * size_t(channels_);
    } else {
        table_size = kMainSymbols + kDistanceSymbols + kRepeatSymbols;
    }
    uint8_t level_lengths[kLevelSymbols];
    for (uint8_t& l : level_lengths) l = uint8_t(in.Read(4));
    if (!BuildTable(level_, level_lengths, kLevelSymbols, 8)) return false;

    uint8_t lengths[kAudioSymbols * 4];
    for (size_t i = 0; i < table_size;) {
        if (in.Overrun()) return false;
        int number = level_.Decode(in);
        if (number < 0) return false;
        if (number < 16) {
            lengths[i] = uint8_t((number + old_lengths_[i]) & 0xF);
            ++i;
        } else if (number == 16) {
            uint32_t n = in.Read(2) + 3;
            if (i == 0) return false;
            for (; n > 0 && i < table_size; --n, ++i) lengths[i] = lengths[i - 1];
        } else {
            uint32_t n = number == 17 ? in.Read(3) + 3 : in.Read(7) + 11;
            for (; n > 0 && i < table_size; --n) lengths[i++] = 0;
        }
    }
    if (in.Overrun()) return false;
    if (audio_) {
        for (int c = 0; c < channels_; ++c)
            if (!BuildTable(audio_tables_[c], lengths + c * kAudioSymbols, kAudioSymbols, 10)) return false;
    } else {
        if (!BuildTable(main_, lengths, kMainSymbols, 10) ||
            !BuildTable(distance_, lengths + kMainSymbols, kDistanceSymbols, 9) ||
            !BuildTable(repeat_, lengths + kMainSymbols + kDistanceSymbols, kRepeatSymbols, 8))
            return false;
    }
    std::memcpy(old_lengths_, lengths, table_size);
    tables_read_ = true;
    return true;
}

uint8_t Unpack20::DecodeAudio(int delta) {
    Channel& v = audio_state_[channel_];
    ++v.byte_count;
    v.d[3] = v.d[2];
    v.d[2] = v.d[1];
    v.d[1] = v.last_delta - v.d[0];
    v.d[0] = v.last_delta;
    int predicted = 8 * v.last_char + v.k[0] * v.d[0] + v.k[1] * v.d[1] + v.k[2] * v.d[2] +
                    v.k[3] * v.d[3] + v.k[4] * channel_delta_;
    predicted = (predicted >> 3) & 0xFF;
    const unsigned ch = unsigned(predicted - delta);

    // How each predictor would have done, to steer its weights every 32 bytes.
    const int d = int(int8_t(uint8_t(delta))) * 8;
    v.dif[0] += uint32_t(std::abs(d));
    v.dif[1] += uint32_t(std::abs(d - v.d[0]));
    v.dif[2] += uint32_t(std::abs(d + v.d[0]));
    v.dif[3] += uint32_t(std::abs(d - v.d[1]));
    v.dif[4] += uint32_t(std::abs(d + v.d[1]));
    v.dif[5] += uint32_t(std::abs(d - v.d[2]));
    v.dif[6] += uint32_t(std::abs(d + v.d[2]));
    v.dif[7] += uint32_t(std::abs(d - v.d[3]));
    v.dif[8] += uint32_t(std::abs(d + v.d[3]));
    v.dif[9] += uint32_t(std::abs(d - channel_delta_));
    v.dif[10] += uint32_t(std::abs(d + channel_delta_));

    channel_delta_ = v.last_delta = int(int8_t(uint8_t(ch - unsigned(v.last_char))));
    v.last_char = int(ch & 0xFF);

    if ((v.byte_count & 0x1F) == 0) {
        uint32_t min_dif = v.dif[0];
        int best = 0;
        v.dif[0] = 0;
        for (int i = 1; i < 11; ++i) {
            if (v.dif[i] < min_dif) {
                min_dif = v.dif[i];
                best = i;
            }
            v.dif[i] = 0;
        }
        if (best > 0) {
            int& k = v.k[(best - 1) / 2];
            if (best & 1) {
                if (k >= -16) --k;
            } else {
                if (k < 16) ++k;
            }
        }
    }
    return uint8_t(ch);
}

UnpackStatus Unpack20::Decode(RarBitInput& in, RarWindow& window) {
    if (!tables_read_ && window.Left() > 0 && !ReadTables(in)) return UnpackStatus::Corrupt;
    uint32_t checked = 0;
    while (window.Left() > 0) {
        if (++checked == 4096) {
            checked = 0;
            if (in.Overrun()) return UnpackStatus::Corrupt;
            if (window.Cancelled()) return UnpackStatus::Cancelled;
        }
        if (audio_) {
            int number = audio_tables_[channel_].Decode(in);
            if (number < 0) return UnpackStatus::Corrupt;
            if (number == 256) {
                if (!ReadTables(in)) return UnpackStatus::Corrupt;
                continue;
            }
            window.PutByte(DecodeAudio(number));
            if (++channel_ == channels_) channel_ = 0;
            continue;
        }
        int number = main_.Decode(in);
        if (number < 0) return UnpackStatus::Corrupt;
        if (number < 256) {
            window.PutByte(uint8_t(number));
            continue;
        }
        if (number > 269) {
            number -= 270;
            uint32_t length = kLengthBase[number] + 3u + in.Read(kLengthBits[number]);
            int slot = distance_.Decode(in);
            if (slot < 0) return UnpackStatus::Corrupt;
            uint32_t distance = kDistances.base[slot] + 1 + in.Read(kDistances.bits[slot]);
            if (distance >= 0x2000) {
                ++length;
                if (distance >= 0x40000) ++length;
            }
            Copy(window, length, distance);
        } else if (number == 269) {
            if (!ReadTables(in)) return UnpackStatus::Corrupt;
        } else if (number == 256) {
            Copy(window, last_length_, last_dist_);
        } else if (number < 261) {
            uint32_t distance = old_dist_[(old_dist_ptr_ - uint32_t(number - 256)) & 3];
            int slot = repeat_.Decode(in);
            if (slot < 0) return UnpackStatus::Corrupt;
            uint32_t length = kLengthBase[slot] + 2u + in.Read(kLengthBits[slot]);
            if (distance >= 0x101) {
                ++length;
                if (distance >= 0x2000) {
                    ++length;
                    if (distance >= 0x40000) ++length;
                }
            }
            Copy(window, length, distance);
        } else {
            number -= 261;
            uint32_t distance = kShortBase[number] + 1u + in.Read(kShortBits[number]);
            Copy(window, 2, distance);
        }
    }
    if (in.Overrun()) return UnpackStatus::Corrupt;
    // A table switch written right after the member's last byte belongs to the next member.
    if (tables_read_ && in.HasAtLeast(5)) {
        if (audio_) {
            if (audio_tables_[channel_].Decode(in) == 256) ReadTables(in);
        } else if (main_.Decode(in) == 269) {
            ReadTables(in);
        }
    }
    return UnpackStatus::Ok;
}

}  // namespace quorbel::rar
