// The traditional PKWARE encryption (APPNOTE "Traditional PKWARE Encryption").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorbel::zip {

class ZipCrypto {
public:
    explicit ZipCrypto(const std::string& password);
    void Decrypt(uint8_t* data, size_t size);
    void Encrypt(uint8_t* data, size_t size);

private:
    uint8_t StreamByte() const;
    void Update(uint8_t plain);
    uint32_t keys_[3];
};

inline constexpr size_t kEncryptionHeaderSize = 12;

}  // namespace quorbel::zip
