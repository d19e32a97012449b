#pragma once
// In-memory decoding of one gzip member (RFC 1952); zlib does the raw
// DEFLATE inflation and the CRC-32, the framing is checked here.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "core/byte_buffer.h"
#include "core/io_error.h"

namespace korvane {

// Decodes the first gzip member of `input` and returns exactly its data.
// Nothing after the member's 8-byte trailer is looked at: a second member,
// padding or garbage there is ignored. The first defect met in input order
// is the error:
//   UnexpectedEof, no message: fewer than the 10 fixed header bytes, or the
//     input ends inside XLEN, the extra data, the name, the comment, the
//     header CRC or the trailer;
//   InvalidInput "invalid gzip header": ID1/ID2 not 1F 8B, CM not 8, or a
//     reserved FLG bit (0x20, 0x40, 0x80) set;
//   InvalidInput "gzip header field too long": a name or comment over 65,535 bytes;
//   InvalidInput "corrupt gzip stream does not have a matching checksum": the
//     header CRC, the trailer CRC-32 or the trailer length does not match;
//   InvalidInput "corrupt deflate stream": invalid DEFLATE data;
//   UnexpectedEof "incomplete deflate stream": the input ends before the
//     final DEFLATE block is complete;
//   OutOfMemory, no message: the output buffer cannot grow, because the
//     system has no memory to commit or because the output outgrows the
//     buffer's reservation of address space (ByteBuffer::kDefaultReservation,
//     1 GiB: larger members cannot be decoded).
// The buffer grows in place by doubling its committed pages, never by
// copying; at the end its capacity is its size rounded up to whole pages (the
// pages beyond are handed back). On error no partial output is returned. The
// fixed working memory (the 32 KiB staging buffer, zlib's state and window,
// the output's reservation with its first page, which holds the first
// 4,096 bytes of output) is not an error value: failing to get it ends the
// process through std::terminate. `input` is only read, and not kept; the
// output's size is never taken from the trailer. Example: the 20 bytes
// 1f 8b 08 00 00 00 00 00 00 ff 03 00 00 00 00 00 00 00 00 00 decode to an
// empty buffer.
[[nodiscard]] IoResult<ByteBuffer> gunzip(std::span<const std::uint8_t> input) noexcept;

// Restores the normal reservation of gunzip's output buffers.
inline constexpr std::size_t kNoGrowthFailure = std::numeric_limits<std::size_t>::max();

// Test hook: while set, gunzip's output buffers reserve only `max_capacity`
// bytes (rounded up to whole pages, at least one) instead of 1 GiB, so that
// output beyond that fails exactly as output beyond the real reservation
// does: OutOfMemory. Process-wide; tests undo it with kNoGrowthFailure (a
// scoped helper).
void set_growth_failure_for_testing(std::size_t max_capacity) noexcept;

}  // namespace korvane
