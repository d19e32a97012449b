// Entry point of korvane_setup.exe: the whole run, then exit status 0.

#include <windows.h>

#include <new>

#include "setup/run.h"
#include "setup/win_services.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Installers run from the Downloads folder: never load a DLL planted there.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  try {
    auto host = korvane::make_windows_host();
    korvane::run_setup(*host);
  } catch (const std::bad_alloc&) {
    // The fixed working memory could not be had: end without a box.
    ::ExitProcess(static_cast<UINT>(0xC0000017));  // STATUS_NO_MEMORY
  }
  ::ExitProcess(0);
}
