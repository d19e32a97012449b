#include "shell/program_lookup.h"

#include <algorithm>

namespace korvane {
namespace {

IoError invalid(std::string_view message) {
  return IoError::with_message(ErrorKind::InvalidInput, message);
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

IoResult<Path> from_wide_to_user_path(PathView path, const FullPathFn& full_path) {
  if (auto nul = nul_error(path, kNulInWinApiString)) return std::unexpected(*nul);
  if (path.size() + 1 > 260) return Path(path);
  const PathView rest = path.substr(std::min(path.size(), kVerbatimPrefix.size()));
  if (path.starts_with(kVerbatimPrefix) && rest.size() >= 3 && is_drive_letter(rest[0]) &&
      rest[1] == u':' && rest[2] == u'\\') {
    return shorten_if_same(path, Path(rest), full_path);
  }
  if (path.starts_with(kVerbatimUncPrefix)) {
    return shorten_if_same(path, u"\\\\" + Path(path.substr(kVerbatimUncPrefix.size())), full_path);
  }
  return get_long_path(path, false, full_path);
}

IoResult<Path> find_program(std::u16string_view program, const ProgramSearch& search) {
  if (program.empty()) return std::unexpected(invalid(kProgramHasNoFileName));
  const char16_t last = program.back();
  const bool ends_in_separator =
      program.starts_with(kVerbatimPrefix) ? last == u'\\' : is_separator(last);
  if (ends_in_separator) return std::unexpected(invalid(kProgramHasNoFileName));

  if (program.find_first_of(u"\\/") != std::u16string_view::npos) {
    if (auto nul = nul_error(program, kNulInWinApiString)) return std::unexpected(*nul);
    if (!has_exe_ending(program)) {
      if (auto found = search.exists(Path(program) + u".exe")) return std::move(*found);
    }
    // Whether the file is there is left to CreateProcessW.
    return search.user_form(program);
  }

  if (auto nul = nul_error(program, kNulInData)) return std::unexpected(*nul);
  const bool has_extension = program.find(u'.') != std::u16string_view::npos;
  const auto try_dir = [&](PathView dir) -> std::optional<Path> {
    Path candidate = join(dir, program);
    if (!has_extension) candidate += u".exe";
    return search.exists(candidate);
  };
  // An empty answer is treated like a failed query: joined, it would search
  // the current directory.
  const auto usable = [](const std::optional<Path>& dir) { return dir && !dir->empty(); };

  for (const std::optional<Path>* dir : {&search.system_dir, &search.windows_dir}) {
    if (!usable(*dir)) continue;
    if (auto found = try_dir(**dir)) return std::move(*found);
  }
  if (search.path_var) {
    for (const Path& entry : split_path_var(*search.path_var)) {
      if (auto found = try_dir(entry)) return std::move(*found);
    }
  }
  return std::unexpected(IoError::with_message(ErrorKind::NotFound, kProgramNotFound));
}

}  // namespace korvane
