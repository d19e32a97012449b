#pragma once
// A stand-in for GetFullPathNameW: answers from a table, fails for any path
// holding "fail", and otherwise gives the path back unchanged.

#include <map>
#include <vector>

#include "host/paths.h"

namespace korvane::test {

class FakeFullPath {
 public:
  std::map<Path, Path> answers;
  std::vector<Path> asked;

  IoResult<Path> full_path(PathView path) {
    asked.emplace_back(path);
    if (path.find(u"fail") != PathView::npos) return std::unexpected(IoError::os(123));
    if (auto it = answers.find(Path(path)); it != answers.end()) return it->second;
    return Path(path);
  }
  // Passed where the system's query is taken; records into this object.
  operator FullPathFn() {  // NOLINT(google-explicit-constructor)
    return [this](PathView path) { return full_path(path); };
  }
};

}  // namespace korvane::test
