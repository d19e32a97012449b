#include "shell/uninstall_entry.h"

#include <string>

#include "core/utf.h"

namespace korvane {

std::array<RegistryValue, 8> uninstall_entry(std::string_view exe_path, std::string_view install_dir,
                                             std::string_view version) {
  std::string uninstall =
      "powershell -NoProfile -WindowStyle Hidden -ExecutionPolicy Bypass -File \"";
  uninstall += install_dir;
  uninstall += "\\Uninstall-Korvane.ps1\"";
  return {{
      string_value(u"DisplayName", u"Korvane"),
      string_value(u"DisplayVersion", utf8_to_utf16(version)),
      string_value(u"Publisher", u"V4LDR1N"),
      string_value(u"DisplayIcon", utf8_to_utf16(exe_path)),
      string_value(u"InstallLocation", utf8_to_utf16(install_dir)),
      string_value(u"UninstallString", utf8_to_utf16(uninstall)),
      dword_value(u"NoModify", 1),
      dword_value(u"NoRepair", 1),
  }};
}

}  // namespace korvane
