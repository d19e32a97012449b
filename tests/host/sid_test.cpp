#include "host/sid.h"

#include <gtest/gtest.h>

#include "core/utf.h"

namespace korvane {
namespace {

TEST(SidText, OnlyTheFormThatNeedsNoQuotingPasses) {
  struct {
    std::u16string_view text;
    bool ok;
    const char* why;
  } const cases[] = {
      {u"S-1-5-21-3623811015-3361044348-30300820-1013", true, "a domain user"},
      {u"S-1-5-21-0-0-0-1000", true, "Wine's user"},
      {u"S-1-5-18", true, "LocalSystem"},
      {u"S-1-5", true, "no sub-authority"},
      {u"S-1", false, "no authority"},
      {u"S", false, "nothing after S"},
      {u"", false, "empty"},
      {u"s-1-5-18", false, "lower-case s"},
      {u"S-1-5-", false, "a trailing dash"},
      {u"S--1-5", false, "an empty group"},
      {u"S-1-5-18 ", false, "a space"},
      {u"S-1-5-21-1\" & calc", false, "cmd's characters"},
      {u"S-1-5-21-1'", false, "an apostrophe"},
      {u"S-1-5-21-\uFF11", false, "a full-width digit"},
      {u"S-1-0x5-18", false, "hexadecimal"},
      {u"S-1-5-18\n", false, "a line feed"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.ok, is_sid_text(c.text)) << c.why << ": " << to_string_lossy(c.text);
  }
}

}  // namespace
}  // namespace korvane
