#include "formats/ace/ace_unpack.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace quorbel::ace {

using engines::ByteSource;
using engines::OutputSink;
using engines::UnpackStatus;

namespace {

// ACE's packed data is a sequence of little-endian 32-bit words whose bits are read from the
// most significant end. Past the end of the input the reader yields zeros and counts them.
class WordReader {
public:
    explicit WordReader(ByteSource& source) : source_(source), buffer_(65536) {}

    uint32_t Peek(int n) {
        if (count_ < n) Refill();
        return uint32_t(bits_ >> (64 - n));
    }
    void Skip(int n) {
        bits_ <<= n;
        count_ -= n;
    }
    uint32_t Read(int n) {
        if (n == 0) return 0;
        uint32_t v = Peek(n);
        Skip(n);
        return v;
    }
    // True once a bit beyond the input was consumed.
    bool Overrun() const { return int64_t(pad_bits_) > count_; }

private:
    void Refill() {
        while (count_ <= 32) {
            uint32_t word = 0;
            int got = 0;
            while (got < 4) {
                if (at_ == have_) {
                    if (ended_) break;
                    have_ = source_.Pull(buffer_.data(), buffer_.size());
                    at_ = 0;
                    if (have_ == 0) {
                        ended_ = true;
                        break;
                    }
                }
                word |= uint32_t(buffer_[at_++]) << (8 * got);
                ++got;
            }
            if (got == 0) pad_bits_ += 32;
            bits_ |= uint64_t(word) << (32 - count_);
            count_ += 32;
        }
    }

    ByteSource& source_;
    std::vector<uint8_t> buffer_;
    size_t have_ = 0, at_ = 0;
    bool ended_ = false;
    uint64_t bits_ = 0;
    int count_ = 0;
    uint64_t pad_bits_ = 0;
};

// --- Huffman codes -------------------------------------------------------------------------
//
// A code set is sent as code widths; codes are handed out from the shortest width up, in the
// order a particular quicksort (descending by width) leaves the symbols, and each code fills
// 2^(max_width - width) slots of a direct lookup table.

constexpr int kWidthCodeBits = 7;   // the widths are themselves coded, at most 7 bits
constexpr int kMaxSavedWidth = 15;

void SortDescending(uint8_t* keys, uint16_t* values, int left, int right) {
    int l = left, r = right;
    const uint8_t pivot = keys[right];
    do {
        while (l < right && keys[l] > pivot) ++l;
        while (r > left && keys[r] < pivot) --r;
        if (l <= r) {
            std::swap(keys[l], keys[r]);
            std::swap(values[l], values[r]);
            ++l;
            --r;
        }
    } while (l < r);
    if (left < r) {
        if (left < r - 1) {
            SortDescending(keys, values, left, r);
        } else if (keys[left] < keys[r]) {
            std::swap(keys[left], keys[r]);
            std::swap(values[left], values[r]);
        }
    }
    if (right > l) {
        if (l < right - 1) {
            SortDescending(keys, values, l, right);
        } else if (keys[l] < keys[right]) {
            std::swap(keys[l], keys[right]);
            std::swap(values[l], values[right]);
        }
    }
}

// Fills `table` (2^max_width slots) from `widths[0..count)`; false when the widths do not fit.
// A set of fewer than two codes gets its one symbol the width 1.
bool MakeCodes(int max_width, int count, uint8_t* widths, uint16_t* table) {
    uint8_t keys[300];
    uint16_t symbols[300];
    for (int i = 0; i < count; ++i) {
        keys[i] = widths[i];
        symbols[i] = uint16_t(i);
    }
    SortDescending(keys, symbols, 0, count - 1);
    int used = 0;
    while (used < count && keys[used] != 0) ++used;
    if (used < 2) {
        widths[symbols[0]] = 1;
        if (used == 0) used = 1;
    }
    const uint32_t slots = 1u << max_width;
    uint32_t pos = 0;
    for (int i = used - 1; i >= 0 && pos < slots; --i) {
        if (keys[i] > max_width) return false;
        uint32_t n = 1u << (max_width - keys[i]);
        if (pos + n > slots) return false;
        std::fill(table + pos, table + pos + n, symbols[i]);
        pos += n;
    }
    return true;
}

struct CodeSet {
    int max_width = 0;
    int symbols = 0;                // widths has symbols + 1 entries
    std::vector<uint16_t> table;
    std::vector<uint8_t> widths;

    CodeSet(int max_w, int count) : max_width(max_w), symbols(count), table(size_t(1) << max_w),
                                    widths(size_t(count) + 1) {}

