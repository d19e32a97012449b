// The engine tests' window onto the project's own code, for what the built
// installer cannot show under Wine (a folder whose name is not valid UTF-16)
// and for the Windows command-line rules:
//
//   script_tool fill HEX DESKTOP_LNK PROGRAMS_DIR SID OUT_DIR
//       writes OUT_DIR/registration.ps1 (the text passed after -Command) and
//       OUT_DIR/Uninstall-Korvane.ps1 (the file's bytes) as the installer
//       makes them for the install folder whose UTF-16 code units HEX spells
//       (four hex digits each), the shortcut paths it made (UTF-8) and the
//       account's SID
//   script_tool templates OUT_DIR
//       writes both templates, unfilled, as OUT_DIR/registration.ps1 and
//       OUT_DIR/Uninstall-Korvane.ps1
//   script_tool split LINE
//       writes the arguments of the command line LINE (UTF-8), each ended by
//       a NUL byte
//
// Exit status 0, or 2 with a line on stderr for bad usage or an unwritable file.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "core/template.h"
#include "core/utf.h"
#include "host/paths.h"
#include "setup/command_line.h"
#include "setup/texts.h"
#include "shell/scripts.h"

namespace {

using namespace korvane;

int usage() {
  std::cerr << "usage: script_tool fill HEX DESKTOP_LNK PROGRAMS_DIR SID OUT_DIR | templates OUT_DIR | split LINE\n";
  return 2;
}

bool parse_units(std::string_view hex, std::u16string& out) {
  if (hex.empty() || hex.size() % 4 != 0) return false;
  for (std::size_t i = 0; i < hex.size(); i += 4) {
    char16_t unit = 0;
    for (const char c : hex.substr(i, 4)) {
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) return false;
      unit = static_cast<char16_t>(unit * 16 + digit);
    }
    out.push_back(unit);
  }
  return true;
}

bool write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out.good();
}

bool write_both(const std::string& out_dir, std::string_view registration, std::string_view uninstall) {
  if (write_file(out_dir + "/registration.ps1", registration) &&
      write_file(out_dir + "/Uninstall-Korvane.ps1", uninstall)) {
    return true;
  }
  std::cerr << "script_tool: cannot write into " << out_dir << "\n";
  return false;
}

// The texts as the install step builds them. The uninstall file is the
// byte-order mark and its template filled in placeholder order (install
// folder, Desktop shortcut, Start Menu folder, SID, the folder the
// application is started by, here the install folder); a template that
// names fewer of them leaves the rest out.
int fill(std::string_view hex, std::string_view desktop_lnk, std::string_view programs_dir,
         std::string_view sid, const std::string& out_dir) {
  std::u16string install_dir;
  if (!parse_units(hex, install_dir)) return usage();
  const std::string escaped_install_dir = ps_escape(to_string_lossy(install_dir));
  const std::string escaped_exe_path = ps_escape(to_string_lossy(join(install_dir, u"Korvane.exe")));
  std::string uninstall(UTF8_BOM);
  uninstall += fill_template(UNINSTALL_SCRIPT_TEMPLATE,
                             {escaped_install_dir, ps_escape(desktop_lnk), ps_escape(programs_dir), sid,
                              escaped_install_dir});
  return write_both(out_dir, shortcut_script(escaped_exe_path, escaped_install_dir, APP_VERSION), uninstall)
             ? 0
             : 2;
}

int split(std::string_view line) {
  for (const auto& arg : split_command_line(utf8_to_utf16(line))) {
    const std::string text = to_string_lossy(arg);
    std::fwrite(text.data(), 1, text.size() + 1, stdout);  // with its NUL
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view command = argc > 1 ? argv[1] : "";
  if (command == "fill" && argc == 7) return fill(argv[2], argv[3], argv[4], argv[5], argv[6]);
  if (command == "templates" && argc == 3) {
    return write_both(argv[2], SHORTCUT_SCRIPT_TEMPLATE, UNINSTALL_SCRIPT_TEMPLATE) ? 0 : 2;
  }
  if (command == "split" && argc == 3) return split(argv[2]);
  return usage();
}
