#pragma once
// The registry below HKEY_CURRENT_USER (Windows build only): one wrapper for
// each Win32 call, and the two compositions the installer's host uses.
// Errors are the LSTATUS of the call that failed, as OS errors (2 when a key
// or value is not there); InvalidInput for a name holding a NUL.

#include <span>
#include <string_view>
#include <vector>

#include "core/io_error.h"
#include "host/registry.h"
#include "win/reg_key.h"

namespace korvane {

// RegOpenKeyExW of HKCU\`subkey` for reading its values.
[[nodiscard]] IoResult<win::UniqueKey> open_user_key(std::u16string_view subkey);

// RegCreateKeyExW of HKCU\`subkey`, made with its parents where missing,
// non-volatile, open for reading, setting and deleting what it holds.
[[nodiscard]] IoResult<win::UniqueKey> create_user_key(std::u16string_view subkey);

// RegSetValueExW of `value` (its type and bytes as they are) into `key`.
[[nodiscard]] IoResult<void> set_value(const win::UniqueKey& key, const RegistryValue& value);

// RegDeleteTreeW(key, NULL): every value and subkey of `key` removed, the key kept.
[[nodiscard]] IoResult<void> clear_key(const win::UniqueKey& key);

// RegEnumValueW over `key`: every value with its name, type and bytes as
// stored, in the order the registry gives them; a value's data is asked for
// again with a larger buffer while it grows.
[[nodiscard]] IoResult<std::vector<RegistryValue>> query_values(const win::UniqueKey& key);

// open_user_key, then query_values.
[[nodiscard]] IoResult<std::vector<RegistryValue>> read_user_key(std::u16string_view subkey);

// HKCU\`subkey` (created where missing) given `values`, each set in order;
// what else it holds stays.
[[nodiscard]] IoResult<void> set_user_values(std::u16string_view subkey,
                                             std::span<const RegistryValue> values);

// HKCU\`subkey` holding exactly `values`: created or opened, cleared, then
// each value set, in order. After a failure the key may hold part of them.
[[nodiscard]] IoResult<void> write_user_key(std::u16string_view subkey,
                                            std::span<const RegistryValue> values);

}  // namespace korvane