    bool Read(WordReader& in) {
        int count = int(in.Read(9)) + 1;
        if (count > symbols + 1) count = symbols + 1;
        const int lower = int(in.Read(4));
        const int upper = int(in.Read(4));
        uint8_t saved[kMaxSavedWidth + 1] = {};
        for (int i = 0; i <= upper; ++i) saved[i] = uint8_t(in.Read(3));
        // The width codes go into the same table first; its slots past them keep zeros.
        std::fill(table.begin(), table.end(), 0);
        if (!MakeCodes(kWidthCodeBits, upper + 1, saved, table.data())) return false;
        std::fill(widths.begin(), widths.end(), 0);
        int pos = 0;
        while (pos < count) {
            uint16_t code = table[in.Peek(kWidthCodeBits)];
            in.Skip(saved[code]);
            if (code < upper) {
                widths[size_t(pos++)] = uint8_t(code);
            } else {
                int run = int(in.Read(4)) + 4;
                while (run-- > 0 && pos < count) widths[size_t(pos++)] = 0;
            }
            if (in.Overrun()) return false;
        }
        if (upper > 0)
            for (int i = 1; i < count; ++i) widths[size_t(i)] = uint8_t((widths[size_t(i)] + widths[size_t(i) - 1]) % upper);
        for (int i = 0; i < count; ++i)
            if (widths[size_t(i)] > 0) widths[size_t(i)] = uint8_t(widths[size_t(i)] + lower);
        std::fill(table.begin() + (1 << kWidthCodeBits), table.end(), 0);
        return MakeCodes(max_width, count, widths.data(), table.data());
    }

    int Decode(WordReader& in) const {
        uint16_t s = table[in.Peek(max_width)];
        in.Skip(widths[s]);
        return s;
    }
};

// --- modes of the blocked method -----------------------------------------------------------

enum Mode : int { kModeLz77 = 0, kModeDelta = 1, kModeExe = 2, kModeSound8 = 3, kModePic = 7 };

struct ModeSwitch {
    bool pending = false;
    int mode = kModeLz77;
    int delta_distance = 0;
    int delta_length = 0;
    int exe_mode = 0;
};

void ReadMode(WordReader& in, ModeSwitch& m) {
    m.pending = true;
    m.mode = int(in.Read(8));
    if (m.mode == kModeDelta) {
        m.delta_distance = int(in.Read(8));
        m.delta_length = int(in.Read(17));
    } else if (m.mode == kModeExe) {
        m.exe_mode = int(in.Read(8));
    }
}

}  // namespace

// The LZ77 part: the window, the code sets of the current block and the distance history.
class LzCore {
public:
    static constexpr int kMainCodes = 260 + kMaxDictionaryBits + 2;  // literals, 4 repeats, 23 distance widths, mode
    static constexpr int kModeCode = 260 + kMaxDictionaryBits + 1;
    static constexpr int kLengthCodes = 255;
    static constexpr int kCodeWidth = 11;

    LzCore(int bits, uint64_t total_output)
        : size_(WindowSize(bits, total_output)), mask_(size_ - 1),
          window_(size_, 0), main_(kCodeWidth, kMainCodes), lengths_(kCodeWidth, kLengthCodes) {}

    static size_t WindowSize(int bits, uint64_t total_output) {
        int b = std::clamp(bits, 15, kMaxDictionaryBits);
        while (b > 15 && (uint64_t(1) << (b - 1)) >= total_output) --b;
        return size_t(1) << b;
    }

    void StartMember() {
        block_left_ = 0;
        queue_.clear();
        queued_at_ = 0;
        std::fill(std::begin(history_), std::end(history_), 0u);
        match_left_ = 0;
        failed_ = false;
    }

