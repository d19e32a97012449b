#include "setup/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/utf.h"

namespace korvane {
namespace {

using Args = std::vector<std::u16string>;

struct SplitCase {
  std::u16string_view line;
  Args want;
  const char* why;
};

const SplitCase kSplitCases[] = {
    {u"setup.exe", {u"setup.exe"}, "program name alone"},
    {uR"(setup.exe a b)", {u"setup.exe", u"a", u"b"}, "plain arguments"},
    {u"setup.exe\ta\t\tb", {u"setup.exe", u"a", u"b"}, "tabs separate"},
    {u"setup.exe   a   ", {u"setup.exe", u"a"}, "runs of spaces, trailing spaces"},
    {uR"("C:\Program Files\setup.exe" x)", {uR"(C:\Program Files\setup.exe)", u"x"},
     "quoted program name keeps its space"},
    {uR"(C:\a"b c"d\ x)", {uR"(C:\ab cd\)", u"x"}, "program name: quotes toggle and vanish"},
    {uR"(C:\dir\\" x)", {uR"(C:\dir\\ x)"}, "program name: backslashes literal, quote toggles"},
    {uR"( a)", {u"", u"a"}, "leading space: empty program name"},
    {uR"(p "a b" c)", {u"p", u"a b", u"c"}, "quoted argument"},
    {uR"(p "" x)", {u"p", u"", u"x"}, "empty quoted argument kept"},
    {uR"(p "")", {u"p", u""}, "empty quoted argument at the end"},
    {uR"(p a\b)", {u"p", uR"(a\b)"}, "backslash not before a quote"},
    {uR"(p a\\b)", {u"p", uR"(a\\b)"}, "two backslashes not before a quote"},
    {uR"(p a\"b)", {u"p", uR"(a"b)"}, "one backslash escapes the quote"},
    {uR"(p a\\"b c")", {u"p", uR"(a\b c)"}, "two backslashes then a quote that opens"},
    {uR"(p a\\\"b)", {u"p", uR"(a\"b)"}, "three backslashes: one, and a literal quote"},
    {uR"(p "a\"b")", {u"p", uR"(a"b)"}, "escaped quote inside quotes keeps the state"},
    {uR"(p "a""b" c)", {u"p", uR"(a"b)", u"c"}, "doubled quote inside quotes yields one"},
    {uR"(p "a"" b")", {u"p", uR"(a" b)"}, "doubled quote keeps the quoted state on"},
    {uR"(p "abc)", {u"p", u"abc"}, "unterminated quote runs to the end"},
    {uR"(p ")", {u"p", u""}, "lone quote at the end gives an empty argument"},
    {uR"(p a")", {u"p", u"a"}, "quote at the very end opens and ends"},
    {uR"(p "a")", {u"p", u"a"}, "closing quote at the very end"},
    {uR"(p "a"b)", {u"p", u"ab"}, "quote closes, text goes on"},
    {uR"(p a\)", {u"p", uR"(a\)"}, "trailing backslash"},
    {uR"(p "a b\\")", {u"p", uR"(a b\)"}, "quoted with a doubled trailing backslash"},
    {u"p \"a\tb\"", {u"p", u"a\tb"}, "tab inside quotes is literal"},
    {u"p a\nb", {u"p", u"a\nb"}, "line feed is an ordinary unit"},
};

TEST(SplitCommandLine, FollowsTheSplittingRules) {
  for (const SplitCase& c : kSplitCases) {
    EXPECT_EQ(c.want, split_command_line(c.line)) << c.why;
  }
}

TEST(SplitCommandLine, EmptyLineGivesNoArguments) {
  EXPECT_TRUE(split_command_line(u"").empty());
}

struct SwitchCase {
  std::u16string_view line;
  bool silent;
  const char* why;
};

const SwitchCase kSwitchCases[] = {
    {u"setup.exe", false, "no arguments"},
    {u"setup.exe --silent", true, "long switch"},
    {u"setup.exe /s", true, "short switch"},
    {u"setup.exe --SILENT", true, "upper case"},
    {u"setup.exe --SiLeNt", true, "mixed case"},
    {u"setup.exe /S", true, "upper-case short switch"},
    {u"setup.exe -silent", false, "one dash"},
    {u"setup.exe --silently", false, "longer word"},
    {u"setup.exe --silen", false, "shorter word"},
    {u"setup.exe --silent=1", false, "value form"},
    {u"setup.exe \" /s\"", false, "space kept inside quotes"},
    {u"setup.exe \"/s\"", true, "quoted switch: the quotes are removed"},
    {u"setup.exe \"--silent\"", true, "quoted long switch"},
    {u"setup.exe a b /s c", true, "anywhere among the arguments"},
    {u"/s", true, "program name equal to a switch"},
    {u"\"--SILENT\" x", true, "quoted program name equal to a switch"},
    {u"setup.exe /s/s", false, "no prefix match"},
    {u"setup.exe s", false, "no slash"},
    {u"setup.exe \\s", false, "backslash is not slash"},
    {u"setup.exe \uFF0Fs", false, "fullwidth solidus is not a slash"},
    {u"setup.exe --\u017Filent", false, "long s does not fold to s"},
    {u"setup.exe /\u0130", false, "non-ASCII capital I does not fold"},
};

TEST(SilentSwitch, RecognisedOnlyInItsExactForms) {
  for (const SwitchCase& c : kSwitchCases) {
    EXPECT_EQ(c.silent, has_silent_switch(split_command_line(c.line))) << c.why;
  }
}

TEST(SilentSwitch, UnpairedSurrogateArgumentIsSkippedBeforeAndAfter) {
  const std::u16string lone(1, char16_t{0xD800});
  EXPECT_TRUE(has_silent_switch(Args{u"setup.exe", lone, u"/s"}));
  EXPECT_TRUE(has_silent_switch(Args{u"setup.exe", u"/s", lone}));
  EXPECT_FALSE(has_silent_switch(Args{u"setup.exe", lone}));
  EXPECT_FALSE(has_silent_switch(Args{u"setup.exe", u"/s" + lone}));
}

TEST(SilentSwitch, ComparesBytesAfterFoldingOnlyAsciiLetters) {
  EXPECT_TRUE(is_silent_switch("--silent"));
  EXPECT_TRUE(is_silent_switch("/S"));
  EXPECT_FALSE(is_silent_switch("--silent "));
  EXPECT_FALSE(is_silent_switch(std::string("/s\0", 3)));
  EXPECT_FALSE(is_silent_switch(""));
}

}  // namespace
}  // namespace korvane
