#include "core/utf.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(ToStringLossy, EncodesPairsAndReplacesEachUnpairedUnit) {
  struct {
    std::u16string units;
    std::string want;
    const char* why;
  } const cases[] = {
      {u"C:\\Users\\u", "C:\\Users\\u", "ASCII unchanged"},
      {u"M\u00FCller \u6E2C", "M\xC3\xBCller \xE6\xB8\xAC", "two- and three-byte forms"},
      {u"\U0001F3B5", "\xF0\x9F\x8E\xB5", "surrogate pair becomes one 4-byte sequence"},
      {std::u16string{u'a', char16_t{0xD83C}, u'b'}, "a\xEF\xBF\xBD" "b", "lone high surrogate"},
      {std::u16string{u'a', char16_t{0xDFB5}}, "a\xEF\xBF\xBD", "lone low surrogate at the end"},
      {std::u16string{char16_t{0xDC00}, char16_t{0xD800}}, "\xEF\xBF\xBD\xEF\xBF\xBD",
       "two unpaired in a row: low then high"},
      {std::u16string{char16_t{0xD800}, char16_t{0xD800}, char16_t{0xDC00}},
       "\xEF\xBF\xBD\xF0\x90\x80\x80", "high, then a pair"},
      {u"a/b\\C", "a/b\\C", "separators and case kept"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.want, to_string_lossy(c.units)) << c.why;
  }
}

TEST(Utf16ToUtf8, RefusesUnpairedSurrogates) {
  EXPECT_EQ("x\xF0\x9F\x8E\xB5", utf16_to_utf8(u"x\U0001F3B5").value());
  EXPECT_FALSE(utf16_to_utf8(std::u16string{u'x', char16_t{0xD800}}));
}

TEST(Utf8ToUtf16, RoundTripsAndReplacesInvalidBytes) {
  const std::u16string text = u"Korvane Setup \u2014 Error \U0001F3B5";
  EXPECT_EQ(text, utf8_to_utf16(to_string_lossy(text)));
  EXPECT_EQ(u"a\uFFFDb", utf8_to_utf16("a\xFF" "b"));
  EXPECT_EQ(u"\uFFFD", utf8_to_utf16("\xED\xA0\x80").substr(0, 1));  // encoded surrogate
}

}  // namespace
}  // namespace korvane
