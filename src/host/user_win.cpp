#include <windows.h>
#include <sddl.h>

#include <cstdint>
#include <vector>

#include "host/os.h"
#include "host/sid.h"
#include "win/handle.h"
#include "win/memory.h"

namespace korvane {

IoResult<std::u16string> current_user_sid() {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token)) {
    return std::unexpected(IoError::os(::GetLastError()));
  }
  const win::UniqueHandle token(raw_token);

  // The first call asks for the size. The buffer comes from operator new,
  // aligned for TOKEN_USER's pointer.
  DWORD size = 0;
  if (!::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size)) {
    if (const DWORD error = ::GetLastError(); error != ERROR_INSUFFICIENT_BUFFER) {
      return std::unexpected(IoError::os(error));
    }
  }
  std::vector<std::uint8_t> buffer(size);
  if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    return std::unexpected(IoError::os(::GetLastError()));
  }
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());

  win::LocalMemory<wchar_t> text;
  if (!::ConvertSidToStringSidW(user->User.Sid, text.put())) {
    return std::unexpected(IoError::os(::GetLastError()));
  }
  return std::u16string(reinterpret_cast<const char16_t*>(text.get()));
}

}  // namespace korvane

static_assert(korvane::kErrorInvalidSid == ERROR_INVALID_SID);
