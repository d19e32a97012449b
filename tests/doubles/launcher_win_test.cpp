// The launcher of the end-to-end tests, started the way those tests start it.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/utf.h"
#include "support/child_process_win.h"

namespace korvane {
namespace {

using namespace test;  // the child-process fixture and its helpers

TEST_F(ChildProcessTest, LauncherPassesItsSettingsToTheChild) {
  const Path launcher = module_dir() + u"\\doubles\\launcher.exe";
  ASSERT_TRUE(exists(launcher)) << "build the launcher target";
  const Path work = dir_ + u"\\work dir";
  ASSERT_TRUE(::CreateDirectoryW(w(work), nullptr));
  const Path out_file = dir_ + u"\\launched.txt";
  const std::vector<std::string> args = {
      "--set", "KORVANE_RECORD_VAR=KORVANE_CHILD_TEST_SET", "--set",
      "KORVANE_CHILD_TEST_SET=a=b \xc3\xa9", "--set",
      "KORVANE_RECORD_EXIT=42", "--stdout", to_string_lossy(out_file), "--cwd",
      to_string_lossy(work), "--", to_string_lossy(recorder_), "one", "two words", "th\"ree\\"};
  auto child = start_child({.program = launcher, .args = args, .working_dir = std::nullopt,
                            .flags = kCreateNoWindow});
  ASSERT_TRUE(child.has_value());
  const auto status = wait_child(std::move(*child));
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(42u, *status);
  const auto got = records();
  ASSERT_EQ(1u, got.size());
  const Record& r = got[0];
  ASSERT_TRUE(r.var_value.has_value());
  EXPECT_EQ(show(u"a=b \u00e9"), show(*r.var_value));
  EXPECT_EQ(show(work), show(r.cwd));
  EXPECT_FALSE(r.std_in.present);
  EXPECT_EQ("disk", r.std_out.type);
  EXPECT_EQ("disk", r.std_err.type);
  EXPECT_NE(std::string::npos, read_file(out_file).find("recorder: recorder"));
  const std::vector<std::u16string> want = {u"one", u"two words", u"th\"ree\\"};
  EXPECT_EQ(want, std::vector<std::u16string>(r.argv.begin() + 1, r.argv.end()));
}

TEST_F(ChildProcessTest, LauncherPassesARawCommandLineAndReportsFailures) {
  const Path launcher = module_dir() + u"\\doubles\\launcher.exe";
  ASSERT_TRUE(exists(launcher)) << "build the launcher target";
  const std::string raw = R"(prog "a b"c\\"d "" e)";
  set_env(u"KORVANE_CHILD_TEST_GONE", u"here");
  const std::vector<std::string> args = {"--set",   "KORVANE_RECORD_VAR=KORVANE_CHILD_TEST_GONE",
                                         "--unset", "KORVANE_CHILD_TEST_GONE",
                                         "--raw-cmdline", raw,
                                         "--",      to_string_lossy(recorder_),
                                         "ignored"};
  const auto line = run(launcher, args);
  set_env(u"KORVANE_CHILD_TEST_GONE", std::nullopt);
  EXPECT_EQ(raw, to_string_lossy(line.command_line));
  EXPECT_TRUE(line.var_name.has_value());
  EXPECT_FALSE(line.var_value.has_value());  // unset for the child only

  const std::vector<std::vector<std::string>> kFailing = {
      {"--", to_string_lossy(dir_ + u"\\missing.exe")},  // cannot be started
      {"--bogus", "--", to_string_lossy(recorder_)},       // unknown option
      {"--set", "NOEQUALS", "--", to_string_lossy(recorder_)},
      {"--stdout"},                                        // option without a value
      {},                                                  // no program
      {"--command", "recorder", "--", to_string_lossy(recorder_)},  // two programs
  };
  for (const auto& failing : kFailing) {
    auto child = start_child({.program = launcher, .args = failing, .working_dir = std::nullopt,
                              .flags = kCreateNoWindow});
    ASSERT_TRUE(child.has_value());
    const auto status = wait_child(std::move(*child));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(255u, *status) << (failing.empty() ? "" : failing.front());
  }
  EXPECT_EQ(1u, files_ending(u".json").size());
}

TEST_F(ChildProcessTest, LauncherStartsACommandLineAsTheShellDoes) {
  const Path launcher = module_dir() + u"\\doubles\\launcher.exe";
  ASSERT_TRUE(exists(launcher)) << "build the launcher target";
  // No program named: Windows finds "recorder" beside the launcher, the
  // first place it searches.
  const std::string command = "recorder -File \"a b\"";
  const auto line = run(launcher, {"--new-console", "--command", command});
  EXPECT_EQ(command, to_string_lossy(line.command_line));
  EXPECT_EQ(show(recorder_), show(line.module_path));
  // Wine's new console has no window to show here; that PowerShell gets a
  // console from it is proven by the uninstall the end-to-end tests run.
  EXPECT_EQ("char", line.std_out.type);
}

}  // namespace
}  // namespace korvane
