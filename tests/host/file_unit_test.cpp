#include "host/file_unit.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
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
  bool hard_links = true;        // the volume has them
  std::set<std::string> fail;    // calls that fail, as the log writes them
  IoError error = IoError::os(112);
  std::vector<std::string> log;

  FileOps ops() {
    return {
        .write = [this](PathView p, std::span<const std::uint8_t> b) { return write(p, b); },
        .open_for_write = [this](PathView p) { return open_for_write(p); },
        .hard_link = [this](PathView e, PathView l) { return hard_link(e, l); },
        .rename = [this](PathView f, PathView t, bool r) { return rename(f, t, r); },
        .remove = [this](PathView p) { return remove(p); },
    };
  }

 private:
  std::optional<IoError> call(const std::string& entry) {
    log.push_back(entry);
    if (fail.contains(entry)) return error;
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
  IoResult<void> open_for_write(PathView path) {
    const Path p(path);
    if (auto e = call("open " + name_of(p))) return std::unexpected(*e);
    if (dirs.contains(p)) return os(5);
    if (held.contains(p)) return os(32);
    if (!files.contains(p)) return os(2);
    return {};
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
    if (files.contains(to) && !replace) return os(183);
    files[to] = files[from];
    files.erase(from);
    return {};
  }
  IoResult<void> remove(PathView path) {
    const Path p(path);
    if (auto e = call("remove " + name_of(p))) return std::unexpected(*e);
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
  return replace_files(files, u"t", fs.ops());
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
    for (const std::string& entry : fs.log) EXPECT_TRUE(entry.starts_with("open ")) << c.why << ": " << entry;
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
        if (point.starts_with("link ")) {
          ASSERT_TRUE(result) << where;  // the old file moves aside instead
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

TEST(ReplaceFiles, StagingNamesCarryTheRunsTag) {
  EXPECT_EQ(u"setup-4242-123456789", staging_tag(4242, 123456789));
  EXPECT_EQ(u"D:\\k\\Korvane.exe.setup-1-2.new", staging_name(kApp, staging_tag(1, 2), u".new"));
}

}  // namespace
}  // namespace korvane
