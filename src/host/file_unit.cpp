#include "host/file_unit.h"

#include <algorithm>
#include <string>
#include <vector>

#include "host/create_dir.h"

namespace korvane {
namespace {

// How the old file of a target is kept while the new one goes in.
enum class Kept : std::uint8_t { Nothing, Linked, Moved };

struct Slot {
  Path staged;
  Path backup;
  bool existed = false;
  bool staged_present = false;  // the ".new" name may exist (a failed write can leave a part)
  Kept kept = Kept::Nothing;
  bool placed = false;  // the new file holds the target name
};

bool is_absent(const IoError& e) {
  return e.is_os() &&
         (e.os_code() == static_cast<std::int32_t>(kErrorFileNotFound) ||
          e.os_code() == static_cast<std::int32_t>(kErrorPathNotFound));
}

constexpr std::int32_t kErrorAccessDenied = 5;
constexpr std::int32_t kErrorSharingViolation = 32;

// `call` made again after each wait of kRetryWaitsMs while it fails with
// access denied or a sharing violation: a scanner's moment with the file.
template <typename Call>
IoResult<void> with_retries(const FileOps& ops, Call call) {
  IoResult<void> result = call();
  for (const std::uint32_t wait : kRetryWaitsMs) {
    if (result || !result.error().is_os() ||
        (result.error().os_code() != kErrorAccessDenied &&
         result.error().os_code() != kErrorSharingViolation)) {
      break;
    }
    ops.sleep(wait);
    result = call();
  }
  return result;
}

IoResult<void> rename_retried(const FileOps& ops, PathView from, PathView to, bool replace) {
  return with_retries(ops, [&] { return ops.rename(from, to, replace); });
}

IoResult<void> remove_retried(const FileOps& ops, PathView path) {
  return with_retries(ops, [&] { return ops.remove(path); });
}

// The folder part of `path`, its last separator included.
PathView folder_of(PathView path) {
  std::size_t end = path.size();
  while (end > 0 && !is_separator(path[end - 1])) --end;
  return path.substr(0, end);
}

// File names as Windows compares them, for the ASCII names of the targets.
bool same_name(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Digits only, at least one, no overflow of T.
template <typename T>
std::optional<T> parse_number(std::u16string_view text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  T value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    const T digit = static_cast<T>(c - u'0');
    if (value > (static_cast<T>(-1) - digit) / 10) return std::nullopt;
    value = static_cast<T>(value * 10 + digit);
  }
  return value;
}

// Step 0 of replace_files for one target: whatever earlier runs left of
// their staging names.
void clear_leftovers(PathView target, std::span<const std::u16string> names,
                     std::uint32_t own_process, const FileOps& ops) {
  const PathView folder = folder_of(target);
  const std::u16string_view name = target.substr(folder.size());
  const auto path_of = [&](std::u16string_view entry) {
    Path path(folder);
    path += entry;
    return path;
  };
  // Earlier runs' names, never those of a second installer at work.
  const auto leftover = [&](std::u16string_view entry) -> std::optional<StagingName> {
    auto staging = parse_staging_name(entry, name);
    if (staging && staging->process_id != own_process && ops.is_running(staging->process_id)) {
      return std::nullopt;
    }
    return staging;
  };
  bool present = false;
  const std::u16string* latest_old = nullptr;
  std::uint64_t latest_ticks = 0;
  for (const std::u16string& entry : names) {
    if (same_name(entry, name)) present = true;
    const auto staging = leftover(entry);
    if (!staging) continue;
    if (!staging->old) {
      (void)ops.remove(path_of(entry));  // in use: left for a later run
    } else if (latest_old == nullptr || staging->ticks > latest_ticks) {
      latest_old = &entry;
      latest_ticks = staging->ticks;
    }
  }
  // A run killed between moving the old file aside and putting the new one
  // in: its old file goes back, the latest where there are several.
  if (!present && latest_old != nullptr && ops.rename(path_of(*latest_old), target, false)) {
    latest_old = nullptr;
  }
  for (const std::u16string& entry : names) {
    const auto staging = leftover(entry);
    if (staging && staging->old && &entry != latest_old) (void)ops.remove(path_of(entry));
  }
  if (latest_old != nullptr) (void)ops.remove(path_of(*latest_old));
}

// Undoes every step taken, last target first. Failures here are passed over:
// the caller reports the error that started the undoing.
void roll_back(std::span<const UnitFile> files, std::span<Slot> slots, const FileOps& ops) {
  for (std::size_t i = slots.size(); i-- > 0;) {
    Slot& s = slots[i];
    const PathView target = files[i].target;
    if (s.placed) {
      if (s.kept != Kept::Nothing) {
        (void)rename_retried(ops, s.backup, target, true);
      } else {
        (void)remove_retried(ops, target);
      }
    } else if (s.kept == Kept::Linked) {
      (void)remove_retried(ops, s.backup);
    } else if (s.kept == Kept::Moved) {
      (void)rename_retried(ops, s.backup, target, false);
    }
    if (s.staged_present) (void)remove_retried(ops, s.staged);
  }
}

}  // namespace

std::u16string staging_tag(std::uint32_t process_id, std::uint64_t ticks) {
  const std::string text = "setup-" + std::to_string(process_id) + "-" + std::to_string(ticks);
  return std::u16string(text.begin(), text.end());
}

std::optional<StagingName> parse_staging_name(std::u16string_view name, std::u16string_view target) {
  constexpr std::u16string_view kInfix = u".setup-";
  if (!name.starts_with(target) || !name.substr(target.size()).starts_with(kInfix)) return std::nullopt;
  std::u16string_view rest = name.substr(target.size() + kInfix.size());
  bool old = false;
  if (rest.ends_with(u".old")) {
    old = true;
  } else if (!rest.ends_with(u".new")) {
    return std::nullopt;
  }
  rest.remove_suffix(4);
  const std::size_t dash = rest.find(u'-');
  if (dash == std::u16string_view::npos) return std::nullopt;
  const auto process_id = parse_number<std::uint32_t>(rest.substr(0, dash));
  const auto ticks = parse_number<std::uint64_t>(rest.substr(dash + 1));
  if (!process_id || !ticks) return std::nullopt;
  return StagingName{*process_id, *ticks, old};
}

Path staging_name(PathView target, std::u16string_view tag, std::u16string_view suffix) {
  Path name(target);
  name += u'.';
  name += tag;
  name += suffix;
  return name;
}

IoResult<void> replace_files(std::span<const UnitFile> files, std::u16string_view tag,
                             std::uint32_t own_process, const FileOps& ops) {
  std::vector<Slot> slots(files.size());

  // All targets share one folder; a folder that cannot be listed has no
  // leftovers to clear.
  if (!files.empty()) {
    if (auto names = ops.list_dir(folder_of(files.front().target)); names) {
      for (const UnitFile& file : files) clear_leftovers(file.target, *names, own_process, ops);
    }
  }
  // The installer owns these names: a read-only one would stop the replacing
  // rename (and leave a read-only backup that cannot be deleted). A failure
  // other than absence shows in the opening below.
  for (const UnitFile& file : files) (void)ops.make_writable(file.target);

  // Windows lets a running program's files be renamed, so the renames alone
  // would put a new file beside a copy that taskkill did not stop.
  for (std::size_t i = 0; i < files.size(); ++i) {
    slots[i].staged = staging_name(files[i].target, tag, u".new");
    slots[i].backup = staging_name(files[i].target, tag, u".old");
    if (auto opened = with_retries(ops, [&] { return ops.open_for_replace(files[i].target); }); opened) {
      slots[i].existed = true;
    } else if (!is_absent(opened.error())) {
      return opened;
    }
  }

  for (std::size_t i = 0; i < files.size(); ++i) {
    slots[i].staged_present = true;
    if (auto written = ops.write(slots[i].staged, files[i].bytes); !written) {
      roll_back(files, slots, ops);
      return written;
    }
  }

  for (std::size_t i = 0; i < files.size(); ++i) {
    Slot& s = slots[i];
    const PathView target = files[i].target;
    if (s.existed) {
      // A hard link keeps the target name present throughout, for a program
      // (or a second installer) that opens it meanwhile; where the volume has
      // no hard links, the old file moves aside instead.
      if (with_retries(ops, [&] { return ops.hard_link(target, s.backup); })) {
        s.kept = Kept::Linked;
      } else if (auto moved = rename_retried(ops, target, s.backup, false); moved) {
        s.kept = Kept::Moved;
      } else {
        roll_back(files, slots, ops);
        return moved;
      }
    }
    if (auto placed = rename_retried(ops, s.staged, target, true); !placed) {
      roll_back(files, slots, ops);
      return placed;
    }
    s.placed = true;
    s.staged_present = false;
  }

  // A backup that cannot be deleted even so is cleared by the next run.
  for (const Slot& s : slots) {
    if (s.kept != Kept::Nothing) (void)remove_retried(ops, s.backup);
  }
  return {};
}

}  // namespace korvane
