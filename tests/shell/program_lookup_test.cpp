#include "shell/program_lookup.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/utf.h"
#include "support/fake_full_path.h"

namespace korvane {
namespace {

std::string show(std::u16string_view units) { return to_string_lossy(units); }

// A file system of named files and fixed directory answers. The user form
// marks its input so that tests see it was applied.
class FakeProbe {
 public:
  std::optional<Path> system = uR"(C:\Windows\system32)";
  std::optional<Path> windows = uR"(C:\Windows)";
  std::optional<Path> path;
  std::set<Path> files;
  std::vector<Path> asked;  // every candidate given to exists, in order

  // The system's answers as the lookup takes them; records into this object.
  operator ProgramSearch() {  // NOLINT(google-explicit-constructor)
    return {system, windows, path,
            [this](PathView candidate) -> std::optional<Path> {
              asked.emplace_back(candidate);
              if (!files.contains(Path(candidate))) return std::nullopt;
              return user(candidate);
            },
            [](PathView p) -> IoResult<Path> { return user(p); }};
  }

  static Path user(PathView p) { return u"user:" + Path(p); }
};

TEST(FindProgram, SearchesSystemThenWindowsThenPathDirectories) {
  // Each row removes the winner of the row before, so the next directory wins.
  const std::vector<Path> kPlaces = {
      uR"(C:\Windows\system32\taskkill.exe)", uR"(C:\Windows\taskkill.exe)",
      uR"(D:\first\taskkill.exe)", uR"(E:\second\taskkill.exe)",
  };
  FakeProbe probe;
  probe.path = uR"(D:\first;E:\second)";
  probe.files = {kPlaces.begin(), kPlaces.end()};
  for (const Path& want : kPlaces) {
    const auto found = find_program(u"taskkill", probe);
    ASSERT_TRUE(found.has_value()) << show(want);
    EXPECT_EQ(show(FakeProbe::user(want)), show(*found));
    probe.files.erase(want);
  }
  const auto none = find_program(u"taskkill", probe);
  ASSERT_FALSE(none.has_value());
  EXPECT_EQ(ErrorKind::NotFound, none.error().kind());
  EXPECT_EQ("program not found", none.error().message());
}

TEST(FindProgram, AsksForEveryCandidateInOrder) {
  FakeProbe probe;
  probe.path = uR"(C:\a;"C:\b;c";;D:\e)";
  EXPECT_FALSE(find_program(u"powershell", probe).has_value());
  const std::vector<Path> want = {
      uR"(C:\Windows\system32\powershell.exe)", uR"(C:\Windows\powershell.exe)",
      uR"(C:\a\powershell.exe)", uR"(C:\b;c\powershell.exe)", uR"(D:\e\powershell.exe)",
  };
  EXPECT_EQ(want, probe.asked);
}

TEST(FindProgram, FindsAQuotedPathEntryHoldingASemicolon) {
  FakeProbe probe;
  probe.path = uR"(C:\a;"C:\Windows PowerShell;v1";D:\e)";
  probe.files = {uR"(C:\Windows PowerShell;v1\powershell.exe)", uR"(D:\e\powershell.exe)"};
  const auto found = find_program(u"powershell", probe);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(show(FakeProbe::user(uR"(C:\Windows PowerShell;v1\powershell.exe)")), show(*found));
}

TEST(FindProgram, ANameWithAnExtensionGetsNoExe) {
  static constexpr struct {
    std::u16string_view name;
    std::u16string_view candidate;
  } kCases[] = {
      {u"taskkill", uR"(C:\Windows\system32\taskkill.exe)"},
      {u"taskkill.exe", uR"(C:\Windows\system32\taskkill.exe)"},
      {u"TASKKILL.EXE", uR"(C:\Windows\system32\TASKKILL.EXE)"},
      {u"tool.com", uR"(C:\Windows\system32\tool.com)"},
      {u"run.cmd", uR"(C:\Windows\system32\run.cmd)"},
      {u"a.b.c", uR"(C:\Windows\system32\a.b.c)"},
      {u"dotted.", uR"(C:\Windows\system32\dotted.)"},
  };
  for (const auto& c : kCases) {
    FakeProbe probe;
    static_cast<void>(find_program(c.name, probe));
    ASSERT_FALSE(probe.asked.empty());
    EXPECT_EQ(show(c.candidate), show(probe.asked.front())) << show(c.name);
  }
}

TEST(FindProgram, SkipsADirectoryWhoseQueryFails) {
  FakeProbe probe;
  probe.system = std::nullopt;
  probe.windows = Path();  // a query that answered nothing
  probe.path = uR"(D:\tools)";
  EXPECT_FALSE(find_program(u"taskkill", probe).has_value());
  EXPECT_EQ(std::vector<Path>{uR"(D:\tools\taskkill.exe)"}, probe.asked);
}

TEST(FindProgram, NeverSearchesTheCurrentOrTheInstallersDirectory) {
  FakeProbe probe;
  probe.files = {u"taskkill.exe", u"\\taskkill.exe", uR"(C:\Users\u\Downloads\taskkill.exe)"};
  EXPECT_FALSE(find_program(u"taskkill", probe).has_value());
  for (const Path& p : probe.asked) EXPECT_TRUE(p.starts_with(uR"(C:\Windows)")) << show(p);
}

TEST(FindProgram, UsesAnExecutableInARootDirectory) {
  FakeProbe probe;
  probe.path = uR"(C:\)";
  probe.files = {uR"(C:\taskkill.exe)"};
  const auto found = find_program(u"taskkill", probe);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(show(FakeProbe::user(uR"(C:\taskkill.exe)")), show(*found));
}

TEST(FindProgram, AddsNothingForAnEmptyOrUnsetPath) {
  for (const std::optional<Path>& path : {std::optional<Path>(), std::optional<Path>(u""),
                                          std::optional<Path>(u";;\"\";")}) {
    FakeProbe probe;
    probe.path = path;
    const auto found = find_program(u"powershell", probe);
    ASSERT_FALSE(found.has_value());
    EXPECT_EQ("program not found", found.error().message());
    EXPECT_EQ(2u, probe.asked.size());
  }
}

TEST(FindProgram, NeverSearchesAPath) {
  const struct {
    std::u16string_view program;
    bool exe_file_exists;
    std::u16string_view want;                   // without the user-form mark
    std::vector<std::u16string_view> asked;     // candidates given to exists
  } kCases[] = {
      // A .exe ending is used directly, without asking whether it exists.
      {uR"(D:\Apps\Korvane\Korvane.exe)", false, uR"(D:\Apps\Korvane\Korvane.exe)", {}},
      {uR"(D:\Apps\Korvane\KORVANE.EXE)", false, uR"(D:\Apps\Korvane\KORVANE.EXE)", {}},
      {uR"(bin/tool.exe)", false, uR"(bin/tool.exe)", {}},
      // Without it, the .exe form first, else the text itself.
      {uR"(D:\bin\tool)", true, uR"(D:\bin\tool.exe)", {uR"(D:\bin\tool.exe)"}},
      {uR"(D:\bin\tool)", false, uR"(D:\bin\tool)", {uR"(D:\bin\tool.exe)"}},
      {uR"(./tool.cmd)", false, uR"(./tool.cmd)", {uR"(./tool.cmd.exe)"}},
      {uR"(\\?\C:\x/)", false, uR"(\\?\C:\x/)", {uR"(\\?\C:\x/.exe)"}},  // verbatim: only a backslash ends it
  };
  for (const auto& c : kCases) {
    FakeProbe probe;
    probe.path = uR"(D:\bin)";
    if (c.exe_file_exists) probe.files = {Path(c.want)};
    const auto found = find_program(c.program, probe);
    ASSERT_TRUE(found.has_value()) << show(c.program);
    EXPECT_EQ(show(FakeProbe::user(c.want)), show(*found)) << show(c.program);
    EXPECT_EQ(std::vector<Path>(c.asked.begin(), c.asked.end()), probe.asked) << show(c.program);
  }
}

TEST(FindProgram, GivesEveryErrorOfTheTable) {
  static constexpr struct {
    std::u16string_view program;
    ErrorKind kind;
    std::string_view message;
    const char* reason;
  } kCases[] = {
      {u"", ErrorKind::InvalidInput, "program path has no file name", "empty"},
      {uR"(C:\Apps\)", ErrorKind::InvalidInput, "program path has no file name", "ends in \\"},
      {uR"(C:\Apps/)", ErrorKind::InvalidInput, "program path has no file name", "ends in /"},
      {uR"(\\?\C:\Apps\)", ErrorKind::InvalidInput, "program path has no file name",
       "verbatim ends in \\"},
      {std::u16string_view(u"task\0kill", 9), ErrorKind::InvalidInput,
       "nul byte found in provided data", "NUL in a bare name"},
      {std::u16string_view(u"C:\\a\0b.exe", 10), ErrorKind::InvalidInput,
       "strings passed to WinAPI cannot contain NULs", "NUL in a path"},
      {std::u16string_view(u"C:\\a\0b", 6), ErrorKind::InvalidInput,
       "strings passed to WinAPI cannot contain NULs", "NUL in a path without .exe"},
      {u"no-such-program", ErrorKind::NotFound, "program not found", "found nowhere"},
  };
  for (const auto& c : kCases) {
    FakeProbe probe;
    const auto found = find_program(c.program, probe);
    ASSERT_FALSE(found.has_value()) << c.reason;
    EXPECT_EQ(c.kind, found.error().kind()) << c.reason;
    EXPECT_EQ(c.message, found.error().message()) << c.reason;
  }
}

TEST(FindProgram, PassesOnTheErrorOfAUserForm) {
  const ProgramSearch probe{std::nullopt, std::nullopt, std::nullopt,
                            [](PathView) -> std::optional<Path> { return std::nullopt; },
                            [](PathView) -> IoResult<Path> { return std::unexpected(IoError::os(206)); }};
  const auto found = find_program(uR"(rel\tool.exe)", probe);
  ASSERT_FALSE(found.has_value());
  EXPECT_EQ(IoError::os(206), found.error());
}

TEST(HasExeEnding, FoldsAsciiOnly) {
  static constexpr struct {
    std::u16string_view text;
    bool want;
  } kCases[] = {
      {u".exe", true},     {u"a.EXE", true},     {u"a.ExE", true},  {u"exe", false},
      {u"a.ex", false},    {u"a.exe ", false},   {u"aexe", false},  {u"a.\u0130xe", false},
      {u"", false},        {u"a.exe.txt", false},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.want, has_exe_ending(c.text)) << show(c.text);
}

TEST(SplitPathVar, SplitsAtSemicolonsOutsideQuotes) {
  const struct {
    std::u16string_view value;
    std::vector<Path> want;
  } kCases[] = {
      {uR"(C:\a;"C:\b;c";;D:\e)", {uR"(C:\a)", uR"(C:\b;c)", uR"(D:\e)"}},
      {u"", {}},
      {u";;;", {}},
      {u"\"\"", {}},                                     // quotes only: empty
      {uR"(C:\a)", {uR"(C:\a)"}},
      {uR"(C:\a;)", {uR"(C:\a)"}},
      {uR"(;C:\a)", {uR"(C:\a)"}},
      {uR"(C:\"Program Files"\x;D:)", {uR"(C:\Program Files\x)", u"D:"}},
      {uR"("C:\open;D:\x)", {uR"(C:\open;D:\x)"}},       // unclosed quote runs on
      {u"C:\\sp ace; lead", {u"C:\\sp ace", u" lead"}},  // spaces are kept
  };
  for (const auto& c : kCases) EXPECT_EQ(c.want, split_path_var(c.value)) << show(c.value);
}

// A stand-in for GetFullPathNameW: known answers, else the input itself, and
// a failure for texts marked "fail".
using test::FakeFullPath;

TEST(FromWideToUserPath, ShortensVerbatimFormsTheSystemReadsAlike) {
  const Path long_tail(300, u'x');
  const struct {
    Path path;
    Path want;
    const char* reason;
  } kCases[] = {
      {uR"(\\?\C:\Apps\k.exe)", uR"(C:\Apps\k.exe)", "drive form shortened"},
      {uR"(\\?\C:\Apps\k.exe.)", uR"(\\?\C:\Apps\k.exe.)", "system reads it otherwise"},
      {uR"(\\?\UNC\srv\share\k.exe)", uR"(\\srv\share\k.exe)", "UNC form shortened"},
      {uR"(\\?\UNC\srv\share\k..exe)", uR"(\\?\UNC\srv\share\k..exe)", "UNC read otherwise"},
      {uR"(\\?\C:\fail\k.exe)", uR"(\\?\C:\fail\k.exe)", "a failed query keeps it"},
      {uR"(\\?\Volume{1}\k.exe)", uR"(\\?\Volume{1}\k.exe)", "no drive: get_long_path keeps"},
      {uR"(\\?\C:)", uR"(\\?\C:)", "no backslash after the drive"},
      {uR"(C:\Apps\k.exe)", uR"(C:\Apps\k.exe)", "short absolute stays"},
      {uR"(rel\k.exe)", uR"(C:\cwd\rel\k.exe)", "relative made absolute"},
      {uR"(\\?\C:\)" + long_tail, uR"(\\?\C:\)" + long_tail, "longer than 259 stays"},
  };
  for (const auto& c : kCases) {
    FakeFullPath source;
    source.answers[uR"(C:\Apps\k.exe.)"] = uR"(C:\Apps\k.exe)";
    source.answers[uR"(\\srv\share\k..exe)"] = uR"(\\srv\share\k.exe)";
    source.answers[uR"(rel\k.exe)"] = uR"(C:\cwd\rel\k.exe)";
    const auto got = from_wide_to_user_path(c.path, source);
    ASSERT_TRUE(got.has_value()) << c.reason;
    EXPECT_EQ(show(c.want), show(*got)) << c.reason;
  }
}

TEST(FromWideToUserPath, CountsTheNulInTheLengthLimit) {
  // 259 units and the NUL make 260: still looked at; 260 units are kept.
  for (const std::size_t size : {259u, 260u}) {
    const Path path = uR"(\\?\C:\)" + Path(size - 7, u'k');
    FakeFullPath source;
    const auto got = from_wide_to_user_path(path, source);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(size == 259 ? path.substr(4) : path, *got) << size;
  }
}

TEST(FromWideToUserPath, GivesLongRelativePathsTheVerbatimPrefix) {
  FakeFullPath source;
  const Path absolute = uR"(C:\cwd\)" + Path(250, u'a');
  source.answers[u"aaa"] = absolute;
  const auto got = from_wide_to_user_path(u"aaa", source);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(uR"(\\?\)" + absolute, *got);
}

TEST(FromWideToUserPath, RefusesANulAndPassesOnQueryErrors) {
  FakeFullPath source;
  const auto nul = from_wide_to_user_path(std::u16string_view(u"C:\\a\0", 5), source);
  ASSERT_FALSE(nul.has_value());
  EXPECT_EQ(kNulInWinApiString, nul.error().message());
  const auto failed = from_wide_to_user_path(u"fail\\k.exe", source);
  ASSERT_FALSE(failed.has_value());
  EXPECT_EQ(IoError::os(123), failed.error());
}

}  // namespace
}  // namespace korvane
