#include "formats/rar/rar_directory.h"

#include <cstring>

#include "core/byte_reader.h"
#include "core/code_page.h"
#include "core/data_stream.h"
#include "formats/engines/crc16.h"
#include "formats/rar/rar_volume_names.h"

namespace quorbel::rar {

using engines::DirectoryStatus;

namespace {

constexpr uint8_t kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
constexpr size_t kBaseHeaderSize = 7;
constexpr size_t kArchiveHeaderSize = 13;  // base, two reserved fields
constexpr size_t kFileHeaderFixed = 32;
constexpr size_t kLargeFileHeaderFixed = 40;
// A set is followed through at most this many volumes.
constexpr int kMaxVolumes = 100000;
// Self-extractor programs of the 1.5-2.x era are far smaller; the archive follows the program.
constexpr int64_t kSfxSearchLimit = int64_t(1) << 20;

struct Block {
    int64_t offset = 0;
    uint8_t type = 0;
    uint16_t flags = 0;
    uint32_t size = 0;
    uint64_t added = 0;  // data after the header (a member's packed part)
    std::vector<uint8_t> header;
};

enum class BlockResult { Ok, End, Bad };

// The stored header CRC is the low half of the CRC-32 of the header after the CRC field. Old
// archives keep a comment inside the archive header or a file header and leave it out of
// that CRC: with such a comment, a match over any prefix from `fixed_end` on is accepted too.
bool HeaderCrcMatches(const std::vector<uint8_t>& h, bool inner_comment, size_t fixed_end) {
    const uint16_t stored = Le16(h.data());
    uint32_t crc = engines::Crc32(0, h.data() + 2, h.size() - 2);
    if (uint16_t(crc) == stored) return true;
    if (!inner_comment || fixed_end < 2 || fixed_end > h.size()) return false;
    crc = engines::Crc32(0, h.data() + 2, fixed_end - 2);
    for (size_t end = fixed_end; end < h.size(); ++end) {
        if (uint16_t(crc) == stored) return true;
        crc = engines::Crc32(crc, h.data() + end, 1);
    }
    return false;
}

BlockResult ReadBlock(DataStream& stream, int64_t offset, int64_t file_size, Block& b) {
    if (offset >= file_size) return BlockResult::End;
    uint8_t base[kBaseHeaderSize];
    if (file_size - offset < int64_t(kBaseHeaderSize)) return BlockResult::Bad;
    if (!engines::ReadExactAt(stream, offset, base, kBaseHeaderSize)) return BlockResult::Bad;
    b = Block{};
    b.offset = offset;
    b.type = base[2];
    b.flags = Le16(base + 3);
    b.size = Le16(base + 5);
    // A size below the base header would put the next block where this one starts.
    if (b.size < kBaseHeaderSize || b.size > file_size - offset) return BlockResult::Bad;
    b.header.resize(b.size);
    std::memcpy(b.header.data(), base, kBaseHeaderSize);
    if (b.size > kBaseHeaderSize &&
        stream.Read(b.header.data() + kBaseHeaderSize, b.size - kBaseHeaderSize) != b.size - kBaseHeaderSize)
        return BlockResult::Bad;

    bool inner_comment = false;
    size_t fixed_end = b.size;
    if (b.type == kFileHeader || b.type == kNewSubBlock) {
        const bool large = (b.flags & kLargeSizes) != 0;
        const size_t fixed = large ? kLargeFileHeaderFixed : kFileHeaderFixed;
        if (b.size < fixed) return BlockResult::Bad;
        const size_t name_size = Le16(b.header.data() + 26);
        if (fixed + name_size > b.size) return BlockResult::Bad;
        b.added = Le32(b.header.data() + 7);
        if (large) b.added |= uint64_t(Le32(b.header.data() + 32)) << 32;
        inner_comment = b.type == kFileHeader && (b.flags & kFileComment) != 0;
        fixed_end = fixed + name_size;
    } else {
        if (b.flags & kLongBlock) {
            if (b.size < kBaseHeaderSize + 4) return BlockResult::Bad;
            b.added = Le32(b.header.data() + 7);
        }
        if (b.type == kArchiveHeader) {
            inner_comment = (b.flags & kArchiveComment) != 0;
            fixed_end = std::min<size_t>(kArchiveHeaderSize, b.size);
        }
    }
    if (!HeaderCrcMatches(b.header, inner_comment, fixed_end)) return BlockResult::Bad;
    if (b.added > uint64_t(file_size - offset - int64_t(b.size))) return BlockResult::Bad;
    return BlockResult::Ok;
}

// RAR's compact Unicode name: a high byte, then two flag bits per character choosing a low
// byte alone, a low byte under the high byte, a whole 16-bit unit, or a run taken from the OEM
// name (optionally shifted by a correction).
std::u16string DecodeUnicodeName(const uint8_t* oem, size_t oem_size, const uint8_t* enc, size_t enc_size) {
    std::u16string out;
    if (enc_size == 0) return out;
    size_t pos = 0;
    const unsigned high = enc[pos++];
    unsigned flags = 0;
    int flag_bits = 0;
    const size_t limit = 0xFFFF;
    while (pos < enc_size && out.size() < limit) {
        if (flag_bits == 0) {
            flags = enc[pos++];
            flag_bits = 8;
        }
        switch (flags >> 6) {
        case 0:
            if (pos >= enc_size) return out;
            out.push_back(char16_t(enc[pos++]));
            break;
        case 1:
            if (pos >= enc_size) return out;
            out.push_back(char16_t(enc[pos++] | (high << 8)));
            break;
        case 2:
            if (pos + 1 >= enc_size) return out;
            out.push_back(char16_t(enc[pos] | (enc[pos + 1] << 8)));
            pos += 2;
            break;
        default: {
            if (pos >= enc_size) return out;
            unsigned length = enc[pos++];
            if (length & 0x80) {
                if (pos >= enc_size) return out;
                const unsigned correction = enc[pos++];
                for (length = (length & 0x7F) + 2; length > 0; --length) {
                    size_t i = out.size();
                    if (i >= oem_size) return out;
                    out.push_back(char16_t(((oem[i] + correction) & 0xFF) | (high << 8)));
                }
            } else {
                for (length += 2; length > 0; --length) {
                    size_t i = out.size();
                    if (i >= oem_size) return out;
                    out.push_back(char16_t(oem[i]));
                }
            }
            break;
        }
        }
        flags = (flags << 2) & 0xFF;
        flag_bits -= 2;
    }
    return out;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c == 0) break;
        AppendUtf8(out, c);
    }
    return out;
}

