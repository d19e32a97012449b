// Entry point of korvane_setup.exe: the whole run, then its exit status.

#include <windows.h>

#include <exception>
#include <new>

#include "setup/run.h"
#include "setup/win_services.h"
#include "shell/process.h"

namespace {

// How long taskkill and PowerShell are each waited for. A test installer is
// built with a short limit (korvane_add_installer's CHILD_WAIT_LIMIT_MS).
#ifdef KORVANE_CHILD_WAIT_LIMIT_MS
constexpr std::uint32_t kChildWaitLimitMs = KORVANE_CHILD_WAIT_LIMIT_MS;
#else
constexpr std::uint32_t kChildWaitLimitMs = korvane::kChildWaitLimitMs;
#endif

// The fixed working memory could not be had: the process ends here, without
// the run-time's "abnormal termination" box.
[[noreturn]] void end_without_box() noexcept {
  ::ExitProcess(static_cast<UINT>(0xC0000017));  // STATUS_NO_MEMORY
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Installers run from the Downloads folder: never load a DLL planted there.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  std::set_terminate(end_without_box);
  std::uint32_t status = 0;
  try {
    auto host = korvane::make_windows_host(kChildWaitLimitMs);
    status = korvane::run_setup(*host);
  } catch (const std::bad_alloc&) {
    end_without_box();
  }
  ::ExitProcess(status);
}