    // Decodes up to `want` bytes into the window at Start(); returns how many, all contiguous
    // (the write stops at the end of the ring). A mode symbol ends the call early and fills
    // `next`; one that directly follows the last byte of a full call is taken too.
    size_t Decode(WordReader& in, size_t want, ModeSwitch& next, size_t& from) {
        const size_t start = size_t(pos_ & mask_);
        from = start;
        const size_t target = std::min(want, size_ - start);
        uint8_t* const w = window_.data();
        size_t out = start;
        const size_t end = start + target;
        if (match_left_ > 0) out = Copy(out, end, match_distance_, match_left_);
        while (out < end) {
            Symbol sym;
            if (!Fetch(in, sym)) break;
            const int s = sym.code;
            if (s < 256) {
                w[out++] = uint8_t(s);
                continue;
            }
            if (s == kModeCode) {
                next = sym.mode;
                break;
            }
            uint32_t distance;
            size_t length;
            if (s >= 260) {
                distance = sym.distance;
                history_[0] = history_[1];
                history_[1] = history_[2];
                history_[2] = history_[3];
                history_[3] = distance;
                length = size_t(sym.length) + (distance <= 255 ? 2 : distance <= 8191 ? 3 : 4);
            } else {
                int back = s - 256;
                int slot = 3 - back;
                distance = history_[slot];
                for (int i = slot; i < 3; ++i) history_[i] = history_[i + 1];
                history_[3] = distance;
                length = size_t(sym.length) + (back > 1 ? 3 : 2);
            }
            out = Copy(out, end, distance + 1, length);
        }
        const size_t produced = out - start;
        pos_ += produced;
        if (produced == want && !next.pending && !failed_ && !in.Overrun()) {
            // A mode switch right after the requested bytes belongs to this run.
            if (queued_at_ < queue_.size()) {
                if (queue_[queued_at_].code == kModeCode) next = queue_[queued_at_++].mode;
            } else if (block_left_ > 0 && main_.table[in.Peek(kCodeWidth)] == kModeCode) {
                Symbol sym;
                --block_left_;
                ReadSymbol(in, sym);
                next = sym.mode;
            }
        }
        if (in.Overrun()) failed_ = true;
        return produced;
    }

    // The rest of the current block, read now: the SOUND and PIC modes' data follows the
    // whole block in the stream, and the LZ77 symbols after the mode switch wait for the
    // return to LZ77.
    bool ReadRestOfBlock(WordReader& in) {
        while (block_left_ > 0) {
            Symbol sym;
            --block_left_;
            if (!ReadSymbol(in, sym)) return false;
            queue_.push_back(sym);
        }
        return true;
    }

    // Bytes a stored member (or another mode) adds to the window.
    void Append(const uint8_t* data, size_t n) {
        while (n > 0) {
            size_t at = size_t(pos_ & mask_);
            size_t step = std::min(n, size_ - at);
            std::memcpy(window_.data() + at, data, step);
            data += step;
            n -= step;
            pos_ += step;
        }
    }

    const uint8_t* At(size_t index) const { return window_.data() + index; }
    size_t Start() const { return size_t(pos_ & mask_); }
    bool Failed() const { return failed_; }

private:
    struct Symbol {
        uint16_t code = 0;
        uint16_t length = 0;    // the length code of a match
        uint32_t distance = 0;  // of a match with its own distance
        ModeSwitch mode;        // of the mode symbol
    };

    // The next symbol: a waiting one, else one read from the stream (a new block when needed).
    bool Fetch(WordReader& in, Symbol& sym) {
        if (queued_at_ < queue_.size()) {
            sym = queue_[queued_at_++];
            if (queued_at_ == queue_.size()) {
                queue_.clear();
                queued_at_ = 0;
            }
            return true;
        }
        // A block may hold no symbols at all: the next one follows.
        while (block_left_ == 0)
            if (!ReadBlock(in)) return false;
        --block_left_;
        return ReadSymbol(in, sym);
    }

    bool ReadSymbol(WordReader& in, Symbol& sym) {
        const int s = main_.Decode(in);
        sym.code = uint16_t(s);
        if (s < 256) return true;
        if (s == kModeCode) {
            ReadMode(in, sym.mode);
        } else if (s > kModeCode) {
            failed_ = true;
            return false;
        } else {
            if (s >= 260) {
                int bits = s - 260;
                sym.distance = bits < 2 ? uint32_t(bits) : in.Read(bits - 1) + (1u << (bits - 1));
            }
            sym.length = uint16_t(lengths_.Decode(in));
        }
        if (in.Overrun()) {
            failed_ = true;
            return false;
        }
        return true;
    }

    bool ReadBlock(WordReader& in) {
        if (!main_.Read(in) || !lengths_.Read(in)) {
            failed_ = true;
            return false;
        }
        block_left_ = in.Read(15);
        if (in.Overrun()) {
            failed_ = true;
            return false;
        }
        return true;
    }

    // Copies from `distance` back up to `end`; what does not fit waits for the next call.
    size_t Copy(size_t out, size_t end, size_t distance, size_t length) {
        size_t n = std::min(length, end - out);
        uint8_t* const w = window_.data();
        size_t src = (out - distance) & mask_;
        if (distance >= n && src + n <= size_) {
            // A distance of the ring's size (damaged data) makes the ranges meet.
            std::memmove(w + out, w + src, n);
        } else {
            for (size_t i = 0; i < n; ++i) w[out + i] = w[(src + i) & mask_];
        }
        match_left_ = length - n;
        match_distance_ = distance;
        return out + n;
    }

