#include "host/registry.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(Registry, StringValuesAreUtf16LittleEndianWithTheirNulCounted) {
  static const struct {
    std::u16string_view text;
    std::vector<std::uint8_t> data;
  } kCases[] = {
      {u"", {0, 0}},
      {u"Ab", {'A', 0, 'b', 0, 0, 0}},
      {u"\u00f6\u6e2c", {0xF6, 0x00, 0x2C, 0x6E, 0, 0}},
      {u"\U0001f3b5", {0x3C, 0xD8, 0xB5, 0xDF, 0, 0}},  // a surrogate pair
  };
  for (const auto& c : kCases) {
    const RegistryValue v = string_value(u"Name", c.text);
    EXPECT_EQ(u"Name", v.name);
    EXPECT_EQ(kRegSz, v.type);
    EXPECT_EQ(c.data, v.data) << c.text.size();
  }
}

TEST(Registry, DwordValuesAreFourLittleEndianBytes) {
  EXPECT_EQ((RegistryValue{u"NoModify", kRegDword, {1, 0, 0, 0}}), dword_value(u"NoModify", 1));
  EXPECT_EQ((std::vector<std::uint8_t>{4, 3, 2, 1}), dword_value(u"N", 0x01020304).data);
}

}  // namespace
}  // namespace korvane
