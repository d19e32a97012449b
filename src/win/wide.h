#pragma once
// UTF-16 strings at the Win32 boundary. char16_t and wchar_t are both 16-bit
// code units on Windows; the conversion is a view, not a copy.

#include <windows.h>

#include <string>
#include <string_view>

#include "core/io_error.h"
#include "core/fill_buf.h"

namespace korvane::win {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

[[nodiscard]] inline const wchar_t* wide(const std::u16string& s) noexcept {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}
[[nodiscard]] inline wchar_t* wide(char16_t* s) noexcept { return reinterpret_cast<wchar_t*>(s); }

// fill_utf16_buf over a Win32 call `f(wchar_t* buffer, DWORD size) -> DWORD`,
// with the last error cleared before and read right after each call.
template <class F>
[[nodiscard]] IoResult<std::u16string> fill_wide_buf(F&& f) {
  return fill_utf16_buf([&](char16_t* buffer, std::uint32_t size) {
    ::SetLastError(0);
    const DWORD result = f(wide(buffer), static_cast<DWORD>(size));
    return FillAnswer{result, ::GetLastError()};
  });
}

}  // namespace korvane::win
