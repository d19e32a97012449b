#include "setup/run.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "core/utf.h"
#include "host/paths.h"
#include "setup/texts.h"
#include "shell/scripts.h"
#include "shell/uninstall_entry.h"

namespace korvane {
namespace {

// A gzip member of `data`, made with zlib's own gzip wrapper.
std::vector<std::uint8_t> gzip_of(std::string_view data) {
  z_stream z{};
  EXPECT_EQ(Z_OK, deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY));
  std::vector<std::uint8_t> out(data.size() + 128);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(Z_STREAM_END, deflate(&z, Z_FINISH));
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string text_of(std::span<const std::uint8_t> bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

using RegistryKey = std::map<std::u16string, RegistryValue>;
using Registry = std::map<std::u16string, RegistryKey>;

// What PowerShell makes of the registration script's lines: the key of
// `$reg = 'HKCU:\...'`, New-Item -Force (the key made empty), and each
// Set-ItemProperty with a single-quoted -Value (doubled quotes read as one,
// the text as UTF-16, as PowerShell gets it) or -Type DWord. Any other line
// fails the test.
void run_registration_script(std::string_view script, Registry& registry) {
  const std::string_view set_prefix = "Set-ItemProperty -Path $reg -Name ";
  std::u16string key;
  const auto unquote = [](std::string_view quoted) {
    // ' and U+2018..U+201B (E2 80 98..9B), each doubled as itself.
    const auto quote_at = [&](std::size_t i) -> std::size_t {
      if (quoted[i] == '\'') return 1;
      const std::string_view q = quoted.substr(i, 3);
      return q.size() == 3 && q.starts_with("\xE2\x80") && static_cast<unsigned char>(q[2]) >= 0x98 &&
                     static_cast<unsigned char>(q[2]) <= 0x9B
                 ? 3
                 : 0;
    };
    std::string text;
    for (std::size_t i = 0; i < quoted.size();) {
      const std::size_t n = quote_at(i);
      if (n != 0) {
        EXPECT_EQ(quoted.substr(i, n), quoted.substr(i + n, n)) << "an undoubled quote in " << quoted;
        text.append(quoted.substr(i, n));
        i += 2 * n;
      } else {
        text.push_back(quoted[i++]);
      }
    }
    return utf8_to_utf16(text);
  };
  for (std::string_view rest = script; !rest.empty();) {
    const std::size_t lf = rest.find('\n');
    const std::string_view line = rest.substr(0, lf);
    rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
    const std::string_view key_prefix = "$reg = 'HKCU:\\";
    if (line.starts_with(key_prefix) && line.ends_with("'")) {
      key = utf8_to_utf16(line.substr(key_prefix.size(), line.size() - key_prefix.size() - 1));
    } else if (line == "New-Item -Path $reg -Force | Out-Null") {
      registry[key].clear();
    } else if (line.starts_with(set_prefix)) {
      std::string_view tail = line.substr(set_prefix.size());
      const std::u16string name = utf8_to_utf16(tail.substr(0, tail.find(' ')));
      tail.remove_prefix(tail.find(' ') + 1);
      if (tail == "-Type DWord -Value 1") {
        registry.at(key)[name] = dword_value(name, 1);
      } else if (tail.starts_with("-Value ('") && tail.ends_with("')")) {
        registry.at(key)[name] = string_value(name, unquote(tail.substr(9, tail.size() - 11)));
      } else if (tail.starts_with("-Value '") && tail.ends_with("'")) {
        registry.at(key)[name] = string_value(name, unquote(tail.substr(8, tail.size() - 9)));
      } else {
        ADD_FAILURE() << "a Set-ItemProperty not understood: " << line;
      }
    } else {
      ADD_FAILURE() << "a line not understood: " << line;
    }
  }
}

// Records every effect in order as one line of text.
class FakeHost final : public SetupHost {
 public:
  std::u16string line = u"setup.exe";
  std::optional<Path> local_app_data = Path(u"C:\\Users\\u\\AppData\\Local");
  IoResult<Path> temp = Path(u"C:\\Users\\u\\AppData\\Local\\Temp\\");
  std::vector<std::int32_t> box_results;  // next results, then IDOK
  std::vector<std::uint8_t> app = gzip_of("MZ application");
  std::vector<std::uint8_t> loader = gzip_of("MZ loader");
  std::optional<IoError> install_error;
  std::optional<IoError> create_error;
  std::map<Path, IoError> create_errors;
  std::optional<IoError> full_path_error;
  std::optional<Path> desktop = Path(u"C:\\Users\\u\\Desktop");
  std::optional<Path> programs = Path(u"C:\\Users\\u\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs");
  IoResult<std::u16string> sid = std::u16string(u"S-1-5-21-1-2-3-1001");
  std::map<Path, IoError> shortcut_errors;
  // Whether the registration's PowerShell runs its script; what happens to
  // the registry right after (another writer, a broken PowerShell).
  bool powershell_works = true;
  void (*after_registration)(Registry&) = nullptr;
  std::optional<IoError> registry_write_error;
  Registry registry;
  // What the lock answers; whether it is held now.
  std::optional<IoError> lock_error;
  bool locked = false;
  CalendarDate date{2026, 3, 7};
  IoResult<Path> short_form = std::unexpected(IoError::os(2));

  std::vector<std::string> log;
  std::vector<std::string> box_texts;
  std::map<Path, std::string> files;
  std::vector<std::vector<std::string>> hidden_args;
  struct SavedShortcut {
    Path file, target, working_dir;
    std::string description;
    friend bool operator==(const SavedShortcut&, const SavedShortcut&) = default;
  };
  std::vector<SavedShortcut> shortcuts;

  std::u16string command_line() override { return line; }
  std::optional<Path> module_path() override {
    log.push_back("module_path");
    return Path(u"C:\\Downloads\\korvane_setup.exe");
  }
  std::optional<Path> var_os(std::u16string_view name) override {
    log.push_back("var_os " + to_string_lossy(name));
    return name == u"LOCALAPPDATA" ? local_app_data : std::nullopt;
  }
  IoResult<Path> temp_dir() override {
    log.push_back("temp_dir");
    return temp;
  }
  IoResult<Path> full_path(PathView path) override {
    log.push_back("full_path " + to_string_lossy(path));
    if (full_path_error) return std::unexpected(*full_path_error);
    return uR"(D:\cwd\)" + Path(path);
  }
  std::int32_t msg_box(std::string_view caption, std::string_view text, std::uint32_t style) override {
    log.push_back("box " + std::string(caption) + " " + std::to_string(style));
    EXPECT_FALSE(locked) << "a box waits for a click while the run holds the lock";
    box_texts.emplace_back(text);
    if (box_results.empty()) return 1;
    const std::int32_t r = box_results.front();
    box_results.erase(box_results.begin());
    return r;
  }
  void run_hidden(std::u16string_view program, std::span<const std::string> args) override {
    std::string entry = "run_hidden " + to_string_lossy(program);
    for (std::size_t i = 0; i < args.size() && i < 6; ++i) entry += " " + args[i];
    log.push_back(entry);
    hidden_args.emplace_back(args.begin(), args.end());
    if (program == u"powershell") {
      if (powershell_works && args.size() == 7) run_registration_script(args[6], registry);
      if (after_registration != nullptr) after_registration(registry);
    }
  }
  void sleep(Duration d) override {
    log.push_back("sleep " + std::to_string(d.seconds) + " " + std::to_string(d.nanoseconds));
  }
  IoResult<void> create_dir_all(PathView path) override {
    log.push_back("create_dir_all " + to_string_lossy(path));
    if (auto it = create_errors.find(Path(path)); it != create_errors.end()) {
      return std::unexpected(it->second);
    }
    if (create_error) return std::unexpected(*create_error);
    return {};
  }
  std::span<const std::uint8_t> app_payload() override { return app; }
  std::span<const std::uint8_t> loader_payload() override { return loader; }
  IoResult<void> install_files(std::span<const UnitFile> unit) override {
    std::string entry = "install_files";
    for (const UnitFile& f : unit) entry += " " + to_string_lossy(f.target);
    log.push_back(entry);
    if (install_error) return std::unexpected(*install_error);
    for (const UnitFile& f : unit) files[Path(f.target)] = text_of(f.bytes);
    return {};
  }
  void launch_app(PathView program, std::optional<PathView> working_dir) override {
    log.push_back("launch_app " + to_string_lossy(program) + " in " +
                  (working_dir ? to_string_lossy(*working_dir) : std::string("the Windows folder")));
  }
  IoResult<Path> short_path(PathView path) override {
    log.push_back("short_path " + to_string_lossy(path));
    return short_form;
  }
  std::optional<Path> shell_folder(ShellFolder folder) override {
    log.push_back(folder == ShellFolder::Desktop ? "shell_folder Desktop" : "shell_folder Programs");
    return folder == ShellFolder::Desktop ? desktop : programs;
  }
  IoResult<std::u16string> user_sid() override {
    log.push_back("user_sid");
    return sid;
  }
  IoResult<void> save_shortcut(const Shortcut& shortcut) override {
    log.push_back("save_shortcut " + to_string_lossy(shortcut.file));
    shortcuts.push_back({Path(shortcut.file), Path(shortcut.target), Path(shortcut.working_dir),
                         std::string(shortcut.description)});
    if (auto it = shortcut_errors.find(Path(shortcut.file)); it != shortcut_errors.end()) {
      return std::unexpected(it->second);
    }
    return {};
  }
  IoResult<std::vector<RegistryValue>> read_user_key(std::u16string_view key) override {
    log.push_back("read_user_key " + to_string_lossy(key));
    const auto k = registry.find(std::u16string(key));
    if (k == registry.end()) return std::unexpected(IoError::os(2));
    std::vector<RegistryValue> values;
    for (const auto& [name, value] : k->second) values.push_back(value);
    return values;
  }
  IoResult<void> set_user_values(std::u16string_view key, std::span<const RegistryValue> values) override {
    log.push_back("set_user_values " + to_string_lossy(key));
    if (registry_write_error) return std::unexpected(*registry_write_error);
    RegistryKey& k = registry[std::u16string(key)];
    for (const RegistryValue& v : values) k[v.name] = v;
    return {};
  }
  IoResult<void> write_user_key(std::u16string_view key, std::span<const RegistryValue> values) override {
    log.push_back("write_user_key " + to_string_lossy(key));
    if (registry_write_error) return std::unexpected(*registry_write_error);
    RegistryKey& k = registry[std::u16string(key)];
    k.clear();
    for (const RegistryValue& v : values) k[v.name] = v;
    return {};
  }
  CalendarDate today() override { return date; }
  IoResult<void> lock_installation(std::u16string_view name) override {
    log.push_back("lock " + to_string_lossy(name));
    if (lock_error) return std::unexpected(*lock_error);
    locked = true;
    return {};
  }
  void unlock_installation() override {
    log.push_back("unlock");
    EXPECT_TRUE(locked);
    locked = false;
  }
  std::string os_error_text(const IoError& error) override {
    if (error.is_os()) return "os error " + std::to_string(error.os_code());
    return std::string(error.message().empty() ? kind_description(error.kind()) : error.message());
  }
};

const char* const kDir = "C:\\Users\\u\\AppData\\Local\\Programs\\Korvane";
const char* const kDesktopShortcut = "C:\\Users\\u\\Desktop\\Korvane.lnk";
const char* const kStartMenuDir =
    "C:\\Users\\u\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Korvane";

const char* const kSid = "S-1-5-21-1-2-3-1001";

// Where `entry` stands in `log`; log.size() when it is not there.
std::size_t position(const std::vector<std::string>& log, std::string_view entry) {
  return static_cast<std::size_t>(std::find(log.begin(), log.end(), entry) - log.begin());
}

std::vector<std::string> successful_steps(bool silent) {
  const std::string dir = kDir;
  const std::string key = to_string_lossy(kUninstallKey);
  std::vector<std::string> steps{"var_os LOCALAPPDATA"};
  if (!silent) steps.push_back("box Korvane Setup 65");
  steps.insert(steps.end(), {
      "user_sid",
      std::string("lock Global\\KorvaneSetup-") + kSid,
      "run_hidden taskkill /F /IM Korvane.exe",
      "run_hidden taskkill /F /IM KorvaneCore.exe",
      "sleep 0 350000000",
      "shell_folder Desktop",
      "shell_folder Programs",
      "create_dir_all " + dir,
      "install_files " + dir + "\\Korvane.exe " + dir + "\\WebView2Loader.dll " + dir +
          "\\Uninstall-Korvane.ps1",
      std::string("save_shortcut ") + kDesktopShortcut,
      std::string("create_dir_all ") + kStartMenuDir,
      std::string("save_shortcut ") + kStartMenuDir + "\\Korvane.lnk",
      "run_hidden powershell -NoProfile -WindowStyle Hidden -ExecutionPolicy Bypass -Command",
      "set_user_values " + key,
      "read_user_key " + key,
      "launch_app " + dir + "\\Korvane.exe in " + dir,
      "unlock",
  });
  if (!silent) steps.push_back("box Korvane Setup 64");
  return steps;
}

TEST(Run, InteractiveInstallRunsEveryStepInOrder) {
  FakeHost host;
  EXPECT_EQ(kExitInstalled, run_setup(host));
  EXPECT_EQ(successful_steps(false), host.log);
  ASSERT_EQ(2u, host.box_texts.size());
  EXPECT_EQ(confirm_text(utf8_to_utf16(kDir)), host.box_texts[0]);
  EXPECT_EQ(success_text(), host.box_texts[1]);
}

TEST(Run, SilentInstallShowsNoBox) {
  for (const char16_t* line : {u"setup.exe --silent", u"setup.exe /S", u"/s", u"x \"--SILENT\""}) {
    FakeHost host;
    host.line = line;
    EXPECT_EQ(kExitInstalled, run_setup(host)) << to_string_lossy(line);
    EXPECT_EQ(successful_steps(true), host.log) << to_string_lossy(line);
  }
}

TEST(Run, EmptyCommandLineUsesTheModulePath) {
  FakeHost host;
  host.line = u"";
  EXPECT_EQ(kExitInstalled, run_setup(host));
  // Asked before anything else the run does.
  EXPECT_EQ(0u, position(host.log, "module_path"));
  EXPECT_EQ(2u, host.box_texts.size());
}

TEST(Run, AnythingButOkAtTheConfirmationChangesNothing) {
  for (std::int32_t result : {2, 0, -1, 7}) {  // Cancel/Esc/close, failed box, others
    FakeHost host;
    host.box_results = {result};
    EXPECT_EQ(kExitUserExit, run_setup(host)) << result;
    EXPECT_EQ((std::vector<std::string>{"var_os LOCALAPPDATA", "box Korvane Setup 65"}), host.log)
        << result;
  }
}

TEST(Run, PutsBothDecodedPayloadsAndTheUninstallScriptInPlaceAsOneUnit) {
  FakeHost host;
  EXPECT_EQ(kExitInstalled, run_setup(host));
  const Path dir = utf8_to_utf16(kDir);
  EXPECT_EQ("MZ application", host.files[dir + u"\\Korvane.exe"]);
  EXPECT_EQ("MZ loader", host.files[dir + u"\\WebView2Loader.dll"]);
  EXPECT_EQ(uninstall_script_file({kDir, kDesktopShortcut, kStartMenuDir, kSid, kDir}),
            host.files[dir + u"\\Uninstall-Korvane.ps1"]);
}

TEST(Run, BothShortcutsNameTheInstalledApplication) {
  FakeHost host;
  EXPECT_EQ(kExitInstalled, run_setup(host));
  const Path dir = utf8_to_utf16(kDir);
  const Path exe = dir + u"\\Korvane.exe";
  using Saved = FakeHost::SavedShortcut;
  EXPECT_EQ((std::vector<Saved>{
                {utf8_to_utf16(kDesktopShortcut), exe, dir, "Korvane Music Player"},
                {utf8_to_utf16(kStartMenuDir) + u"\\Korvane.lnk", exe, dir, "Korvane Music Player"},
            }),
            host.shortcuts);
}

TEST(Run, AShortcutThatCannotBeMadeIsPassedOver) {
  FakeHost host;
  host.shortcut_errors.emplace(utf8_to_utf16(kDesktopShortcut), IoError::os(5));
  host.shortcut_errors.emplace(utf8_to_utf16(kStartMenuDir) + u"\\Korvane.lnk", IoError::os(0x80004005));
  EXPECT_EQ(kExitInstalled, run_setup(host));
  EXPECT_EQ(successful_steps(false), host.log);
  EXPECT_EQ(success_text(), host.box_texts.back());
}

TEST(Run, AStartMenuFolderThatCannotBeMadeGetsNoShortcut) {
  FakeHost host;
  host.line = u"setup.exe /s";
  host.create_errors.emplace(utf8_to_utf16(kStartMenuDir), IoError::os(5));
  EXPECT_EQ(kExitInstalled, run_setup(host));
  std::vector<std::string> want = successful_steps(true);
  want.erase(std::find(want.begin(), want.end(),
                       std::string("save_shortcut ") + kStartMenuDir + "\\Korvane.lnk"));
  EXPECT_EQ(want, host.log);
}

// A folder the shell does not give, or gives in a form that depends on a
// current directory, gets no shortcut, and the uninstall script has no line
// for it; everything else goes on as usual.
TEST(Run, AnUnknownFolderGetsNoShortcutAndNoUninstallLine) {
  const std::optional<Path> unknown[] = {std::nullopt, Path(), Path(u"Desktop"), Path(u"\\Users\\u")};
  for (const auto& folder : unknown) {
    for (const bool desktop_unknown : {true, false}) {
      FakeHost host;
      host.line = u"setup.exe /s";
      (desktop_unknown ? host.desktop : host.programs) = folder;
      EXPECT_EQ(kExitInstalled, run_setup(host));
      std::vector<std::string> want = successful_steps(true);
      const auto first_dropped = std::find(want.begin(), want.end(),
                                           desktop_unknown ? std::string("save_shortcut ") + kDesktopShortcut
                                                           : std::string("create_dir_all ") + kStartMenuDir);
      want.erase(first_dropped, first_dropped + (desktop_unknown ? 1 : 2));
      const std::string shown = to_string_lossy(folder.value_or(u"(none)"));
      EXPECT_EQ(want, host.log) << shown;

      std::optional<std::string_view> desktop_line = kDesktopShortcut, start_menu_line = kStartMenuDir;
      (desktop_unknown ? desktop_line : start_menu_line) = std::nullopt;
      EXPECT_EQ(uninstall_script_file({kDir, desktop_line, start_menu_line, kSid, kDir}),
                host.files[utf8_to_utf16(kDir) + u"\\Uninstall-Korvane.ps1"])
          << shown;
    }
  }
}

// The uninstall entry is removed by the SID: without a usable one the run
// stops before anything is written.
TEST(Run, NoUsableSidFailsTheRunBeforeAnyWrite) {
  struct {
    IoResult<std::u16string> sid;
    const char* failure_text;
  } const cases[] = {
      {std::unexpected(IoError::os(1312)), "os error 1312"},
      {std::u16string(u"S-1-5-21-1 & calc"), "os error 1337"},
      {std::u16string(u"S-1-5-21-1-2-3-1001\\"), "os error 1337"},
      {std::u16string(u""), "os error 1337"},
  };
  for (const auto& c : cases) {
    FakeHost host;
    host.line = u"setup.exe /s";
    host.sid = c.sid;
    EXPECT_EQ(kExitInstallFailure, run_setup(host));
    std::vector<std::string> want = successful_steps(true);
    want.resize(position(want, "user_sid") + 1);
    want.push_back("box Korvane Setup \xE2\x80\x94 Error 16");
    EXPECT_EQ(want, host.log) << c.failure_text;
    EXPECT_EQ(std::string("Installation failed:\n") + c.failure_text, host.box_texts.back());
    EXPECT_TRUE(host.files.empty());
  }
}

// The uninstall entry as a registration that did its work leaves it, with
// the installer's own values, for the default folder: every text written out
// here.
RegistryKey written_entry() {
  const std::u16string dir = utf8_to_utf16(kDir);
  const std::u16string command = u"powershell -NoProfile -WindowStyle Hidden -ExecutionPolicy Bypass -File \"" +
                                 dir + u"\\Uninstall-Korvane.ps1\"";
  // The three files: "MZ application", "MZ loader" and the script, in KB rounded up.
  const std::size_t bytes = 14 + 9 + uninstall_script_file({kDir, kDesktopShortcut, kStartMenuDir, kSid, kDir}).size();
  RegistryKey key;
  for (RegistryValue v : {
           string_value(u"DisplayName", u"Korvane"),
           string_value(u"DisplayVersion", utf8_to_utf16(KORVANE_VERSION_TEXT)),
           string_value(u"Publisher", u"V4LDR1N"),
           string_value(u"DisplayIcon", dir + u"\\Korvane.exe"),
           string_value(u"InstallLocation", dir),
           string_value(u"UninstallString", command),
           dword_value(u"NoModify", 1),
           dword_value(u"NoRepair", 1),
           string_value(u"QuietUninstallString", command + u" -Quiet"),
           dword_value(u"EstimatedSize", static_cast<std::uint32_t>((bytes + 1023) / 1024)),
           string_value(u"InstallDate", u"20260307"),
       }) {
    key[v.name] = v;
  }
  return key;
}

TEST(Run, AnEntryTheRegistrationLeftRightGetsOnlyTheInstallersOwnValues) {
  FakeHost host;
  host.line = u"setup.exe /s";
  EXPECT_EQ(kExitInstalled, run_setup(host));
  EXPECT_EQ(successful_steps(true), host.log);
  EXPECT_EQ((Registry{{std::u16string(kUninstallKey), written_entry()}}), host.registry);
}

// Whatever the folder's name holds, the installer expects exactly what
// PowerShell makes of the script: quotes undoubled, an unpaired surrogate
// of the path as U+FFFD.
TEST(Run, TheReadBackExpectsWhatPowerShellMakesOfTheScript) {
  const std::u16string folders[] = {
      u"D:\\user's data",
      u"D:\\O\u2019Brien \u2018a\u2019 \u201ab\u201b ''",
      u"D:\\J\u00f6rg \u6e2c\u8a66 \U0001f3b5",
      std::u16string(u"D:\\lone ") + char16_t(0xD800) + u" high",
      std::u16string(u"D:\\lone ") + char16_t(0xDC00) + u" low",
  };
  for (const std::u16string& folder : folders) {
    FakeHost host;
    host.line = u"setup.exe /s";
    host.local_app_data = folder;
    EXPECT_EQ(kExitInstalled, run_setup(host)) << to_string_lossy(folder);
    EXPECT_EQ(host.log.end(), std::find(host.log.begin(), host.log.end(),
                                        "write_user_key " + to_string_lossy(kUninstallKey)))
        << to_string_lossy(folder);
  }
}

struct RepairCase {
  const char* why;
  bool powershell_works;
  void (*after)(Registry&);
};

RegistryKey& entry_of(Registry& r) { return r.at(std::u16string(kUninstallKey)); }

const RepairCase kRepairCases[] = {
    {"no PowerShell, or one that does nothing", false, nullptr},
    {"a crashed PowerShell left an empty key", false, [](Registry& r) { r[std::u16string(kUninstallKey)]; }},
    {"an older version", true,
     [](Registry& r) { entry_of(r)[u"DisplayVersion"] = string_value(u"DisplayVersion", u"0.1.0"); }},
    {"another folder", true,
     [](Registry& r) { entry_of(r)[u"InstallLocation"] = string_value(u"InstallLocation", u"C:\\old"); }},
    {"a string without its NUL", true,
     [](Registry& r) { entry_of(r)[u"DisplayIcon"].data.resize(entry_of(r)[u"DisplayIcon"].data.size() - 2); }},
    {"a string value missing", true, [](Registry& r) { entry_of(r).erase(u"UninstallString"); }},
    {"a number as a string", true, [](Registry& r) { entry_of(r)[u"NoModify"] = string_value(u"NoModify", u"1"); }},
    {"a number of the wrong type", true, [](Registry& r) { entry_of(r)[u"NoRepair"].type = 11; }},  // REG_QWORD
    {"a number 0", true, [](Registry& r) { entry_of(r)[u"NoRepair"] = dword_value(u"NoRepair", 0); }},
    // A key PowerShell left alone keeps what it held: the right eight values
    // and one of another tool, which hides Korvane from the list of apps.
    {"a value of another tool", false,
     [](Registry& r) {
       RegistryKey& key = r[std::u16string(kUninstallKey)];
       key = written_entry();
       key[u"SystemComponent"] = dword_value(u"SystemComponent", 1);
     }},
};

TEST(Run, AnEntryThatDiffersInAnyValueIsMadeAnewThroughTheRegistry) {
  for (const RepairCase& c : kRepairCases) {
    FakeHost host;
    host.line = u"setup.exe /s";
    host.powershell_works = c.powershell_works;
    host.after_registration = c.after;
    EXPECT_EQ(kExitInstalled, run_setup(host)) << c.why;
    std::vector<std::string> want = successful_steps(true);
    want.insert(want.begin() + static_cast<std::ptrdiff_t>(position(want, "read_user_key " + to_string_lossy(kUninstallKey)) + 1),
                "write_user_key " + to_string_lossy(kUninstallKey));
    EXPECT_EQ(want, host.log) << c.why;
    EXPECT_EQ((Registry{{std::u16string(kUninstallKey), written_entry()}}), host.registry) << c.why;
  }
}

// The files stay (a new run repairs), but without its entry the installation
// has failed: no start, no success box.
TEST(Run, AnEntryThatCannotBeWrittenFailsTheInstallation) {
  for (const bool silent : {true, false}) {
    FakeHost host;
    if (silent) host.line = u"setup.exe --silent";
    host.powershell_works = false;
    host.registry_write_error = IoError::os(5);
    EXPECT_EQ(kExitInstallFailure, run_setup(host)) << silent;
    std::vector<std::string> want = successful_steps(silent);
    want.resize(position(want, "read_user_key " + to_string_lossy(kUninstallKey)) + 1);
    want.push_back("write_user_key " + to_string_lossy(kUninstallKey));
    want.push_back("unlock");
    want.push_back("box Korvane Setup \xE2\x80\x94 Error 16");
    EXPECT_EQ(want, host.log) << silent;
    EXPECT_EQ("Installation failed:\nos error 5", host.box_texts.back()) << silent;
    EXPECT_EQ(3u, host.files.size()) << silent;
    EXPECT_EQ(2u, host.shortcuts.size()) << silent;
  }
}

// Another run that holds the lock for as long as the run waits ends it before
// anything is stopped or written, with the status deployment tools retry.
TEST(Run, ALockThatCannotBeHadChangesNothing) {
  struct {
    IoError error;
    std::uint32_t status;
  } const cases[] = {{IoError::os(1618), kExitInstallInProgress}, {IoError::os(5), kExitInstallFailure}};
  for (const auto& c : cases) {
    for (const bool silent : {true, false}) {
      FakeHost host;
      if (silent) host.line = u"setup.exe --silent";
      host.lock_error = c.error;
      EXPECT_EQ(c.status, run_setup(host)) << c.status;
      std::vector<std::string> want = successful_steps(silent);
      want.resize(position(want, std::string("lock Global\\KorvaneSetup-") + kSid) + 1);
      want.push_back("box Korvane Setup \xE2\x80\x94 Error 16");
      EXPECT_EQ(want, host.log) << c.status;
      EXPECT_EQ("Installation failed:\nos error " + std::to_string(c.error.os_code()), host.box_texts.back());
    }
  }
}

TEST(Run, RegistrationRunGetsTheFilledScriptAsItsSeventhArgument) {
  FakeHost host;
  host.local_app_data = Path(u"D:\\user's data");
  host.line = u"setup.exe /s";
  EXPECT_EQ(kExitInstalled, run_setup(host));
  ASSERT_EQ(3u, host.hidden_args.size());
  const auto& args = host.hidden_args[2];
  ASSERT_EQ(7u, args.size());
  EXPECT_EQ(shortcut_script("D:\\user''s data\\Programs\\Korvane\\Korvane.exe",
                            "D:\\user''s data\\Programs\\Korvane", KORVANE_VERSION_TEXT),
            args[6]);
}

TEST(Run, MissingLocalAppDataUsesTheTemporaryDirectory) {
  FakeHost host;
  host.local_app_data = std::nullopt;
  host.line = u"setup.exe /s";
  EXPECT_EQ(kExitInstalled, run_setup(host));
  const std::size_t temp = position(host.log, "temp_dir");
  EXPECT_LT(position(host.log, "var_os LOCALAPPDATA"), temp);
  EXPECT_LT(temp, position(host.log,
                           "create_dir_all C:\\Users\\u\\AppData\\Local\\Temp\\Programs\\Korvane"));
}

TEST(Run, ARelativeFolderIsMadeAbsoluteBeforeAnythingUsesIt) {
  for (const char16_t* local : {u"", u"rel\\dir", u"\\rooted", u"C:drive-relative"}) {
    FakeHost host;
    host.local_app_data = Path(local);
    EXPECT_EQ(kExitInstalled, run_setup(host));
    const Path want = uR"(D:\cwd\)" + join(join(local, u"Programs"), u"Korvane");
    const std::string shown = to_string_lossy(want);
    // Before the confirmation box shows it.
    EXPECT_LT(position(host.log, "full_path " + to_string_lossy(join(join(local, u"Programs"), u"Korvane"))),
              position(host.log, "box Korvane Setup 65"));
    EXPECT_EQ(confirm_text(want), host.box_texts.at(0)) << shown;
    EXPECT_LT(position(host.log, "create_dir_all " + shown), host.log.size());
    ASSERT_EQ(3u, host.hidden_args.size());
    EXPECT_EQ(shortcut_script(ps_escape(shown + "\\Korvane.exe"), ps_escape(shown), APP_VERSION),
              host.hidden_args[2].at(6));
  }
}

TEST(Run, AnAbsoluteFolderIsUsedAsItIs) {
  for (const char16_t* local : {uR"(E:/Users/u)", uR"(\\server\share\u)", uR"(\\?\C:\u)"}) {
    FakeHost host;
    host.local_app_data = Path(local);
    EXPECT_EQ(kExitInstalled, run_setup(host));
    EXPECT_EQ(host.log.end(), std::find_if(host.log.begin(), host.log.end(), [](const std::string& e) {
                return e.starts_with("full_path");
              })) << to_string_lossy(local);
  }
}

// A folder too long for a current directory or a program path: the
// application starts by the folder's short form, which the uninstall script
// names too so that it can stop it; without one, in the Windows folder.
TEST(Run, AFolderTooLongStartsTheApplicationByItsShortForm) {
  const Path local = u"D:\\" + Path(250, u'x');
  const Path dir = local + u"\\Programs\\Korvane";
  const struct {
    IoResult<Path> short_form;
    std::string program_dir, working_dir;
  } cases[] = {
      {Path(u"\\\\?\\D:\\XXXXXX~1\\Programs\\Korvane"), "D:\\XXXXXX~1\\Programs\\Korvane",
       "D:\\XXXXXX~1\\Programs\\Korvane"},
      {std::unexpected(IoError::os(2)), to_string_lossy(dir), "the Windows folder"},
  };
  for (const auto& c : cases) {
    FakeHost host;
    host.line = u"setup.exe /s";
    host.local_app_data = local;
    host.short_form = c.short_form;
    EXPECT_EQ(kExitInstalled, run_setup(host)) << c.program_dir;
    EXPECT_EQ(1, std::ranges::count(host.log, "short_path " + to_string_lossy(dir))) << c.program_dir;
    EXPECT_EQ("launch_app " + c.program_dir + "\\Korvane.exe in " + c.working_dir, host.log.at(host.log.size() - 2));
    const std::string text = to_string_lossy(dir);
    EXPECT_EQ(uninstall_script_file({text, kDesktopShortcut, kStartMenuDir, kSid, c.program_dir}),
              host.files[dir + u"\\Uninstall-Korvane.ps1"])
        << c.program_dir;
  }
}

TEST(Run, NoAbsoluteFormEndsWithTheFailureBox) {
  FakeHost host;
  host.local_app_data = Path();
  host.full_path_error = IoError::os(206);
  EXPECT_EQ(kExitInstallFailure, run_setup(host));
  EXPECT_EQ((std::vector<std::string>{"var_os LOCALAPPDATA", "full_path Programs\\Korvane",
                                      "box Korvane Setup \xE2\x80\x94 Error 16"}),
            host.log);
  EXPECT_EQ("Installation failed:\nos error 206", host.box_texts.back());
}

TEST(Run, NoTemporaryDirectoryEndsWithTheFailureBox) {
  FakeHost host;
  host.local_app_data = std::nullopt;
  host.temp = std::unexpected(IoError::os(5));
  host.line = u"setup.exe /s";
  EXPECT_EQ(kExitInstallFailure, run_setup(host));
  EXPECT_EQ((std::vector<std::string>{"var_os LOCALAPPDATA", "temp_dir", "box Korvane Setup \xE2\x80\x94 Error 16"}),
            host.log);
}

struct FatalCase {
  const char* why;
  void (*arrange)(FakeHost&);
  const char* failure_text;
  std::size_t steps_before_box;  // of the silent successful road
};

const FatalCase kFatalCases[] = {
    {"directory", [](FakeHost& h) { h.create_error = IoError::os(183); }, "os error 183", 9},
    {"application payload", [](FakeHost& h) { h.app = {0x1F, 0x8B, 8}; }, "unexpected end of file", 9},
    {"loader payload",
     [](FakeHost& h) {
       h.loader[h.loader.size() - 8] ^= 1;  // the trailer's CRC-32
     },
     "corrupt gzip stream does not have a matching checksum", 9},
    // Any of the three files: a full disk, a file in use, an uninstall script
    // that cannot be written (a registered uninstaller must be there).
    {"files, disk full", [](FakeHost& h) { h.install_error = IoError::os(112); }, "os error 112", 10},
    {"files, one in use", [](FakeHost& h) { h.install_error = IoError::os(32); }, "os error 32", 10},
};

TEST(Run, FatalErrorGivesExactlyOneFailureBoxEvenWhenSilent) {
  for (const FatalCase& c : kFatalCases) {
    for (bool silent : {true, false}) {
      FakeHost host;
      if (silent) host.line = u"setup.exe --silent";
      c.arrange(host);
      EXPECT_EQ(kExitInstallFailure, run_setup(host)) << c.why;
      std::vector<std::string> want = successful_steps(true);
      want.resize(c.steps_before_box);
      if (!silent) want.insert(want.begin() + 1, "box Korvane Setup 65");
      want.push_back("unlock");
      want.push_back("box Korvane Setup \xE2\x80\x94 Error 16");
      EXPECT_EQ(want, host.log) << c.why;
      EXPECT_EQ(std::string("Installation failed:\n") + c.failure_text, host.box_texts.back()) << c.why;
      EXPECT_TRUE(host.files.empty()) << c.why;
      EXPECT_TRUE(host.hidden_args.size() <= 2) << c.why << ": no registration run";
      EXPECT_TRUE(host.shortcuts.empty()) << c.why;
    }
  }
}

TEST(Run, PassedOverFailuresStillEndInSuccess) {
  FakeHost host;
  host.box_results = {1, 0};  // the success box fails: passed over
  EXPECT_EQ(kExitInstalled, run_setup(host));
  EXPECT_EQ(successful_steps(false), host.log);
}

TEST(Run, SecondMemberOfAPayloadIsIgnored) {
  FakeHost host;
  auto second = gzip_of("second member");
  host.app.insert(host.app.end(), second.begin(), second.end());
  EXPECT_EQ(kExitInstalled, run_setup(host));
  EXPECT_EQ("MZ application", host.files[utf8_to_utf16(kDir) + u"\\Korvane.exe"]);
}

}  // namespace
}  // namespace korvane
