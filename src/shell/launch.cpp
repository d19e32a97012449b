#include "shell/launch.h"

#include "host/paths.h"

namespace korvane {
namespace {

// The units of `path` the system counts once a verbatim prefix is dropped.
std::size_t plain_length(PathView path) {
  if (path.starts_with(kVerbatimUncPrefix)) return path.size() - kVerbatimUncPrefix.size() + 2;
  if (path.starts_with(kVerbatimPrefix)) return path.size() - kVerbatimPrefix.size();
  return path.size();
}

Path without_verbatim_prefix(PathView path) {
  if (path.starts_with(kVerbatimUncPrefix)) return u"\\\\" + Path(path.substr(kVerbatimUncPrefix.size()));
  if (path.starts_with(kVerbatimPrefix)) return Path(path.substr(kVerbatimPrefix.size()));
  return Path(path);
}

}  // namespace

LaunchPaths launch_paths(PathView install_dir, PathView exe_name, const ShortPathFn& short_path) {
  // The program is the folder, a backslash and the name.
  const std::size_t program_room = kMaxProgramPath - 1 - exe_name.size();
  const bool dir_fits = plain_length(install_dir) <= kMaxCurrentDirectory;
  const bool program_fits = plain_length(install_dir) <= program_room;
  std::optional<Path> short_dir;
  if (!dir_fits || !program_fits) {
    if (auto found = short_path(install_dir)) short_dir = without_verbatim_prefix(*found);
  }
  const auto fits = [&](std::size_t limit) { return short_dir && !short_dir->empty() && short_dir->size() <= limit; };

  LaunchPaths paths;
  paths.program_dir = program_fits || !fits(program_room) ? Path(install_dir) : *short_dir;
  paths.program = join(paths.program_dir, exe_name);
  if (dir_fits) {
    paths.working_dir = Path(install_dir);
  } else if (fits(kMaxCurrentDirectory)) {
    paths.working_dir = *short_dir;
  }
  return paths;
}

}  // namespace korvane
