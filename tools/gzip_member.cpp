#include "gzip_member.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <memory>

#include "core/io_error.h"
#include "payload/gunzip.h"

namespace korvane::tools {
namespace {

// zlib counts in uInt; the inputs are fed in pieces no larger than this.
constexpr std::size_t kPiece = 1u << 20;

// Owns a z_stream set up for zlib's gzip decoding and ends it once.
class GzipInflater {
 public:
  GzipInflater() noexcept = default;
  GzipInflater(const GzipInflater&) = delete;
  GzipInflater& operator=(const GzipInflater&) = delete;
  ~GzipInflater() {
    if (ready_) inflateEnd(&stream_);
  }

  // zlib's own gzip decoding (window bits 16 + 15): gzip members only.
  [[nodiscard]] bool init() noexcept {
    ready_ = inflateInit2(&stream_, 16 + MAX_WBITS) == Z_OK;
    return ready_;
  }

  z_stream* get() noexcept { return &stream_; }

 private:
  bool ready_ = false;
  z_stream stream_{};
};

void put_le32(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint32_t crc_of(std::span<const std::uint8_t> data) {
  uLong crc = crc32(0L, Z_NULL, 0);
  for (std::size_t at = 0; at < data.size(); at += kPiece) {
    const std::size_t n = std::min(kPiece, data.size() - at);
    crc = crc32(crc, data.data() + at, static_cast<uInt>(n));
  }
  return static_cast<std::uint32_t>(crc);
}

// zlib's gzip-mode decoding of the first member of `file`: its content and
// the number of input bytes it took.
struct ZlibMember {
  Bytes content;
  std::uint64_t consumed;
};

ToolResult<ZlibMember> zlib_first_member(std::span<const std::uint8_t> file) {
  GzipInflater z;
  if (!z.init()) return std::unexpected("zlib cannot start inflating");
  z_stream* s = z.get();
  ZlibMember member{{}, 0};
  std::vector<std::uint8_t> out(kPiece);
  std::size_t fed = 0;
  for (;;) {
    if (s->avail_in == 0 && fed < file.size()) {
      const std::size_t n = std::min(kPiece, file.size() - fed);
      // zlib's input pointer is not const; it never writes through it.
      s->next_in = const_cast<Bytef*>(file.data() + fed);
      s->avail_in = static_cast<uInt>(n);
      fed += n;
    }
    s->next_out = out.data();
    s->avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(s, Z_NO_FLUSH);
    member.content.insert(member.content.end(), out.data(), s->next_out);
    if (rc == Z_STREAM_END) break;
    if (rc == Z_BUF_ERROR && s->avail_in == 0 && fed == file.size()) {
      return std::unexpected("zlib finds the member incomplete");
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      return std::unexpected(std::string("zlib rejects the member: ") +
                             (s->msg != nullptr ? s->msg : "error " + std::to_string(rc)));
    }
  }
  member.consumed = fed - s->avail_in;
  return member;
}

}  // namespace

ToolResult<Bytes> pack_member(std::span<const std::uint8_t> data) {
  struct Free {
    void operator()(libdeflate_compressor* c) const noexcept { libdeflate_free_compressor(c); }
  };
  const std::unique_ptr<libdeflate_compressor, Free> compressor(libdeflate_alloc_compressor(kPackLevel));
  if (!compressor) return std::unexpected("libdeflate cannot start compressing (out of memory)");
  // One call over the whole input: libdeflate sees all of it at once.
  const std::size_t bound = libdeflate_deflate_compress_bound(compressor.get(), data.size());
  Bytes out(std::size(kPackedHeader) + bound);
  std::copy(std::begin(kPackedHeader), std::end(kPackedHeader), out.begin());
  const std::size_t size = libdeflate_deflate_compress(compressor.get(), data.data(), data.size(),
                                                       out.data() + std::size(kPackedHeader), bound);
  if (size == 0) return std::unexpected("libdeflate's output does not fit its own bound");
  out.resize(std::size(kPackedHeader) + size);
  put_le32(out, crc_of(data));
  put_le32(out, static_cast<std::uint32_t>(data.size() & 0xFFFFFFFFu));
  return out;
}

ToolResult<PayloadFacts> check_payload(std::span<const std::uint8_t> file) {
  IoResult<ByteBuffer> decoded = gunzip(file);
  if (!decoded) {
    const IoError& e = decoded.error();
    const std::string_view text = e.message().empty() ? kind_description(e.kind()) : e.message();
    return std::unexpected("the installer's decoder rejects it: " + std::string(text));
  }
  ToolResult<ZlibMember> zlib = zlib_first_member(file);
  if (!zlib) return std::unexpected(zlib.error());
  if (!(*decoded == std::span<const std::uint8_t>(zlib->content))) {
    return std::unexpected("the installer's decoder and zlib disagree about its content");
  }
  if (zlib->consumed != file.size()) {
    return std::unexpected(std::to_string(file.size() - zlib->consumed) +
                           " bytes follow the member's trailer (a payload is exactly one member)");
  }
  return PayloadFacts{file.size(), decoded->size(), crc_of(*decoded)};
}

ToolResult<Bytes> damage_trailer_crc(std::span<const std::uint8_t> file) {
  ToolResult<PayloadFacts> facts = check_payload(file);
  if (!facts) return std::unexpected(facts.error());
  Bytes out(file.begin(), file.end());
  out[out.size() - 8] ^= 0xFF;
  return out;
}

}  // namespace korvane::tools
