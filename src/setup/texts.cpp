#include "setup/texts.h"

#include "core/template.h"
#include "core/utf.h"

namespace korvane {

std::string confirm_text(PathView install_dir) {
  return fill_template(CONFIRM_TEMPLATE, {APP_VERSION, to_string_lossy(install_dir)});
}

std::string success_text() { return fill_template(SUCCESS_TEMPLATE, {APP_VERSION}); }

std::string failure_text(std::string_view error_text) {
  return fill_template(FAILURE_TEMPLATE, {error_text});
}

}  // namespace korvane
