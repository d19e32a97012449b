#include "host/create_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/utf.h"

namespace korvane {
namespace {

// A file system of directories and plain files, with a log of the calls.
class FakeFs {
 public:
  std::set<Path> dirs{u"C:\\"};
  std::set<Path> files;
  std::vector<std::string> log;
  std::function<void(PathView)> before_create;  // another process at work
  std::optional<IoError> refuse;                // error of every creation

  IoResult<void> create_directory(PathView path) {
    log.push_back("create " + to_string_lossy(path));
    if (before_create) before_create(path);
    if (refuse) return std::unexpected(*refuse);
    const Path p(path);
    if (dirs.contains(p) || files.contains(p)) return std::unexpected(IoError::os(183));
    const auto slash = p.find_last_of(u'\\');
    const Path up = slash == Path::npos ? Path() : p.substr(0, slash == 2 ? 3 : slash);
    if (!up.empty() && !dirs.contains(up)) return std::unexpected(IoError::os(3));
    dirs.insert(p);
    return {};
  }
  bool is_directory(PathView path) {
    log.push_back("is_directory " + to_string_lossy(path));
    return dirs.contains(Path(path));
  }
};

IoResult<void> create_dir_all(PathView path, FakeFs& fs) {
  return korvane::create_dir_all(
      path, [&](PathView p) { return fs.create_directory(p); },
      [&](PathView p) { return fs.is_directory(p); });
}

const Path kLocal = uR"(C:\Users\u\AppData\Local)";

TEST(CreateDirAll, WalksUpThenCreatesOutermostFirst) {
  FakeFs fs;
  fs.dirs.insert({uR"(C:\Users)", uR"(C:\Users\u)", uR"(C:\Users\u\AppData)", kLocal});
  ASSERT_TRUE(create_dir_all(kLocal + uR"(\Programs\Korvane)", fs));
  // Programs can be made as soon as the walk reaches it: the walk stops there.
  EXPECT_EQ((std::vector<std::string>{
                R"(create C:\Users\u\AppData\Local\Programs\Korvane)",
                R"(create C:\Users\u\AppData\Local\Programs)",
                R"(create C:\Users\u\AppData\Local\Programs\Korvane)",
            }),
            fs.log);
  EXPECT_TRUE(fs.dirs.contains(kLocal + uR"(\Programs\Korvane)"));
}

TEST(CreateDirAll, StopsAtAnExistingDirectoryWhenCreationsAreRefused) {
  // A system that reports "not found" until the walk meets what exists.
  FakeFs fs;
  fs.dirs.insert(kLocal);
  fs.before_create = [&](PathView p) {
    fs.refuse = fs.log.size() <= 2 && p != kLocal ? std::optional(IoError::os(3)) : std::nullopt;
  };
  ASSERT_TRUE(create_dir_all(kLocal + uR"(\Programs\Korvane)", fs));
  EXPECT_EQ((std::vector<std::string>{
                R"(create C:\Users\u\AppData\Local\Programs\Korvane)",
                R"(create C:\Users\u\AppData\Local\Programs)",
                R"(create C:\Users\u\AppData\Local)",
                R"(is_directory C:\Users\u\AppData\Local)",
                R"(create C:\Users\u\AppData\Local\Programs)",
                R"(create C:\Users\u\AppData\Local\Programs\Korvane)",
            }),
            fs.log);
}

TEST(CreateDirAll, ExistingDirectoryTakesOneAttemptAndOneQuery) {
  FakeFs fs;
  fs.dirs.insert(uR"(C:\K)");
  ASSERT_TRUE(create_dir_all(uR"(C:\K)", fs));
  EXPECT_EQ((std::vector<std::string>{R"(create C:\K)", R"(is_directory C:\K)"}), fs.log);
}

TEST(CreateDirAll, ExistingFileGivesError183) {
  FakeFs fs;
  fs.files.insert(uR"(C:\K)");
  const auto r = create_dir_all(uR"(C:\K)", fs);
  ASSERT_FALSE(r);
  EXPECT_EQ(IoError::os(183), r.error());
}

TEST(CreateDirAll, FileInTheMiddleStopsTheCreation) {
  FakeFs fs;
  fs.files.insert(uR"(C:\K)");
  const auto r = create_dir_all(uR"(C:\K\a\b)", fs);
  ASSERT_FALSE(r);
  EXPECT_EQ(IoError::os(183), r.error());
  EXPECT_FALSE(fs.dirs.contains(uR"(C:\K\a)"));
}

TEST(CreateDirAll, DirectoryMadeByAnotherProcessMeanwhileIsNoError) {
  FakeFs fs;
  fs.dirs.clear();  // the walk finds both levels missing
  fs.before_create = [&](PathView p) {
    // Someone else creates C:\A just before our second attempt on it.
    if (p == uR"(C:\A)" && fs.log.size() > 2) fs.dirs.insert({uR"(C:\)", uR"(C:\A)"});
  };
  ASSERT_TRUE(create_dir_all(uR"(C:\A\B)", fs));
  EXPECT_TRUE(fs.dirs.contains(uR"(C:\A\B)"));
  EXPECT_EQ((std::vector<std::string>{R"(create C:\A\B)", R"(create C:\A)", R"(create C:\A)",
                                      R"(is_directory C:\A)", R"(create C:\A\B)"}),
            fs.log);
}

TEST(CreateDirAll, RootAndEmptyNeedNoCall) {
  FakeFs fs;
  EXPECT_TRUE(create_dir_all(u"", fs));
  EXPECT_TRUE(create_dir_all(uR"(C:\)", fs));
  EXPECT_TRUE(fs.log.empty());
}

TEST(CreateDirAll, RelativePathStopsAtTheEmptyParent) {
  FakeFs fs;
  ASSERT_TRUE(create_dir_all(uR"(Programs\Korvane)", fs));
  EXPECT_EQ((std::vector<std::string>{R"(create Programs\Korvane)", "create Programs",
                                      R"(create Programs\Korvane)"}),
            fs.log);
}

TEST(CreateDirAll, NotFoundCodesWalkOnOtherErrorsReturn) {
  for (std::uint32_t code : {2u, 3u, 15u, 53u, 67u}) {
    FakeFs fs;
    fs.refuse = IoError::os(code);
    const auto r = create_dir_all(uR"(C:\a\b)", fs);
    ASSERT_FALSE(r);
    EXPECT_EQ(IoError::os(code), r.error());
    // Both levels tried while walking, then the outermost once more.
    EXPECT_EQ(3u, fs.log.size()) << code;
  }
  FakeFs fs;
  fs.refuse = IoError::os(5);
  EXPECT_EQ(IoError::os(5), create_dir_all(uR"(C:\a\b)", fs).error());
  EXPECT_EQ(1u, fs.log.size());
}

TEST(CreateDirAll, MissingDriveFailsAtTheOutermostCreation) {
  FakeFs fs;
  fs.dirs.clear();
  const auto r = create_dir_all(uR"(Q:\a)", fs);
  ASSERT_FALSE(r);
  EXPECT_EQ(IoError::os(3), r.error());
}

}  // namespace
}  // namespace korvane
