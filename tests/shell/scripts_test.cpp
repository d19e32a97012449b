#include "shell/scripts.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "core/utf.h"
#include "host/install_lock.h"

namespace korvane {
namespace {

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

// The golden files hold both scripts filled for a folder that needs every
// kind of care: all five single-quote characters, %, $, a backtick, & and ^,
// and letters outside ASCII and outside the BMP; and for Desktop and Programs
// folders that hold brackets (wildcards to -Path) and quotes. Their inputs are
// the .txt files beside them.
std::string golden(const char* name) {
  std::ifstream in(std::string(KORVANE_GOLDEN_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct GoldenInputs {
  std::string dir = golden("install_dir.txt");
  std::string desktop_shortcut = ps_escape(golden("desktop_dir.txt") + "\\Korvane.lnk");
  std::string start_menu_dir = ps_escape(golden("programs_dir.txt") + "\\Korvane");
  std::string escaped_dir = ps_escape(dir);
  std::string sid = golden("user_sid.txt");
};

TEST(Scripts, MatchTheGoldenFilesByteForByte) {
  const GoldenInputs in;
  ASSERT_FALSE(in.dir.empty());
  EXPECT_EQ(golden("registration.ps1"),
            shortcut_script(ps_escape(in.dir + "\\Korvane.exe"), in.escaped_dir, "0.2.0"));
  EXPECT_EQ(golden("Uninstall-Korvane.ps1"),
            uninstall_script_file({in.escaped_dir, in.desktop_shortcut, in.start_menu_dir, in.sid, in.escaped_dir}));
}

// The golden file's lines, without the BOM, each with its LF.
std::vector<std::string> golden_uninstall_lines() {
  const std::string text = golden("Uninstall-Korvane.ps1").substr(UTF8_BOM.size());
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at) + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

TEST(UninstallScript, LeavesOutTheLineOfAFolderThatWasNotKnown) {
  const GoldenInputs in;
  const std::vector<std::string> all = golden_uninstall_lines();
  // The one line each that names the Desktop shortcut and the Start Menu folder.
  std::size_t desktop_line = all.size(), menu_line = all.size();
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i] == "$desktopLink = '" + in.desktop_shortcut + "'\n") desktop_line = i;
    if (all[i] == "$menu = '" + in.start_menu_dir + "'\n") menu_line = i;
  }
  ASSERT_LT(desktop_line, all.size());
  ASSERT_LT(menu_line, all.size());
  struct {
    bool desktop, start_menu;
  } const cases[] = {{false, true}, {true, false}, {false, false}};
  for (const auto& c : cases) {
    std::string want;
    for (std::size_t i = 0; i < all.size(); ++i) {
      if ((i == desktop_line && !c.desktop) || (i == menu_line && !c.start_menu)) continue;
      want += all[i];
    }
    const UninstallTargets targets{
        in.escaped_dir, c.desktop ? std::optional<std::string_view>(in.desktop_shortcut) : std::nullopt,
        c.start_menu ? std::optional<std::string_view>(in.start_menu_dir) : std::nullopt, in.sid, in.escaped_dir};
    EXPECT_EQ(want, uninstall_script(targets)) << c.desktop << c.start_menu;
  }
}

// The uninstall does its work itself, before it ends: no cmd or other
// process started to finish it (only the 64-bit PowerShell, in the place of a
// 32-bit one, which it waits for), nothing through the running account's
// HKCU or environment (it may be an administrator's), and the installer's
// lock by the very name the installer takes.
TEST(UninstallScript, StartsNothingAndLeavesTheRunningAccountsHiveAlone) {
  const std::string_view text = UNINSTALL_SCRIPT_TEMPLATE;
  for (const char* word : {"cmd", "Start-Process", "HKCU", "CurrentUser", "Invoke-Expression", "iex "}) {
    EXPECT_EQ(std::string_view::npos, text.find(word)) << word;
  }
  for (std::size_t at = text.find("$env:"); at != std::string_view::npos; at = text.find("$env:", at + 1)) {
    EXPECT_TRUE(text.substr(at).starts_with("$env:PROCESSOR_ARCHITEW6432")) << text.substr(at, 40);
  }
  EXPECT_TRUE(text.contains("[Microsoft.Win32.Registry]::Users.DeleteSubKeyTree('{3}\\Software\\"));
  EXPECT_TRUE(text.contains("'" + to_string_lossy(kInstallLockPrefix) + "{3}'"));
}

// Windows-1252, the ANSI code page of Western systems, for 0x80 to 0x9F; the
// rest of the byte range is Latin-1. Unassigned bytes map to themselves.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// A script file as Windows PowerShell 5.1 reads it: UTF-8 after a byte-order
// mark, else the ANSI code page.
std::u16string read_as_windows_powershell(std::string_view file) {
  if (file.starts_with(UTF8_BOM)) return utf8_to_utf16(file.substr(UTF8_BOM.size()));
  std::u16string text;
  for (const char c : file) {
    const auto b = static_cast<unsigned char>(c);
    text.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : static_cast<char16_t>(b));
  }
  return text;
}

bool is_single_quote(char16_t c) { return c == u'\'' || (c >= 0x2018 && c <= 0x201B); }

// The value PowerShell gives the single-quoted literal that follows `prefix`
// at the start of a line: its tokenizer takes U+2018 to U+201B as apostrophes
// too, and a doubled one as one. nullopt when the literal is not followed by
// exactly `suffix` and the end of that line.
std::optional<std::u16string> literal_after(std::u16string_view text, std::u16string_view prefix,
                                            std::u16string_view suffix) {
  const auto at = text.find(u"\n" + std::u16string(prefix));
  if (at == std::u16string_view::npos) return std::nullopt;
  std::size_t i = at + 1 + prefix.size();
  if (i >= text.size() || !is_single_quote(text[i])) return std::nullopt;
  std::u16string value;
  for (++i; i < text.size(); ++i) {
    if (!is_single_quote(text[i])) {
      value.push_back(text[i]);
    } else if (i + 1 < text.size() && is_single_quote(text[i + 1])) {
      value.push_back(text[++i]);
    } else {
      break;  // the closing quote
    }
  }
  if (text.substr(i + 1, suffix.size() + 1) != std::u16string(suffix) + u"\n") return std::nullopt;
  return value;
}

TEST(UninstallScript, WindowsPowerShellReadsBackExactlyTheFolder) {
  static constexpr std::string_view kUsers[] = {
      "Micha\xC5\x82",          // ł: C5 82, and 0x82 is U+201A in the ANSI code page
      "\xD1\x82\xD0\xB8\xD0\xBC",  // тим: D1 82 likewise
      "J\xC3\xBCrgen",          // ü
      "\xE7\x94\xB0\xE4\xB8\xAD",  // 田中
      "\xF0\x9F\x98\x80",       // an emoji, outside the BMP
      "O\xE2\x80\x99" "Brien",  // a typographic apostrophe
      "\xE2\x80\x98\xE2\x80\x9A\xE2\x80\x9B",  // ‘‚‛
  };
  for (const std::string_view user : kUsers) {
    const std::string dir = "C:\\Users\\" + std::string(user) + "\\AppData\\Local\\Programs\\Korvane";
    const std::string escaped = ps_escape(dir);
    const std::string file = uninstall_script_file({escaped, "C:\\D\\Korvane.lnk", "C:\\P\\Korvane", "S-1-5-18", escaped});
    EXPECT_EQ(utf8_to_utf16(dir),
              literal_after(read_as_windows_powershell(file), u"$written = ", u""))
        << dir;
  }
  // Without the mark, the same file is misread: the check can tell.
  const std::string dir = "C:\\Users\\Micha\xC5\x82";
  const std::string escaped = ps_escape(dir);
  EXPECT_NE(utf8_to_utf16(dir),
            literal_after(read_as_windows_powershell(uninstall_script(
                              {escaped, "C:\\D\\Korvane.lnk", "C:\\P\\Korvane", "S-1-5-18", escaped})),
                          u"$written = ", u""));
}

}  // namespace
}  // namespace korvane
