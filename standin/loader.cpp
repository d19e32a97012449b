// Stand-in for WebView2Loader.dll: the loader's five exports, each reporting
// that no WebView2 runtime is installed. Built without the C run-time, so
// that, like the real loader, it imports from KERNEL32 only.

#define KORVANE_STANDIN_LOADER
#include "webview2_loader.h"

namespace {

// What the real loader answers when it finds no runtime.
const HRESULT kNoRuntime = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

}  // namespace

// The DLL's entry point (there is no C run-time to provide one).
extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR, PCWSTR, ICoreWebView2EnvironmentOptions*,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*) {
  return kNoRuntime;
}

HRESULT STDAPICALLTYPE CreateCoreWebView2Environment(
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*) {
  return kNoRuntime;
}

HRESULT STDAPICALLTYPE GetAvailableCoreWebView2BrowserVersionString(PCWSTR, LPWSTR* version_info) {
  if (version_info != nullptr) *version_info = nullptr;
  return kNoRuntime;
}

HRESULT STDAPICALLTYPE GetAvailableCoreWebView2BrowserVersionStringWithOptions(
    PCWSTR, ICoreWebView2EnvironmentOptions*, LPWSTR* version_info) {
  if (version_info != nullptr) *version_info = nullptr;
  return kNoRuntime;
}

HRESULT STDAPICALLTYPE CompareBrowserVersions(PCWSTR, PCWSTR, int* result) {
  if (result != nullptr) *result = 0;
  return kNoRuntime;
}
