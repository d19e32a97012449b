#include "gzip_member.h"

#include <zlib.h>

#include <algorithm>

#include "core/io_error.h"
#include "payload/gunzip.h"

namespace korvane::tools {
namespace {

// zlib counts in uInt; the inputs are fed in pieces no larger than this.
constexpr std::size_t kPiece = 1u << 20;

// Owns a z_stream set up for deflate or inflate and ends it once.
class ZStream {
 public:
  enum class Mode { Deflate, Inflate };

  explicit ZStream(Mode mode) noexcept : mode_(mode) {}
  ZStream(const ZStream&) = delete;
  ZStream& operator=(const ZStream&) = delete;
  ~ZStream() {
    if (!ready_) return;
    if (mode_ == Mode::Deflate) {
      deflateEnd(&stream_);
    } else {
      inflateEnd(&stream_);
    }
  }

  // Raw DEFLATE (no zlib or gzip wrapper), fastest level.
  [[nodiscard]] bool init_raw_deflate() noexcept {
    ready_ = deflateInit2(&stream_, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8,
                          Z_DEFAULT_STRATEGY) == Z_OK;
    return ready_;
  }
  // zlib's own gzip decoding (window bits 16 + 15): gzip members only.
  [[nodiscard]] bool init_gzip_inflate() noexcept {
    ready_ = inflateInit2(&stream_, 16 + MAX_WBITS) == Z_OK;
    return ready_;
  }

  z_stream* get() noexcept { return &stream_; }

 private:
  Mode mode_;
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
  ZStream z(ZStream::Mode::Inflate);
  if (!z.init_gzip_inflate()) return std::unexpected("zlib cannot start inflating");
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
  ZStream z(ZStream::Mode::Deflate);
  if (!z.init_raw_deflate()) return std::unexpected("zlib cannot start deflating");
  z_stream* s = z.get();
  Bytes out(std::begin(kPackedHeader), std::end(kPackedHeader));
  std::vector<std::uint8_t> piece(kPiece);
  std::size_t fed = 0;
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    if (s->avail_in == 0 && fed < data.size()) {
      const std::size_t n = std::min(kPiece, data.size() - fed);
      s->next_in = const_cast<Bytef*>(data.data() + fed);
      s->avail_in = static_cast<uInt>(n);
      fed += n;
    }
    const int flush = (fed == data.size()) ? Z_FINISH : Z_NO_FLUSH;
    s->next_out = piece.data();
    s->avail_out = static_cast<uInt>(piece.size());
    rc = deflate(s, flush);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
      return std::unexpected("zlib fails to deflate: error " + std::to_string(rc));
    }
    out.insert(out.end(), piece.data(), s->next_out);
  }
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
