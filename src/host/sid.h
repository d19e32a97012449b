#pragma once
// The text of a security identifier, as ConvertSidToStringSidW writes it.

#include <cstdint>
#include <string_view>

namespace korvane {

// ERROR_INVALID_SID: the error of a SID text that is_sid_text refuses.
inline constexpr std::uint32_t kErrorInvalidSid = 1337;

// True for "S" followed by at least two groups of "-" and one or more
// decimal digits, and nothing else (S-1-5-18, S-1-5-21-…-1001). Such a text
// can stand in a script or a command line without any quoting.
[[nodiscard]] bool is_sid_text(std::u16string_view text) noexcept;

}  // namespace korvane
