#pragma once
// The program lookup backed by Win32 (Windows build only).

#include <optional>

#include "core/io_error.h"
#include "core/path.h"
#include "host/paths.h"
#include "shell/program_lookup.h"

namespace korvane {

// The system's directories, the process's PATH, and its files.
class SystemProgramProbe final : public ProgramProbe {
 public:
  [[nodiscard]] std::optional<Path> system_dir() override;
  [[nodiscard]] std::optional<Path> windows_dir() override;
  [[nodiscard]] std::optional<Path> path_var() override;
  [[nodiscard]] std::optional<Path> exists(PathView candidate) override;
  [[nodiscard]] IoResult<Path> user_form(PathView path) override;
};

// find_program over the running process.
[[nodiscard]] IoResult<Path> find_program(std::u16string_view program);

// The user form of `candidate` when GetFileAttributesW on it succeeds.
[[nodiscard]] std::optional<Path> program_exists(PathView candidate);

// from_wide_to_user_path with GetFullPathNameW as the source.
[[nodiscard]] IoResult<Path> from_wide_to_user_path(PathView path);

}  // namespace korvane