    size_t size_, mask_;
    std::vector<uint8_t> window_;
    uint64_t pos_ = 0;
    CodeSet main_, lengths_;
    uint32_t block_left_ = 0;
    uint32_t history_[4] = {};
    size_t match_left_ = 0, match_distance_ = 0;
    std::vector<Symbol> queue_;
    size_t queued_at_ = 0;
    bool failed_ = false;
};

namespace {

// Passes the output on, at most `left` bytes; what the sink refused cancels.
class Output {
public:
    Output(OutputSink& sink, uint64_t size) : sink_(sink), left_(size) {}
    bool Put(const uint8_t* data, size_t n) {
        if (n > left_) return false;
        left_ -= n;
        if (n == 0) return true;
        if (!sink_.Put(data, n)) {
            cancelled_ = true;
            return false;
        }
        return true;
    }
    uint64_t Left() const { return left_; }
    bool Cancelled() const { return cancelled_; }

private:
    OutputSink& sink_;
    uint64_t left_;
    bool cancelled_ = false;
};

// The EXE mode's filter: an x86 CALL (E8) or JMP (E9) opcode is followed by its target made
// absolute by the packer; it is turned back into a relative one (target - position). The
// operand is 32 bits for a CALL in exe mode 1, else 16 bits. An opcode is translated only
// when four more bytes of the same EXE run follow it; the last bytes of a run wait for the
// next run, or pass unchanged when the mode ends.
class ExeFilter {
public:
    void SetMode(int mode) { mode_ = mode; }
    bool Feed(const uint8_t* data, size_t n, Output& out) {
        tail_.insert(tail_.end(), data, data + n);
        size_t i = 0;
        while (i + 4 < tail_.size()) {
            uint8_t op = tail_[i];
            if (op == 0xE8 && mode_ != 0) {
                uint32_t v = uint32_t(tail_[i + 1]) | (uint32_t(tail_[i + 2]) << 8) |
                             (uint32_t(tail_[i + 3]) << 16) | (uint32_t(tail_[i + 4]) << 24);
                v -= uint32_t(position_ + i);
                for (int k = 0; k < 4; ++k) tail_[i + 1 + size_t(k)] = uint8_t(v >> (8 * k));
                i += 5;
            } else if (op == 0xE8 || op == 0xE9) {
                uint16_t v = uint16_t(tail_[i + 1] | (tail_[i + 2] << 8));
                v = uint16_t(v - uint16_t(position_ + i));
                tail_[i + 1] = uint8_t(v);
                tail_[i + 2] = uint8_t(v >> 8);
                i += 3;
            } else {
                ++i;
            }
        }
        // Bytes without an opcode among them need not wait.
        size_t keep = i;
        while (keep < tail_.size() && tail_[keep] != 0xE8 && tail_[keep] != 0xE9) ++keep;
        bool ok = out.Put(tail_.data(), keep);
        position_ += keep;
        tail_.erase(tail_.begin(), tail_.begin() + ptrdiff_t(keep));
        return ok;
    }
    // The mode ends: waiting bytes go out as they are.
    bool Flush(Output& out) {
        bool ok = out.Put(tail_.data(), tail_.size());
        position_ += tail_.size();
        tail_.clear();
        return ok;
    }
    void Advance(uint64_t n) { position_ += n; }
    size_t Waiting() const { return tail_.size(); }

private:
    int mode_ = 0;
    uint64_t position_ = 0;  // output position of tail_[0]
    std::vector<uint8_t> tail_;
};

int BitLength(uint32_t v) {
    int n = 0;
    while (v) {
        ++n;
        v >>= 1;
    }
    return n;
}

// The SOUND modes: 8-bit samples in one, two or three channels (16-bit samples as a low and
// a high channel, 32-bit ones as three), each channel predicted from its last samples by
// adapting coefficients, the prediction errors Huffman-coded with runs of zeros, three code
// sets per channel chosen by the coder's state.
class SoundDecoder {
public:
    static constexpr int kRunCodes = 32;
    static constexpr int kModeCode = 256 + kRunCodes;
    static constexpr int kCodes = 256 + kRunCodes + 1;
    static constexpr int kCodeWidth = 10;

    SoundDecoder() {
        quantizer_[0] = 0;
        for (int i = 1; i <= 128; ++i) quantizer_[i] = quantizer_[256 - i] = uint8_t(BitLength(uint32_t(i)));
    }

