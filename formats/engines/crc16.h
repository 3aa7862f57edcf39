// The CRC-16 of ARC, LHA and ZOO (polynomial 0xA001, reflected, starting at 0).
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorbel::engines {

uint16_t Crc16(uint16_t crc, const uint8_t* data, size_t size);

// CRC-32 of ZIP, ARJ and ACE (core's libdeflate one), here so the engines' callers find both.
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size);

}  // namespace quorbel::engines
