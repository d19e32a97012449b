// Stand-in for Korvane.exe, so that a fresh clone builds a working
// installer. It imports from WebView2Loader.dll at load time as the real
// application does, appends a record for the end-to-end tests when asked to
// (README.md), and otherwise shows a small window until it is closed.

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "webview2_loader.h"

namespace korvane::standin {
namespace {

// Exit statuses besides 0.
constexpr int kRecordFailed = 2;
constexpr int kWindowFailed = 3;

const wchar_t* wide(const std::u16string& text) noexcept {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

struct CloseHandleDeleter {
  void operator()(HANDLE handle) const noexcept { ::CloseHandle(handle); }
};
// Owns a handle whose invalid value is INVALID_HANDLE_VALUE (CreateFileW's).
using UniqueFile = std::unique_ptr<void, CloseHandleDeleter>;

[[nodiscard]] UniqueFile own_file(HANDLE handle) noexcept {
  return UniqueFile(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// The value of the variable `name`; nullopt when it is not set (an empty
// value is a value).
[[nodiscard]] std::optional<std::u16string> env_var(const char16_t* name) {
  std::u16string value(64, u'\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(name),
                                              reinterpret_cast<wchar_t*>(value.data()),
                                              static_cast<DWORD>(value.size()));
    if (n == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::u16string();
    }
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    value.resize(n);  // n counts the terminating NUL here
  }
}

[[nodiscard]] std::u16string current_dir() {
  std::u16string dir(MAX_PATH, u'\0');
  for (;;) {
    const DWORD n =
        ::GetCurrentDirectoryW(static_cast<DWORD>(dir.size()), reinterpret_cast<wchar_t*>(dir.data()));
    if (n == 0) return std::u16string();
    if (n < dir.size()) {
      dir.resize(n);
      return dir;
    }
    dir.resize(n);
  }
}

// UTF-8 of `units`; an unpaired surrogate becomes U+FFFD.
[[nodiscard]] std::string utf8(std::u16string_view units) {
  if (units.empty()) return std::string();
  const auto* src = reinterpret_cast<const wchar_t*>(units.data());
  const int count = static_cast<int>(units.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, src, count, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, src, count, out.data(), n, nullptr, nullptr);
  return out;
}

// A record field keeps to its line: '%', CR and LF are written as %25,
// %0D and %0A; every other byte stays as it is.
[[nodiscard]] std::string field(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '%': out += "%25"; break;
      case '\r': out += "%0D"; break;
      case '\n': out += "%0A"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

// The record of this start: working directory, command line and
// KORVANE_STANDIN_PROBE, then an empty line.
[[nodiscard]] std::string make_record() {
  const std::optional<std::u16string> probe = env_var(u"KORVANE_STANDIN_PROBE");
  std::string record = "cwd=" + field(utf8(current_dir())) + "\n";
  record += "cmdline=" + field(utf8(reinterpret_cast<const char16_t*>(::GetCommandLineW()))) + "\n";
  record += "probe=" + (probe ? field(utf8(*probe)) : std::string("<unset>")) + "\n\n";
  return record;
}

// Appends `record` to the file at `path` in one write, so that records of
// several copies never interleave. False when the file cannot be written.
[[nodiscard]] bool append_record(const std::u16string& path, const std::string& record) noexcept {
  UniqueFile file = own_file(::CreateFileW(wide(path), FILE_APPEND_DATA,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return ::WriteFile(file.get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr) &&
         written == record.size();
}

[[nodiscard]] std::u16string hex32(std::uint32_t value) {
  std::u16string text = u"0x00000000";
  for (std::size_t i = 0; i < 8; ++i) {
    text[9 - i] = u"0123456789ABCDEF"[(value >> (4 * i)) & 0xF];
  }
  return text;
}

// What the window says; set before the window is created.
std::u16string g_text;

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(window, &paint);
      RECT area;
      ::GetClientRect(window, &area);
      ::InflateRect(&area, -16, -16);
      ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
      ::SetBkMode(dc, TRANSPARENT);
      ::DrawTextW(dc, wide(g_text), -1, &area, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wparam, lparam);
  }
}

// Shows the window and runs its message loop until it is closed.
[[nodiscard]] int run_window(HINSTANCE instance, HRESULT version_result) {
  g_text = u"This is a stand-in build of Korvane, made to test its installer. "
           u"It is not the music player.\n\n"
           u"GetAvailableCoreWebView2BrowserVersionString returned " +
           hex32(static_cast<std::uint32_t>(version_result)) + u".";
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = window_proc;
  cls.hInstance = instance;
  cls.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
  cls.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  cls.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  cls.lpszClassName = L"KorvaneStandin";
  if (::RegisterClassExW(&cls) == 0) return kWindowFailed;
  HWND window = ::CreateWindowExW(0, cls.lpszClassName, L"Korvane (stand-in build)",
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 460, 170, nullptr, nullptr, instance,
                                  nullptr);
  if (window == nullptr) return kWindowFailed;
  ::ShowWindow(window, SW_SHOWNORMAL);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return 0;
}

[[nodiscard]] int run(HINSTANCE instance) {
  // Taken through a volatile so that the import stays, as in the real
  // application; the stand-in never creates an environment.
  auto* volatile create_environment = &CreateCoreWebView2EnvironmentWithOptions;
  static_cast<void>(create_environment);

  LPWSTR version = nullptr;
  const HRESULT version_result = GetAvailableCoreWebView2BrowserVersionString(nullptr, &version);
  if (version != nullptr) ::CoTaskMemFree(version);

  if (const std::optional<std::u16string> path = env_var(u"KORVANE_STANDIN_RECORD");
      path && !path->empty()) {
    if (!append_record(*path, make_record())) return kRecordFailed;
  }
  if (env_var(u"KORVANE_STANDIN_EXIT") == u"1") return 0;
  return run_window(instance, version_result);
}

}  // namespace
}  // namespace korvane::standin

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  return korvane::standin::run(instance);
}
