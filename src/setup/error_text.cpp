#include "setup/error_text.h"

#include "core/template.h"
#include "core/utf.h"

namespace korvane {

std::string system_message(std::int32_t code, bool ntdll_loaded,
                           const FormatMessageFn& format_message) {
  std::uint32_t flags = kFormatFromSystemIgnoreInserts;
  auto lookup = static_cast<std::uint32_t>(code);
  bool from_ntdll = false;
  if ((lookup & 0x10000000u) != 0 && ntdll_loaded) {
    flags |= kFormatFromHmodule;
    lookup &= ~0x10000000u;
    from_ntdll = true;
  }
  const MessageAnswer answer = format_message(flags, from_ntdll, lookup);
  const std::string shown_code = std::to_string(static_cast<std::int32_t>(lookup));
  if (answer.result == 0) {
    return fill_template("OS Error {0} (FormatMessageW() returned error {1})",
                         {shown_code, std::to_string(static_cast<std::int32_t>(answer.last_error))});
  }
  const std::u16string_view units =
      std::u16string_view(answer.text).substr(0, answer.result);
  auto text = utf16_to_utf8(units);
  if (!text) {
    return fill_template("OS Error {0} (FormatMessageW() returned invalid UTF-16)", {shown_code});
  }
  // A vertical tab is not trimmed: it ends the trimming like any other character.
  const std::size_t end = text->find_last_not_of(" \t\n\f\r");
  text->erase(end == std::string::npos ? 0 : end + 1);
  return std::move(*text);
}

std::string os_error_text(const IoError& error, bool ntdll_loaded,
                          const FormatMessageFn& format_message) {
  if (error.is_os()) {
    return fill_template("{0} (os error {1})",
                         {system_message(error.os_code(), ntdll_loaded, format_message),
                          std::to_string(error.os_code())});
  }
  if (!error.message().empty()) return std::string(error.message());
  return std::string(kind_description(error.kind()));
}

}  // namespace korvane
