#pragma once
// Every text the user reads: captions, message templates, box styles.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/path.h"
#include "korvane_version.h"

namespace korvane {

// From the build (KORVANE_VERSION); the application payload carries the same.
inline constexpr std::string_view APP_VERSION = KORVANE_VERSION_TEXT;

inline constexpr std::string_view SETUP_CAPTION = "Korvane Setup";
// U+2014 EM DASH with one space on either side.
inline constexpr std::string_view ERROR_CAPTION = "Korvane Setup \xE2\x80\x94 Error";

inline constexpr std::string_view CONFIRM_TEMPLATE =
    "Install Korvane v{0}?\n"
    "\n"
    "Install folder:\n"
    "{1}\n"
    "\n"
    "This will add Desktop & Start Menu shortcuts and keep all your existing playlists.\n"
    "\n"
    "Korvane Music Player by V4LDR1N";

inline constexpr std::string_view SUCCESS_TEMPLATE =
    "Korvane v{0} was installed successfully and is now launching!";

inline constexpr std::string_view FAILURE_TEMPLATE = "Installation failed:\n{0}";

// MessageBoxW styles: MB_OKCANCEL | MB_ICONINFORMATION, MB_OK | MB_ICONINFORMATION,
// MB_OK | MB_ICONERROR.
inline constexpr std::uint32_t CONFIRM_STYLE = 0x41;
inline constexpr std::uint32_t SUCCESS_STYLE = 0x40;
inline constexpr std::uint32_t FAILURE_STYLE = 0x10;

inline constexpr std::int32_t IDOK_RESULT = 1;

// The confirmation text; the directory shown by its lossy UTF-8 text.
[[nodiscard]] std::string confirm_text(PathView install_dir);
[[nodiscard]] std::string success_text();
[[nodiscard]] std::string failure_text(std::string_view error_text);

}  // namespace korvane