    void Start(int mode) {
        kind_ = mode - kModeSound8;
        static const int kChannels[4] = {1, 2, 3, 3};
        sets_.clear();
        for (int i = 0; i < kChannels[kind_] * 3; ++i) sets_.emplace_back(kCodeWidth, kCodes);
        block_left_ = 0;
        for (Channel& c : channels_) c = Channel{};
    }

    // Up to `want` bytes (a multiple of four: one frame of every channel layout) into `out`;
    // a mode symbol ends the run early and fills `next`. False on damaged data.
    bool Run(WordReader& in, uint64_t want, std::vector<uint8_t>& out, ModeSwitch& next) {
        static const int kUse[4][4] = {{0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 0, 2}, {1, 0, 2, 0}};
        out.clear();
        const uint64_t n = want & ~uint64_t(3);
        for (uint64_t i = 0; i < n; ++i) {
            const int ci = kUse[kind_][i % 4];
            Channel& c = channels_[ci];
            int value = 0;
            if (!Get(in, c, ci, value, next)) return false;
            if (next.pending) return true;
            const int sample = (value + Predict(c)) & 0xFF;
            out.push_back(uint8_t(sample));
            Adjust(c, sample);
        }
        return true;
    }

private:
    struct Channel {
        int pred_dif_count[2] = {}, last_pred_dif_count[2] = {};
        int dif_history[4] = {}, coefficient[4] = {};
        uint32_t dif_sum[9] = {};
        uint32_t byte_count = 0;
        int last_byte = 0, last_delta = 0;
        int adapt_count = 0, adapt_use = 0;
        int state = 0, code = 0;
    };

    bool Symbol(WordReader& in, int set, int& code) {
        if (block_left_ == 0) {
            for (CodeSet& cs : sets_)
                if (!cs.Read(in)) return false;
            // A count of 0 leaves these code sets in use for good.
            block_left_ = in.Read(15);
            if (block_left_ == 0) block_left_ = -1;
        }
        if (block_left_ > 0) --block_left_;
        code = sets_[size_t(set)].Decode(in);
        return !in.Overrun();
    }

    bool Get(WordReader& in, Channel& c, int index, int& value, ModeSwitch& next) {
        if (c.state != 2) {
            int set = c.state << 1;
            if (set == 0) set += c.adapt_use;
            set += 3 * index;
            if (!Symbol(in, set, c.code)) return false;
            if (c.code == kModeCode) {
                ReadMode(in, next);
                return !in.Overrun();
            }
        }
        if (c.state == 0) {
            if (c.code >= kRunCodes) {
                value = c.code - kRunCodes;
                c.adapt_count = ((c.adapt_count * 7) >> 3) + value;
                c.adapt_use = c.adapt_count > 40 ? 1 : 0;
            } else {
                c.state = 2;
            }
        } else if (c.state == 1) {
            value = c.code;
            c.state = 0;
        }
        if (c.state == 2) {
            // A run of code + 1 zero errors, then one raw value.
            if (c.code == 0)
                c.state = 1;
            else
                --c.code;
            value = 0;
        }
        value = (value & 1) ? 255 - (value >> 1) : value >> 1;
        return true;
    }

    static int Predicted(const Channel& c) {
        int sum = 8 * c.last_byte;
        for (int i = 0; i < 4; ++i) sum += c.coefficient[i] * c.dif_history[i];
        return (sum >> 3) & 0xFF;
    }

    static int Predict(const Channel& c) {
        return c.pred_dif_count[0] > c.pred_dif_count[1] ? c.last_byte : Predicted(c);
    }

    void Adjust(Channel& c, int sample) {
        ++c.byte_count;
        const int dif = (Predicted(c) - sample) * 8;
        for (int i = 0; i < 4; ++i) {
            c.dif_sum[2 * i] += uint32_t(std::abs(dif - c.dif_history[i]));
            c.dif_sum[2 * i + 1] += uint32_t(std::abs(dif + c.dif_history[i]));
        }
        c.dif_sum[8] += uint32_t(std::abs(dif));
        c.pred_dif_count[0] += quantizer_[(dif >> 3) & 0xFF];
        c.pred_dif_count[1] += quantizer_[(c.last_byte - sample) & 0xFF];
        c.last_delta = sample - c.last_byte;
        c.last_byte = sample;
        if ((c.byte_count & 0x1F) == 0) {
            // Every 32 samples the coefficient whose change would have erred least moves.
            uint32_t least = 0xFFFF;
            int at = 8;
            for (int i = 8; i >= 0; --i) {
                if (c.dif_sum[i] <= least) {
                    least = c.dif_sum[i];
                    at = i;
                }
                c.dif_sum[i] = 0;
            }
            if (at != 8) {
                int k = at >> 1;
                if ((at & 1) == 0) {
                    if (c.coefficient[k] >= -16) --c.coefficient[k];
                } else if (c.coefficient[k] <= 16) {
                    ++c.coefficient[k];
                }
            }
            if ((c.byte_count & 0xFF) == 0) {
                for (int i = 0; i < 2; ++i) {
                    c.pred_dif_count[i] -= c.last_pred_dif_count[i];
                    c.last_pred_dif_count[i] = c.pred_dif_count[i];
                }
            }
        }
        c.dif_history[3] = c.dif_history[2];
        c.dif_history[2] = c.dif_history[1];
        c.dif_history[1] = c.last_delta - c.dif_history[0];
        c.dif_history[0] = c.last_delta;
    }

