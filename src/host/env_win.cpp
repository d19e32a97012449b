#include <windows.h>

#include "host/os.h"
#include "win/wide.h"

namespace korvane {

std::optional<Path> var_os(std::u16string_view name) {
  if (nul_error(name, kNulInWinApiString)) return std::nullopt;
  const std::u16string terminated(name);
  auto value = win::fill_wide_buf([&](wchar_t* buffer, DWORD size) {
    return ::GetEnvironmentVariableW(win::wide(terminated), buffer, size);
  });
  if (!value) return std::nullopt;  // ERROR_ENVVAR_NOT_FOUND among others
  return std::move(*value);
}

std::optional<Path> current_exe() {
  // A truncated answer fills the buffer exactly; the fill routine then grows it.
  auto path = win::fill_wide_buf(
      [](wchar_t* buffer, DWORD size) { return ::GetModuleFileNameW(nullptr, buffer, size); });
  if (!path || path->empty()) return std::nullopt;
  return std::move(*path);
}

IoResult<Path> temp_dir() {
  using TempPathFn = DWORD(WINAPI*)(DWORD, LPWSTR);
  // Chosen once for the run: GetTempPath2W is newer than some systems.
  static const TempPathFn fn = [] {
    if (HMODULE kernel32 = ::GetModuleHandleA("kernel32")) {
      if (FARPROC p = ::GetProcAddress(kernel32, "GetTempPath2W")) {
        return reinterpret_cast<TempPathFn>(reinterpret_cast<void*>(p));
      }
    }
    return &::GetTempPathW;
  }();
  return win::fill_wide_buf([&](wchar_t* buffer, DWORD size) { return fn(size, buffer); });
}

std::uint32_t process_id() noexcept { return ::GetCurrentProcessId(); }

std::uint64_t tick_count() noexcept { return ::GetTickCount64(); }

}  // namespace korvane
