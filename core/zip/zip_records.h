// ZIP record layouts (PKWARE APPNOTE), as this program reads and writes them.
#pragma once

#include <cstdint>

namespace quorbel::zip {

inline constexpr uint32_t kLocalHeaderSig = 0x04034b50;
inline constexpr uint32_t kCentralSig = 0x02014b50;
inline constexpr uint32_t kEndSig = 0x06054b50;
inline constexpr uint32_t kZip64EndSig = 0x06064b50;
inline constexpr uint32_t kZip64LocatorSig = 0x07064b50;
inline constexpr uint32_t kSpanMarker = 0x08074b50;  // first disk of a multi-disk set
inline constexpr uint32_t kDataDescriptorSig = 0x08074b50;

inline constexpr size_t kLocalHeaderSize = 30;
inline constexpr size_t kCentralSize = 46;
inline constexpr size_t kEndSize = 22;
inline constexpr size_t kZip64LocatorSize = 20;
inline constexpr size_t kZip64EndSize = 56;
inline constexpr size_t kMaxEndSearch = 65535 + kEndSize;

// Central directory record field offsets.
namespace central {
inline constexpr size_t kVersionMadeBy = 4;
inline constexpr size_t kVersionNeeded = 6;
inline constexpr size_t kFlags = 8;
inline constexpr size_t kMethod = 10;
inline constexpr size_t kTime = 12;
inline constexpr size_t kDate = 14;
inline constexpr size_t kCrc = 16;
inline constexpr size_t kPacked = 20;
inline constexpr size_t kUnpacked = 24;
inline constexpr size_t kNameLength = 28;
inline constexpr size_t kExtraLength = 30;
inline constexpr size_t kCommentLength = 32;
inline constexpr size_t kDiskStart = 34;
inline constexpr size_t kInternalAttrs = 36;
inline constexpr size_t kExternalAttrs = 38;
inline constexpr size_t kLocalOffset = 42;
}  // namespace central

// Local header field offsets.
namespace local {
inline constexpr size_t kFlags = 6;
inline constexpr size_t kMethod = 8;
inline constexpr size_t kNameLength = 26;
inline constexpr size_t kExtraLength = 28;
}  // namespace local

// End record field offsets.
namespace end {
inline constexpr size_t kDisk = 4;
inline constexpr size_t kCentralDisk = 6;
inline constexpr size_t kEntriesOnDisk = 8;
inline constexpr size_t kTotalEntries = 10;
inline constexpr size_t kCentralSize = 12;
inline constexpr size_t kCentralOffset = 16;
inline constexpr size_t kCommentLength = 20;
}  // namespace end

inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagStrongEncryption = 0x0040;
inline constexpr uint16_t kFlagUtf8 = 0x0800;

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;

inline constexpr uint16_t kExtraZip64 = 0x0001;
inline constexpr uint16_t kExtraUnicodePath = 0x7075;

inline constexpr uint8_t kHostUnix = 3;

}  // namespace quorbel::zip