    int kind_ = 0;
    std::vector<CodeSet> sets_;
    int64_t block_left_ = 0;  // -1: no more code sets in this mode
    Channel channels_[3];
    uint8_t quantizer_[256];
};

// The PIC mode: lines of `width` bytes in `planes` interleaved planes; each byte predicted from
// its neighbours in the line and the line above, in one of 365 contexts per model that each
// pick their best of four predictors, the errors sent as signed Golomb-Rice codes. Planes after
// the first may be coded as differences to the plane before.
class PicDecoder {
public:
    static constexpr int kContexts = 365;
    static constexpr uint32_t kMaxWidth = 1u << 20;
    static constexpr uint32_t kMaxPlanes = 64;

    PicDecoder() {
        for (int i = 0; i < 128; ++i) bit_width_[i] = uint8_t(BitLength(uint32_t(2 * i)));
        for (int i = -128; i < 0; ++i) bit_width_[256 + i] = uint8_t(BitLength(uint32_t(-2 * i - 1)));
        for (int i = -255; i < 256; ++i) {
            int q = i <= -21 ? -4 : i <= -7 ? -3 : i <= -3 ? -2 : i <= -1 ? -1 : i == 0 ? 0
                    : i < 3 ? 1 : i < 7 ? 2 : i < 21 ? 3 : 4;
            q1_[255 + i] = int16_t(q);
            q9_[255 + i] = int16_t(9 * q);
            q81_[255 + i] = int16_t(81 * q);
        }
    }

    // Entering the mode: the line layout, from the stream.
    bool Start(WordReader& in) {
        uint32_t width = 0, planes = 0;
        if (!GolombRice(in, 12, width) || !GolombRice(in, 2, planes)) return false;
        if (width == 0 || width > kMaxWidth || planes == 0 || planes > kMaxPlanes) return false;
        width_ = int(width);
        planes_ = int(planes);
        last_.assign(size_t(width_ + planes_), 0);
        line_.assign(size_t(width_ + planes_), 0);
        waiting_.clear();
        for (auto& model : models_)
            for (Context& ctx : model) ctx = Context{};
        a_ = b_ = c_ = d_ = x_ = 0;
        return true;
    }

    // Up to `want` bytes into `out`; a 0 bit before a line switches mode and fills `next`.
    bool Run(WordReader& in, uint64_t want, std::vector<uint8_t>& out, ModeSwitch& next) {
        out.clear();
        size_t take = size_t(std::min<uint64_t>(want, waiting_.size()));
        out.insert(out.end(), waiting_.begin(), waiting_.begin() + ptrdiff_t(take));
        waiting_.erase(waiting_.begin(), waiting_.begin() + ptrdiff_t(take));
        while (out.size() < want) {
            if (in.Read(1) == 0) {
                ReadMode(in, next);
                return !in.Overrun();
            }
            if (!Line(in)) return false;
            size_t n = size_t(std::min<uint64_t>(want - out.size(), uint64_t(width_)));
            for (size_t i = 0; i < size_t(width_); ++i) (i < n ? out : waiting_).push_back(uint8_t(line_[i]));
        }
        return true;
    }

private:
    struct Context {
        int used = 0, predictor = 0, average = 4;
        int errors[4] = {};
    };

    static bool GolombRice(WordReader& in, int bits, uint32_t& value) {
        value = in.Read(bits);
        while (in.Read(1) == 1) {
            value += 1u << bits;
            if (in.Overrun() || value > (1u << 30)) return false;
        }
        return !in.Overrun();
    }

    int Predict(int which) const {
        switch (which) {
            case 0: return a_;
            case 1: return b_;
            case 2: return (a_ + b_) >> 1;
            default: return (a_ + b_ - c_) & 0xFF;
        }
    }

