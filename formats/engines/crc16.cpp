#include "formats/engines/crc16.h"

#include <array>

#include "core/zip/deflate.h"

namespace quorbel::engines {

namespace {

// Four tables for four bytes per step (slicing-by-4).
struct Crc16Tables {
    std::array<std::array<uint16_t, 256>, 4> t{};
    Crc16Tables() {
        for (unsigned i = 0; i < 256; ++i) {
            uint16_t c = uint16_t(i);
            for (int k = 0; k < 8; ++k) c = (c & 1) ? uint16_t((c >> 1) ^ 0xA001) : uint16_t(c >> 1);
            t[0][i] = c;
        }
        for (unsigned i = 0; i < 256; ++i)
            for (int s = 1; s < 4; ++s)
                t[s][i] = uint16_t((t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF]);
    }
};

const Crc16Tables& Tables() {
    static const Crc16Tables tables;
    return tables;
}

}  // namespace

uint16_t Crc16(uint16_t crc, const uint8_t* data, size_t size) {
    const auto& t = Tables().t;
    while (size >= 4) {
        uint32_t x = crc ^ (uint32_t(data[0]) | (uint32_t(data[1]) << 8));
        crc = uint16_t(t[3][x & 0xFF] ^ t[2][(x >> 8) & 0xFF] ^ t[1][data[2]] ^ t[0][data[3]]);
        data += 4;
        size -= 4;
    }
    while (size--) crc = uint16_t((crc >> 8) ^ t[0][(crc ^ *data++) & 0xFF]);
    return crc;
}

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) { return zip::Crc32(crc, data, size); }

}  // namespace quorbel::engines
