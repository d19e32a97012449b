#include "host/file_unit.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "core/utf.h"

namespace korvane {
namespace {

const Path kDir = u"D:\\k\\";

std::string name_of(PathView path) { return to_string_lossy(path.substr(kDir.size())); }

// One folder of plain files and directories, with a log of the calls by the
// names below the folder; one chosen call can be made to fail.
class FakeFs {
 public:
  std::map<Path, std::string> files;
  std::set<Path> dirs;
  std::set<Path> held;           // opened by a program without sharing
  std::set<Path> read_only;
  std::set<std::uint32_t> running = {77};  // process ids
  bool hard_links = true;        // the volume has them
  std::set<std::string> fail;    // calls that fail, as the log writes them
  IoError error = IoError::os(112);
  // Calls that fail a number of times, then succeed (a scanner's moment).
  std::map<std::string, std::pair<int, std::uint32_t>> transient;  // count, OS error
  std::vector<std::uint32_t> waits;
  std::vector<std::string> log;

  FileOps ops() {
    return {
        .write = [this](PathView p, std::span<const std::uint8_t> b) { return write(p, b); },
        .open_for_replace = [this](PathView p) { return open_for_replace(p); },
        .make_writable = [this](PathView p) { return make_writable(p); },
        .list_dir = [this](PathView d) { return list_dir(d); },
        .is_running = [this](std::uint32_t id) { return running.contains(id); },
        .sleep = [this](std::uint32_t ms) { waits.push_back(ms); },
        .hard_link = [this](PathView e, PathView l) { return hard_link(e, l); },
        .rename = [this](PathView f, PathView t, bool r) { return rename(f, t, r); },
        .remove = [this](PathView p) { return remove(p); },
    };
  }

 private:
  std::optional<IoError> call(const std::string& entry) {
    log.push_back(entry);
    if (fail.contains(entry)) return error;
    if (auto t = transient.find(entry); t != transient.end() && t->second.first > 0) {
      --t->second.first;
      return IoError::os(t->second.second);
    }
    return std::nullopt;
  }
  static IoResult<void> os(std::uint32_t code) { return std::unexpected(IoError::os(code)); }