    // The value coded for a pixel of a difference plane: relative to the plane before.
    static int Relative(int predictor, int value, int previous) {
        if (predictor == 1) return (value - (previous - 128)) & 0xFF;
        if (predictor == 2) return (value - (((previous * 11) >> 4) - 128)) & 0xFF;
        return value;
    }

    bool Line(WordReader& in) {
        std::fill(line_.begin(), line_.end(), 0);
        for (int plane = 0; plane < planes_; ++plane) {
            int model = plane == 0 ? 0 : 1;
            int predictor = plane == 0 ? 0 : int(in.Read(2));
            if (predictor == 3) return false;
            const int previous_plane = plane == 0 ? last_[size_t(width_ + planes_ - 1)] : last_[size_t(plane - 1)];
            d_ = Relative(predictor, last_[size_t(plane)], previous_plane);
            a_ = b_ = c_ = x_ = predictor == 0 ? 0 : 128;
            for (int col = plane; col < width_; col += planes_) {
                c_ = a_;
                a_ = d_;
                b_ = x_;
                d_ = Relative(predictor, last_[size_t(planes_ + col)], last_[size_t(planes_ + col - 1)]);
                int ctx = std::abs(q81_[255 + d_ - a_] + q9_[255 + a_ - c_] + q1_[255 + c_ - b_]);
                x_ = Pixel(in, models_[model][size_t(ctx)]);
                if (x_ < 0 || in.Overrun()) return false;
                const int prev = col > 0 ? line_[size_t(col - 1)] : 0;
                if (predictor == 1)
                    line_[size_t(col)] = (x_ + prev - 128) & 0xFF;
                else if (predictor == 2)
                    line_[size_t(col)] = (x_ + ((prev * 11) >> 4) - 128) & 0xFF;
                else
                    line_[size_t(col)] = x_;
            }
        }
        last_ = line_;
        return true;
    }

    int Pixel(WordReader& in, Context& ctx) {
        ++ctx.used;
        uint32_t coded = 0;
        if (!GolombRice(in, BitLength(uint32_t(ctx.average / ctx.used)), coded)) return -1;
        const int epsilon = (coded & 1) ? -int(coded >> 1) - 1 : int(coded >> 1);
        const int pixel = (Predict(ctx.predictor) + epsilon) & 0xFF;
        int best = 0;
        bool halve = false;
        for (int i = 0; i < 4; ++i) {
            ctx.errors[i] += bit_width_[(pixel - Predict(i)) & 0xFF];
            if (i == 0 || ctx.errors[i] < ctx.errors[best]) best = i;
            if (ctx.errors[i] & 0x80) halve = true;
        }
        if (halve)
            for (int& e : ctx.errors) e >>= 1;
        ctx.predictor = best;
        ctx.average += std::abs(epsilon);
        if (ctx.used == 128) {
            ctx.used >>= 1;
            ctx.average >>= 1;
        }
        return pixel;
    }

    int width_ = 0, planes_ = 0;
    std::vector<int> last_, line_;
    std::vector<uint8_t> waiting_;
    std::array<std::vector<Context>, 2> models_{std::vector<Context>(kContexts), std::vector<Context>(kContexts)};
    int a_ = 0, b_ = 0, c_ = 0, d_ = 0, x_ = 0;
    uint8_t bit_width_[256];
    int16_t q1_[511], q9_[511], q81_[511];
};

UnpackStatus Finish(const Output& out, bool failed) {
    if (out.Cancelled()) return UnpackStatus::Cancelled;
    if (failed || out.Left() != 0) return UnpackStatus::Corrupt;
    return UnpackStatus::Ok;
}

}  // namespace

AceDecoder::AceDecoder(int dictionary_bits, uint64_t total_output)
    : core_(std::make_unique<LzCore>(dictionary_bits, total_output)) {}
AceDecoder::~AceDecoder() = default;

bool AceMethodSupported(int method) { return method >= 0 && method <= 2; }

