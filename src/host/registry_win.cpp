#include "host/registry_win.h"

#include <windows.h>

#include <string>

#include "win/wide.h"

namespace korvane {

static_assert(kRegSz == REG_SZ);
static_assert(kRegDword == REG_DWORD);

namespace {

IoError status_error(LSTATUS status) noexcept { return IoError::os(static_cast<std::uint32_t>(status)); }

// A key or value name as the calls take it: terminated, without NULs inside.
IoResult<std::u16string> name_text(std::u16string_view name) {
  if (auto nul = nul_error(name, kNulInWinApiString)) return std::unexpected(*nul);
  return std::u16string(name);
}

// What RegDeleteTreeW needs besides reading and setting values.
constexpr REGSAM kWriteAccess = KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS | DELETE;

}  // namespace

IoResult<win::UniqueKey> open_user_key(std::u16string_view subkey) {
  auto name = name_text(subkey);
  if (!name) return std::unexpected(name.error());
  HKEY key = nullptr;
  const LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, win::wide(*name), 0, KEY_QUERY_VALUE, &key);
  if (status != ERROR_SUCCESS) return std::unexpected(status_error(status));
  return win::UniqueKey(key);
}

IoResult<win::UniqueKey> create_user_key(std::u16string_view subkey) {
  auto name = name_text(subkey);
  if (!name) return std::unexpected(name.error());
  HKEY key = nullptr;
  const LSTATUS status = ::RegCreateKeyExW(HKEY_CURRENT_USER, win::wide(*name), 0, nullptr,
                                           REG_OPTION_NON_VOLATILE, kWriteAccess, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return std::unexpected(status_error(status));
  return win::UniqueKey(key);
}

IoResult<RegistryValue> query_value(const win::UniqueKey& key, std::u16string_view name) {
  auto text = name_text(name);
  if (!text) return std::unexpected(text.error());
  RegistryValue value{*text, 0, std::string(256, '\0')};
  // Another writer may grow the value between two calls: each ERROR_MORE_DATA
  // gives the size it has now.
  for (;;) {
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(value.data.size());
    const LSTATUS status =
        ::RegQueryValueExW(key.get(), win::wide(*text), nullptr, &type, reinterpret_cast<BYTE*>(value.data.data()), &size);
    if (status == ERROR_MORE_DATA) {
      value.data.resize(size);
      continue;
    }
    if (status != ERROR_SUCCESS) return std::unexpected(status_error(status));
    value.type = type;
    value.data.resize(size);
    return value;
  }
}

IoResult<void> set_value(const win::UniqueKey& key, const RegistryValue& value) {
  auto name = name_text(value.name);
  if (!name) return std::unexpected(name.error());
  const LSTATUS status = ::RegSetValueExW(key.get(), win::wide(*name), 0, value.type,
                                          reinterpret_cast<const BYTE*>(value.data.data()),
                                          static_cast<DWORD>(value.data.size()));
  if (status != ERROR_SUCCESS) return std::unexpected(status_error(status));
  return {};
}

IoResult<void> clear_key(const win::UniqueKey& key) {
  const LSTATUS status = ::RegDeleteTreeW(key.get(), nullptr);
  if (status != ERROR_SUCCESS) return std::unexpected(status_error(status));
  return {};
}

IoResult<RegistryValue> read_user_value(std::u16string_view subkey, std::u16string_view name) {
  auto key = open_user_key(subkey);
  if (!key) return std::unexpected(key.error());
  return query_value(*key, name);
}

IoResult<void> write_user_key(std::u16string_view subkey, std::span<const RegistryValue> values) {
  auto key = create_user_key(subkey);
  if (!key) return std::unexpected(key.error());
  // What another version or a broken run left goes, as New-Item -Force does.
  if (auto cleared = clear_key(*key); !cleared) return cleared;
  for (const RegistryValue& value : values) {
    if (auto set = set_value(*key, value); !set) return set;
  }
  return {};
}

}  // namespace korvane
