#pragma once
// The installer's one error value: an OS error code, a kind with a fixed
// message, or a bare kind. Its user-visible text is os_error_text.

#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>

namespace korvane {

enum class ErrorKind : std::uint8_t {
  Os,  // an operating-system error code (GetLastError, or an NT status converted)
  InvalidInput,
  NotFound,
  UnexpectedEof,
  WriteZero,
  OutOfMemory,
};

class IoError {
 public:
  // `code` as GetLastError gives it; kept as the signed value that texts show.
  [[nodiscard]] static constexpr IoError os(std::uint32_t code) noexcept {
    return IoError(ErrorKind::Os, static_cast<std::int32_t>(code), {});
  }
  // `message` must outlive the error: every message in this program is a literal.
  [[nodiscard]] static constexpr IoError with_message(ErrorKind kind,
                                                      std::string_view message) noexcept {
    return IoError(kind, 0, message);
  }
  [[nodiscard]] static constexpr IoError bare(ErrorKind kind) noexcept {
    return IoError(kind, 0, {});
  }

  [[nodiscard]] constexpr ErrorKind kind() const noexcept { return kind_; }
  [[nodiscard]] constexpr bool is_os() const noexcept { return kind_ == ErrorKind::Os; }
  // Meaningful only when is_os().
  [[nodiscard]] constexpr std::int32_t os_code() const noexcept { return code_; }
  // Empty for OS errors and bare kinds.
  [[nodiscard]] constexpr std::string_view message() const noexcept { return message_; }

  friend constexpr bool operator==(const IoError&, const IoError&) = default;

 private:
  constexpr IoError(ErrorKind kind, std::int32_t code, std::string_view message) noexcept
      : kind_(kind), code_(code), message_(message) {}

  ErrorKind kind_;
  std::int32_t code_;
  std::string_view message_;
};

template <class T>
using IoResult = std::expected<T, IoError>;

// The short description of a bare kind, as os_error_text shows it.
[[nodiscard]] std::string_view kind_description(ErrorKind kind) noexcept;

// Messages shared by more than one subsystem.
inline constexpr std::string_view kNulInWinApiString = "strings passed to WinAPI cannot contain NULs";
inline constexpr std::string_view kNulInData = "nul byte found in provided data";

// The one refusal of a NUL unit in a text bound for Windows: InvalidInput
// with `message` (kNulInWinApiString or kNulInData) when `text` holds one.
[[nodiscard]] constexpr std::optional<IoError> nul_error(std::u16string_view text,
                                                         std::string_view message) noexcept {
  if (text.find(u'\0') == std::u16string_view::npos) return std::nullopt;
  return IoError::with_message(ErrorKind::InvalidInput, message);
}

}  // namespace korvane
