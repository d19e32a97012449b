#include "shell/program_lookup.h"

namespace korvane {
namespace {

constexpr PathView kVerbatim = u"\\\\?\\";
constexpr PathView kVerbatimUnc = u"\\\\?\\UNC\\";

bool starts_with(PathView text, PathView prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

IoError invalid(std::string_view message) {
  return IoError::with_message(ErrorKind::InvalidInput, message);
}

bool is_drive_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// `shorter` when the system resolves it to itself, else `original`.
Path shorten_if_same(PathView original, Path shorter, FullPathSource& source) {
  auto full = source.full_path(shorter);
  if (full && *full == shorter) return shorter;
  return Path(original);
}

}  // namespace

bool has_exe_ending(std::u16string_view text) noexcept {
  if (text.size() < 4) return false;
  constexpr std::u16string_view kExe = u".exe";
  const std::u16string_view tail = text.substr(text.size() - 4);
  for (std::size_t i = 0; i < 4; ++i) {
    char16_t c = tail[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != kExe[i]) return false;
  }
  return true;
}

std::vector<Path> split_path_var(PathView value) {
  std::vector<Path> entries;
  Path current;
  bool quoted = false;
  for (const char16_t c : value) {
    if (c == u'"') {
      quoted = !quoted;
    } else if (c == u';' && !quoted) {
      if (!current.empty()) entries.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) entries.push_back(std::move(current));
  return entries;
}

IoResult<Path> from_wide_to_user_path(PathView path, FullPathSource& source) {
  if (path.find(u'\0') != PathView::npos) return std::unexpected(invalid(kNulInWinApiString));
  if (path.size() + 1 > 260) return Path(path);
  if (starts_with(path, kVerbatim) && path.size() >= 7 && is_drive_letter(path[4]) &&
      path[5] == u':' && path[6] == u'\\') {
    return shorten_if_same(path, Path(path.substr(kVerbatim.size())), source);
  }
  if (starts_with(path, kVerbatimUnc)) {
    return shorten_if_same(path, u"\\\\" + Path(path.substr(kVerbatimUnc.size())), source);
  }
  return get_long_path(path, false, source);
}

IoResult<Path> find_program(std::u16string_view program, ProgramProbe& probe) {
  if (program.empty()) return std::unexpected(invalid(kProgramHasNoFileName));
  const char16_t last = program.back();
  const bool ends_in_separator =
      starts_with(program, kVerbatim) ? last == u'\\' : is_separator(last);
  if (ends_in_separator) return std::unexpected(invalid(kProgramHasNoFileName));

  if (program.find_first_of(u"\\/") != std::u16string_view::npos) {
    if (program.find(u'\0') != std::u16string_view::npos) {
      return std::unexpected(invalid(kNulInWinApiString));
    }
    if (!has_exe_ending(program)) {
      if (auto found = probe.exists(Path(program) + u".exe")) return std::move(*found);
    }
    // Whether the file is there is left to CreateProcessW.
    return probe.user_form(program);
  }

  if (program.find(u'\0') != std::u16string_view::npos) {
    return std::unexpected(invalid(kNulInData));
  }
  const bool has_extension = program.find(u'.') != std::u16string_view::npos;
  const auto try_dir = [&](PathView dir) -> std::optional<Path> {
    Path candidate = join(dir, program);
    if (!has_extension) candidate += u".exe";
    return probe.exists(candidate);
  };
  // An empty answer is treated like a failed query: joined, it would search
  // the current directory.
  const auto usable = [](const std::optional<Path>& dir) { return dir && !dir->empty(); };

  if (auto dir = probe.system_dir(); usable(dir)) {
    if (auto found = try_dir(*dir)) return std::move(*found);
  }
  if (auto dir = probe.windows_dir(); usable(dir)) {
    if (auto found = try_dir(*dir)) return std::move(*found);
  }
  if (auto path = probe.path_var()) {
    for (const Path& entry : split_path_var(*path)) {
      if (auto found = try_dir(entry)) return std::move(*found);
    }
  }
  return std::unexpected(IoError::with_message(ErrorKind::NotFound, kProgramNotFound));
}

}  // namespace korvane
