#pragma once
// The installer's whole run, from the command line to the last box, written
// against SetupHost so that tests can stand in for Windows.

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/duration.h"
#include "core/io_error.h"
#include "core/path.h"
#include "host/file_unit.h"
#include "host/registry.h"
#include "shell/shortcut.h"

namespace korvane {

// Everything the run asks of the system, one call per effect.
class SetupHost {
 public:
  virtual ~SetupHost() = default;
  // GetCommandLineW; empty when absent.
  [[nodiscard]] virtual std::u16string command_line() = 0;
  // GetModuleFileNameW of the running executable; nullopt when it fails.
  [[nodiscard]] virtual std::optional<Path> module_path() = 0;
  [[nodiscard]] virtual std::optional<Path> var_os(std::u16string_view name) = 0;
  [[nodiscard]] virtual IoResult<Path> temp_dir() = 0;
  // GetFullPathNameW: `path` made absolute against the current directory.
  [[nodiscard]] virtual IoResult<Path> full_path(PathView path) = 0;
  // The button that closed the box, or 0 when it failed.
  [[nodiscard]] virtual std::int32_t msg_box(std::string_view caption, std::string_view text,
                                             std::uint32_t style) = 0;
  virtual void run_hidden(std::u16string_view program, std::span<const std::string> args) = 0;
  virtual void sleep(Duration d) = 0;
  [[nodiscard]] virtual IoResult<void> create_dir_all(PathView path) = 0;
  [[nodiscard]] virtual std::span<const std::uint8_t> app_payload() = 0;
  [[nodiscard]] virtual std::span<const std::uint8_t> loader_payload() = 0;
  // Puts every file in place with its bytes, or none (replace_files): after
  // a failure each target holds what it held before.
  [[nodiscard]] virtual IoResult<void> install_files(std::span<const UnitFile> files) = 0;
  virtual void launch_app(PathView exe_path, PathView install_dir) = 0;
  // The shell's folder (SHGetKnownFolderPath); nullopt when it gives none.
  [[nodiscard]] virtual std::optional<Path> shell_folder(ShellFolder folder) = 0;
  // The SID text of the user the installer runs as, from its own token.
  [[nodiscard]] virtual IoResult<std::u16string> user_sid() = 0;
  // Saves a shell link, replacing a file of that name; a failure leaves none.
  [[nodiscard]] virtual IoResult<void> save_shortcut(const Shortcut& shortcut) = 0;
  // The value `name` of HKEY_CURRENT_USER\`key` as stored: its type and
  // bytes; an OS error when the key or the value is not there or unreadable.
  [[nodiscard]] virtual IoResult<RegistryValue> read_user_value(std::u16string_view key,
                                                                std::u16string_view name) = 0;
  // HKEY_CURRENT_USER\`key` created or opened, emptied, and given `values`;
  // the error of the first call that failed (the key may then hold part).
  [[nodiscard]] virtual IoResult<void> write_user_key(std::u16string_view key,
                                                      std::span<const RegistryValue> values) = 0;
  [[nodiscard]] virtual std::string os_error_text(const IoError& error) = 0;
};

inline constexpr Duration kStopPause{0, 350'000'000};

// The run's exit status, as Windows Installer names the outcomes, so that
// deployment tools (winget, Intune, Configuration Manager) read it.
inline constexpr std::uint32_t kExitInstalled = 0;
inline constexpr std::uint32_t kExitUserExit = 1602;         // ERROR_INSTALL_USEREXIT
inline constexpr std::uint32_t kExitInstallFailure = 1603;   // ERROR_INSTALL_FAILURE

// The installation directory: LOCALAPPDATA (or else the temporary directory)
// joined with Programs and Korvane, made absolute when it is not (an empty or
// relative LOCALAPPDATA), so that the paths written into the shortcuts and the
// uninstall entry name the folder the files went to. Fails when there is no
// temporary directory or the absolute form cannot be had.
[[nodiscard]] IoResult<Path> locate_install_dir(SetupHost& host);

// The installation proper: the user's SID and the shortcut folders, then
// directory, payloads, the three files, shortcuts, registration, and the
// uninstall entry read back.
// Gives the application's path, or the failure text of the first fatal error.
// Fatal: a SID that cannot be had or is no SID text (the uninstall script
// removes the entry by it; checked before anything is written), creating the
// directory, decoding either payload, putting the three files in place. They
// go in as one unit (the application imports the loader at load time, and a
// registered uninstaller must be there), so a failure leaves the folder as it
// was and an earlier version still starts. A shortcut that cannot be made is
// passed over. The registration run's outcome is not trusted: where the entry
// does not hold exactly the values it should (PowerShell missing, blocked or
// failed), the installer writes it itself, and a failure of that write is
// fatal too (the files stay; a new run repairs).
[[nodiscard]] std::expected<Path, std::string> install(SetupHost& host, PathView install_dir);

// The whole run. Gives the exit status: kExitInstalled (passed-over steps
// may have failed), kExitUserExit when the confirmation ended the run, or
// kExitInstallFailure once the failure box was dismissed.
[[nodiscard]] std::uint32_t run_setup(SetupHost& host);

}  // namespace korvane