bool DosLikeHost(uint8_t host) { return host == kHostMsDos || host == kHostOs2 || host == kHostWin32; }

RarMember MemberOf(const Block& b, int volume, int block_index) {
    ByteReader r(b.header.data() + kBaseHeaderSize, b.header.size() - kBaseHeaderSize);
    RarMember m;
    uint64_t packed = r.U32();
    uint64_t unpacked = r.U32();
    m.host_os = r.U8();
    m.crc32 = r.U32();
    uint32_t dos_time = r.U32();
    m.version = r.U8();
    m.method = r.U8();
    size_t name_size = r.U16();
    m.attributes = r.U32();
    m.flags = b.flags;
    if (b.flags & kLargeSizes) {
        packed |= uint64_t(r.U32()) << 32;
        unpacked |= uint64_t(r.U32()) << 32;
    }
    m.packed_size = packed;
    m.unpacked_size = unpacked;
    m.name = ShownName(r.Here(), name_size, (b.flags & kUnicodeName) != 0, m.host_os, &m.raw_name);
    m.time = engines::MemberTime::FromDos(uint16_t(dos_time >> 16), uint16_t(dos_time & 0xFFFF));
    m.is_folder = (b.flags & kDictionaryMask) == kDictionaryMask;
    if (!m.is_folder) m.dictionary_kib = 64 << ((b.flags & kDictionaryMask) >> 5);
    m.encrypted = (b.flags & kEncrypted) != 0;
    if (m.host_os == kHostUnix || m.host_os == kHostBeOs) {
        m.mode.kind = engines::MemberMode::Kind::Unix;
        m.mode.bits = m.attributes;
        m.is_symlink = !m.is_folder && (m.attributes & 0xF000) == 0xA000;
        if ((m.attributes & 0xF000) == 0x4000) m.is_folder = true;
    } else {
        m.mode.kind = engines::MemberMode::Kind::Dos;
        m.mode.bits = m.attributes;
        if (m.attributes & 0x10) m.is_folder = true;
    }
    m.block_index = block_index;
    RarPart part;
    part.volume = volume;
    part.header_offset = b.offset;
    part.data_offset = b.offset + int64_t(b.size);
    part.packed_size = packed;
    m.parts.push_back(part);
    m.complete = (b.flags & (kSplitBefore | kSplitAfter)) == 0;
    return m;
}

}  // namespace

std::string ShownName(const uint8_t* field, size_t size, bool unicode_flag, uint8_t host_os,
                      std::string* raw_name) {
    const void* nul = std::memchr(field, 0, size);
    const size_t oem_size = nul ? size_t(static_cast<const uint8_t*>(nul) - field) : size;
    std::string raw(reinterpret_cast<const char*>(field), oem_size);
    if (raw_name) *raw_name = raw;
    if (unicode_flag) {
        if (nul) {
            std::u16string wide = DecodeUnicodeName(field, oem_size, field + oem_size + 1, size - oem_size - 1);
            std::string utf8 = Utf16ToUtf8(wide);
            if (!utf8.empty()) return utf8;
        } else if (IsValidUtf8(raw)) {
            // Later versions store the name as UTF-8 alone.
            return raw;
        }
    }
    if (DosLikeHost(host_os)) return Cp437ToUtf8(raw);
    return GuessToUtf8(raw);
}

