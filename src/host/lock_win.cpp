#include <windows.h>

#include "host/os.h"
#include "win/handle.h"
#include "win/wide.h"

namespace korvane {

static_assert(kErrorInstallAlreadyRunning == ERROR_INSTALL_ALREADY_RUNNING);

IoResult<win::OwnedMutex> own_named_mutex(std::u16string_view name, std::uint32_t limit_ms) {
  if (auto nul = nul_error(name, kNulInWinApiString)) return std::unexpected(*nul);
  const std::u16string terminated(name);
  const ULONGLONG deadline = ::GetTickCount64() + limit_ms;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    win::UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, win::wide(terminated)));
    if (!mutex) {
      const DWORD error = ::GetLastError();
      // Another account's run holds it, made with a DACL that does not let
      // this account in: wait for it to go, like for any other holder.
      if (error != ERROR_ACCESS_DENIED) return std::unexpected(IoError::os(error));
      if (left == 0) return std::unexpected(IoError::os(kErrorInstallAlreadyRunning));
      ::Sleep(left < 250 ? left : 250);
      continue;
    }
    switch (::WaitForSingleObject(mutex.get(), left)) {
      case WAIT_OBJECT_0:
      case WAIT_ABANDONED:  // its holder ended without letting go: ours now
        return win::OwnedMutex(mutex.release());
      case WAIT_TIMEOUT:
        return std::unexpected(IoError::os(kErrorInstallAlreadyRunning));
      default:
        return std::unexpected(IoError::os(::GetLastError()));
    }
  }
}

CalendarDate local_date() noexcept {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

}  // namespace korvane
