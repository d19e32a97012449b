#pragma once
// Conversions between UTF-16 code units and UTF-8 text.

#include <optional>
#include <string>
#include <string_view>

namespace korvane {

// UTF-8 of `units`; nullopt when they hold an unpaired surrogate.
[[nodiscard]] std::optional<std::string> utf16_to_utf8(std::u16string_view units);

// UTF-8 of `units` with each unpaired surrogate unit replaced by U+FFFD
// (one replacement per unit). Never fails; no other change is made.
[[nodiscard]] std::string to_string_lossy(std::u16string_view units);

// UTF-16 of UTF-8 `text`, characters above U+FFFF as surrogate pairs. The
// installer's texts are valid UTF-8; an invalid byte becomes U+FFFD.
[[nodiscard]] std::u16string utf8_to_utf16(std::string_view text);

}  // namespace korvane
