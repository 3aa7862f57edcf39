// RAR 2.0's method: LZ77 with four Huffman tables sent per block (literals and lengths,
// distances, repeated distances) and a multimedia mode in which up to four interleaved
// channels are predicted from their past bytes and only the prediction errors are coded.
#pragma once

#include <cstdint>

#include "formats/engines/huffman.h"
#include "formats/engines/unpack.h"
#include "formats/rar/rar_window.h"

namespace quorbel::rar {

class Unpack20 {
public:
    static constexpr int kMainSymbols = 298;     // 256 literals, repeats, table switch, lengths
    static constexpr int kDistanceSymbols = 48;
    static constexpr int kRepeatSymbols = 28;
    static constexpr int kAudioSymbols = 257;    // 256 deltas and a table switch
    static constexpr int kLevelSymbols = 19;

    Unpack20() { Reset(); }
    // The state at the start of a non-solid member.
    void Reset();
    // Decodes the member the window was begun for; the state stays for a solid successor.
    engines::UnpackStatus Decode(RarBitInput& in, RarWindow& window);

private:
    struct Channel {
        int k[5] = {0, 0, 0, 0, 0};
        int d[4] = {0, 0, 0, 0};
        int last_delta = 0;
        uint32_t dif[11] = {};
        uint32_t byte_count = 0;
        int last_char = 0;
    };

    bool ReadTables(RarBitInput& in);
    uint8_t DecodeAudio(int delta);
    void Copy(RarWindow& window, uint32_t length, uint32_t distance) {
        last_dist_ = old_dist_[old_dist_ptr_++ & 3] = distance;
        last_length_ = length;
        window.CopyMatch(distance, length);
    }

    engines::HuffmanTable main_, distance_, repeat_, level_;
    engines::HuffmanTable audio_tables_[4];
    uint8_t old_lengths_[kAudioSymbols * 4] = {};
    bool tables_read_ = false;
    bool audio_ = false;
    int channels_ = 1, channel_ = 0;
    int channel_delta_ = 0;
    Channel audio_state_[4];
    uint32_t old_dist_[4] = {};
    uint32_t old_dist_ptr_ = 0;
    uint32_t last_dist_ = 0, last_length_ = 0;
};

}  // namespace quorbel::rar
