#include "setup/run.h"

#include <algorithm>
#include <array>
#include <vector>

#include "core/utf.h"
#include "host/install_lock.h"
#include "host/paths.h"
#include "host/sid.h"
#include "payload/gunzip.h"
#include "setup/command_line.h"
#include "setup/texts.h"
#include "shell/scripts.h"
#include "shell/shortcut.h"
#include "shell/uninstall_entry.h"

namespace korvane {
namespace {

bool silent_requested(SetupHost& host) {
  const std::u16string line = host.command_line();
  std::vector<std::u16string> args = split_command_line(line);
  if (args.empty()) args.push_back(host.module_path().value_or(Path()));
  return has_silent_switch(args);
}

void stop_running_copies(SetupHost& host) {
  const std::array<std::string, 3> app{"/F", "/IM", "Korvane.exe"};
  const std::array<std::string, 3> core{"/F", "/IM", "KorvaneCore.exe"};
  host.run_hidden(u"taskkill", app);
  host.run_hidden(u"taskkill", core);
}

// The text of a known place as the uninstall script holds it.
std::optional<std::string> escaped_text(const std::optional<Path>& path) {
  if (!path) return std::nullopt;
  return ps_escape(to_string_lossy(*path));
}

// Both shortcuts where the places say; each failure is passed over.
void make_shortcuts(SetupHost& host, const ShortcutPlaces& places, PathView exe_path,
                    PathView install_dir) {
  const auto save = [&](PathView file) {
    (void)host.save_shortcut({file, exe_path, install_dir, SHORTCUT_DESCRIPTION});
  };
  if (places.desktop_shortcut) save(*places.desktop_shortcut);
  if (auto file = places.start_menu_shortcut()) {
    if (host.create_dir_all(*places.start_menu_dir)) save(*file);
  }
}

void register_installation(SetupHost& host, const std::string& script) {
  const std::array<std::string, 7> args{"-NoProfile", "-WindowStyle", "Hidden", "-ExecutionPolicy",
                                        "Bypass",     "-Command",     script};
  host.run_hidden(u"powershell", args);
}

// True when HKCU\`key` holds exactly `values`, none more: name, type and bytes.
bool holds_exactly(SetupHost& host, std::u16string_view key, std::span<const RegistryValue> values) {
  auto got = host.read_user_key(key);
  if (!got || got->size() != values.size()) return false;
  return std::ranges::all_of(values, [&](const RegistryValue& want) { return std::ranges::find(*got, want) != got->end(); });
}

// The entry: the eight values the registration script writes and the
// installer's own three. Whatever became of the script's run (no PowerShell,
// one that policy stops or that crashed), the entry is read back and made
// anew through the registry where it does not hold exactly these values.
IoResult<void> ensure_uninstall_entry(SetupHost& host, std::string_view exe_path_text,
                                      std::string_view install_dir_text, std::uint64_t installed_bytes) {
  const std::array<RegistryValue, 8> registered = uninstall_entry(exe_path_text, install_dir_text, APP_VERSION);
  const std::array<RegistryValue, 3> own = installer_values(install_dir_text, installed_bytes, host.today());
  std::vector<RegistryValue> entry(registered.begin(), registered.end());
  entry.insert(entry.end(), own.begin(), own.end());
  // A failure here shows in the read-back.
  (void)host.set_user_values(kUninstallKey, own);
  if (holds_exactly(host, kUninstallKey, entry)) return {};
  return host.write_user_key(kUninstallKey, entry);
}

// Lets go of the install lock when the run leaves the stretch that holds it.
class LockHeld {
 public:
  explicit LockHeld(SetupHost& host) noexcept : host_(host) {}
  LockHeld(const LockHeld&) = delete;
  LockHeld& operator=(const LockHeld&) = delete;
  ~LockHeld() { host_.unlock_installation(); }

