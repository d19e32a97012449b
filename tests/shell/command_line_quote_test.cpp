#include "shell/command_line_quote.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/utf.h"
#include "setup/command_line.h"
#include "shell/scripts.h"

namespace korvane {
namespace {

std::string show(std::u16string_view units) { return to_string_lossy(units); }

std::u16string encoded(std::string_view arg) {
  std::u16string out;
  EXPECT_TRUE(append_arg(out, arg).has_value()) << arg;
  return out;
}

TEST(AppendArg, EncodesTheExamples) {
  static constexpr struct {
    std::string_view arg;
    std::u16string_view want;
  } kCases[] = {
      {"abc", uR"(abc)"},
      {"", uR"("")"},
      {"a b", uR"("a b")"},
      {"a\tb", u"\"a\tb\""},
      {R"(a"b)", uR"(a\"b)"},
      {R"(a\"b)", uR"(a\\\"b)"},
      {R"(a\b)", uR"(a\b)"},
      {R"(a b\)", uR"("a b\\")"},
      {R"(say "hi")", uR"("say \"hi\"")"},
      {"a\nb", u"a\nb"},
  };
  for (const auto& c : kCases) EXPECT_EQ(show(c.want), show(encoded(c.arg))) << c.arg;
}

TEST(AppendArg, EncodesTheEdgeCases) {
  static constexpr struct {
    std::string_view arg;
    std::u16string_view want;
  } kCases[] = {
      {" ", uR"(" ")"},                              // a lone space
      {"", uR"("")"},                                // empty
      {R"(C:\dir\)", uR"(C:\dir\)"},                 // trailing backslash, unquoted
      {R"(C:\my dir\)", uR"("C:\my dir\\")"},        // trailing run doubled when quoted
      {R"(a\\\"b)", uR"(a\\\\\\\"b)"},               // 3 backslashes before a quote: 7
      {R"(x\\)", uR"(x\\)"},                         // unquoted trailing run kept
      {R"(x \\)", uR"("x \\\\")"},                   // quoted trailing run of 2: 4
      {R"(a\b"c)", uR"(a\b\"c)"},                    // run broken by a letter
      {"\"", uR"(\")"},                              // a lone quote
      {"\r\n\v\f", u"\r\n\v\f"},                     // other white space does not quote
      {"\xc3\xa9\xe2\x82\xac \xf0\x9f\x8e\xb5", u"\"\u00e9\u20ac \U0001F3B5\""},
  };
  for (const auto& c : kCases) EXPECT_EQ(show(c.want), show(encoded(c.arg))) << c.arg;
}

TEST(AppendArg, AppendsAfterWhatIsThere) {
  std::u16string line = u"\"p\" ";
  ASSERT_TRUE(append_arg(line, std::string_view("a b")).has_value());
  EXPECT_EQ(show(u"\"p\" \"a b\""), show(line));
}

TEST(AppendArg, RefusesANulAndLeavesTheLineUnchanged) {
  static constexpr std::string_view kArgs[] = {
      std::string_view("\0", 1),       // NUL alone
      std::string_view("a\0b", 3),     // NUL inside
      std::string_view("a b\0", 4),    // NUL at the end of a quoted argument
  };
  for (const std::string_view arg : kArgs) {
    std::u16string line = u"\"p\"";
    const auto r = append_arg(line, arg);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(ErrorKind::InvalidInput, r.error().kind());
    EXPECT_EQ(kNulInData, r.error().message());
    EXPECT_EQ(u"\"p\"", line);
  }
  std::u16string line;
  const auto r = append_arg(line, std::u16string_view(u"x\0", 2));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(kNulInData, r.error().message());
  EXPECT_TRUE(line.empty());
}

TEST(AppendArg, KeepsUtf16UnitsExactly) {
  // An unpaired surrogate has no UTF-8 form; the UTF-16 overload copies it.
  const std::u16string arg = {u'a', char16_t(0xD800), u' ', u'"'};
  std::u16string line;
  ASSERT_TRUE(append_arg(line, std::u16string_view(arg)).has_value());
  const std::u16string want = {u'"', u'a', char16_t(0xD800), u' ', u'\\', u'"', u'"'};
  EXPECT_EQ(want, line);
}

// A script with quotes, backslashes, line feeds, apostrophes and non-ASCII
// text, as the registration run hands it over.
constexpr std::string_view kScript =
    "$s = $w.CreateShortcut(\"$desktop\\Korvane.lnk\")\n"
    "$s.TargetPath = 'C:\\Users\\J\xc3\xb6rg\\AppData\\Local\\Programs\\Korvane\\Korvane.exe'\n"
    "Set-ItemProperty -Name UninstallString -Value ('powershell -File \"C:\\K\\U.ps1\"')\n";
constexpr std::u16string_view kScriptEncoded =
    u"\"$s = $w.CreateShortcut(\\\"$desktop\\Korvane.lnk\\\")\n"
    u"$s.TargetPath = 'C:\\Users\\J\u00f6rg\\AppData\\Local\\Programs\\Korvane\\Korvane.exe'\n"
    u"Set-ItemProperty -Name UninstallString -Value ('powershell -File \\\"C:\\K\\U.ps1\\\"')\n\"";

TEST(MakeCommandLine, GivesTheInstallersCommandLines) {
  const struct {
    std::u16string_view program;
    std::vector<std::string> args;
    std::u16string want;
  } kCases[] = {
      {u"taskkill", {"/F", "/IM", "Korvane.exe"}, uR"("taskkill" /F /IM Korvane.exe)"},
      {u"taskkill", {"/F", "/IM", "KorvaneCore.exe"}, uR"("taskkill" /F /IM KorvaneCore.exe)"},
      {u"powershell",
       {"-NoProfile", "-WindowStyle", "Hidden", "-ExecutionPolicy", "Bypass", "-Command",
        std::string(kScript)},
       std::u16string(uR"("powershell" -NoProfile -WindowStyle Hidden -ExecutionPolicy Bypass )"
                      uR"(-Command )") +
           std::u16string(kScriptEncoded)},
      {uR"(D:\Apps\Korvane\Korvane.exe)", {}, uR"("D:\Apps\Korvane\Korvane.exe")"},
  };
  for (const auto& c : kCases) {
    const auto line = make_command_line(c.program, c.args);
    ASSERT_TRUE(line.has_value()) << show(c.program);
    EXPECT_EQ(show(c.want), show(*line)) << show(c.program);
  }
}

TEST(MakeCommandLine, QuotesTheProgramTextWithoutEscaping) {
  const std::vector<std::string> none;
  static constexpr struct {
    std::u16string_view program;
    std::u16string_view want;
  } kCases[] = {
      {u"", uR"("")"},
      {uR"(C:\Program Files\x\)", uR"("C:\Program Files\x\")"},  // no doubling
      {uR"(\\?\C:\a b\k.exe)", uR"("\\?\C:\a b\k.exe")"},
  };
  for (const auto& c : kCases) {
    const auto line = make_command_line(c.program, none);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(show(c.want), show(*line));
  }
}

TEST(MakeCommandLine, FailsOnANulInAnyArgument) {
  const std::vector<std::string> args = {"ok", std::string("b\0d", 3), "never"};
  const auto line = make_command_line(u"taskkill", args);
  ASSERT_FALSE(line.has_value());
  EXPECT_EQ(ErrorKind::InvalidInput, line.error().kind());
  EXPECT_EQ(kNulInData, line.error().message());
}

TEST(MakeCommandLine, FailsOnANulInTheProgramText) {
  const std::vector<std::string> none;
  const auto line = make_command_line(std::u16string_view(u"task\0kill", 9), none);
  ASSERT_FALSE(line.has_value());
  EXPECT_EQ(kNulInData, line.error().message());
}

TEST(MakeCommandLine, LeavesTheRegistrationScriptsBackslashesSingle) {
  // Each quote of the script gains one backslash; nothing else changes, since
  // no backslash stands before a quote or at the end.
  const std::string script = shortcut_script(ps_escape(R"(C:\Users\o'Neil\Korvane\Korvane.exe)"),
                                             ps_escape(R"(C:\Users\o'Neil\Korvane)"), "0.2.0");
  ASSERT_NE(std::string::npos, script.find('"'));
  ASSERT_NE(std::string::npos, script.find('\n'));
  std::u16string want = u"\"";
  for (const char16_t c : utf8_to_utf16(script)) {
    if (c == u'"') want.push_back(u'\\');
    want.push_back(c);
  }
  want.push_back(u'"');
  EXPECT_EQ(show(want), show(encoded(script)));
}

// Random argument texts built from the pieces that quoting must get right.
class ArgGenerator {
 public:
  explicit ArgGenerator(std::uint32_t seed) : rng_(seed) {}

