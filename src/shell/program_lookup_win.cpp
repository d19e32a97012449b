#include <windows.h>

#include "host/os.h"
#include "shell/program_lookup_win.h"
#include "win/wide.h"

namespace korvane {
namespace {

// A directory query; nullopt when it fails or answers nothing.
template <class F>
std::optional<Path> directory(F&& query) {
  auto dir = win::fill_wide_buf(std::forward<F>(query));
  if (!dir || dir->empty()) return std::nullopt;
  return std::move(*dir);
}

IoResult<Path> user_form(PathView path) { return from_wide_to_user_path(path, full_path); }

std::optional<Path> program_exists(PathView candidate) {
  auto user = user_form(candidate);
  if (!user) return std::nullopt;
  if (::GetFileAttributesW(win::wide(*user)) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return std::move(*user);
}

}  // namespace

ProgramSearch system_program_search() {
  return {
      directory([](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); }),
      directory([](wchar_t* buffer, DWORD size) { return ::GetWindowsDirectoryW(buffer, size); }),
      var_os(u"PATH"),
      program_exists,
      user_form,
  };
}

}  // namespace korvane
