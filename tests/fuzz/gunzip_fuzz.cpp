// Fuzz target: gunzip never crashes, returns only the errors of its contract,
// and agrees with zlib's own gzip mode wherever the name and comment limits
// do not apply.

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "payload/gunzip.h"

namespace {

using korvane::ErrorKind;
using korvane::IoError;

// zlib's gzip mode (window bits 15 + 16) on `input`: the first member's data
// when it reaches the end of that member with matching checks, else nullopt.
std::optional<std::vector<std::uint8_t>> zlib_gunzip(std::span<const std::uint8_t> input) {
  z_stream s{};
  if (inflateInit2(&s, 31) != Z_OK) std::abort();
  std::vector<std::uint8_t> out(4096);
  s.next_in = const_cast<Bytef*>(input.data());
  s.avail_in = static_cast<uInt>(input.size());
  int ret = Z_OK;
  while (ret == Z_OK) {
    if (s.total_out == out.size()) out.resize(out.size() * 2);
    s.next_out = out.data() + s.total_out;
    s.avail_out = static_cast<uInt>(out.size() - s.total_out);
    ret = inflate(&s, Z_FINISH);
    if (ret == Z_BUF_ERROR && s.avail_out == 0) ret = Z_OK;  // room ran out: grow and go on
  }
  out.resize(s.total_out);
  inflateEnd(&s);
  if (ret != Z_STREAM_END) return std::nullopt;
  return out;
}

bool is_contract_error(const IoError& e) {
  static const IoError kAllowed[] = {
      IoError::bare(ErrorKind::UnexpectedEof),
      IoError::with_message(ErrorKind::InvalidInput, "invalid gzip header"),
      IoError::with_message(ErrorKind::InvalidInput, "gzip header field too long"),
      IoError::with_message(ErrorKind::InvalidInput,
                            "corrupt gzip stream does not have a matching checksum"),
      IoError::with_message(ErrorKind::InvalidInput, "corrupt deflate stream"),
      IoError::with_message(ErrorKind::UnexpectedEof, "incomplete deflate stream"),
  };
  for (const auto& allowed : kAllowed) {
    if (e == allowed) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  const auto ours = korvane::gunzip(input);
  const auto theirs = zlib_gunzip(input);
  if (ours) {
    // Whatever we accept, zlib accepts with the same bytes.
    if (!theirs || !std::ranges::equal(*ours, *theirs)) std::abort();
    return 0;
  }
  if (!is_contract_error(ours.error())) std::abort();
  // A rejection is zlib's too, unless it is the one limit zlib does not have:
  // every other check comes in byte order, so it was met before any overlong field.
  const bool too_long = ours.error().message() == "gzip header field too long";
  if (theirs && !too_long) std::abort();
  return 0;
}
