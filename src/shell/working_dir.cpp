#include "shell/working_dir.h"

namespace korvane {

IoResult<Path> child_working_dir(PathView dir, const FullPathFn& full_path) {
  if (auto nul = nul_error(dir, kNulInData)) return std::unexpected(*nul);
  // Only a form the system reads the same way may drop the prefix; a failed
  // query keeps it.
  if (dir.starts_with(kVerbatimUncPrefix)) {
    return shorten_if_same(dir, u"\\\\" + Path(dir.substr(kVerbatimUncPrefix.size())), full_path);
  }
  if (dir.starts_with(kVerbatimPrefix)) {
    return shorten_if_same(dir, Path(dir.substr(kVerbatimPrefix.size())), full_path);
  }
  return Path(dir);
}

}  // namespace korvane
