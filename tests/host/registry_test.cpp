#include "host/registry.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(Registry, StringValuesAreUtf16LittleEndianWithTheirNulCounted) {
  static const struct {
    std::u16string_view text;
    std::string_view data;
  } kCases[] = {
      {u"", {"\0\0", 2}},
      {u"Ab", {"A\0b\0\0\0", 6}},
      {u"\u00f6\u6e2c", {"\xF6\0\x2C\x6E\0\0", 6}},
      {u"\U0001f3b5", {"\x3C\xD8\xB5\xDF\0\0", 6}},  // a surrogate pair
  };
  for (const auto& c : kCases) {
    const RegistryValue v = string_value(u"Name", c.text);
    EXPECT_EQ(u"Name", v.name);
    EXPECT_EQ(kRegSz, v.type);
    EXPECT_EQ(c.data, v.data) << c.text.size();
  }
}

TEST(Registry, DwordValuesAreFourLittleEndianBytes) {
  EXPECT_EQ((RegistryValue{u"NoModify", kRegDword, std::string("\1\0\0\0", 4)}), dword_value(u"NoModify", 1));
  EXPECT_EQ("\4\3\2\1", dword_value(u"N", 0x01020304).data);
}

}  // namespace
}  // namespace korvane
