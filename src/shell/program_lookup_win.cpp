#include <windows.h>

#include "host/os.h"
#include "shell/dir_query.h"
#include "shell/program_lookup_win.h"
#include "win/wide.h"

namespace korvane {
namespace {

// A Win32 directory query `f(wchar_t*, UINT) -> UINT` under the lookup's
// buffer rule, with the last error cleared before each call.
template <class F>
std::optional<Path> system_query(F&& f) {
  return query_directory([&](char16_t* buffer, std::uint32_t size) {
    ::SetLastError(0);
    const auto result = static_cast<std::uint32_t>(f(win::wide(buffer), size));
    return FillAnswer{result, ::GetLastError()};
  });
}

}  // namespace

std::optional<Path> SystemProgramProbe::system_dir() {
  return system_query(
      [](wchar_t* buffer, std::uint32_t size) { return ::GetSystemDirectoryW(buffer, size); });
}

std::optional<Path> SystemProgramProbe::windows_dir() {
  return system_query(
      [](wchar_t* buffer, std::uint32_t size) { return ::GetWindowsDirectoryW(buffer, size); });
}

std::optional<Path> SystemProgramProbe::path_var() { return var_os(u"PATH"); }

std::optional<Path> SystemProgramProbe::exists(PathView candidate) {
  return program_exists(candidate);
}

IoResult<Path> SystemProgramProbe::user_form(PathView path) {
  return from_wide_to_user_path(path);
}

IoResult<Path> find_program(std::u16string_view program) {
  SystemProgramProbe probe;
  return find_program(program, probe);
}

std::optional<Path> program_exists(PathView candidate) {
  auto user = from_wide_to_user_path(candidate);
  if (!user) return std::nullopt;
  if (::GetFileAttributesW(win::wide(*user)) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return std::move(*user);
}

IoResult<Path> from_wide_to_user_path(PathView path) {
  SystemFullPath source;
  return from_wide_to_user_path(path, source);
}

}  // namespace korvane
