#include "formats/rar20_test_writer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "formats/engines/crc16.h"

namespace quorbel::test {

namespace {

constexpr int kMain = 298, kDist = 48, kRep = 28, kAudio = 257;
constexpr uint8_t kLengthBase[28] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 12, 14, 16, 20,
                                     24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
constexpr uint8_t kLengthBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                     2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
constexpr uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
constexpr uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

uint32_t DistBase(int s) {
    uint32_t b = 0;
    for (int i = 0; i < s; ++i) b += uint32_t(1) << (i < 4 ? 0 : i < 36 ? (i - 2) / 2 : 16);
    return b;
}
int DistBits(int s) { return s < 4 ? 0 : s < 36 ? (s - 2) / 2 : 16; }

class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            acc_ = uint8_t((acc_ << 1) | ((value >> i) & 1));
            if (++n_ == 8) {
                out_.push_back(char(acc_));
                acc_ = 0;
                n_ = 0;
            }
        }
    }
    std::string Finish() {
        if (n_) out_.push_back(char(acc_ << (8 - n_)));
        acc_ = 0;
        n_ = 0;
        return std::move(out_);
    }

private:
    std::string out_;
    uint8_t acc_ = 0;
    int n_ = 0;
};

// One coded symbol of a table, with extra bits after it.
struct Token {
    int table;  // 0 main, 1 distance, 2 repeat-length, 3+c audio channel c
    int symbol;
    uint32_t extra = 0;
    int extra_bits = 0;
};

struct Code {
    std::vector<uint8_t> lengths;
    std::vector<uint32_t> codes;
};

// Lengths of L-1 and L for the used symbols (the most used get the shorter ones): a complete
// prefix code with at most 9-bit codes.
std::vector<uint8_t> LengthsFor(const std::vector<uint32_t>& freq) {
    std::vector<int> used;
    for (size_t i = 0; i < freq.size(); ++i)
        if (freq[i]) used.push_back(int(i));
    std::vector<uint8_t> lengths(freq.size(), 0);
    const size_t n = used.size();
    int l = 0;
    while ((size_t(1) << l) < n) ++l;
    const size_t shorter = (size_t(1) << l) - n;
    std::stable_sort(used.begin(), used.end(), [&](int a, int b) { return freq[size_t(a)] > freq[size_t(b)]; });
    for (size_t i = 0; i < n; ++i) lengths[size_t(used[i])] = uint8_t(i < shorter ? l - 1 : l);
    return lengths;
}

Code Canonical(const std::vector<uint8_t>& lengths) {
    Code c;
    c.lengths = lengths;
    c.codes.assign(lengths.size(), 0);
    uint32_t code = 0;
    for (int len = 1; len <= 15; ++len) {
        for (size_t s = 0; s < lengths.size(); ++s)
            if (lengths[s] == len) c.codes[s] = code++;
        code <<= 1;
    }
    return c;
}

struct Channel {
    int k[5] = {0, 0, 0, 0, 0};
    int d[4] = {0, 0, 0, 0};
    int last_delta = 0;
    uint32_t dif[11] = {};
    uint32_t byte_count = 0;
    int last_char = 0;
};

class Encoder {
public:
    void Reset() {
        history_.clear();
        head_.assign(1 << 16, -1);
        std::fill(std::begin(old_dist_), std::end(old_dist_), 0u);
        old_ptr_ = 0;
        last_dist_ = last_len_ = 0;
        old_lengths_.assign(kAudio * 4, 0);
        tables_written_ = false;
        for (Channel& c : channels_) c = Channel{};
        channel_ = 0;
        channel_delta_ = 0;
        current_audio_ = false;
        current_channels_ = 1;
    }

