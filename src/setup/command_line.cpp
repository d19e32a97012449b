#include "setup/command_line.h"

#include "core/utf.h"

namespace korvane {
namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view line) {
  std::vector<std::u16string> args;
  if (line.empty()) return args;

  std::size_t i = 0;
  std::u16string current;
  bool quoted = false;

  // The program name: quotes toggle and vanish, everything else is literal.
  for (; i < line.size(); ++i) {
    const char16_t c = line[i];
    if (!quoted && is_blank(c)) break;
    if (c == u'"') {
      quoted = !quoted;
    } else {
      current.push_back(c);
    }
  }
  args.push_back(std::move(current));
  current.clear();
  while (i < line.size() && is_blank(line[i])) ++i;

  quoted = false;
  while (i < line.size()) {
    const char16_t c = line[i];
    if (!quoted && is_blank(c)) {
      args.push_back(std::move(current));
      current.clear();
      while (i < line.size() && is_blank(line[i])) ++i;
      continue;
    }
    if (c == u'\\') {
      std::size_t n = 0;
      while (i < line.size() && line[i] == u'\\') {
        ++n;
        ++i;
      }
      if (i < line.size() && line[i] == u'"') {
        current.append(n / 2, u'\\');
        if (n % 2 == 1) {
          current.push_back(u'"');
          ++i;
        }
        // With n even the quote is read as a quote on the next round.
      } else {
        current.append(n, u'\\');
      }
      continue;
    }
    if (c == u'"') {
      if (!quoted) {
        quoted = true;
        ++i;
      } else if (i + 1 < line.size() && line[i + 1] == u'"') {
        current.push_back(u'"');
        i += 2;
      } else if (i + 1 == line.size()) {
        ++i;  // ends with the quoted state still on
      } else {
        quoted = false;
        ++i;
      }
      continue;
    }
    current.push_back(c);
    ++i;
  }
  if (!current.empty() || quoted) args.push_back(std::move(current));
  return args;
}

bool is_silent_switch(std::string_view arg) noexcept {
  const auto equals_folded = [&](std::string_view word) {
    if (arg.size() != word.size()) return false;
    for (std::size_t k = 0; k < arg.size(); ++k) {
      char c = arg[k];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != word[k]) return false;
    }
    return true;
  };
  return equals_folded("--silent") || equals_folded("/s");
}

bool has_silent_switch(std::span<const std::u16string> args) {
  for (const std::u16string& arg : args) {
    const auto text = utf16_to_utf8(arg);
    if (text && is_silent_switch(*text)) return true;
  }
  return false;
}

}  // namespace korvane
