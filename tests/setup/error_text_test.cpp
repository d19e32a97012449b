#include "setup/error_text.h"

#include <gtest/gtest.h>

#include <vector>

namespace korvane {
namespace {

// Answers FormatMessageW calls from a table and records them.
class FakeMessages {
 public:
  struct Call {
    std::uint32_t flags;
    bool from_ntdll;
    std::uint32_t code;
  };

  bool ntdll = true;
  MessageAnswer answer{0, 317, u""};
  std::vector<Call> calls;

  MessageAnswer format_message(std::uint32_t flags, bool from_ntdll, std::uint32_t code) {
    calls.push_back({flags, from_ntdll, code});
    return answer;
  }

  void say(std::u16string text) { answer = {static_cast<std::uint32_t>(text.size()), 0, text}; }
};

// The texts with the fake's answers.
std::string system_message(std::int32_t code, FakeMessages& m) {
  return korvane::system_message(code, m.ntdll, [&](std::uint32_t flags, bool from_ntdll,
                                                    std::uint32_t c) {
    return m.format_message(flags, from_ntdll, c);
  });
}
std::string os_error_text(const IoError& error, FakeMessages& m) {
  return korvane::os_error_text(error, m.ntdll, [&](std::uint32_t flags, bool from_ntdll,
                                                    std::uint32_t c) {
    return m.format_message(flags, from_ntdll, c);
  });
}

TEST(OsErrorText, OsCodeGetsTheTrimmedSystemMessageAndTheCode) {
  FakeMessages m;
  m.say(u"The system cannot find the file specified.\r\n");
  EXPECT_EQ("The system cannot find the file specified. (os error 2)",
            os_error_text(IoError::os(2), m));
  ASSERT_EQ(1u, m.calls.size());
  EXPECT_EQ(0x1200u, m.calls[0].flags);
  EXPECT_FALSE(m.calls[0].from_ntdll);
  EXPECT_EQ(2u, m.calls[0].code);
}

TEST(OsErrorText, TrimsSpaceTabLineFeedFormFeedCarriageReturnOnly) {
  struct {
    std::u16string said;
    const char* shown;
  } const cases[] = {
      {u"Access is denied. \t\n\f\r", "Access is denied."},
      {u"Ends in a vertical tab\v\r\n", "Ends in a vertical tab\v"},
      {u"Tab\tinside stays", "Tab\tinside stays"},
      {u" \r\n", ""},
      {u"Line one\r\nLine two\r\n", "Line one\r\nLine two"},
  };
  for (const auto& c : cases) {
    FakeMessages m;
    m.say(c.said);
    EXPECT_EQ(c.shown, system_message(5, m));
  }
}

TEST(OsErrorText, NoMessageGivesTheFormatMessageFallbackInsideTheTemplate) {
  FakeMessages m;
  m.answer = {0, 317, u""};
  EXPECT_EQ("OS Error 1234567 (FormatMessageW() returned error 317) (os error 1234567)",
            os_error_text(IoError::os(1234567), m));
}

TEST(OsErrorText, InvalidUtf16GivesItsFallback) {
  FakeMessages m;
  m.say(std::u16string(u"bad ") + char16_t{0xDC00});
  EXPECT_EQ("OS Error 5 (FormatMessageW() returned invalid UTF-16) (os error 5)",
            os_error_text(IoError::os(5), m));
}

TEST(OsErrorText, NtStatusCodeIsLookedUpInNtdllWithoutItsBit) {
  FakeMessages m;
  m.say(u"{Access Denied}\r\n");
  const std::uint32_t code = 0x10000000u | 0xC0000022u;  // top bit set too
  EXPECT_EQ("{Access Denied} (os error -805306334)", os_error_text(IoError::os(code), m));
  ASSERT_EQ(1u, m.calls.size());
  EXPECT_EQ(0x1A00u, m.calls[0].flags);
  EXPECT_TRUE(m.calls[0].from_ntdll);
  EXPECT_EQ(0xC0000022u, m.calls[0].code);
}

TEST(OsErrorText, NtdllRouteFallbacksShowTheCodeWithoutTheBit) {
  FakeMessages m;
  m.answer = {0, 15100, u""};
  EXPECT_EQ("OS Error 1 (FormatMessageW() returned error 15100) (os error 268435457)",
            os_error_text(IoError::os(0x10000001u), m));
}

TEST(OsErrorText, WithoutNtdllTheCodeIsLookedUpUnchanged) {
  FakeMessages m;
  m.ntdll = false;
  m.answer = {0, 317, u""};
  EXPECT_EQ("OS Error 268435457 (FormatMessageW() returned error 317) (os error 268435457)",
            os_error_text(IoError::os(0x10000001u), m));
  EXPECT_EQ(0x1200u, m.calls.at(0).flags);
  EXPECT_EQ(0x10000001u, m.calls.at(0).code);
}

TEST(OsErrorText, TopBitCodesAreNegativeDecimal) {
  FakeMessages m;
  m.answer = {0, 0xFFFFFFFFu, u""};
  EXPECT_EQ("OS Error -2147024891 (FormatMessageW() returned error -1) (os error -2147024891)",
            os_error_text(IoError::os(0x80070005u), m));
}

TEST(OsErrorText, MessagesAndBareKinds) {
  FakeMessages m;
  EXPECT_EQ("corrupt deflate stream",
            os_error_text(IoError::with_message(ErrorKind::InvalidInput, "corrupt deflate stream"), m));
  EXPECT_EQ("failed to write whole buffer",
            os_error_text(IoError::with_message(ErrorKind::WriteZero, "failed to write whole buffer"), m));
  EXPECT_EQ("out of memory", os_error_text(IoError::bare(ErrorKind::OutOfMemory), m));
  EXPECT_EQ("unexpected end of file", os_error_text(IoError::bare(ErrorKind::UnexpectedEof), m));
  EXPECT_TRUE(m.calls.empty());
}

}  // namespace
}  // namespace korvane