    std::string Encode(const std::string& data, int audio_channels, bool continue_state, size_t block_tokens) {
        BitWriter bits;
        bool first = true;
        const size_t start = history_.size();
        history_ += data;
        size_t pos = start;
        while (pos < history_.size() || first) {
            // One block: its tokens, then the switch into it (or the table at the member's
            // start) and its codes.
            std::vector<Token> tokens;
            const bool audio = audio_channels > 0;
            const int channels = audio ? audio_channels : 1;
            // The switch is coded with the table of the channel the next byte would have used;
            // after it the decoder starts again at channel 0 if that one is gone.
            const int switch_channel = channel_;
            if (audio && channel_ >= channels) channel_ = 0;
            while (pos < history_.size() && tokens.size() < block_tokens) {
                if (audio)
                    AudioToken(pos, channels, tokens);
                else
                    LzToken(pos, tokens);
            }
            const bool need_switch = tables_written_ && (continue_state || !first);
            Emit(bits, tokens, audio, channels, need_switch, switch_channel);
            first = false;
        }
        return bits.Finish();
    }

private:
    void Push(uint32_t dist, uint32_t len) {
        last_dist_ = old_dist_[old_ptr_++ & 3] = dist;
        last_len_ = len;
    }
    size_t MatchLength(size_t pos, size_t dist, size_t limit) const {
        size_t n = 0;
        while (n < limit && pos + n < history_.size() && history_[pos + n] == history_[pos + n - dist]) ++n;
        return n;
    }
    void Insert(size_t pos) {
        if (pos + 2 >= history_.size()) return;
        uint32_t h = (uint8_t(history_[pos]) * 2654435761u) ^ (uint8_t(history_[pos + 1]) << 8) ^
                     uint8_t(history_[pos + 2]);
        head_[(h ^ (h >> 16)) & 0xFFFF] = int64_t(pos);
    }
    int64_t Candidate(size_t pos) const {
        if (pos + 2 >= history_.size()) return -1;
        uint32_t h = (uint8_t(history_[pos]) * 2654435761u) ^ (uint8_t(history_[pos + 1]) << 8) ^
                     uint8_t(history_[pos + 2]);
        return head_[(h ^ (h >> 16)) & 0xFFFF];
    }
    static int LengthSlot(uint32_t v) {
        int s = 27;
        while (kLengthBase[s] > v) --s;
        return s;
    }

    void LzToken(size_t& pos, std::vector<Token>& tokens) {
        const size_t left = history_.size() - pos;
        // The last match again, whole.
        if (last_len_ && last_dist_ <= pos && last_len_ <= left && MatchLength(pos, last_dist_, last_len_) == last_len_) {
            tokens.push_back({0, 256});
            Advance(pos, last_len_);
            Push(last_dist_, last_len_);
            return;
        }
        // One of the last four distances.
        size_t best_len = 0;
        int best_old = -1;
        for (int k = 0; k < 4; ++k) {
            uint32_t d = old_dist_[(old_ptr_ - 1 - uint32_t(k)) & 3];
            if (!d || d > pos) continue;
            uint32_t adj = (d >= 0x101) + (d >= 0x2000) + (d >= 0x40000);
            size_t l = MatchLength(pos, d, 255 + 2 + adj);
            if (l >= 2 + adj && l > best_len) {
                best_len = l;
                best_old = k;
            }
        }
        int64_t cand = Candidate(pos);
        size_t hash_len = 0;
        uint32_t hash_dist = 0;
        if (cand >= 0 && size_t(cand) < pos && pos - size_t(cand) <= 0x100000) {
            hash_dist = uint32_t(pos - size_t(cand));
            uint32_t adj = (hash_dist >= 0x2000) + (hash_dist >= 0x40000);
            hash_len = MatchLength(pos, hash_dist, 255 + 3 + adj);
            if (hash_len < 3 + adj && !(hash_len >= 2 && hash_dist <= 256)) hash_len = 0;
        }
        if (best_old >= 0 && best_len >= hash_len) {
            uint32_t d = old_dist_[(old_ptr_ - 1 - uint32_t(best_old)) & 3];
            uint32_t adj = (d >= 0x101) + (d >= 0x2000) + (d >= 0x40000);
            uint32_t v = uint32_t(best_len) - 2 - adj;
            int s = LengthSlot(v);
            tokens.push_back({0, 257 + best_old});
            tokens.push_back({2, s, v - kLengthBase[s], kLengthBits[s]});
            Advance(pos, best_len);
            Push(d, uint32_t(best_len));
            return;
        }
        if (hash_len >= size_t(3 + (hash_dist >= 0x2000) + (hash_dist >= 0x40000))) {
            uint32_t adj = (hash_dist >= 0x2000) + (hash_dist >= 0x40000);
            uint32_t v = uint32_t(hash_len) - 3 - adj;
            int s = LengthSlot(v);
            tokens.push_back({0, 270 + s, v - kLengthBase[s], kLengthBits[s]});
            int ds = 47;
            while (DistBase(ds) > hash_dist - 1) --ds;
            tokens.push_back({1, ds, hash_dist - 1 - DistBase(ds), DistBits(ds)});
            Advance(pos, hash_len);
            Push(hash_dist, uint32_t(hash_len));
            return;
        }
        if (hash_len >= 2) {
            int k = 7;
            while (kShortBase[k] > hash_dist - 1) --k;
            tokens.push_back({0, 261 + k, hash_dist - 1 - kShortBase[k], kShortBits[k]});
            Advance(pos, 2);
            Push(hash_dist, 2);
            return;
        }
        tokens.push_back({0, uint8_t(history_[pos])});
        Advance(pos, 1);
    }
    void Advance(size_t& pos, size_t n) {
        for (size_t i = 0; i < n; ++i) Insert(pos + i);
        pos += n;
    }

