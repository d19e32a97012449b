#include <windows.h>

#include "core/utf.h"
#include "setup/texts.h"
#include "setup/win_services.h"
#include "win/wide.h"

namespace korvane {

std::int32_t msg_box(std::string_view caption, std::string_view text, std::uint32_t style) {
  const std::u16string wide_text = utf8_to_utf16(text);
  const std::u16string wide_caption = utf8_to_utf16(caption);
  return ::MessageBoxW(nullptr, win::wide(wide_text), win::wide(wide_caption), style);
}

static_assert(CONFIRM_STYLE == (MB_OKCANCEL | MB_ICONINFORMATION));
static_assert(SUCCESS_STYLE == (MB_OK | MB_ICONINFORMATION));
static_assert(FAILURE_STYLE == (MB_OK | MB_ICONERROR));
static_assert(IDOK_RESULT == IDOK);

}  // namespace korvane
