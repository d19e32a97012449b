#include "shell/command_line_quote.h"

#include "core/utf.h"

namespace korvane {
namespace {

// `arg` holds no NUL.
void encode(std::u16string& out, std::u16string_view arg) {
  const bool quoted = arg.empty() || arg.find_first_of(u" \t") != std::u16string_view::npos;
  if (quoted) out.push_back(u'"');
  std::size_t backslashes = 0;
  for (const char16_t c : arg) {
    if (c == u'\\') {
      ++backslashes;
    } else if (c == u'"') {
      // The run already written plus as many again, plus one for the quote.
      out.append(backslashes + 1, u'\\');
      backslashes = 0;
    } else {
      backslashes = 0;
    }
    out.push_back(c);
  }
  if (quoted) {
    // Doubled so that the closing quote is not read as escaped.
    out.append(backslashes, u'\\');
    out.push_back(u'"');
  }
}

template <class Arg>
IoResult<std::u16string> build(std::u16string_view program, std::span<const Arg> args) {
  if (auto nul = nul_error(program, kNulInData)) return std::unexpected(*nul);
  std::u16string line;
  line.reserve(program.size() + 2);
  line.push_back(u'"');
  line.append(program);
  line.push_back(u'"');
  for (const Arg& arg : args) {
    line.push_back(u' ');
    if (auto r = append_arg(line, arg); !r) return std::unexpected(r.error());
  }
  return line;
}

}  // namespace

IoResult<void> append_arg(std::u16string& command_line, std::u16string_view arg) {
  if (auto nul = nul_error(arg, kNulInData)) return std::unexpected(*nul);
  encode(command_line, arg);
  return {};
}

IoResult<void> append_arg(std::u16string& command_line, std::string_view arg) {
  // A NUL in UTF-8 is a NUL in UTF-16: one check, on the converted text.
  return append_arg(command_line, std::u16string_view(utf8_to_utf16(arg)));
}

IoResult<std::u16string> make_command_line(std::u16string_view program,
                                           std::span<const std::string> args) {
  return build(program, args);
}

IoResult<std::u16string> make_command_line(std::u16string_view program,
                                           std::span<const std::u16string> args) {
  return build(program, args);
}

}  // namespace korvane
