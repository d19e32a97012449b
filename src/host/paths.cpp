#include "host/paths.h"

namespace korvane {
namespace {

bool is_drive_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool starts_with(PathView path, PathView prefix) { return path.substr(0, prefix.size()) == prefix; }

bool is_bare_drive(PathView path) { return path.size() == 2 && has_drive_prefix(path); }

// Length of the part of `path` that no parent can remove: a drive ("C:"), a
// drive root ("C:\"), a verbatim or device prefix with what it names, a
// \\server\share, or a lone leading separator.
std::size_t root_length(PathView path) {
  const auto skip_component = [&](std::size_t from) {
    while (from < path.size() && !is_separator(path[from])) ++from;
    return from;
  };
  std::size_t n = 0;
  if (starts_with(path, u"\\\\?\\UNC\\")) {
    n = skip_component(skip_component(8) + 1);  // server, then share
  } else if (starts_with(path, u"\\\\?\\") || starts_with(path, u"\\??\\") ||
             starts_with(path, u"\\\\.\\")) {
    n = skip_component(4);  // the drive or device name
  } else if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    n = skip_component(skip_component(2) + 1);
  } else if (has_drive_prefix(path)) {
    n = 2;
  }
  if (n > path.size()) n = path.size();
  if (n < path.size() && is_separator(path[n])) ++n;
  return n;
}

}  // namespace

bool has_drive_prefix(PathView path) {
  return path.size() >= 2 && is_drive_letter(path[0]) && path[1] == u':';
}

bool is_absolute(PathView path) {
  if (path.size() >= 3 && has_drive_prefix(path) && is_separator(path[2])) return true;
  return path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
}

void push(Path& base, PathView component) {
  if (is_absolute(component)) {
    base.assign(component);
    return;
  }
  if (!base.empty() && !is_separator(base.back()) && !is_bare_drive(base)) base.push_back(u'\\');
  base.append(component);
}

Path join(PathView base, PathView component) {
  Path out(base);
  push(out, component);
  return out;
}

std::optional<PathView> parent(PathView path) {
  const std::size_t root = root_length(path);
  std::size_t end = path.size();
  while (end > root && is_separator(path[end - 1])) --end;
  if (end <= root) return std::nullopt;  // nothing but the root
  while (end > root && !is_separator(path[end - 1])) --end;  // the last component
  while (end > root && is_separator(path[end - 1])) --end;
  return path.substr(0, end);
}

IoResult<Path> get_long_path(PathView path, bool prefer_verbatim, FullPathSource& source) {
  if (path.find(u'\0') != PathView::npos) {
    return std::unexpected(IoError::with_message(ErrorKind::InvalidInput, kNulInWinApiString));
  }
  if (path.empty() || starts_with(path, u"\\\\?\\") || starts_with(path, u"\\??\\")) {
    return Path(path);
  }
  const std::size_t n = path.size() + 1;  // with the terminating NUL
  if (n < 248) {
    const bool drive_absolute = is_bare_drive(path) || (path.size() >= 3 && has_drive_prefix(path) &&
                                                        is_separator(path[2]));
    const bool two_separators = path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
    if (drive_absolute || two_separators) return Path(path);
  }
  auto absolute = source.full_path(path);
  if (!absolute) return std::unexpected(absolute.error());
  Path full = std::move(*absolute);
  if (!prefer_verbatim && full.size() < 247) return full;

  if (full.size() >= 3 && has_drive_prefix(full) && full[2] == u'\\') return u"\\\\?\\" + full;
  if (starts_with(full, u"\\\\.\\")) return u"\\\\?\\" + full.substr(4);
  if (starts_with(full, u"\\\\?\\") || starts_with(full, u"\\??\\")) return full;
  if (starts_with(full, u"\\\\")) return u"\\\\?\\UNC\\" + full.substr(2);
  return full;
}

}  // namespace korvane
