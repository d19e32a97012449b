#include "host/paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/utf.h"

namespace korvane {
namespace {

TEST(Join, InsertsOneSeparatorOnlyWhereNeeded) {
  struct {
    std::u16string_view base, component, want;
  } const cases[] = {
      {uR"(C:\X)", u"Programs", uR"(C:\X\Programs)"},
      {uR"(C:\X\)", u"Programs", uR"(C:\X\Programs)"},
      {u"C:/X/", u"Programs", u"C:/X/Programs"},
      {u"C:/X", u"Programs", uR"(C:/X\Programs)"},
      {u"", u"Programs", u"Programs"},
      {u"C:", u"Programs", u"C:Programs"},
      {uR"(\\srv\share)", u"Korvane", uR"(\\srv\share\Korvane)"},
      {uR"(C:\X)", uR"(D:\Y)", uR"(D:\Y)"},
      {uR"(C:\X)", uR"(\\srv\share\y)", uR"(\\srv\share\y)"},
      {uR"(C:\X)", uR"(\\?\D:\y)", uR"(\\?\D:\y)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Path(c.want), join(c.base, c.component)) << to_string_lossy(c.base);
  }
}

TEST(Join, PushAppliesTheSameRuleInPlace) {
  Path p = uR"(C:\Users\u\AppData\Local\Temp\)";
  push(p, u"Programs");
  push(p, u"Korvane");
  EXPECT_EQ(Path(uR"(C:\Users\u\AppData\Local\Temp\Programs\Korvane)"), p);
}

TEST(Parent, DropsTheLastComponent) {
  struct {
    std::u16string_view path;
    std::optional<std::u16string_view> want;
  } const cases[] = {
      {uR"(C:\a\b)", uR"(C:\a)"},
      {uR"(C:\a\b\)", uR"(C:\a)"},
      {uR"(C:\a)", uR"(C:\)"},
      {uR"(C:\)", std::nullopt},
      {u"C:", std::nullopt},
      {u"C:a", u"C:"},
      {u"a", u""},
      {uR"(a\b)", u"a"},
      {uR"(\\srv\share\d)", uR"(\\srv\share\)"},
      {uR"(\\srv\share)", std::nullopt},
      {uR"(\\?\C:\a)", uR"(\\?\C:\)"},
      {uR"(\\?\C:\)", std::nullopt},
      {uR"(\\?\UNC\srv\share\d)", uR"(\\?\UNC\srv\share\)"},
      {u"a/b//c", u"a/b"},
  };
  for (const auto& c : cases) {
    const auto got = parent(c.path);
    ASSERT_EQ(c.want.has_value(), got.has_value()) << to_string_lossy(c.path);
    if (got) {
      EXPECT_EQ(*c.want, *got) << to_string_lossy(c.path);
    }
  }
}

// Resolves against C:\cwd and records what it was asked.
class FakeFullPath {
 public:
  std::vector<Path> asked;
  std::optional<Path> answer;
  operator FullPathFn() {  // NOLINT(google-explicit-constructor)
    return [this](PathView path) -> IoResult<Path> {
      asked.emplace_back(path);
      if (answer) return *answer;
      return Path(uR"(C:\cwd\)") + Path(path);
    };
  }
};

TEST(GetLongPath, ShortAbsolutePathsReachWindowsUnchanged) {
  for (std::u16string_view p : {uR"(C:\Users\u\AppData\Local\Programs\Korvane)", u"C:", u"C:/x",
                                uR"(\\srv\share\x)", u"//srv/share", uR"(\\.\pipe\x)"}) {
    for (bool verbatim : {true, false}) {
      FakeFullPath source;
      EXPECT_EQ(Path(p), get_long_path(p, verbatim, source).value()) << to_string_lossy(p);
      EXPECT_TRUE(source.asked.empty());
    }
  }
}

TEST(GetLongPath, VerbatimAndEmptyPathsAreUnchanged) {
  for (std::u16string_view p : {uR"(\\?\C:\x)", uR"(\??\C:\x)", u""}) {
    FakeFullPath source;
    EXPECT_EQ(Path(p), get_long_path(p, true, source).value());
    EXPECT_TRUE(source.asked.empty());
  }
}

TEST(GetLongPath, RelativePathsBecomeAbsoluteAndVerbatimWhenPreferred) {
  FakeFullPath source;
  EXPECT_EQ(Path(uR"(\\?\C:\cwd\Programs\Korvane)"),
            get_long_path(uR"(Programs\Korvane)", true, source).value());
  EXPECT_EQ(Path(uR"(C:\cwd\Programs\Korvane)"),
            get_long_path(uR"(Programs\Korvane)", false, source).value());
}

TEST(GetLongPath, LongPathsGetThePrefixEvenWithoutThePreference) {
  const Path long_path = uR"(C:\)" + Path(260, u'a');
  FakeFullPath source;
  source.answer = long_path;
  EXPECT_EQ(uR"(\\?\)" + long_path, get_long_path(long_path, false, source).value());
  ASSERT_EQ(1u, source.asked.size());  // 248 units or more: resolved

  // 246 units without the NUL: stays as the system gave it.
  const Path just_short = uR"(C:\)" + Path(243, u'b');
  source.answer = just_short;
  EXPECT_EQ(just_short, get_long_path(just_short, false, source).value());
  // 247 units: prefixed.
  const Path boundary = uR"(C:\)" + Path(244, u'b');
  source.answer = boundary;
  EXPECT_EQ(uR"(\\?\)" + boundary, get_long_path(boundary, false, source).value());
}

TEST(GetLongPath, PrefixFollowsTheAbsoluteFormsBeginning) {
  struct {
    std::u16string_view absolute, want;
  } const cases[] = {
      {uR"(C:\x)", uR"(\\?\C:\x)"},
      {uR"(\\.\C:\x)", uR"(\\?\C:\x)"},
      {uR"(\\?\C:\x)", uR"(\\?\C:\x)"},
      {uR"(\??\C:\x)", uR"(\??\C:\x)"},
      {uR"(\\srv\share\x)", uR"(\\?\UNC\srv\share\x)"},
      {uR"(C:x)", uR"(C:x)"},
  };
  for (const auto& c : cases) {
    FakeFullPath source;
    source.answer = Path(c.absolute);
    EXPECT_EQ(Path(c.want), get_long_path(u"rel", true, source).value()) << to_string_lossy(c.absolute);
  }
}

TEST(GetLongPath, NulIsRefusedAndSourceErrorsPassThrough) {
  FakeFullPath source;
  const auto nul = get_long_path(std::u16string_view(u"a\0b", 3), true, source);
  ASSERT_FALSE(nul);
  EXPECT_EQ(IoError::with_message(ErrorKind::InvalidInput, "strings passed to WinAPI cannot contain NULs"),
            nul.error());

  const auto failing = [](PathView) -> IoResult<Path> { return std::unexpected(IoError::os(123)); };
  EXPECT_EQ(IoError::os(123), get_long_path(u"rel", true, failing).error());
}

}  // namespace
}  // namespace korvane
