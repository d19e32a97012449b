#include "shell/working_dir.h"

#include <gtest/gtest.h>

#include <map>

#include "core/utf.h"
#include "support/fake_full_path.h"

namespace korvane {
namespace {

std::string show(std::u16string_view units) { return to_string_lossy(units); }

// Known answers of GetFullPathNameW, else the input itself; "fail" fails.
using test::FakeFullPath;

TEST(ChildWorkingDir, ShortensVerbatimFormsTheSystemReadsAlike) {
  static constexpr struct {
    std::u16string_view dir;
    std::u16string_view want;
    const char* reason;
  } kCases[] = {
      {uR"(\\?\UNC\srv\share\d)", uR"(\\srv\share\d)", "UNC shortened"},
      {uR"(\\?\C:\Users\u\Korvane)", uR"(C:\Users\u\Korvane)", "drive shortened"},
      {uR"(\\?\C:\Users\u\dots..)", uR"(\\?\C:\Users\u\dots..)", "read otherwise: kept"},
      {uR"(\\?\UNC\srv\share\dots..)", uR"(\\?\UNC\srv\share\dots..)", "UNC read otherwise"},
      {uR"(\\?\C:\fail)", uR"(\\?\C:\fail)", "a failed query keeps it"},
      {uR"(\\?\UNC\fail\s)", uR"(\\?\UNC\fail\s)", "a failed UNC query keeps it"},
      {uR"(C:\Users\u\Korvane)", uR"(C:\Users\u\Korvane)", "plain: unchanged"},
      {uR"(rel\dir)", uR"(rel\dir)", "relative: unchanged, never resolved"},
      {uR"(\??\C:\x)", uR"(\??\C:\x)", "NT form: unchanged"},
      {u"", u"", "empty: unchanged"},
  };
  for (const auto& c : kCases) {
    FakeFullPath source;
    source.answers[uR"(C:\Users\u\dots..)"] = uR"(C:\Users\u\dots)";
    source.answers[uR"(\\srv\share\dots..)"] = uR"(\\srv\share\dots)";
    source.answers[uR"(rel\dir)"] = uR"(C:\cwd\rel\dir)";
    const auto got = child_working_dir(c.dir, source);
    ASSERT_TRUE(got.has_value()) << c.reason;
    EXPECT_EQ(show(c.want), show(*got)) << c.reason;
  }
}

TEST(ChildWorkingDir, RefusesANul) {
  FakeFullPath source;
  const auto got = child_working_dir(std::u16string_view(u"C:\\a\0b", 6), source);
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(ErrorKind::InvalidInput, got.error().kind());
  EXPECT_EQ(kNulInData, got.error().message());
}

}  // namespace
}  // namespace korvane