  IoResult<void> write(PathView path, std::span<const std::uint8_t> bytes) {
    const Path p(path);
    const std::string content(bytes.begin(), bytes.end());
    if (auto e = call("write " + name_of(p))) {
      files[p] = content.substr(0, content.size() / 2);  // a disk that filled up part way
      return std::unexpected(*e);
    }
    if (dirs.contains(p)) return os(5);
    files[p] = content;
    return {};
  }
  IoResult<void> open_for_replace(PathView path) {
    const Path p(path);
    if (auto e = call("open " + name_of(p))) return std::unexpected(*e);
    if (dirs.contains(p)) return os(5);
    if (held.contains(p)) return os(32);
    if (!files.contains(p)) return os(2);
    if (read_only.contains(p)) return os(5);
    return {};
  }
  IoResult<void> make_writable(PathView path) {
    const Path p(path);
    if (auto e = call("writable " + name_of(p))) return std::unexpected(*e);
    if (!files.contains(p) && !dirs.contains(p)) return os(2);
    read_only.erase(p);
    return {};
  }
  IoResult<std::vector<std::u16string>> list_dir(PathView dir) {
    if (auto e = call("list")) return std::unexpected(*e);
    std::vector<std::u16string> names;
    for (const auto& [path, content] : files) {
      if (path.starts_with(dir)) names.push_back(path.substr(dir.size()));
    }
    for (const Path& d : dirs) {
      if (d.starts_with(dir)) names.push_back(d.substr(dir.size()));
    }
    return names;
  }
  IoResult<void> hard_link(PathView existing, PathView link) {
    const Path from(existing), to(link);
    if (auto e = call("link " + name_of(from) + " " + name_of(to))) return std::unexpected(*e);
    if (!hard_links) return os(1);
    if (files.contains(to) || dirs.contains(to)) return os(183);
    if (!files.contains(from)) return os(2);
    files[to] = files[from];
    return {};
  }
  IoResult<void> rename(PathView from_path, PathView to_path, bool replace) {
    const Path from(from_path), to(to_path);
    if (auto e = call("rename " + name_of(from) + " " + name_of(to) + (replace ? " replace" : "")))
      return std::unexpected(*e);
    if (!files.contains(from)) return os(2);
    if (dirs.contains(to)) return os(5);
    if (held.contains(from) || held.contains(to)) return os(32);
    if (files.contains(to) && !replace) return os(183);
    if (read_only.contains(to)) return os(5);
    files[to] = files[from];
    files.erase(from);
    return {};
  }
  IoResult<void> remove(PathView path) {
    const Path p(path);
    if (auto e = call("remove " + name_of(p))) return std::unexpected(*e);
    if (held.contains(p)) return os(32);
    if (read_only.contains(p)) return os(5);
    if (files.erase(p) == 0) return os(2);
    return {};
  }
};

std::span<const std::uint8_t> bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

const std::string kNewApp = "new application";
const std::string kNewLoader = "new loader";
const std::string kNewScript = "new script";
const Path kApp = kDir + u"Korvane.exe";
const Path kLoader = kDir + u"WebView2Loader.dll";
const Path kScript = kDir + u"Uninstall-Korvane.ps1";

IoResult<void> replace_all(FakeFs& fs) {
  const UnitFile files[] = {{kApp, bytes(kNewApp)}, {kLoader, bytes(kNewLoader)},
                            {kScript, bytes(kNewScript)}};
  return replace_files(files, u"t", 1, fs.ops());
}

const std::map<Path, std::string> kInstalled = {
    {kApp, kNewApp}, {kLoader, kNewLoader}, {kScript, kNewScript}};

// An earlier version with the application and the loader, but no script.
FakeFs upgrade() {
  FakeFs fs;
  fs.files = {{kApp, "old application"}, {kLoader, "old loader"}, {kDir + u"playlist", "mine"}};
  return fs;
}

TEST(ReplaceFiles, LeavesExactlyTheNewFiles) {
  for (bool links : {true, false}) {
    FakeFs fresh;
    fresh.hard_links = links;
    ASSERT_TRUE(replace_all(fresh));
    EXPECT_EQ(kInstalled, fresh.files);

    FakeFs old = upgrade();
    old.hard_links = links;
    ASSERT_TRUE(replace_all(old));
    auto want = kInstalled;
    want[kDir + u"playlist"] = "mine";
    EXPECT_EQ(want, old.files) << "hard links " << links;
  }
}

TEST(ReplaceFiles, WritesEverythingBeforeTheFirstRename) {
  FakeFs fs = upgrade();
  ASSERT_TRUE(replace_all(fs));
  EXPECT_EQ((std::vector<std::string>{
                "list", "writable Korvane.exe", "writable WebView2Loader.dll",
                "writable Uninstall-Korvane.ps1",
                "open Korvane.exe", "open WebView2Loader.dll", "open Uninstall-Korvane.ps1",
                "write Korvane.exe.t.new", "write WebView2Loader.dll.t.new",
                "write Uninstall-Korvane.ps1.t.new",
                "link Korvane.exe Korvane.exe.t.old", "rename Korvane.exe.t.new Korvane.exe replace",
                "link WebView2Loader.dll WebView2Loader.dll.t.old",
                "rename WebView2Loader.dll.t.new WebView2Loader.dll replace",
                "rename Uninstall-Korvane.ps1.t.new Uninstall-Korvane.ps1 replace",
                "remove Korvane.exe.t.old", "remove WebView2Loader.dll.t.old"}),
            fs.log);
}

TEST(ReplaceFiles, AHeldOrBlockedTargetStopsTheUnitBeforeAnythingChanges) {
  struct Case {
    const char* why;
    void (*arrange)(FakeFs&);
    std::int32_t code;
  };
  const Case cases[] = {
      {"held loader", [](FakeFs& fs) { fs.held.insert(kLoader); }, 32},
      {"loader is a directory", [](FakeFs& fs) { fs.files.erase(kLoader), fs.dirs.insert(kLoader); }, 5},
      {"script is a directory", [](FakeFs& fs) { fs.dirs.insert(kScript); }, 5},
  };
  for (const Case& c : cases) {
    FakeFs fs = upgrade();
    c.arrange(fs);
    const auto before = fs.files;
    const auto result = replace_all(fs);
    ASSERT_FALSE(result) << c.why;
    EXPECT_EQ(IoError::os(c.code), result.error()) << c.why;
    EXPECT_EQ(before, fs.files) << c.why;
    for (const std::string& entry : fs.log) {
      EXPECT_TRUE(entry == "list" || entry.starts_with("writable ") || entry.starts_with("open "))
          << c.why << ": " << entry;
    }
  }
}

// Every call of a successful run, made to fail in turn: the folder is then as
// it was, or (a failed hard link, a backup that cannot be deleted) the unit
// still succeeds.
TEST(ReplaceFiles, EveryFailurePointLeavesTheFolderAsItWas) {
  for (bool links : {true, false}) {
    for (bool fresh : {true, false}) {
      FakeFs plain = fresh ? FakeFs() : upgrade();
      plain.hard_links = links;
      ASSERT_TRUE(replace_all(plain));
      for (const std::string& point : plain.log) {
        FakeFs fs = fresh ? FakeFs() : upgrade();
        fs.hard_links = links;
        fs.fail = {point};
        const auto before = fs.files;
        const auto result = replace_all(fs);
        const std::string where = point + (links ? "" : ", no hard links") + (fresh ? ", fresh" : "");
        auto mine = fs.files;
        mine.erase(kDir + u"playlist");
        if (point.starts_with("link ") || point == "list" || point.starts_with("writable ")) {
          // The old file moves aside instead; no leftovers to clear; the
          // attribute was not set.
          ASSERT_TRUE(result) << where;
          EXPECT_EQ(kInstalled, mine) << where;
        } else if (point.starts_with("remove ")) {
          ASSERT_TRUE(result) << where;  // a backup name is left over, nothing else
          EXPECT_EQ(kInstalled.size() + 1, mine.size()) << where;
          for (const auto& [path, content] : kInstalled) EXPECT_EQ(content, mine[path]) << where;
        } else {
          ASSERT_FALSE(result) << where;
          EXPECT_EQ(IoError::os(112), result.error()) << where;
          EXPECT_EQ(before, fs.files) << where;
        }
      }
    }
  }
}

TEST(ReplaceFiles, AFailedRestoreKeepsTheOldFileUnderItsBackupName) {
  FakeFs fs = upgrade();
  fs.fail = {"rename Uninstall-Korvane.ps1.t.new Uninstall-Korvane.ps1 replace",
             "rename Korvane.exe.t.old Korvane.exe replace"};
  const auto result = replace_all(fs);
  ASSERT_FALSE(result);
  EXPECT_EQ(IoError::os(112), result.error());  // the first error, not the restore's
  EXPECT_EQ("old loader", fs.files[kLoader]);
  EXPECT_EQ("old application", fs.files[kDir + u"Korvane.exe.t.old"]);
  EXPECT_FALSE(fs.files.contains(kDir + u"WebView2Loader.dll.t.old"));
  EXPECT_FALSE(fs.files.contains(kDir + u"Uninstall-Korvane.ps1.t.new"));
}

// Each call that a scanner's moment can fail: it is tried again after each
// wait, and only the sixth failure counts.
TEST(ReplaceFiles, RetriesSharingViolationsAndAccessDeniedWithABoundedBackOff) {
  const std::vector<std::uint32_t> all_waits(std::begin(kRetryWaitsMs), std::end(kRetryWaitsMs));
  const char* points[] = {"open WebView2Loader.dll", "link Korvane.exe Korvane.exe.t.old",
                          "rename Korvane.exe.t.new Korvane.exe replace", "remove Korvane.exe.t.old"};
  for (const char* point : points) {
    for (std::uint32_t code : {5u, 32u}) {
      for (int failures : {1, 5, 6}) {
        FakeFs fs = upgrade();
        fs.transient[point] = {failures, code};
        const auto result = replace_all(fs);
        const std::string where = std::string(point) + " " + std::to_string(code) + " x" + std::to_string(failures);
        const std::vector<std::uint32_t> want_waits(all_waits.begin(),
                                                    all_waits.begin() + std::min(failures, 5));
        EXPECT_EQ(want_waits, fs.waits) << where;
        auto mine = fs.files;
        mine.erase(kDir + u"playlist");
        const bool gives_up = failures == 6;
        if (gives_up && (std::string(point).starts_with("open ") || std::string(point).starts_with("rename "))) {
          ASSERT_FALSE(result) << where;
          EXPECT_EQ(IoError::os(code), result.error()) << where;
          EXPECT_EQ("old application", fs.files[kApp]) << where;
          EXPECT_EQ("old loader", fs.files[kLoader]) << where;
        } else {
          ASSERT_TRUE(result) << where;  // a link given up on moves the old file aside instead
          for (const auto& [path, content] : kInstalled) EXPECT_EQ(content, mine[path]) << where;
          // Only a backup that could not be deleted is left, for the next run.
          EXPECT_EQ(kInstalled.size() + (gives_up && std::string(point).starts_with("remove ") ? 1 : 0),
                    mine.size())
              << where;
        }
      }
    }
  }
  FakeFs other = upgrade();
  other.transient["open Korvane.exe"] = {1, 112};
  EXPECT_FALSE(replace_all(other));
  EXPECT_TRUE(other.waits.empty()) << "only 5 and 32 are tried again";
}

TEST(ReplaceFiles, ReadOnlyTargetsAreMadeWritableFirst) {
  FakeFs fs = upgrade();
  fs.read_only = {kApp, kLoader};
  ASSERT_TRUE(replace_all(fs));
  EXPECT_TRUE(fs.read_only.empty());
  auto want = kInstalled;
  want[kDir + u"playlist"] = "mine";
  EXPECT_EQ(want, fs.files);
}

TEST(StagingName, OnlyThisSchemeIsRecognised) {
  struct {
    std::u16string_view name;
    std::optional<std::tuple<std::uint32_t, std::uint64_t, bool>> want;
  } const cases[] = {
      {u"Korvane.exe.setup-4242-123456789.new", std::tuple{4242u, 123456789ull, false}},
      {u"Korvane.exe.setup-1-2.old", std::tuple{1u, 2ull, true}},
      {u"Korvane.exe.setup-4294967295-18446744073709551615.old", std::tuple{4294967295u, 18446744073709551615ull, true}},
      {u"Korvane.exe.setup-4294967296-1.old", std::nullopt},  // no such process id
      {u"Korvane.exe.setup-1-2.new.txt", std::nullopt},
      {u"Korvane.exe.setup-1-2.bak", std::nullopt},
      {u"Korvane.exe.setup-x-2.new", std::nullopt},
      {u"Korvane.exe.setup-1-.new", std::nullopt},
      {u"Korvane.exe.setup--2.new", std::nullopt},
      {u"Korvane.exe.setup-12.new", std::nullopt},
      {u"Korvane.exe.setup-1-2-3.new", std::nullopt},
      {u"Korvane.exe.t.new", std::nullopt},
      {u"Korvane.exe", std::nullopt},
      {u"Other.exe.setup-1-2.new", std::nullopt},
      {u"xKorvane.exe.setup-1-2.new", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto got = parse_staging_name(c.name, u"Korvane.exe");
    ASSERT_EQ(c.want.has_value(), got.has_value()) << to_string_lossy(c.name);
    if (got) {
      EXPECT_EQ(*c.want, std::tuple(got->process_id, got->ticks, got->old)) << to_string_lossy(c.name);
    }
  }
}

// What earlier runs left (killed while writing, or after the first rename):
// cleared before the run stages its own, the old file of a missing target put
// back first, a second installer's names and names in use left alone.
TEST(ReplaceFiles, ClearsWhatEarlierRunsLeftAndNothingElse) {
  const Path new_app = kDir + u"Korvane.exe.setup-5-9.new";
  const Path running_app = kDir + u"Korvane.exe.setup-77-9.new";  // a second installer at work
  const Path own_id = kDir + u"Uninstall-Korvane.ps1.setup-1-3.new";  // an earlier run with our id
  const Path old_app = kDir + u"Korvane.exe.setup-5-9.old";
  const Path old_loader_1 = kDir + u"WebView2Loader.dll.setup-5-8.old";
  const Path old_loader_2 = kDir + u"WebView2Loader.dll.setup-6-9.old";
  const Path held_new = kDir + u"WebView2Loader.dll.setup-5-9.new";
  const std::vector<Path> others = {kDir + u"Korvane.exe.setup-5-9.new.txt", kDir + u"Korvane.exe.setup-x-9.new",
                                    kDir + u"Other.dll.setup-5-9.old", kDir + u"Korvane.exe.setup-5-9.bak"};
  const auto arrange = [&] {
    FakeFs fs;
    // Killed after the application's rename: the new application, its old
    // one as a backup, the loader moved aside (twice) and not yet replaced.
    fs.files = {{kApp, "newer application"}, {new_app, "part"}, {running_app, "being written"},
                {own_id, "part"}, {old_app, "old application"}, {old_loader_1, "older loader"},
                {old_loader_2, "old loader"}, {held_new, "part"}, {kDir + u"playlist", "mine"}};
    for (const Path& p : others) fs.files[p] = "mine";
    fs.held = {held_new};
    return fs;
  };

  FakeFs fs = arrange();
  ASSERT_TRUE(replace_all(fs));
  auto want = kInstalled;
  want[kDir + u"playlist"] = "mine";
  want[running_app] = "being written";
  want[held_new] = "part";
  for (const Path& p : others) want[p] = "mine";
  EXPECT_EQ(want, fs.files);

  // The put-back happens before anything of this run: a run that fails then
  // leaves the latest old loader in its place.
  FakeFs failing = arrange();
  failing.fail = {"write Uninstall-Korvane.ps1.t.new"};
  ASSERT_FALSE(replace_all(failing));
  EXPECT_EQ("old loader", failing.files[kLoader]);
  EXPECT_EQ("newer application", failing.files[kApp]);
  EXPECT_FALSE(failing.files.contains(old_loader_1));
  EXPECT_FALSE(failing.files.contains(old_app));
}

TEST(ReplaceFiles, StagingNamesCarryTheRunsTag) {
  EXPECT_EQ(u"setup-4242-123456789", staging_tag(4242, 123456789));
  EXPECT_EQ(u"D:\\k\\Korvane.exe.setup-1-2.new", staging_name(kApp, staging_tag(1, 2), u".new"));
}

}  // namespace
}  // namespace korvane