  std::string arg() {
    static constexpr std::string_view kPieces[] = {
        "\"", "\\", "\\\\", "\\\\\\", "\\\"", "\\\\\"", " ", "  ", "\t", "\n", "\r\n", "a", "Z",
        "-", "/", "'", ";", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x8e\xb5", "\xe4\xb8\xad", "=",
    };
    std::string out;
    const std::uint32_t pieces = below(9);  // 0 gives an empty argument
    for (std::uint32_t i = 0; i < pieces; ++i) out += kPieces[below(std::size(kPieces))];
    if (below(4) == 0) out.append(below(5), '\\');  // a run at the end
    return out;
  }

  std::u16string program() {
    static constexpr std::u16string_view kPieces[] = {
        u"C:", u"\\", u"/", u"Program Files", u"k", u".exe", u"\u00e9", u"\U0001F3B5", u"\t",
    };
    std::u16string out;
    const std::uint32_t pieces = below(6);
    for (std::uint32_t i = 0; i < pieces; ++i) out += kPieces[below(std::size(kPieces))];
    return out;
  }

  std::uint32_t below(std::size_t n) { return static_cast<std::uint32_t>(rng_() % n); }

 private:
  std::mt19937 rng_;
};

TEST(MakeCommandLine, SplittingGivesBackTheProgramAndEveryArgument) {
  constexpr std::uint32_t kSeed = 20240611;
  constexpr int kCases = 20000;
  ArgGenerator gen(kSeed);
  for (int n = 0; n < kCases; ++n) {
    const std::u16string program = gen.program();
    std::vector<std::string> args(gen.below(7));
    for (std::string& a : args) a = gen.arg();

    const auto line = make_command_line(program, args);
    ASSERT_TRUE(line.has_value()) << "seed " << kSeed << " case " << n;
    std::vector<std::u16string> want = {program};
    for (const std::string& a : args) want.push_back(utf8_to_utf16(a));
    const std::vector<std::u16string> got = split_command_line(*line);
    if (got != want) {
      std::string detail;
      for (const std::string& a : args) detail += "[" + a + "] ";
      FAIL() << "seed " << kSeed << " case " << n << " args " << detail << " line ["
             << show(*line) << "] gave " << got.size() << " arguments, want " << want.size();
    }
  }
}

}  // namespace
}  // namespace korvane
