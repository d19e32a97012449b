#pragma once
// Registry values as the system stores them: a name, a type and the bytes.
// Pure, so that the values an installation needs are built and compared
// without Windows.

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane {

// The value types in use (REG_SZ, REG_DWORD).
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegDword = 4;

struct RegistryValue {
  std::u16string name;
  std::uint32_t type = 0;
  // The bytes as stored, one char each (std::string, which the installer
  // uses everywhere, rather than another container's code).
  std::string data;

  friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

// A REG_SZ value: `text` as UTF-16LE bytes with the terminating NUL counted,
// as RegSetValueExW wants it and as PowerShell writes a string.
[[nodiscard]] RegistryValue string_value(std::u16string_view name, std::u16string_view text);

// A REG_DWORD value: `number` as four little-endian bytes.
[[nodiscard]] RegistryValue dword_value(std::u16string_view name, std::uint32_t number);

}  // namespace korvane
