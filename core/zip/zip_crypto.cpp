#include "core/zip/zip_crypto.h"

#include <zlib.h>

namespace quorbel::zip {

namespace {
// The key schedule uses the standard CRC-32 table (zlib's).
inline uint32_t CrcStep(uint32_t crc, uint8_t b) {
    static const z_crc_t* table = get_crc_table();
    return table[(crc ^ b) & 0xff] ^ (crc >> 8);
}
}  // namespace

ZipCrypto::ZipCrypto(const std::string& password) : keys_{0x12345678u, 0x23456789u, 0x34567890u} {
    for (unsigned char c : password) Update(c);
}

void ZipCrypto::Update(uint8_t plain) {
    keys_[0] = CrcStep(keys_[0], plain);
    keys_[1] = (keys_[1] + (keys_[0] & 0xff)) * 134775813u + 1;
    keys_[2] = CrcStep(keys_[2], uint8_t(keys_[1] >> 24));
}

uint8_t ZipCrypto::StreamByte() const {
    uint16_t temp = uint16_t(keys_[2] | 2);
    return uint8_t((uint32_t(temp) * uint32_t(temp ^ 1)) >> 8);  // 32-bit: the product overflows int
}

void ZipCrypto::Decrypt(uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        uint8_t plain = data[i] ^ StreamByte();
        Update(plain);
        data[i] = plain;
    }
}

void ZipCrypto::Encrypt(uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        uint8_t plain = data[i];
        data[i] = plain ^ StreamByte();
        Update(plain);
    }
}

}  // namespace quorbel::zip
