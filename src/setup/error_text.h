#pragma once
// The user-visible text of an I/O error.

#include <cstdint>
#include <functional>
#include <string>

#include "core/io_error.h"

namespace korvane {

// What one FormatMessageW call answered.
struct MessageAnswer {
  std::uint32_t result;      // FormatMessageW's return value: units written, or 0
  std::uint32_t last_error;  // GetLastError right after the call
  std::u16string text;       // the units written
};

// FormatMessageW with `flags`, the NTDLL.DLL module as source when
// `from_ntdll`, `code`, language 0 and a cleared 2048-unit buffer.
using FormatMessageFn =
    std::function<MessageAnswer(std::uint32_t flags, bool from_ntdll, std::uint32_t code)>;

// FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, and
// FORMAT_MESSAGE_FROM_HMODULE.
inline constexpr std::uint32_t kFormatFromSystemIgnoreInserts = 0x1200;
inline constexpr std::uint32_t kFormatFromHmodule = 0x0800;

// The system message for OS error `code`, trimmed of trailing space, tab, LF,
// FF and CR; a fallback text when there is none or it is not valid UTF-16.
// Codes with bit 0x10000000 are NT statuses, looked up in NTDLL.DLL when
// `ntdll_loaded` (GetModuleHandleW found it).
[[nodiscard]] std::string system_message(std::int32_t code, bool ntdll_loaded,
                                         const FormatMessageFn& format_message);

// "<system message> (os error <code>)" for OS errors; the message alone for
// errors that carry one; the kind's description for bare kinds. Never fails.
[[nodiscard]] std::string os_error_text(const IoError& error, bool ntdll_loaded,
                                        const FormatMessageFn& format_message);

}  // namespace korvane
