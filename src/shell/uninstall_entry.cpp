#include "shell/uninstall_entry.h"

#include <algorithm>

#include "core/utf.h"
#include "shell/scripts.h"

namespace korvane {

std::string uninstall_command(std::string_view install_dir) {
  std::string command = "powershell -NoProfile -WindowStyle Hidden -ExecutionPolicy Bypass -File \"";
  command += install_dir;
  command += "\\Uninstall-Korvane.ps1\"";
  return command;
}

std::array<RegistryValue, 8> uninstall_entry(std::string_view exe_path, std::string_view install_dir,
                                             std::string_view version) {
  return {{
      string_value(u"DisplayName", u"Korvane"),
      string_value(u"DisplayVersion", utf8_to_utf16(version)),
      string_value(u"Publisher", u"V4LDR1N"),
      string_value(u"DisplayIcon", utf8_to_utf16(exe_path)),
      string_value(u"InstallLocation", utf8_to_utf16(install_dir)),
      string_value(u"UninstallString", utf8_to_utf16(uninstall_command(install_dir))),
      dword_value(u"NoModify", 1),
      dword_value(u"NoRepair", 1),
  }};
}

std::array<RegistryValue, 3> installer_values(std::string_view install_dir, std::uint64_t installed_bytes,
                                              CalendarDate today) {
  const std::uint64_t kb = std::min<std::uint64_t>((installed_bytes + 1023) / 1024, 0xFFFFFFFF);
  char16_t date[8];
  const unsigned parts[] = {today.year, today.month, today.day};
  const int widths[] = {4, 2, 2};
  for (int part = 0, at = 0; part < 3; ++part) {
    unsigned n = parts[part];
    for (int i = widths[part] - 1; i >= 0; --i, n /= 10) date[at + i] = static_cast<char16_t>(u'0' + n % 10);
    at += widths[part];
  }
  return {{
      string_value(u"QuietUninstallString",
                   utf8_to_utf16(uninstall_command(install_dir) + " " + std::string(kQuietSwitch))),
      dword_value(u"EstimatedSize", static_cast<std::uint32_t>(kb)),
      string_value(u"InstallDate", std::u16string_view(date, 8)),
  }};
}

}  // namespace korvane
