#include "host/sid.h"

namespace korvane {

bool is_sid_text(std::u16string_view text) noexcept {
  if (!text.starts_with(u'S')) return false;
  std::size_t groups = 0;
  std::size_t i = 1;
  while (i < text.size()) {
    if (text[i] != u'-') return false;
    const std::size_t first_digit = ++i;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') ++i;
    if (i == first_digit) return false;
    ++groups;
  }
  return groups >= 2;
}

}  // namespace korvane