UnpackStatus AceDecoder::Unpack(int method, ByteSource& input, uint64_t unpacked_size,
                                OutputSink& output) {
    LzCore& lz = *core_;
    Output out(output, unpacked_size);
    if (method == 0) {
        uint8_t buffer[16384];
        while (out.Left() > 0) {
            size_t n = input.Pull(buffer, size_t(std::min<uint64_t>(sizeof buffer, out.Left())));
            if (n == 0) break;
            lz.Append(buffer, n);
            if (!out.Put(buffer, n)) break;
        }
        return Finish(out, false);
    }
    if (method != 1 && method != 2) return UnpackStatus::Unsupported;
    if (unpacked_size == 0) return UnpackStatus::Ok;

    lz.StartMember();
    WordReader in(input);
    auto clip = [](uint64_t n) { return size_t(std::min<uint64_t>(n, SIZE_MAX)); };
    if (method == 1) {
        // ACE 1.0: one LZ77 stream; a mode symbol has no place in it.
        while (out.Left() > 0) {
            ModeSwitch next;
            size_t from = 0;
            size_t n = lz.Decode(in, clip(out.Left()), next, from);
            if (next.pending || lz.Failed() || n == 0) return Finish(out, true);
            if (!out.Put(lz.At(from), n)) break;
        }
        return Finish(out, lz.Failed());
    }

    ModeSwitch mode;  // LZ77 until the stream says otherwise
    ModeSwitch next;
    ExeFilter exe;
    uint8_t last_delta = 0;
    std::vector<uint8_t> planes, ordered, samples;
    SoundDecoder sound;
    PicDecoder pic;
    while (out.Left() > 0 || exe.Waiting() > 0) {
        if (next.pending) {
            if (mode.mode == kModeExe && next.mode != kModeExe && !exe.Flush(out)) break;
            const int previous = mode.mode;
            mode = next;
            mode.pending = false;
            next.pending = false;
            if (mode.mode == kModeExe) exe.SetMode(mode.exe_mode);
            if (mode.mode > kModePic) return Finish(out, true);
            if (mode.mode >= kModeSound8) {
                if (!lz.ReadRestOfBlock(in)) return Finish(out, true);
                if (mode.mode != previous) {
                    if (mode.mode == kModePic) {
                        if (!pic.Start(in)) return Finish(out, true);
                    } else {
                        sound.Start(mode.mode);
                    }
                }
            }
        }
        if (mode.mode >= kModeSound8) {
            // Their bytes go to the output and into the window, for LZ77 runs after them.
            const bool ok = mode.mode == kModePic ? pic.Run(in, out.Left(), samples, next)
                                                  : sound.Run(in, out.Left(), samples, next);
            if (!ok || (samples.empty() && !next.pending)) return Finish(out, true);
            lz.Append(samples.data(), samples.size());
            if (!out.Put(samples.data(), samples.size())) break;
            exe.Advance(samples.size());
            continue;
        }
        if (mode.mode == kModeLz77 || mode.mode == kModeExe) {
            uint64_t owed = out.Left() - std::min<uint64_t>(out.Left(), exe.Waiting());
            if (owed == 0) {
                // The member ends inside an EXE run: its last bytes pass unchanged.
                if (!exe.Flush(out)) break;
                continue;
            }
            size_t from = 0;
            size_t n = lz.Decode(in, clip(owed), next, from);
            if (lz.Failed() || (n == 0 && !next.pending)) return Finish(out, true);
            if (mode.mode == kModeExe) {
                if (!exe.Feed(lz.At(from), n, out)) break;
            } else {
                if (!out.Put(lz.At(from), n)) break;
                exe.Advance(n);
            }
            continue;
        }
        // DELTA: a block of bytes, summed up and then read as interleaved planes.
        const size_t length = size_t(mode.delta_length);
        const size_t distance = size_t(mode.delta_distance);
        if (distance == 0 || length / distance == 0 || length > out.Left()) return Finish(out, true);
        planes.clear();
        while (planes.size() < length) {
            ModeSwitch sub;
            size_t from = 0;
            size_t n = lz.Decode(in, length - planes.size(), sub, from);
            if (lz.Failed() || (n == 0 && !sub.pending)) return Finish(out, true);
            planes.insert(planes.end(), lz.At(from), lz.At(from) + n);
            if (sub.pending) next = sub;
        }
        for (uint8_t& b : planes) {
            b = uint8_t(b + last_delta);
            last_delta = b;
        }
        const size_t plane = length / distance;
        ordered.clear();
        for (size_t p = 0; p < plane; ++p)
            for (size_t k = p; k < length; k += plane) ordered.push_back(planes[k]);
        if (!out.Put(ordered.data(), ordered.size())) break;
        exe.Advance(ordered.size());
    }
    return Finish(out, lz.Failed());
}

UnpackStatus UnpackAce(int method, uint16_t params, ByteSource& input, uint64_t unpacked_size,
                       OutputSink& output) {
    AceDecoder decoder((params & 15) + kMinDictionaryBits, unpacked_size);
    return decoder.Unpack(method, input, unpacked_size, output);
}

size_t ChainSource::Pull(uint8_t* buffer, size_t capacity) {
    while (current_ < pieces_.size()) {
        size_t n = pieces_[current_]->Pull(buffer, capacity);
        if (n > 0) return n;
        ++current_;
    }
    return 0;
}

}  // namespace quorbel::ace