 private:
  SetupHost& host_;
};

std::uint32_t fail_with_box(SetupHost& host, std::string_view text, std::uint32_t status) {
  (void)host.msg_box(ERROR_CAPTION, failure_text(text), FAILURE_STYLE);
  return status;
}

}  // namespace

IoResult<Path> locate_install_dir(SetupHost& host) {
  std::optional<Path> base = host.var_os(u"LOCALAPPDATA");
  if (!base) {
    auto temp = host.temp_dir();
    if (!temp) return std::unexpected(temp.error());
    base = std::move(*temp);
  }
  Path dir = join(*base, u"Programs");
  push(dir, u"Korvane");
  if (is_absolute(dir)) return dir;
  return host.full_path(dir);
}

std::expected<LaunchPaths, std::string> install(SetupHost& host, PathView install_dir, std::u16string_view sid) {
  const auto fail = [&](const IoError& e) { return std::unexpected(host.os_error_text(e)); };

  // Worked out before anything is written: the uninstall script names them.
  // Asked one after the other (the order of a call's arguments is unspecified).
  const std::optional<Path> desktop = host.shell_folder(ShellFolder::Desktop);
  const std::optional<Path> programs = host.shell_folder(ShellFolder::Programs);
  const ShortcutPlaces places = shortcut_places(desktop, programs);

  if (auto made = host.create_dir_all(install_dir); !made) return fail(made.error());

  const Path exe_path = join(install_dir, u"Korvane.exe");
  // How the application will start, which the uninstall script must know to
  // recognise it: the folder's short form where the folder is too long.
  LaunchPaths launch =
      launch_paths(install_dir, u"Korvane.exe", [&](PathView path) { return host.short_path(path); });
  const Path dll_path = join(install_dir, u"WebView2Loader.dll");
  const Path uninstall_script_path = join(install_dir, u"Uninstall-Korvane.ps1");

  // Both payloads decode before anything is written.
  auto app = gunzip(host.app_payload());
  if (!app) return fail(app.error());
  auto loader = gunzip(host.loader_payload());
  if (!loader) return fail(loader.error());

  // The texts the registration script and the uninstall entry are made of.
  const std::string install_dir_text = to_string_lossy(install_dir);
  const std::string exe_path_text = to_string_lossy(exe_path);
  const std::string escaped_install_dir = ps_escape(install_dir_text);
  const std::string escaped_exe_path = ps_escape(exe_path_text);

  std::uint64_t installed_bytes = 0;
  {
    const std::optional<std::string> desktop_shortcut = escaped_text(places.desktop_shortcut);
    const std::optional<std::string> start_menu_dir = escaped_text(places.start_menu_dir);
    const std::string sid_text = to_string_lossy(sid);
    const std::string escaped_program_dir = ps_escape(to_string_lossy(launch.program_dir));
    const std::string script = uninstall_script_file(
        {escaped_install_dir, desktop_shortcut, start_menu_dir, sid_text, escaped_program_dir});
    const UnitFile files[] = {
        {exe_path, *app},
        {dll_path, *loader},
        {uninstall_script_path,
         std::span(reinterpret_cast<const std::uint8_t*>(script.data()), script.size())},
    };
    if (auto placed = host.install_files(files); !placed) return fail(placed.error());
    installed_bytes = app->size() + loader->size() + script.size();
  }
  make_shortcuts(host, places, exe_path, install_dir);
  register_installation(host, shortcut_script(escaped_exe_path, escaped_install_dir, APP_VERSION));
  if (auto entry = ensure_uninstall_entry(host, exe_path_text, install_dir_text, installed_bytes); !entry) {
    return fail(entry.error());
  }
  return launch;
}

std::uint32_t run_setup(SetupHost& host) {
  const bool silent = silent_requested(host);

  auto install_dir = locate_install_dir(host);
  if (!install_dir) {
    // No temporary directory, or no absolute form of the folder: nothing can
    // be installed where the shortcuts would find it.
    return fail_with_box(host, host.os_error_text(install_dir.error()), kExitInstallFailure);
  }

  if (!silent && host.msg_box(SETUP_CAPTION, confirm_text(*install_dir), CONFIRM_STYLE) != IDOK_RESULT) {
    return kExitUserExit;
  }

  // The lock and the uninstall script are named by it: without a usable one
  // nothing is stopped or written.
  auto sid = host.user_sid();
  if (!sid) return fail_with_box(host, host.os_error_text(sid.error()), kExitInstallFailure);
  if (!is_sid_text(*sid)) return fail_with_box(host, host.os_error_text(IoError::os(kErrorInvalidSid)), kExitInstallFailure);

  // One installation or removal at a time: another installer, or an
  // uninstall still at work, would meet this one inside the same folder.
  if (auto locked = host.lock_installation(install_lock_name(*sid)); !locked) {
    const bool busy = locked.error() == IoError::os(kErrorInstallAlreadyRunning);
    return fail_with_box(host, host.os_error_text(locked.error()), busy ? kExitInstallInProgress : kExitInstallFailure);
  }
  std::expected<LaunchPaths, std::string> outcome;
  {
    const LockHeld held(host);
    stop_running_copies(host);
    host.sleep(kStopPause);
    outcome = install(host, *install_dir, *sid);
    if (outcome) {
      host.launch_app(outcome->program,
                      outcome->working_dir ? std::optional<PathView>(*outcome->working_dir) : std::nullopt);
    }
  }
  if (!outcome) return fail_with_box(host, outcome.error(), kExitInstallFailure);
  if (!silent) (void)host.msg_box(SETUP_CAPTION, success_text(), SUCCESS_STYLE);
  return kExitInstalled;
}

}  // namespace korvane
