#pragma once
// A stand-in for GetFullPathNameW: answers from a table, fails for any path
// holding "fail", and otherwise gives the path back unchanged.

#include <map>
#include <vector>

#include "host/paths.h"

namespace korvane::test {

class FakeFullPath final : public FullPathSource {
 public:
  std::map<Path, Path> answers;
  std::vector<Path> asked;

  IoResult<Path> full_path(PathView path) override {
    asked.emplace_back(path);
    if (path.find(u"fail") != PathView::npos) return std::unexpected(IoError::os(123));
    if (auto it = answers.find(Path(path)); it != answers.end()) return it->second;
    return Path(path);
  }
};

}  // namespace korvane::test
