#pragma once
// The two shortcuts the installer makes itself: where they go and what they
// hold. Pure: the shell's folders come in as the values it gave.

#include <optional>
#include <string_view>

#include "core/path.h"

namespace korvane {

// The shell's folders the shortcuts go to (FOLDERID_Desktop, FOLDERID_Programs).
enum class ShellFolder : unsigned char { Desktop, Programs };

inline constexpr PathView SHORTCUT_FILE_NAME = u"Korvane.lnk";
// The product's own folder in the Start Menu's Programs folder.
inline constexpr PathView START_MENU_FOLDER_NAME = u"Korvane";
inline constexpr std::string_view SHORTCUT_DESCRIPTION = "Korvane Music Player";

// One shell link file: the file itself, its target, its start-in folder and
// its comment.
struct Shortcut {
  PathView file;
  PathView target;
  PathView working_dir;
  std::string_view description;
};

// Where this installation puts its shortcuts, worked out once before anything
// is written: the uninstall script names these very paths. An absent member
// means that folder is not known, and nothing is made or removed there.
struct ShortcutPlaces {
  std::optional<Path> desktop_shortcut;  // <Desktop>\Korvane.lnk
  std::optional<Path> start_menu_dir;    // <Programs>\Korvane

  // <Programs>\Korvane\Korvane.lnk, when the folder is known.
  [[nodiscard]] std::optional<Path> start_menu_shortcut() const;
};

// The places for the shell's answers. A folder that is absent, empty or not
// absolute (the paths must not depend on a current directory, neither now nor
// when the uninstall script runs) counts as unknown.
[[nodiscard]] ShortcutPlaces shortcut_places(const std::optional<Path>& desktop,
                                             const std::optional<Path>& programs);

}  // namespace korvane
