#pragma once
// What each payload must be, checked on its decoded bytes before the build
// embeds it. Each error is one line of reason; the caller names the file.

#include <span>
#include <string>
#include <string_view>

#include "gzip_member.h"

namespace korvane::tools {

// The five functions every WebView2Loader.dll exports.
inline constexpr std::string_view kLoaderExports[] = {
    "CompareBrowserVersions",
    "CreateCoreWebView2Environment",
    "CreateCoreWebView2EnvironmentWithOptions",
    "GetAvailableCoreWebView2BrowserVersionString",
    "GetAvailableCoreWebView2BrowserVersionStringWithOptions",
};

// Korvane.exe: a PE32+ x86-64 executable of the GUI subsystem that imports
// WebView2Loader.dll, whose version resource (fixed file version, with 0 as
// its fourth number, and the ProductVersion string) says `version`; if it is
// signed, the signature still matches it. Returns a short description.
[[nodiscard]] ToolResult<std::string> check_app(std::span<const std::uint8_t> image,
                                                std::string_view version);

// WebView2Loader.dll: a PE32+ x86-64 DLL exporting kLoaderExports; if it is
// signed, the signature still matches it. Returns a short description.
[[nodiscard]] ToolResult<std::string> check_loader(std::span<const std::uint8_t> image);

}  // namespace korvane::tools
