#include "shell/shortcut.h"

#include "host/paths.h"

namespace korvane {
namespace {

std::optional<Path> below(const std::optional<Path>& folder, PathView name) {
  if (!folder || !is_absolute(*folder)) return std::nullopt;
  return join(*folder, name);
}

}  // namespace

std::optional<Path> ShortcutPlaces::start_menu_shortcut() const {
  return below(start_menu_dir, SHORTCUT_FILE_NAME);
}

ShortcutPlaces shortcut_places(const std::optional<Path>& desktop,
                               const std::optional<Path>& programs) {
  return {below(desktop, SHORTCUT_FILE_NAME), below(programs, START_MENU_FOLDER_NAME)};
}

}  // namespace korvane
