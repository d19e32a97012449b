#include "core/template.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(FillTemplate, ReplacesEachPlaceholderUnchanged) {
  EXPECT_EQ("a-x-b-y-a", fill_template("{0}-x-{1}-y-{0}", {"a", "b"}));
  EXPECT_EQ("{1} stays", fill_template("{1} stays", {"only zero"}));
  EXPECT_EQ("{x} {} {", fill_template("{x} {} {", {"a"}));
  // An argument that looks like a placeholder is not filled again.
  EXPECT_EQ("{1}B", fill_template("{0}{1}", {"{1}", "B"}));
}

}  // namespace
}  // namespace korvane
