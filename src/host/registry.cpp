#include "host/registry.h"

namespace korvane {

RegistryValue string_value(std::u16string_view name, std::u16string_view text) {
  RegistryValue value{std::u16string(name), kRegSz, {}};
  value.data.reserve((text.size() + 1) * 2);
  for (const char16_t unit : text) {
    value.data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    value.data.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  value.data.insert(value.data.end(), {0, 0});
  return value;
}

RegistryValue dword_value(std::u16string_view name, std::uint32_t number) {
  RegistryValue value{std::u16string(name), kRegDword, {}};
  for (int shift = 0; shift < 32; shift += 8) {
    value.data.push_back(static_cast<std::uint8_t>(number >> shift));
  }
  return value;
}

}  // namespace korvane
