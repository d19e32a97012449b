#include "shell/shortcut.h"

#include <gtest/gtest.h>

#include "core/utf.h"

namespace korvane {
namespace {

TEST(ShortcutPlaces, AbsoluteFoldersGiveTheShortcutPaths) {
  const ShortcutPlaces places =
      shortcut_places(Path(uR"(C:\Users\u\Desktop)"), Path(uR"(\\server\share\Programs\)"));
  EXPECT_EQ(Path(uR"(C:\Users\u\Desktop\Korvane.lnk)"), places.desktop_shortcut);
  EXPECT_EQ(Path(uR"(\\server\share\Programs\Korvane)"), places.start_menu_dir);
  EXPECT_EQ(Path(uR"(\\server\share\Programs\Korvane\Korvane.lnk)"), places.start_menu_shortcut());
}

TEST(ShortcutPlaces, AFolderThatDependsOnACurrentDirectoryIsUnknown) {
  const std::optional<Path> unknown[] = {std::nullopt, Path(), Path(u"Desktop"),
                                         Path(uR"(\Users\u)"), Path(u"C:Desktop")};
  for (const auto& folder : unknown) {
    const ShortcutPlaces places = shortcut_places(folder, folder);
    const std::string shown = to_string_lossy(folder.value_or(u"(none)"));
    EXPECT_EQ(std::nullopt, places.desktop_shortcut) << shown;
    EXPECT_EQ(std::nullopt, places.start_menu_dir) << shown;
    EXPECT_EQ(std::nullopt, places.start_menu_shortcut()) << shown;
  }
  // One unknown folder leaves the other alone.
  const ShortcutPlaces places = shortcut_places(std::nullopt, Path(uR"(D:\P)"));
  EXPECT_EQ(Path(uR"(D:\P\Korvane)"), places.start_menu_dir);
}

}  // namespace
}  // namespace korvane
