#pragma once
// The operating-system services of the install sequence, backed by Win32
// (Windows build only).

#include <cstdint>
#include <optional>
#include <span>

#include "core/io_error.h"
#include "core/path.h"
#include "host/paths.h"

namespace korvane {

struct Duration {
  std::uint64_t seconds;
  std::uint32_t nanoseconds;  // 0 to 999,999,999
};

// The value of environment variable `name`; nullopt when unset or unreadable
// (a name holding a NUL counts as unset). Present-but-empty is an empty path.
[[nodiscard]] std::optional<Path> var_os(std::u16string_view name);

// The user's temporary directory (GetTempPath2W where kernel32 has it, else
// GetTempPathW); it normally ends in '\'. Fails only when the query fails.
[[nodiscard]] IoResult<Path> temp_dir();

// The path of the running executable (GetModuleFileNameW, grown until it
// fits); nullopt when the query fails.
[[nodiscard]] std::optional<Path> current_exe();

// FullPathSource backed by GetFullPathNameW.
class SystemFullPath final : public FullPathSource {
 public:
  [[nodiscard]] IoResult<Path> full_path(PathView path) override;
};

// get_long_path with GetFullPathNameW as the source.
[[nodiscard]] IoResult<Path> get_long_path(PathView path, bool prefer_verbatim);

// `path` and every missing parent.
[[nodiscard]] IoResult<void> create_dir_all(PathView path);

// Creates `path` or replaces its whole content with `bytes`. A failure part
// way leaves what was written.
[[nodiscard]] IoResult<void> write(PathView path, std::span<const std::uint8_t> bytes);

// Blocks for `d`, with a high-resolution waitable timer where possible.
void sleep(Duration d) noexcept;

}  // namespace korvane
