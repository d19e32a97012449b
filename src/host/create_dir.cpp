#include "host/create_dir.h"

#include <vector>

#include "host/paths.h"

namespace korvane {
namespace {

enum class Outcome { Created, NotFound, AlreadyExists, Other };

Outcome classify(const IoResult<void>& r) {
  if (r) return Outcome::Created;
  if (!r.error().is_os()) return Outcome::Other;
  switch (r.error().os_code()) {
    case kErrorFileNotFound: case kErrorPathNotFound: case kErrorInvalidDrive:
    case kErrorBadNetpath: case kErrorBadNetName:
      return Outcome::NotFound;
    case kErrorFileExists: case kErrorAlreadyExists:
      return Outcome::AlreadyExists;
    default: return Outcome::Other;
  }
}

}  // namespace

IoResult<void> create_dir_all(PathView path, const CreateDirectoryFn& create_directory,
                              const IsDirectoryFn& is_directory) {
  if (path.empty() || !parent(path)) return {};

  std::vector<PathView> missing;  // innermost first
  PathView dir = path;
  for (;;) {
    if (dir.empty()) break;
    const auto up = parent(dir);
    if (!up) break;
    auto attempt = create_directory(dir);
    const Outcome outcome = classify(attempt);
    if (outcome == Outcome::Created) break;
    if (outcome == Outcome::NotFound) {
      missing.push_back(dir);
      dir = *up;
      continue;
    }
    if (outcome == Outcome::AlreadyExists && is_directory(dir)) break;
    return attempt;
  }

  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    auto attempt = create_directory(*it);
    if (attempt) continue;
    if (classify(attempt) == Outcome::AlreadyExists && is_directory(*it)) continue;
    return attempt;
  }
  return {};
}

}  // namespace korvane