namespace {

// Where the marker stands: 0 for a plain archive; -1 when the file is not RAR.
int64_t FindRarStart(DataStream& stream) {
    const int64_t size = stream.Size();
    uint8_t head[7];
    if (size < 7 || !engines::ReadExactAt(stream, 0, head, 7)) return -1;
    if (std::memcmp(head, kMarker, 7) == 0) return 0;
    // A self-extractor: a program ("MZ") with the archive appended. The marker may also occur
    // inside the program, so a place counts only when a sound archive header follows it.
    if (head[0] != 'M' || head[1] != 'Z') return -1;
    const size_t span = size_t(std::min<int64_t>(size, kSfxSearchLimit));
    std::vector<uint8_t> bytes(span);
    if (!engines::ReadExactAt(stream, 0, bytes.data(), span)) return -1;
    for (size_t at = 1; at + 7 <= span; ++at) {
        const uint8_t* hit = static_cast<const uint8_t*>(std::memchr(bytes.data() + at, kMarker[0], span - at));
        if (!hit) break;
        at = size_t(hit - bytes.data());
        if (at + 7 > span || std::memcmp(hit, kMarker, 7) != 0) continue;
        Block b;
        if (ReadBlock(stream, int64_t(at) + 7, size, b) == BlockResult::Ok && b.type == kArchiveHeader)
            return int64_t(at);
    }
    return -1;
}

}  // namespace

DirectoryStatus ReadRarDirectory(DataStream& stream, RarDirectory& out,
                                 const engines::DirectoryProgress& progress, const std::string& path,
                                 const VolumeOpener& open_volume) {
    out = RarDirectory{};
    const int64_t start = FindRarStart(stream);
    if (start < 0) return DirectoryStatus::NotThisFormat;

    out.volumes.push_back(path);
    std::unique_ptr<DataStream> owned;  // a later volume's stream
    DataStream* current = &stream;
    int volume = 0;
    int block_index = 0;
    for (;;) {
        const int64_t file_size = current->Size();
        // Only the first volume can be a self-extractor.
        int64_t offset = (volume == 0 ? start : 0) + 7;
        bool volume_ended = false;
        while (!volume_ended) {
            if (progress && !progress(offset)) return DirectoryStatus::Cancelled;
            Block b;
            BlockResult r = ReadBlock(*current, offset, file_size, b);
            if (r == BlockResult::End) break;
            if (r == BlockResult::Bad) {
                if (out.members.empty()) return DirectoryStatus::NotThisFormat;
                if (!out.members.empty() && !out.members.back().parts.empty() &&
                    (out.members.back().flags & kSplitAfter))
                    out.members.back().complete = false;
                return DirectoryStatus::Truncated;
            }
            if (b.type < kMarkerBlock || b.type > kEndBlock) {
                // Not a block of this format: before any member the file is not RAR at all.
                if (out.members.empty()) return DirectoryStatus::NotThisFormat;
                return DirectoryStatus::Truncated;
            }
            if (b.type == kArchiveHeader && volume == 0) out.archive_flags = b.flags;
            if (b.type == kFileHeader) {
                RarMember m = MemberOf(b, volume, block_index);
                RarMember* last = out.members.empty() ? nullptr : &out.members.back();
                if ((b.flags & kSplitBefore) && last && !last->parts.empty() &&
                    last->raw_name == m.raw_name && !last->complete &&
                    last->parts.back().volume != volume) {
                    // The next part of the member the previous volume ended in.
                    last->parts.push_back(m.parts.front());
                    last->packed_size += m.parts.front().packed_size;
                    if (!(b.flags & kSplitAfter)) {
                        last->crc32 = m.crc32;
                        last->unpacked_size = m.unpacked_size;
                        last->complete = (last->flags & kSplitBefore) == 0;
                    }
                } else {
                    // A first part (or a member whose first part is in a volume not read).
                    // RAR 1.5 marks a solid archive in its archive header only: every member
                    // after the first continues the one before.
                    m.solid = (b.flags & kSolidFile) ||
                              (m.version < 20 && (out.archive_flags & kArchiveSolid) && !out.members.empty());
                    out.members.push_back(std::move(m));
                }
            }
            ++block_index;
            if (b.type == kEndBlock) {
                volume_ended = true;
                break;
            }
            offset = b.offset + int64_t(b.size) + int64_t(b.added);
        }
        // The set goes on in the next volume when this one is a volume of it and that file
        // exists.
        if (!open_volume || !(out.archive_flags & kArchiveVolume) || volume + 1 >= kMaxVolumes ||
            out.volumes.back().empty())
            break;
        const std::string& here = out.volumes.back();
        std::string next;
        if (out.archive_flags & kArchiveNewNumbering) next = NextVolumeNameNew(here);
        if (next.empty()) next = NextVolumeNameOld(here);
        std::unique_ptr<DataStream> s = open_volume(next);
        if (!s) break;
        uint8_t m2[7];
        if (s->Size() < 7 || !engines::ReadExactAt(*s, 0, m2, 7) || std::memcmp(m2, kMarker, 7) != 0) break;
        owned = std::move(s);
        current = owned.get();
        out.volumes.push_back(next);
        ++volume;
    }
    return DirectoryStatus::Ok;
}

}  // namespace quorbel::rar
