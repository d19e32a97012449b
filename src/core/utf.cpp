#include "core/utf.h"

#include <cstdint>

namespace korvane {
namespace {

bool is_high(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Converts; an unpaired surrogate either becomes U+FFFD (lossy) or fails.
bool convert(std::u16string_view units, std::string& out, bool lossy) {
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (is_high(u) && i + 1 < units.size() && is_low(units[i + 1])) {
      const char32_t c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                         (static_cast<char32_t>(units[i + 1]) - 0xDC00);
      append_utf8(out, c);
      ++i;
    } else if (is_high(u) || is_low(u)) {
      if (!lossy) return false;
      append_utf8(out, 0xFFFD);
    } else {
      append_utf8(out, u);
    }
  }
  return true;
}

}  // namespace

std::optional<std::string> utf16_to_utf8(std::u16string_view units) {
  std::string out;
  if (!convert(units, out, false)) return std::nullopt;
  return out;
}

std::string to_string_lossy(std::u16string_view units) {
  std::string out;
  convert(units, out, true);
  return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  const auto cont = [&](std::size_t k) { return k < text.size() && (byte(k) & 0xC0) == 0x80; };
  while (i < text.size()) {
    const std::uint8_t b = byte(i);
    char32_t c = 0xFFFD;
    std::size_t len = 1;
    if (b < 0x80) {
      c = b;
    } else if (b >= 0xC2 && b < 0xE0 && cont(i + 1)) {
      c = (static_cast<char32_t>(b & 0x1F) << 6) | (byte(i + 1) & 0x3F);
      len = 2;
    } else if (b >= 0xE0 && b < 0xF0 && cont(i + 1) && cont(i + 2)) {
      c = (static_cast<char32_t>(b & 0x0F) << 12) | (static_cast<char32_t>(byte(i + 1) & 0x3F) << 6) |
          (byte(i + 2) & 0x3F);
      len = 3;
      if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    } else if (b >= 0xF0 && b < 0xF5 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      c = (static_cast<char32_t>(b & 0x07) << 18) | (static_cast<char32_t>(byte(i + 1) & 0x3F) << 12) |
          (static_cast<char32_t>(byte(i + 2) & 0x3F) << 6) | (byte(i + 3) & 0x3F);
      len = 4;
      if (c < 0x10000 || c > 0x10FFFF) c = 0xFFFD;
    }
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += len;
  }
  return out;
}

}  // namespace korvane