    void AudioToken(size_t& pos, int channels, std::vector<Token>& tokens) {
        Channel& v = channels_[channel_];
        // The prediction the decoder will make, then the delta that gives the byte.
        int d1 = v.last_delta, d2 = v.last_delta - v.d[0], d3 = v.d[1], d4 = v.d[2];
        int predicted = 8 * v.last_char + v.k[0] * d1 + v.k[1] * d2 + v.k[2] * d3 + v.k[3] * d4 +
                        v.k[4] * channel_delta_;
        predicted = (predicted >> 3) & 0xFF;
        int delta = (predicted - uint8_t(history_[pos])) & 0xFF;
        tokens.push_back({3 + channel_, delta});
        if (Update(delta) != uint8_t(history_[pos])) std::abort();
        if (++channel_ == channels) channel_ = 0;
        Insert(pos);
        ++pos;
    }
    uint8_t Update(int delta) {
        Channel& v = channels_[channel_];
        ++v.byte_count;
        v.d[3] = v.d[2];
        v.d[2] = v.d[1];
        v.d[1] = v.last_delta - v.d[0];
        v.d[0] = v.last_delta;
        int predicted = 8 * v.last_char + v.k[0] * v.d[0] + v.k[1] * v.d[1] + v.k[2] * v.d[2] +
                        v.k[3] * v.d[3] + v.k[4] * channel_delta_;
        predicted = (predicted >> 3) & 0xFF;
        unsigned ch = unsigned(predicted - delta);
        int d = int(int8_t(uint8_t(delta))) * 8;
        int diffs[11] = {d, d - v.d[0], d + v.d[0], d - v.d[1], d + v.d[1], d - v.d[2], d + v.d[2],
                         d - v.d[3], d + v.d[3], d - channel_delta_, d + channel_delta_};
        for (int i = 0; i < 11; ++i) v.dif[i] += uint32_t(std::abs(diffs[i]));
        channel_delta_ = v.last_delta = int(int8_t(uint8_t(ch - unsigned(v.last_char))));
        v.last_char = int(ch & 0xFF);
        if ((v.byte_count & 0x1F) == 0) {
            uint32_t min_dif = v.dif[0];
            int best = 0;
            for (int i = 1; i < 11; ++i)
                if (v.dif[i] < min_dif) {
                    min_dif = v.dif[i];
                    best = i;
                }
            std::fill(std::begin(v.dif), std::end(v.dif), 0u);
            if (best > 0) {
                int& k = v.k[(best - 1) / 2];
                if (best & 1) {
                    if (k >= -16) --k;
                } else if (k < 16) {
                    ++k;
                }
            }
        }
        return uint8_t(ch);
    }

