#include "shell/working_dir.h"

#include <gtest/gtest.h>

#include <map>

#include "shell/launch.h"

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

// A folder of `n` units in all.
Path folder_of(std::size_t n) { return u"C:\\" + Path(n - 3, u'a'); }

TEST(LaunchPaths, AFolderTooLongGivesWayToItsShortFormOrTheWindowsFolder) {
  const Path fits = folder_of(kMaxProgramPath - 12);  // with "\\Korvane.exe", 12 units, at the limit
  const Path dir_fits = folder_of(kMaxCurrentDirectory);
  const Path over = folder_of(kMaxCurrentDirectory + 1);
  const Path short_form = u"C:\\AAAAAA~1";
  const std::nullopt_t windows = std::nullopt;
  const struct {
    Path dir;
    std::optional<IoResult<Path>> short_answer;  // nullopt: never asked
    Path want_program_dir;
    std::optional<Path> want_working_dir;
    const char* reason;
  } cases[] = {
      {u"C:\\Users\\u\\Programs\\Korvane", std::nullopt, u"C:\\Users\\u\\Programs\\Korvane",
       u"C:\\Users\\u\\Programs\\Korvane", "short enough: as it is"},
      {fits, std::nullopt, fits, fits, "the program at its limit"},
      {u"\\\\?\\" + fits, std::nullopt, u"\\\\?\\" + fits, u"\\\\?\\" + fits, "the prefix is not counted"},
      {dir_fits, short_form, short_form, dir_fits, "only the program too long"},
      {over, Path(u"\\\\?\\" + short_form), short_form, short_form, "both, without the prefix"},
      {over, Path(u"\\\\?\\UNC\\srv\\s\\K~1"), u"\\\\srv\\s\\K~1", u"\\\\srv\\s\\K~1", "a share"},
      {over, over, over, windows, "a volume without short names"},
      {over, std::unexpected(IoError::os(5)), over, windows, "no short form to be had"},
  };
  for (const auto& c : cases) {
    int asked = 0;
    const ShortPathFn short_path = [&](PathView path) -> IoResult<Path> {
      ++asked;
      EXPECT_EQ(show(c.dir), show(path)) << c.reason;
      return c.short_answer.value_or(std::unexpected(IoError::os(2)));
    };
    const LaunchPaths got = launch_paths(c.dir, u"Korvane.exe", short_path);
    EXPECT_EQ(c.short_answer ? 1 : 0, asked) << c.reason;
    EXPECT_EQ(show(c.want_program_dir), show(got.program_dir)) << c.reason;
    EXPECT_EQ(show(c.want_program_dir + u"\\Korvane.exe"), show(got.program)) << c.reason;
    EXPECT_EQ(c.want_working_dir, got.working_dir) << c.reason;
  }
}

}  // namespace
}  // namespace korvane
