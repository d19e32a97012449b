#include <windows.h>

#include "setup/win_services.h"
#include "win/wide.h"

namespace korvane {

bool ntdll_loaded() { return ::GetModuleHandleW(L"NTDLL.DLL") != nullptr; }

MessageAnswer format_message(std::uint32_t flags, bool from_ntdll, std::uint32_t code) {
  constexpr DWORD kUnits = 2048;
  std::u16string buffer(kUnits, u'\0');
  const HMODULE source = from_ntdll ? ::GetModuleHandleW(L"NTDLL.DLL") : nullptr;
  const DWORD result = ::FormatMessageW(flags, source, code, 0, win::wide(buffer.data()), kUnits,
                                        nullptr);
  const DWORD last_error = ::GetLastError();
  buffer.resize(result <= kUnits ? result : kUnits);
  return MessageAnswer{result, last_error, std::move(buffer)};
}

static_assert(kFormatFromSystemIgnoreInserts ==
              (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS));
static_assert(kFormatFromHmodule == FORMAT_MESSAGE_FROM_HMODULE);

}  // namespace korvane
