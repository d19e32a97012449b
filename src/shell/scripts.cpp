#include "shell/scripts.h"

#include "core/template.h"

namespace korvane {
namespace {

// Length of the single-quote character starting at text[i], or 0. In UTF-8
// U+2018..U+201B are E2 80 98..9B.
std::size_t quote_length(std::string_view text, std::size_t i) {
  if (text[i] == '\'') return 1;
  if (static_cast<unsigned char>(text[i]) == 0xE2 && i + 2 < text.size() &&
      static_cast<unsigned char>(text[i + 1]) == 0x80) {
    const auto last = static_cast<unsigned char>(text[i + 2]);
    if (last >= 0x98 && last <= 0x9B) return 3;
  }
  return 0;
}

}  // namespace

std::string ps_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t n = quote_length(text, i); n != 0) {
      out.append(text.substr(i, n));
      out.append(text.substr(i, n));
      i += n;
    } else {
      out.push_back(text[i]);
      ++i;
    }
  }
  return out;
}

std::string shortcut_script(std::string_view escaped_exe_path, std::string_view escaped_install_dir,
                            std::string_view version) {
  return fill_template(SHORTCUT_SCRIPT_TEMPLATE, {escaped_exe_path, escaped_install_dir, version});
}

std::string uninstall_script(const UninstallTargets& targets) {
  // A line naming a place that was not known is left out whole.
  std::string kept;
  kept.reserve(UNINSTALL_SCRIPT_TEMPLATE.size());
  for (std::string_view rest = UNINSTALL_SCRIPT_TEMPLATE; !rest.empty();) {
    const std::size_t lf = rest.find('\n');
    const std::size_t end = lf == std::string_view::npos ? rest.size() : lf + 1;
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end);
    if (!targets.desktop_shortcut && line.contains("{1}")) continue;
    if (!targets.start_menu_dir && line.contains("{2}")) continue;
    kept.append(line);
  }
  return fill_template(kept, {targets.install_dir, targets.desktop_shortcut.value_or(""),
                              targets.start_menu_dir.value_or(""), targets.user_sid, targets.program_dir});
}

std::string uninstall_script_file(const UninstallTargets& targets) {
  std::string file(UTF8_BOM);
  file += uninstall_script(targets);
  return file;
}

}  // namespace korvane