    // The switch out of the current block (when tables were sent before), the new block's
    // table header and codes, then its tokens.
    void Emit(BitWriter& bits, const std::vector<Token>& tokens, bool audio, int channels,
              bool need_switch, int switch_channel) {
        if (need_switch) {
            if (current_audio_)
                Put(bits, current_codes_[size_t(3 + switch_channel)], 256);
            else
                Put(bits, current_codes_[0], 269);
        }
        // Frequencies; the switch symbols always get a code, and every table two symbols.
        std::vector<std::vector<uint32_t>> freq;
        if (audio) {
            freq.assign(size_t(3 + channels), std::vector<uint32_t>());
            for (int c = 0; c < channels; ++c) {
                freq[size_t(3 + c)].assign(kAudio, 0);
                freq[size_t(3 + c)][256] = 1;
                freq[size_t(3 + c)][0] += 1;
            }
        } else {
            freq = {std::vector<uint32_t>(kMain, 0), std::vector<uint32_t>(kDist, 0), std::vector<uint32_t>(kRep, 0)};
            freq[0][269] = 1;
            freq[0][0] += 1;
            freq[1][0] += 1;
            freq[1][1] += 1;
            freq[2][0] += 1;
            freq[2][1] += 1;
        }
        for (const Token& t : tokens) freq[size_t(t.table)][size_t(t.symbol)] += 2;
        std::vector<uint8_t> all;
        current_codes_.assign(7, Code());
        if (audio) {
            for (int c = 0; c < channels; ++c) {
                auto l = LengthsFor(freq[size_t(3 + c)]);
                current_codes_[size_t(3 + c)] = Canonical(l);
                all.insert(all.end(), l.begin(), l.end());
            }
        } else {
            for (int t = 0; t < 3; ++t) {
                auto l = LengthsFor(freq[size_t(t)]);
                current_codes_[size_t(t)] = Canonical(l);
                all.insert(all.end(), l.begin(), l.end());
            }
        }
        // Header: audio, keep (the lengths go as differences from the last table).
        const bool keep = tables_written_;
        bits.Put(audio ? 1 : 0, 1);
        bits.Put(keep ? 1 : 0, 1);
        if (audio) bits.Put(uint32_t(channels - 1), 2);
        if (!keep) std::fill(old_lengths_.begin(), old_lengths_.end(), 0);
        // The level code: sixteen symbols of four bits (the symbol's own value as its code),
        // and runs of zeros (symbol 18) where they are long.
        const uint8_t level[19] = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 0, 0, 0};
        for (uint8_t l : level) bits.Put(l, 4);
        for (size_t i = 0; i < all.size(); ++i) {
            bits.Put(uint32_t((all[i] - old_lengths_[i]) & 0xF), 4);
        }
        std::copy(all.begin(), all.end(), old_lengths_.begin());
        tables_written_ = true;
        current_audio_ = audio;
        current_channels_ = channels;
        for (const Token& t : tokens) {
            Put(bits, current_codes_[size_t(t.table)], t.symbol);
            if (t.extra_bits) bits.Put(t.extra, t.extra_bits);
        }
    }
    static void Put(BitWriter& bits, const Code& code, int symbol) {
        bits.Put(code.codes[size_t(symbol)], code.lengths[size_t(symbol)]);
    }

    std::string history_;
    std::vector<int64_t> head_;
    uint32_t old_dist_[4] = {};
    uint32_t old_ptr_ = 0;
    uint32_t last_dist_ = 0, last_len_ = 0;
    std::vector<uint8_t> old_lengths_;
    bool tables_written_ = false;
    Channel channels_[4];
    int channel_ = 0;
    int channel_delta_ = 0;
    bool current_audio_ = false;
    int current_channels_ = 1;
    std::vector<Code> current_codes_;
};

void PutLe(std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}

std::string Block(uint8_t type, uint16_t flags, const std::string& body) {
    std::string h;
    h.push_back(char(type));
    PutLe(h, flags, 2);
    PutLe(h, body.size() + 7, 2);
    h += body;
    uint32_t crc = engines::Crc32(0, reinterpret_cast<const uint8_t*>(h.data()), h.size());
    std::string out;
    PutLe(out, crc & 0xFFFF, 2);
    return out + h;
}

}  // namespace

std::string WriteRar20(const std::vector<Rar20Member>& members, const Rar20Options& options) {
    std::string out("Rar!\x1A\x07\x00", 7);
    out += Block(0x73, options.solid ? 0x0008 : 0, std::string(6, '\0'));
    Encoder encoder;
    encoder.Reset();
    bool any_packed = false;
    for (const Rar20Member& m : members) {
        std::string packed;
        bool continues = false;
        if (m.stored) {
            packed = m.data;
        } else {
            continues = options.solid && any_packed;
            if (!continues) encoder.Reset();
            packed = encoder.Encode(m.data, m.audio_channels, continues, options.block_tokens);
            // Two spare bytes: unar peeks a whole code's width ahead even at a member's end,
            // and fails inside a solid stream when they are not there (ours needs none; fewer
            // than five keep the end-of-member table check off).
            packed.append(2, '\0');
            any_packed = true;
        }
        std::string body;
        PutLe(body, packed.size(), 4);
        PutLe(body, m.data.size(), 4);
        body.push_back(char(options.host_os));
        PutLe(body, engines::Crc32(0, reinterpret_cast<const uint8_t*>(m.data.data()), m.data.size()), 4);
        PutLe(body, (uint32_t(0x5A21) << 16) | 0x6000, 4);  // 2025-01-01 12:00
        body.push_back(20);
        body.push_back(char(m.stored ? 0x30 : 0x33));
        PutLe(body, m.name.size(), 2);
        PutLe(body, options.host_os == 3 ? 0100644 : 0x20, 4);
        body += m.name;
        uint16_t flags = 0x8000 | 0x0080 | (continues ? 0x0010 : 0);
        out += Block(0x74, flags, body);
        out += packed;
    }
    if (options.end_block) out += Block(0x7B, 0x4000, "");
    return out;
}

}  // namespace quorbel::test
