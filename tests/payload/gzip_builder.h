#pragma once
// Building gzip members byte by byte for the decoder's tests and fuzz seeds.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::gz {

using Bytes = std::vector<std::uint8_t>;

// Bytes from hex text: pairs of hex digits, spaces ignored ("1f 8b 08").
[[nodiscard]] Bytes hex(std::string_view text);
[[nodiscard]] Bytes bytes_of(std::string_view text);
[[nodiscard]] Bytes concat(std::initializer_list<std::span<const std::uint8_t>> parts);

// Deterministic test data: `size` bytes mixing text-like runs, repeats and noise.
[[nodiscard]] Bytes sample_data(std::size_t size, std::uint32_t seed = 1);

// Raw DEFLATE (no wrapper) of `data` made by zlib at `level` with `strategy`
// (Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY...).
[[nodiscard]] Bytes zlib_deflate(std::span<const std::uint8_t> data, int level, int strategy);

// Raw DEFLATE of `data` as stored blocks of at most `block_size` bytes (at
// least one block, the last one final), written by hand.
[[nodiscard]] Bytes stored_blocks(std::span<const std::uint8_t> data, std::size_t block_size = 65535);

// DEFLATE bits, least significant bit first, as RFC 1951 packs them.
class BitWriter {
 public:
  // The low `count` bits of `value`, low bit first (header fields, extra bits).
  void bits(std::uint32_t value, int count);
  // A Huffman code of `length` bits, most significant bit first.
  void code(std::uint32_t value, int length);
  // One fixed-Huffman literal/length symbol (0-287).
  void fixed_symbol(int symbol);
  // Pads to a byte boundary with zero bits and returns the bytes.
  [[nodiscard]] Bytes finish();

 private:
  Bytes out_;
  std::uint32_t acc_ = 0;
  int held_ = 0;
};

// The three-bit block type of the first DEFLATE block: 0 stored, 1 fixed, 2 dynamic.
[[nodiscard]] int first_block_type(std::span<const std::uint8_t> deflate);

struct Header {
  std::uint8_t flags = 0;  // FLG as written, optional parts included only by the fields below
  std::uint32_t mtime = 0;
  std::uint8_t xfl = 0;
  std::uint8_t os = 255;
  std::optional<Bytes> extra = std::nullopt;         // sets FEXTRA
  std::optional<std::string> name = std::nullopt;    // sets FNAME
  std::optional<std::string> comment = std::nullopt; // sets FCOMMENT
  bool header_crc = false;            // sets FHCRC and appends the CRC16
  std::uint16_t header_crc_xor = 0;   // damages the stored CRC16
};

// The header bytes for `h`.
[[nodiscard]] Bytes header(const Header& h);
// CRC-32 and length modulo 2^32 of `data`, little-endian.
[[nodiscard]] Bytes trailer(std::span<const std::uint8_t> data);
// header(h) + deflate + trailer(data).
[[nodiscard]] Bytes member(std::span<const std::uint8_t> data, std::span<const std::uint8_t> deflate,
                           const Header& h = {});
// A member of `data` compressed by zlib at its default level.
[[nodiscard]] Bytes member(std::span<const std::uint8_t> data, const Header& h = {});

}  // namespace korvane::gz
