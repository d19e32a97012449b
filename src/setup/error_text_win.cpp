#include <windows.h>

#include "setup/win_services.h"
#include "win/wide.h"

namespace korvane {

bool SystemMessages::has_ntdll() { return ::GetModuleHandleW(L"NTDLL.DLL") != nullptr; }

MessageSource::Answer SystemMessages::format_message(std::uint32_t flags, bool from_ntdll,
                                                     std::uint32_t code) {
  constexpr DWORD kUnits = 2048;
  std::u16string buffer(kUnits, u'\0');
  const HMODULE source = from_ntdll ? ::GetModuleHandleW(L"NTDLL.DLL") : nullptr;
  const DWORD result = ::FormatMessageW(flags, source, code, 0, win::wide(buffer.data()), kUnits,
                                        nullptr);
  const DWORD last_error = ::GetLastError();
  buffer.resize(result <= kUnits ? result : kUnits);
  return Answer{result, last_error, std::move(buffer)};
}

std::string os_error_text(const IoError& error) {
  SystemMessages messages;
  return os_error_text(error, messages);
}

}  // namespace korvane
