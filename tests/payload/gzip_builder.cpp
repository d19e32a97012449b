#include "payload/gzip_builder.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace korvane::gz {

Bytes hex(std::string_view text) {
  Bytes out;
  int high = -1;
  for (const char c : text) {
    if (c == ' ') continue;
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    if (v < 0) throw std::invalid_argument("bad hex digit");
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd number of hex digits");
  return out;
}

Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes concat(std::initializer_list<std::span<const std::uint8_t>> parts) {
  Bytes out;
  for (const auto part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes sample_data(std::size_t size, std::uint32_t seed) {
  using namespace std::string_view_literals;
  // sv literals: some words hold zero bytes.
  static constexpr std::string_view kWords[] = {
      "mov rax, "sv, "call "sv, "push rbp\n"sv, "ret\n"sv, "korvane"sv, "WebView2"sv,
      "\x48\x89\xe5"sv, "\x00\x00\x00\x00"sv, "\xff\x15"sv, "player"sv};
  Bytes out;
  out.reserve(size);
  std::uint32_t x = seed * 2654435761u + 1;
  const auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  while (out.size() < size) {
    const std::uint32_t r = next();
    switch (r % 4) {
      case 0:  // noise
        for (int i = 0; i < 16; ++i) out.push_back(static_cast<std::uint8_t>(next()));
        break;
      case 1:  // a run of one byte
        out.insert(out.end(), 8 + (r >> 8) % 40, static_cast<std::uint8_t>(r >> 16));
        break;
      default: {  // words
        const auto w = kWords[(r >> 8) % std::size(kWords)];
        out.insert(out.end(), w.begin(), w.end());
      }
    }
  }
  out.resize(size);
  return out;
}

Bytes zlib_deflate(std::span<const std::uint8_t> data, int level, int strategy) {
  z_stream s{};
  if (deflateInit2(&s, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) throw std::runtime_error("deflateInit2");
  Bytes out(deflateBound(&s, data.size()) + 16);
  s.next_in = const_cast<Bytef*>(data.data());
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  const int ret = deflate(&s, Z_FINISH);
  deflateEnd(&s);
  if (ret != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(s.total_out);
  return out;
}

Bytes stored_blocks(std::span<const std::uint8_t> data, std::size_t block_size) {
  Bytes out;
  do {
    const std::size_t n = std::min(block_size, data.size());
    const bool final = n == data.size();
    // BFINAL, BTYPE 00, then padding to the byte boundary.
    out.push_back(final ? 1 : 0);
    out.push_back(static_cast<std::uint8_t>(n));
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.push_back(static_cast<std::uint8_t>(~n));
    out.push_back(static_cast<std::uint8_t>(~n >> 8));
    out.insert(out.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
    data = data.subspan(n);
    if (final) break;
  } while (true);
  return out;
}

void BitWriter::bits(std::uint32_t value, int count) {
  for (int i = 0; i < count; ++i) {
    acc_ |= ((value >> i) & 1u) << held_;
    if (++held_ == 8) {
      out_.push_back(static_cast<std::uint8_t>(acc_));
      acc_ = 0;
      held_ = 0;
    }
  }
}

void BitWriter::code(std::uint32_t value, int length) {
  for (int i = length - 1; i >= 0; --i) bits((value >> i) & 1u, 1);
}

void BitWriter::fixed_symbol(int symbol) {
  // The fixed literal/length code of RFC 1951, section 3.2.6.
  const auto s = static_cast<std::uint32_t>(symbol);
  if (symbol <= 143) {
    code(0x30 + s, 8);
  } else if (symbol <= 255) {
    code(0x190 + s - 144, 9);
  } else if (symbol <= 279) {
    code(s - 256, 7);
  } else {
    code(0xC0 + s - 280, 8);
  }
}

Bytes BitWriter::finish() {
  if (held_ != 0) bits(0, 8 - held_);
  return out_;
}

int first_block_type(std::span<const std::uint8_t> deflate) {
  if (deflate.empty()) throw std::invalid_argument("no DEFLATE data");
  return (deflate[0] >> 1) & 3;
}

namespace {

void put_le(Bytes& out, std::uint32_t value, int count) {
  for (int i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

Bytes header(const Header& h) {
  std::uint8_t flags = h.flags;
  if (h.header_crc) flags |= 0x02;
  if (h.extra) flags |= 0x04;
  if (h.name) flags |= 0x08;
  if (h.comment) flags |= 0x10;
  Bytes out{0x1F, 0x8B, 8, flags};
  put_le(out, h.mtime, 4);
  out.push_back(h.xfl);
  out.push_back(h.os);
  if (h.extra) {
    put_le(out, static_cast<std::uint32_t>(h.extra->size()), 2);
    out.insert(out.end(), h.extra->begin(), h.extra->end());
  }
  for (const auto* text : {&h.name, &h.comment}) {
    if (*text) {
      out.insert(out.end(), (*text)->begin(), (*text)->end());
      out.push_back(0);
    }
  }
  if (h.header_crc) {
    const auto crc = static_cast<std::uint32_t>(crc32(0, out.data(), static_cast<uInt>(out.size())));
    put_le(out, (crc & 0xFFFF) ^ h.header_crc_xor, 2);
  }
  return out;
}

Bytes trailer(std::span<const std::uint8_t> data) {
  Bytes out;
  put_le(out, static_cast<std::uint32_t>(crc32_z(0, data.data(), data.size())), 4);
  put_le(out, static_cast<std::uint32_t>(data.size()), 4);
  return out;
}

Bytes member(std::span<const std::uint8_t> data, std::span<const std::uint8_t> deflate, const Header& h) {
  return concat({header(h), deflate, trailer(data)});
}

Bytes member(std::span<const std::uint8_t> data, const Header& h) {
  return member(data, zlib_deflate(data, Z_DEFAULT_COMPRESSION, Z_DEFAULT_STRATEGY), h);
}

}  // namespace korvane::gz
