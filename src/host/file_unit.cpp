#include "host/file_unit.h"

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

// Undoes every step taken, last target first. Failures here are passed over:
// the caller reports the error that started the undoing.
void roll_back(std::span<const UnitFile> files, std::span<Slot> slots, const FileOps& ops) {
  for (std::size_t i = slots.size(); i-- > 0;) {
    Slot& s = slots[i];
    const PathView target = files[i].target;
    if (s.placed) {
      if (s.kept != Kept::Nothing) {
        (void)ops.rename(s.backup, target, true);
      } else {
        (void)ops.remove(target);
      }
    } else if (s.kept == Kept::Linked) {
      (void)ops.remove(s.backup);
    } else if (s.kept == Kept::Moved) {
      (void)ops.rename(s.backup, target, false);
    }
    if (s.staged_present) (void)ops.remove(s.staged);
  }
}

}  // namespace

std::u16string staging_tag(std::uint32_t process_id, std::uint64_t ticks) {
  const std::string text = "setup-" + std::to_string(process_id) + "-" + std::to_string(ticks);
  return std::u16string(text.begin(), text.end());
}

Path staging_name(PathView target, std::u16string_view tag, std::u16string_view suffix) {
  Path name(target);
  name += u'.';
  name += tag;
  name += suffix;
  return name;
}

IoResult<void> replace_files(std::span<const UnitFile> files, std::u16string_view tag,
                             const FileOps& ops) {
  std::vector<Slot> slots(files.size());

  // Windows lets a running program's files be renamed, so the renames alone
  // would put a new file beside a copy that taskkill did not stop.
  for (std::size_t i = 0; i < files.size(); ++i) {
    slots[i].staged = staging_name(files[i].target, tag, u".new");
    slots[i].backup = staging_name(files[i].target, tag, u".old");
    if (auto opened = ops.open_for_write(files[i].target); opened) {
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
      if (ops.hard_link(target, s.backup)) {
        s.kept = Kept::Linked;
      } else if (auto moved = ops.rename(target, s.backup, false); moved) {
        s.kept = Kept::Moved;
      } else {
        roll_back(files, slots, ops);
        return moved;
      }
    }
    if (auto placed = ops.rename(s.staged, target, true); !placed) {
      roll_back(files, slots, ops);
      return placed;
    }
    s.placed = true;
    s.staged_present = false;
  }

  for (const Slot& s : slots) {
    if (s.kept != Kept::Nothing) (void)ops.remove(s.backup);
  }
  return {};
}

}  // namespace korvane
