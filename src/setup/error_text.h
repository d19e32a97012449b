#pragma once
// The user-visible text of an I/O error.

#include <cstdint>
#include <string>

#include "core/io_error.h"

namespace korvane {

// The system's message table, as FormatMessageW reads it.
class MessageSource {
 public:
  struct Answer {
    std::uint32_t result;      // FormatMessageW's return value: units written, or 0
    std::uint32_t last_error;  // GetLastError right after the call
    std::u16string text;       // the units written
  };
  virtual ~MessageSource() = default;
  // Whether NTDLL.DLL is already loaded (GetModuleHandleW).
  [[nodiscard]] virtual bool has_ntdll() = 0;
  // FormatMessageW with `flags`, the NTDLL.DLL module as source when
  // `from_ntdll`, `code`, language 0 and a cleared 2048-unit buffer.
  [[nodiscard]] virtual Answer format_message(std::uint32_t flags, bool from_ntdll,
                                              std::uint32_t code) = 0;
};

inline constexpr std::uint32_t kFormatFromSystemIgnoreInserts = 0x1200;
inline constexpr std::uint32_t kFormatFromHmodule = 0x0800;

// The system message for OS error `code`, trimmed of trailing space, tab, LF,
// FF and CR; a fallback text when there is none or it is not valid UTF-16.
// Codes with bit 0x10000000 are NT statuses, looked up in NTDLL.DLL.
[[nodiscard]] std::string system_message(std::int32_t code, MessageSource& source);

// "<system message> (os error <code>)" for OS errors; the message alone for
// errors that carry one; the kind's description for bare kinds. Never fails.
[[nodiscard]] std::string os_error_text(const IoError& error, MessageSource& source);

}  // namespace korvane
