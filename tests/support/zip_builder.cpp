#include "support/zip_builder.h"

#include "core/zip/zip_crypto.h"

namespace quorbel::test {

std::string Le16s(uint16_t v) { return std::string{char(v & 0xff), char(v >> 8)}; }
std::string Le32s(uint32_t v) { return Le16s(uint16_t(v)) + Le16s(uint16_t(v >> 16)); }
std::string Le64s(uint64_t v) { return Le32s(uint32_t(v)) + Le32s(uint32_t(v >> 32)); }

std::string RawDeflate(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, uLong(data.size())) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

uint32_t Crc32Of(const std::string& data) {
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
}

std::string BuildZip(const std::vector<ZipMemberInput>& members, const std::string& archive_comment) {
    std::string out, central;
    for (const auto& m : members) {
        uint32_t crc = m.override_crc ? m.crc : Crc32Of(m.data);
        std::string payload = m.method == 8 ? RawDeflate(m.data) : m.data;
        uint16_t flags = m.flags;
        if (!m.encrypt_with.empty()) {
            flags |= 1;
            zip::ZipCrypto crypto(m.encrypt_with);
            std::string header(12, '\x5a');
            header[11] = char((flags & 8) ? (m.dos_time >> 8) : (crc >> 24));
            std::string both = header + payload;
            crypto.Encrypt(reinterpret_cast<uint8_t*>(both.data()), both.size());
            payload = both;
        }
        uint32_t unpacked = m.override_unpacked ? m.unpacked : uint32_t(m.data.size());
        uint32_t offset = uint32_t(out.size());
        std::string common = Le16s(m.method) + Le16s(m.dos_time) + Le16s(m.dos_date) + Le32s(crc) +
                             Le32s(uint32_t(payload.size())) + Le32s(unpacked) +
                             Le16s(uint16_t(m.name.size())) + Le16s(uint16_t(m.extra.size()));
        out += Le32s(0x04034b50) + Le16s(20) + Le16s(flags) + common + m.name + m.extra + payload;
        central += Le32s(0x02014b50) + Le16s(m.version_made_by) + Le16s(20) + Le16s(flags) + common +
                   Le16s(uint16_t(m.comment.size())) + Le16s(0) + Le16s(0) + Le32s(m.external_attrs) +
                   Le32s(offset) + m.name + m.extra + m.comment;
    }
    uint32_t cd_offset = uint32_t(out.size());
    out += central;
    out += Le32s(0x06054b50) + Le16s(0) + Le16s(0) + Le16s(uint16_t(members.size())) +
           Le16s(uint16_t(members.size())) + Le32s(uint32_t(central.size())) + Le32s(cd_offset) +
           Le16s(uint16_t(archive_comment.size())) + archive_comment;
    return out;
}

ZipMemberInput Member(const std::string& name, const std::string& data, uint16_t method) {
    ZipMemberInput m;
    m.name = name;
    m.data = data;
    m.method = method;
    return m;
}

}  // namespace quorbel::test
