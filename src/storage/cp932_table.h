#pragma once

#include <cstddef>
#include <cstdint>

// CP932 as glibc's iconv maps it, generated at build time (cp932-table-gen).
namespace tovlane::cp932 {

inline constexpr std::uint16_t kUnmapped = 0xFFFF;
inline constexpr int kLeadBytes = 60;    // 0x81-0x9F and 0xE0-0xFC
inline constexpr int kTrailBytes = 189;  // 0x40-0xFC

// Code points of the bytes 0x80-0xFF standing alone (ASCII is itself).
extern const std::uint16_t kSingleByte[128];
// Code points of the double-byte codes, row by lead byte, column by trail byte.
extern const std::uint16_t kDoubleByte[kLeadBytes * kTrailBytes];
// (code point << 16) | CP932 code for every mapped non-ASCII code point,
// ascending; a code below 0x100 is one byte.
extern const std::size_t kEncodeCount;
extern const std::uint32_t kEncode[];

}  // namespace tovlane::cp932
