#include "host/registry.h"

namespace korvane {

RegistryValue string_value(std::u16string_view name, std::u16string_view text) {
  RegistryValue value{std::u16string(name), kRegSz, {}};
  value.data.resize((text.size() + 1) * 2);  // the NUL's two bytes stay 0
  for (std::size_t i = 0; i < text.size(); ++i) {
    value.data[2 * i] = static_cast<char>(text[i] & 0xFF);
    value.data[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return value;
}

RegistryValue dword_value(std::u16string_view name, std::uint32_t number) {
  RegistryValue value{std::u16string(name), kRegDword, {}};
  for (int shift = 0; shift < 32; shift += 8) {
    value.data.push_back(static_cast<char>(number >> shift));
  }
  return value;
}

}  // namespace korvane
