#pragma once
// The five functions WebView2Loader.dll exports, with the loader's calling
// convention and argument types: the stand-in loader defines them, the
// stand-in application imports them.

#include <windows.h>

struct ICoreWebView2EnvironmentOptions;
struct ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler;

#if defined(KORVANE_STANDIN_LOADER)
#define KORVANE_LOADER_API extern "C"  // exported by name through loader.def
#else
#define KORVANE_LOADER_API extern "C" __declspec(dllimport)
#endif

// Starts creating a browser environment; the real loader reports the result
// through `created_handler`. Out-of-band results: an HRESULT.
KORVANE_LOADER_API HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browser_executable_folder, PCWSTR user_data_folder,
    ICoreWebView2EnvironmentOptions* environment_options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* created_handler);

// CreateCoreWebView2EnvironmentWithOptions with every optional argument null.
KORVANE_LOADER_API HRESULT STDAPICALLTYPE CreateCoreWebView2Environment(
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* created_handler);

// Sets *version_info to the installed runtime's version, a string the caller
// frees with CoTaskMemFree, or to null when there is none.
KORVANE_LOADER_API HRESULT STDAPICALLTYPE GetAvailableCoreWebView2BrowserVersionString(
    PCWSTR browser_executable_folder, LPWSTR* version_info);

// As GetAvailableCoreWebView2BrowserVersionString, honouring `environment_options`.
KORVANE_LOADER_API HRESULT STDAPICALLTYPE GetAvailableCoreWebView2BrowserVersionStringWithOptions(
    PCWSTR browser_executable_folder, ICoreWebView2EnvironmentOptions* environment_options,
    LPWSTR* version_info);

// Sets *result below, at or above 0 as `version1` is older than, equal to or
// newer than `version2`.
KORVANE_LOADER_API HRESULT STDAPICALLTYPE CompareBrowserVersions(PCWSTR version1, PCWSTR version2,
                                                                 int* result);
