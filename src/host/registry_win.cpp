#include "host/registry_win.h"

#include <windows.h>

#include <algorithm>
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

IoResult<std::vector<RegistryValue>> query_values(const win::UniqueKey& key) {
  std::vector<RegistryValue> values;
  // Names are at most 16,383 units; the data grows as ERROR_MORE_DATA asks.
  std::u16string name(16384, u'\0');
  std::string data(256, '\0');
  for (DWORD index = 0;;) {
    DWORD name_size = static_cast<DWORD>(name.size());
    DWORD data_size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    const LSTATUS status = ::RegEnumValueW(key.get(), index, win::wide(name.data()), &name_size, nullptr,
                                           &type, reinterpret_cast<BYTE*>(data.data()), &data_size);
    if (status == ERROR_NO_MORE_ITEMS) return values;
    if (status == ERROR_MORE_DATA) {
      data.resize(std::max<std::size_t>(data_size, data.size() * 2));
      continue;
    }
    if (status != ERROR_SUCCESS) return std::unexpected(status_error(status));
    values.push_back({name.substr(0, name_size), type, data.substr(0, data_size)});
    ++index;
  }
}

IoResult<std::vector<RegistryValue>> read_user_key(std::u16string_view subkey) {
  auto key = open_user_key(subkey);
  if (!key) return std::unexpected(key.error());
  return query_values(*key);
}

IoResult<void> set_user_values(std::u16string_view subkey, std::span<const RegistryValue> values) {
  auto key = create_user_key(subkey);
  if (!key) return std::unexpected(key.error());
  for (const RegistryValue& value : values) {
    if (auto set = set_value(*key, value); !set) return set;
  }
  return {};
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
