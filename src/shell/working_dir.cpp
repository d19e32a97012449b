#include "shell/working_dir.h"

namespace korvane {
namespace {

bool starts_with(PathView text, PathView prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

IoResult<Path> child_working_dir(PathView dir, FullPathSource& source) {
  if (dir.find(u'\0') != PathView::npos) {
    return std::unexpected(IoError::with_message(ErrorKind::InvalidInput, kNulInData));
  }
  constexpr PathView kVerbatimUnc = u"\\\\?\\UNC\\";
  constexpr PathView kVerbatim = u"\\\\?\\";
  Path shorter;
  if (starts_with(dir, kVerbatimUnc)) {
    shorter = u"\\\\" + Path(dir.substr(kVerbatimUnc.size()));
  } else if (starts_with(dir, kVerbatim)) {
    shorter = Path(dir.substr(kVerbatim.size()));
  } else {
    return Path(dir);
  }
  // Only a form the system reads the same way may drop the prefix; a failed
  // query keeps it.
  auto full = source.full_path(shorter);
  if (full && *full == shorter) return shorter;
  return Path(dir);
}

}  // namespace korvane
