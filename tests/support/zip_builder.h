// Builds ZIP archives byte by byte for tests, including ones no archiver would write (wrong
// CRCs, lying sizes, odd names), so the reader's checks can be exercised exactly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

namespace quorbel::test {

struct ZipMemberInput {
    std::string name;
    std::string data;
    uint16_t method = 8;          // 0 stored, 8 deflated, anything else written as stored bytes
    uint16_t flags = 0;
    uint16_t version_made_by = 20;
    uint16_t dos_time = 0x6000;   // 12:00:00
    uint16_t dos_date = 0x5A88;   // 2025-04-08
    uint32_t external_attrs = 0x20;
    std::string extra;
    std::string comment;
    bool override_crc = false;
    uint32_t crc = 0;
    bool override_unpacked = false;
    uint32_t unpacked = 0;
    std::string encrypt_with;     // traditional encryption with this password
};

std::string RawDeflate(const std::string& data);
uint32_t Crc32Of(const std::string& data);
std::string Le16s(uint16_t v);
std::string Le32s(uint32_t v);
std::string Le64s(uint64_t v);

// A member of that name and data, the other fields at their defaults.
ZipMemberInput Member(const std::string& name, const std::string& data, uint16_t method = 8);

// A complete archive: local headers and data, central directory, end record.
std::string BuildZip(const std::vector<ZipMemberInput>& members, const std::string& archive_comment = "");

}  // namespace quorbel::test
