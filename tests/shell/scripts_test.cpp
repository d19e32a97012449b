#include "shell/scripts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace korvane {
namespace {

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  EXPECT_EQ(text.size(), start) << "text must end in a line feed";
  return lines;
}

std::size_t count(std::string_view text, std::string_view what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(PsEscape, DoublesEveryCharacterThatEndsASingleQuotedString) {
  struct {
    std::string_view in, out;
    const char* why;
  } const cases[] = {
      {R"(C:\Users\u)", R"(C:\Users\u)", "no quote"},
      {"D:\\user's data", "D:\\user''s data", "one apostrophe"},
      {"a''b", "a''''b", "two in a row become four"},
      {"O\xE2\x80\x99" "Brien", "O\xE2\x80\x99\xE2\x80\x99" "Brien", "U+2019 doubled as itself"},
      {"\xE2\x80\x98", "\xE2\x80\x98\xE2\x80\x98", "U+2018"},
      {"\xE2\x80\x9A", "\xE2\x80\x9A\xE2\x80\x9A", "U+201A"},
      {"\xE2\x80\x9B", "\xE2\x80\x9B\xE2\x80\x9B", "U+201B"},
      {"\xE2\x80\x9C\xE2\x80\x9D", "\xE2\x80\x9C\xE2\x80\x9D", "double typographic quotes unchanged"},
      {"\xE2\x80\x94 M\xC3\xBCller \xE6\xB8\xAC", "\xE2\x80\x94 M\xC3\xBCller \xE6\xB8\xAC", "other non-ASCII"},
      {"$env:x `n \"q\" %p% a&b (c) d", "$env:x `n \"q\" %p% a&b (c) d", "no meaning in '...'"},
      {"\xE2\x80", "\xE2\x80", "cut sequence at the end copied"},
      {"", "", "empty"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.out, ps_escape(c.in)) << c.why;
  }
}

TEST(ShortcutScript, TemplateIsTwentySixAsciiLines) {
  const auto lines = lines_of(SHORTCUT_SCRIPT_TEMPLATE);
  ASSERT_EQ(26u, lines.size());
  EXPECT_TRUE(std::all_of(SHORTCUT_SCRIPT_TEMPLATE.begin(), SHORTCUT_SCRIPT_TEMPLATE.end(),
                          [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != '\r'; }));
  EXPECT_EQ(3u, count(SHORTCUT_SCRIPT_TEMPLATE, "{0}"));
  EXPECT_EQ(4u, count(SHORTCUT_SCRIPT_TEMPLATE, "{1}"));
  EXPECT_EQ(1u, count(SHORTCUT_SCRIPT_TEMPLATE, "{2}"));
  EXPECT_EQ(1203u, SHORTCUT_SCRIPT_TEMPLATE.size() - 8 * 3);
  EXPECT_EQ("", lines[7]);
  EXPECT_EQ("", lines[15]);
  for (std::size_t i : {3u, 11u, 21u}) EXPECT_NE(std::string::npos, lines[i].find("'{0}'")) << i;
  for (std::size_t i : {4u, 12u, 22u}) EXPECT_NE(std::string::npos, lines[i].find("'{1}'")) << i;
  EXPECT_NE(std::string::npos, lines[23].find("\"{1}\\Uninstall-Korvane.ps1\"')"));
  EXPECT_EQ("Set-ItemProperty -Path $reg -Name DisplayVersion -Value '{2}'", lines[19]);
}

TEST(ShortcutScript, FilledLengthFollowsThePlaceholderCounts) {
  const std::string exe = "D:\\user''s data\\Programs\\Korvane\\Korvane.exe";
  const std::string dir = "D:\\user''s data\\Programs\\Korvane";
  const std::string script = shortcut_script(exe, dir, "0.2.0");
  EXPECT_EQ(1208u + 3 * exe.size() + 4 * dir.size(), script.size());
  const auto lines = lines_of(script);
  ASSERT_EQ(26u, lines.size());
  EXPECT_EQ("$s1.TargetPath = 'D:\\user''s data\\Programs\\Korvane\\Korvane.exe'", lines[3]);
  EXPECT_EQ("$s1.WorkingDirectory = 'D:\\user''s data\\Programs\\Korvane'", lines[4]);
  EXPECT_EQ("$s2.TargetPath = 'D:\\user''s data\\Programs\\Korvane\\Korvane.exe'", lines[11]);
  EXPECT_EQ("Set-ItemProperty -Path $reg -Name DisplayVersion -Value '0.2.0'", lines[19]);
  EXPECT_EQ("Set-ItemProperty -Path $reg -Name DisplayIcon -Value "
            "'D:\\user''s data\\Programs\\Korvane\\Korvane.exe'",
            lines[21]);
  EXPECT_EQ("Set-ItemProperty -Path $reg -Name InstallLocation -Value 'D:\\user''s data\\Programs\\Korvane'",
            lines[22]);
  EXPECT_EQ("Set-ItemProperty -Path $reg -Name UninstallString -Value ('powershell -NoProfile "
            "-WindowStyle Hidden -ExecutionPolicy Bypass -File "
            "\"D:\\user''s data\\Programs\\Korvane\\Uninstall-Korvane.ps1\"')",
            lines[23]);
}

TEST(UninstallScript, TemplateIsSixAsciiLines) {
  const auto lines = lines_of(UNINSTALL_SCRIPT_TEMPLATE);
  ASSERT_EQ(6u, lines.size());
  EXPECT_EQ(532u, UNINSTALL_SCRIPT_TEMPLATE.size() - 3);
  EXPECT_EQ(1u, count(UNINSTALL_SCRIPT_TEMPLATE, "{0}"));
  EXPECT_NE(std::string::npos, lines[5].find("rmdir /s /q \"{0}\"'"));
  EXPECT_TRUE(std::all_of(UNINSTALL_SCRIPT_TEMPLATE.begin(), UNINSTALL_SCRIPT_TEMPLATE.end(),
                          [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != '\r'; }));
}

TEST(UninstallScript, FilledForAnApostrophe) {
  const std::string dir = "D:\\user''s data\\Programs\\Korvane";
  const std::string script = uninstall_script(dir);
  EXPECT_EQ(532u + dir.size(), script.size());
  EXPECT_EQ("Start-Process cmd -ArgumentList '/c timeout /t 1 >nul & rmdir /s /q "
            "\"D:\\user''s data\\Programs\\Korvane\"' -WindowStyle Hidden",
            lines_of(script).at(5));
  EXPECT_EQ("Stop-Process -Name Korvane, KorvaneCore -Force -ErrorAction SilentlyContinue",
            lines_of(script).at(0));
}

}  // namespace
}  // namespace korvane
