// Entry point of korvane_setup.exe: the whole run, then exit status 0.

#include <windows.h>

#include <exception>
#include <new>

#include "setup/run.h"
#include "setup/win_services.h"

namespace {

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
  try {
    auto host = korvane::make_windows_host();
    korvane::run_setup(*host);
  } catch (const std::bad_alloc&) {
    end_without_box();
  }
  ::ExitProcess(0);
}
