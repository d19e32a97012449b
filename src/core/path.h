#pragma once
// A path is UTF-16 code units exactly as Windows delivers them (unpaired
// surrogates possible), without a terminating NUL.

#include <string>
#include <string_view>

namespace korvane {

using Path = std::u16string;
using PathView = std::u16string_view;

[[nodiscard]] constexpr bool is_separator(char16_t c) noexcept { return c == u'\\' || c == u'/'; }

}  // namespace korvane
