#pragma once
// Build-machine helpers for the installer's payload files: packing a file
// into one gzip member, and checking that a payload file is exactly one
// well-formed member.

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

namespace korvane::tools {

// A failure of a build tool: the whole text the build log shows.
template <class T>
using ToolResult = std::expected<T, std::string>;

using Bytes = std::vector<std::uint8_t>;

// The 10-byte header every packed member starts with: no flags, MTIME 0,
// XFL 2 (maximum compression), OS 0 (FAT).
inline constexpr std::uint8_t kPackedHeader[10] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 2, 0};

// libdeflate's densest level, the one pack_member uses.
inline constexpr int kPackLevel = 12;

// One gzip member holding `data`: kPackedHeader, raw DEFLATE made by
// libdeflate at kPackLevel (the same bytes on every run), then CRC-32 and
// length modulo 2^32, both little-endian. About 20 s for 40 MB of machine code.
[[nodiscard]] ToolResult<Bytes> pack_member(std::span<const std::uint8_t> data);

// What a payload file holds once it has passed check_payload.
struct PayloadFacts {
  std::uint64_t compressed_size;  // bytes of the file
  std::uint64_t decoded_size;     // bytes of the member's content
  std::uint32_t crc32;            // CRC-32 of the content
};

// Checks that `file` is exactly one gzip member: the installer's own gunzip
// decodes it, zlib's gzip mode decodes it to the same bytes, and no byte
// follows the member's trailer. The error names no file; the caller adds it.
[[nodiscard]] ToolResult<PayloadFacts> check_payload(std::span<const std::uint8_t> file);

// A copy of the single member `file` whose trailer CRC-32 is wrong (its
// first byte inverted); everything else unchanged.
[[nodiscard]] ToolResult<Bytes> damage_trailer_crc(std::span<const std::uint8_t> file);

}  // namespace korvane::tools
