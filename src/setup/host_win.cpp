#include <windows.h>

#include "host/create_dir.h"
#include "host/file_unit.h"
#include "host/os.h"
#include "host/registry_win.h"
#include "payload/payloads.h"
#include "setup/win_services.h"
#include "shell/process.h"
#include "shell/shortcut_win.h"

namespace korvane {
namespace {

// Each effect of the run on the real system: a pure algorithm given the
// Win32 wrappers it rests on, or the wrapper itself.
class WindowsHost final : public SetupHost {
 public:
  explicit WindowsHost(std::uint32_t child_wait_limit_ms) noexcept
      : child_wait_limit_ms_(child_wait_limit_ms) {}

  std::u16string command_line() override {
    const wchar_t* line = ::GetCommandLineW();
    if (line == nullptr) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(line));
  }
  std::optional<Path> module_path() override { return current_exe(); }
  std::optional<Path> var_os(std::u16string_view name) override { return korvane::var_os(name); }
  IoResult<Path> temp_dir() override { return korvane::temp_dir(); }
  IoResult<Path> full_path(PathView path) override { return korvane::full_path(path); }
  std::int32_t msg_box(std::string_view caption, std::string_view text, std::uint32_t style) override {
    return korvane::msg_box(caption, text, style);
  }
  void run_hidden(std::u16string_view program, std::span<const std::string> args) override {
    korvane::run_hidden(program, args, child_wait_limit_ms_);
  }
  void sleep(Duration d) override { korvane::sleep(d); }
  IoResult<void> create_dir_all(PathView path) override {
    return korvane::create_dir_all(path, create_directory, is_directory);
  }
  std::span<const std::uint8_t> app_payload() override { return APP_EXE_GZ.bytes(); }
  std::span<const std::uint8_t> loader_payload() override { return WEBVIEW_LOADER_GZ.bytes(); }
  IoResult<void> install_files(std::span<const UnitFile> files) override {
    const std::uint32_t self = process_id();
    return replace_files(files, staging_tag(self, tick_count()), self, system_file_ops());
  }
  void launch_app(PathView program, std::optional<PathView> working_dir) override {
    korvane::launch_app(program, working_dir);
  }
  IoResult<Path> short_path(PathView path) override { return korvane::short_path(path); }
  std::optional<Path> shell_folder(ShellFolder folder) override {
    return korvane::shell_folder(folder);
  }
  IoResult<std::u16string> user_sid() override { return current_user_sid(); }
  IoResult<void> save_shortcut(const Shortcut& shortcut) override {
    return korvane::save_shortcut(shortcut);
  }
  IoResult<std::vector<RegistryValue>> read_user_key(std::u16string_view key) override {
    return korvane::read_user_key(key);
  }
  IoResult<void> set_user_values(std::u16string_view key, std::span<const RegistryValue> values) override {
    return korvane::set_user_values(key, values);
  }
  IoResult<void> write_user_key(std::u16string_view key, std::span<const RegistryValue> values) override {
    return korvane::write_user_key(key, values);
  }
  CalendarDate today() override { return local_date(); }
  IoResult<void> lock_installation(std::u16string_view name) override {
    auto owned = own_named_mutex(name, child_wait_limit_ms_);
    if (!owned) return std::unexpected(owned.error());
    lock_ = std::move(*owned);
    return {};
  }
  void unlock_installation() override { lock_.reset(); }
  std::string os_error_text(const IoError& error) override {
    return korvane::os_error_text(error, ntdll_loaded(), format_message);
  }

 private:
  std::uint32_t child_wait_limit_ms_;
  win::OwnedMutex lock_;
};

}  // namespace

std::unique_ptr<SetupHost> make_windows_host(std::uint32_t child_wait_limit_ms) {
  return std::make_unique<WindowsHost>(child_wait_limit_ms);
}

}  // namespace korvane
