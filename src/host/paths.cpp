#include "host/paths.h"

namespace korvane {
namespace {

constexpr PathView kDevicePrefix = u"\\\\.\\";

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
  if (path.starts_with(kVerbatimUncPrefix)) {
    n = skip_component(skip_component(kVerbatimUncPrefix.size()) + 1);  // server, then share
  } else if (path.starts_with(kVerbatimPrefix) || path.starts_with(kNtPrefix) ||
             path.starts_with(kDevicePrefix)) {
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

Path shorten_if_same(PathView original, Path shorter, const FullPathFn& full_path) {
  auto full = full_path(shorter);
  if (full && *full == shorter) return shorter;
  return Path(original);
}

IoResult<Path> get_long_path(PathView path, bool prefer_verbatim, const FullPathFn& full_path) {
  if (auto nul = nul_error(path, kNulInWinApiString)) return std::unexpected(*nul);
  if (path.empty() || path.starts_with(kVerbatimPrefix) || path.starts_with(kNtPrefix)) {
    return Path(path);
  }
  const std::size_t n = path.size() + 1;  // with the terminating NUL
  if (n < 248) {
    const bool drive_absolute = is_bare_drive(path) || (path.size() >= 3 && has_drive_prefix(path) &&
                                                        is_separator(path[2]));
    const bool two_separators = path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
    if (drive_absolute || two_separators) return Path(path);
  }
  auto absolute = full_path(path);
  if (!absolute) return absolute;
  const Path& full = *absolute;
  if (!prefer_verbatim && full.size() < 247) return absolute;

  if (full.size() >= 3 && has_drive_prefix(full) && full[2] == u'\\') return Path(kVerbatimPrefix) + full;
  if (full.starts_with(kDevicePrefix)) return Path(kVerbatimPrefix) + full.substr(kDevicePrefix.size());
  if (full.starts_with(kVerbatimPrefix) || full.starts_with(kNtPrefix)) return absolute;
  if (full.starts_with(u"\\\\")) return Path(kVerbatimUncPrefix) + full.substr(2);
  return absolute;
}

}  // namespace korvane
