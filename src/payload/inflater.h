#pragma once
// zlib behind a small owner: raw DEFLATE inflation and the CRC-32 function.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>

struct z_stream_s;

namespace korvane {

// Owns a zlib inflater for raw DEFLATE (RFC 1951: no zlib or gzip wrapper, no
// preset dictionary, 32 KiB window) and ends it with inflateEnd. Move-only;
// the z_stream lives on the heap because zlib keeps a pointer back to it.
class Inflater {
 public:
  enum class Status : std::uint8_t {
    Progress,   // more input or more output room is needed
    StreamEnd,  // the final block is complete
    DataError,  // invalid DEFLATE data, a bad stream state or a dictionary request
  };
  struct Step {
    std::size_t consumed;  // bytes taken from the front of the input
    std::size_t produced;  // bytes written to the front of the output
    Status status;
  };

  // A fresh inflater. Ends the process when zlib cannot allocate its state,
  // like any other failure to get fixed working memory.
  [[nodiscard]] static Inflater raw() noexcept;

  // Inflates from `input` into `output` (each at most 4 GiB - 1 bytes).
  // `finish` says that no input follows `input`. Ends the process when zlib
  // cannot allocate its window.
  [[nodiscard]] Step inflate(std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                             bool finish) noexcept;

 private:
  struct End {
    void operator()(z_stream_s* stream) const noexcept;
  };
  explicit Inflater(std::unique_ptr<z_stream_s, End> stream) noexcept : stream_(std::move(stream)) {}

  std::unique_ptr<z_stream_s, End> stream_;
};

// zlib's CRC-32 of `bytes` continued from `crc` (0 to start), so that
// crc32_update(crc32_update(0, a), b) is the CRC-32 of a followed by b.
[[nodiscard]] std::uint32_t crc32_update(std::uint32_t crc, std::span<const std::uint8_t> bytes) noexcept;

}  // namespace korvane
