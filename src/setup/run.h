#pragma once
// The installer's whole run, from the command line to the last box, written
// against SetupHost so that tests can stand in for Windows.

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/date.h"
#include "core/duration.h"
#include "core/io_error.h"
#include "core/path.h"
#include "host/file_unit.h"
#include "host/registry.h"
#include "shell/launch.h"
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
  // Starts the application `program` in `working_dir` (nullopt: the Windows
  // folder), not waited for, with no handle of the installer.
  virtual void launch_app(PathView program, std::optional<PathView> working_dir) = 0;
  // GetShortPathNameW: the short (8.3) form of the existing `path`.
  [[nodiscard]] virtual IoResult<Path> short_path(PathView path) = 0;
  // The shell's folder (SHGetKnownFolderPath); nullopt when it gives none.
  [[nodiscard]] virtual std::optional<Path> shell_folder(ShellFolder folder) = 0;
  // The SID text of the user the installer runs as, from its own token.
  [[nodiscard]] virtual IoResult<std::u16string> user_sid() = 0;
  // Saves a shell link, replacing a file of that name; a failure leaves none.
  [[nodiscard]] virtual IoResult<void> save_shortcut(const Shortcut& shortcut) = 0;
  // Every value of HKEY_CURRENT_USER\`key` as stored: name, type and bytes;
  // an OS error when the key is not there or unreadable.
  [[nodiscard]] virtual IoResult<std::vector<RegistryValue>> read_user_key(std::u16string_view key) = 0;
  // HKEY_CURRENT_USER\`key` (made where missing) given `values`; what else it
  // holds stays.
  [[nodiscard]] virtual IoResult<void> set_user_values(std::u16string_view key,
                                                       std::span<const RegistryValue> values) = 0;
  // HKEY_CURRENT_USER\`key` created or opened, emptied, and given `values`;
  // the error of the first call that failed (the key may then hold part).
  [[nodiscard]] virtual IoResult<void> write_user_key(std::u16string_view key,
                                                      std::span<const RegistryValue> values) = 0;
  // Today in the local calendar.
  [[nodiscard]] virtual CalendarDate today() = 0;
  // Owns the named lock `name`, waiting for another holder as long as for a
  // child: OS error kErrorInstallAlreadyRunning when it stays held.
  [[nodiscard]] virtual IoResult<void> lock_installation(std::u16string_view name) = 0;
  // Lets go of the lock taken by lock_installation.
  virtual void unlock_installation() = 0;
  [[nodiscard]] virtual std::string os_error_text(const IoError& error) = 0;
};

inline constexpr Duration kStopPause{0, 350'000'000};

// The run's exit status, as Windows Installer names the outcomes, so that
// deployment tools (winget, Intune, Configuration Manager) read it.
inline constexpr std::uint32_t kExitInstalled = 0;
inline constexpr std::uint32_t kExitUserExit = 1602;         // ERROR_INSTALL_USEREXIT
inline constexpr std::uint32_t kExitInstallFailure = 1603;   // ERROR_INSTALL_FAILURE
inline constexpr std::uint32_t kExitInstallInProgress = 1618;  // ERROR_INSTALL_ALREADY_RUNNING

// The installation directory: LOCALAPPDATA (or else the temporary directory)
// joined with Programs and Korvane, made absolute when it is not (an empty or
// relative LOCALAPPDATA), so that the paths written into the shortcuts and the
// uninstall entry name the folder the files went to. Fails when there is no
// temporary directory or the absolute form cannot be had.
[[nodiscard]] IoResult<Path> locate_install_dir(SetupHost& host);

// The installation proper for the user of SID text `sid` (the uninstall
// script removes the entry by it): the shortcut folders, then directory,
// payloads, the three files, shortcuts, registration, and the uninstall
// entry read back.
// Gives how the application is to be started (launch_paths: by the short form
// of the folder where it is too long to be a current directory or a program's
// folder; the uninstall script knows that form too), or the failure text of
// the first fatal error.
// Fatal: creating the directory, decoding either payload, putting the three
// files in place. They go in as one unit (the application imports the loader
// at load time, and a registered uninstaller must be there), so a failure
// leaves the folder as it was and an earlier version still starts. A shortcut
// that cannot be made is passed over. The registration run's outcome is not
// trusted: the installer adds its own three values (QuietUninstallString,
// EstimatedSize, InstallDate), reads the entry back, and where it does not
// hold exactly the values it should (PowerShell missing, blocked or failed, a
// value of an earlier version or another tool), makes the key anew itself; a
// failure of that write is fatal too (the files stay; a new run repairs).
[[nodiscard]] std::expected<LaunchPaths, std::string> install(SetupHost& host, PathView install_dir,
                                                              std::u16string_view sid);

// The whole run. The user's SID is worked out after the confirmation (a SID
// that cannot be had or is no SID text ends the run before anything changes),
// then the run takes its user's install lock (install_lock_name) and holds it
// from the stop step until the application has started, never while a box
// waits. Gives the exit status: kExitInstalled (passed-over steps may have
// failed), kExitUserExit when the confirmation ended the run,
// kExitInstallInProgress when another run held the lock too long, or
// kExitInstallFailure; those two once the failure box was dismissed.
[[nodiscard]] std::uint32_t run_setup(SetupHost& host);

}  // namespace korvane
