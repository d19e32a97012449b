#include "payload/inflater.h"

// next_in as a pointer to const: zlib never writes to its input.
#define ZLIB_CONST
#include <zlib.h>

#include <exception>
#include <limits>

namespace korvane {

void Inflater::End::operator()(z_stream_s* stream) const noexcept {
  inflateEnd(stream);
  delete stream;
}

Inflater Inflater::raw() noexcept {
  // Value-initialised: null zalloc, zfree and opaque select zlib's malloc.
  std::unique_ptr<z_stream_s, End> stream(new z_stream_s());
  // Negative window bits: raw DEFLATE with a 2^15-byte window.
  if (inflateInit2(stream.get(), -15) != Z_OK) {
    // Only a memory error is possible with a matching zlib; the stream holds
    // no state that inflateEnd could release.
    delete stream.release();
    std::terminate();
  }
  return Inflater(std::move(stream));
}

Inflater::Step Inflater::inflate(std::span<const std::uint8_t> input,
                                 std::span<std::uint8_t> output, bool finish) noexcept {
  z_stream_s& s = *stream_;
  s.next_in = input.data();
  s.avail_in = static_cast<uInt>(input.size());
  s.next_out = output.data();
  s.avail_out = static_cast<uInt>(output.size());
  const int ret = ::inflate(&s, finish ? Z_FINISH : Z_NO_FLUSH);
  const Step step{input.size() - s.avail_in, output.size() - s.avail_out, Status::Progress};
  switch (ret) {
    case Z_STREAM_END: return {step.consumed, step.produced, Status::StreamEnd};
    case Z_OK:
    case Z_BUF_ERROR:  // no progress possible, or no room to finish: the caller decides
      return step;
    case Z_MEM_ERROR: std::terminate();
    default:  // Z_DATA_ERROR, Z_STREAM_ERROR, Z_NEED_DICT
      return {step.consumed, step.produced, Status::DataError};
  }
}

std::uint32_t crc32_update(std::uint32_t crc, std::span<const std::uint8_t> bytes) noexcept {
  // zlib answers a null buffer with the initial value, which would restart `crc`.
  if (bytes.empty()) return crc;
  return static_cast<std::uint32_t>(crc32_z(crc, bytes.data(), bytes.size()));
}

}  // namespace korvane
