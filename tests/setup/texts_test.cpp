#include "setup/texts.h"

#include <gtest/gtest.h>

#include "korvane_version.h"

namespace korvane {
namespace {

TEST(Texts, CaptionsAreExact) {
  EXPECT_EQ("Korvane Setup", SETUP_CAPTION);
  EXPECT_EQ(23u, ERROR_CAPTION.size());
  // U+2014 in UTF-8, one space on either side.
  EXPECT_EQ("Korvane Setup \xE2\x80\x94 Error", ERROR_CAPTION);
}

TEST(Texts, ConfirmationHasEightLinesWithTheVersionAndFolder) {
  const std::string text = confirm_text(u"C:\\Users\\u\\AppData\\Local\\Programs\\Korvane");
  EXPECT_EQ(
      "Install Korvane v" KORVANE_VERSION_TEXT "?\n"
      "\n"
      "Install folder:\n"
      "C:\\Users\\u\\AppData\\Local\\Programs\\Korvane\n"
      "\n"
      "This will add Desktop & Start Menu shortcuts and keep all your existing playlists.\n"
      "\n"
      "Korvane Music Player by V4LDR1N",
      text);
}

TEST(Texts, ConfirmationShowsReplacementForUnpairedSurrogate) {
  std::u16string dir = u"C:\\x";
  dir.push_back(char16_t{0xDC01});
  dir += u"\\Programs\\Korvane";
  const std::string text = confirm_text(dir);
  EXPECT_NE(std::string::npos, text.find("\nC:\\x\xEF\xBF\xBD\\Programs\\Korvane\n"));
}

TEST(Texts, SuccessAndFailure) {
  EXPECT_EQ("Korvane v" KORVANE_VERSION_TEXT " was installed successfully and is now launching!",
            success_text());
  EXPECT_EQ("Installation failed:\nAccess is denied. (os error 5)",
            failure_text("Access is denied. (os error 5)"));
}

}  // namespace
}  // namespace korvane
