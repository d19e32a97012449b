// Starting real child processes: recorder.exe (tests/doubles) stands in for
// the programs the installer starts and records how it was started.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/utf.h"
#include "host/os.h"
#include "shell/command_line_quote.h"
#include "shell/launch.h"
#include "shell/process.h"
#include "shell/program_lookup_win.h"
#include "support/child_process_win.h"

namespace korvane {
namespace {

using namespace test;  // the child-process fixture and its helpers

std::vector<std::u16string> utf16_all(const std::vector<std::string>& args) {
  std::vector<std::u16string> out;
  for (const std::string& a : args) out.push_back(utf8_to_utf16(a));
  return out;
}

// A registration-like script: quotes, backslashes (one before a quote, a run
// at the end), line feeds, a tab, apostrophes, non-ASCII and astral text.
const std::string kScript =
    "$s = $w.CreateShortcut(\"$desktop\\Korvane.lnk\")\n"
    "$s.TargetPath = 'C:\\Users\\J\xc3\xb6rg O''Neil\\Programs\\Korvane\\Korvane.exe'\n"
    "\tSet-ItemProperty -Value ('x -File \"C:\\K \xe2\x82\xac\\U.ps1\\\"') # \xf0\x9f\x8e\xb5\n"
    "$end = 'C:\\dir\\\\";

TEST_F(ChildProcessTest, ChildSplitsTheScriptArgumentBackUnchanged) {
  const std::vector<std::string> args = {"-NoProfile", "-Command", kScript, "", " ", "C:\\my dir\\"};
  const Record r = run(recorder_, args);
  const auto want_line = make_command_line(recorder_, args);
  ASSERT_TRUE(want_line.has_value());
  EXPECT_EQ(show(*want_line), show(r.command_line));
  ASSERT_EQ(args.size() + 1, r.argv.size());
  EXPECT_EQ(utf16_all(args), std::vector<std::u16string>(r.argv.begin() + 1, r.argv.end()));
  ASSERT_EQ(args.size() + 1, r.argv_shell.size());
  EXPECT_EQ(utf16_all(args),
            std::vector<std::u16string>(r.argv_shell.begin() + 1, r.argv_shell.end()));
}

TEST_F(ChildProcessTest, RegistrationCommandLineReachesPowerShellFoundOnThePath) {
  const std::vector<std::string> args = {"-NoProfile", "-WindowStyle", "Hidden", "-ExecutionPolicy",
                                         "Bypass", "-Command",
                                         "$a = \"C:\\x\\\"\nWrite-Host 'K\xc3\xb6rvane'\n"};
  const Path found = copy_recorder_onto_path(u"powershell.exe");
  const Record r = run(u"powershell", args);
  EXPECT_EQ(show(u"\"powershell\" -NoProfile -WindowStyle Hidden -ExecutionPolicy Bypass -Command "
                 u"\"$a = \\\"C:\\x\\\\\\\"\nWrite-Host 'K\u00f6rvane'\n\""),
            show(r.command_line));
  EXPECT_EQ(show(found), show(r.module_path));
  EXPECT_EQ(utf16_all(args), std::vector<std::u16string>(r.argv.begin() + 1, r.argv.end()));
}

TEST_F(ChildProcessTest, ProgramsBesideTheExecutableAreNeverFound) {
  const Path beside = module_dir();
  copy_recorder(beside + u"\\taskkill.exe");
  copy_recorder(beside + u"\\powershell.exe");
  copy_recorder_onto_path(u"unrelated.exe");  // PATH holds no powershell now
  wchar_t system[MAX_PATH];
  const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
  const auto taskkill = find_program(u"taskkill", system_program_search());
  ASSERT_TRUE(taskkill.has_value());
  EXPECT_EQ(show(Path(reinterpret_cast<const char16_t*>(system), n) + u"\\taskkill.exe"),
            show(*taskkill));
  const auto powershell = find_program(u"powershell", system_program_search());
  ASSERT_FALSE(powershell.has_value()) << show(*powershell);
  EXPECT_EQ(ErrorKind::NotFound, powershell.error().kind());
}

TEST_F(ChildProcessTest, RunHiddenWaitsUntilTheChildHasEnded) {
  copy_recorder_onto_path(u"korvane-recorder-test.exe");
  // The recorder marks its end only after this pause.
  set_env(u"KORVANE_RECORD_SLEEP_MS", u"700");
  const std::vector<std::string> args = {"x"};
  run_hidden(u"korvane-recorder-test", args);
  EXPECT_EQ(1u, files_ending(u".done").size());
  const auto got = records();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(show(uR"("korvane-recorder-test" x)"), show(got[0].command_line));
}

TEST_F(ChildProcessTest, LaunchAppStartsTheApplicationInTheInstallDir) {
  const Path install_dir = dir_ + u"\\Programs \u00e9\\Korvane";
  ASSERT_TRUE(::CreateDirectoryW(w(dir_ + u"\\Programs \u00e9"), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(w(install_dir), nullptr));
  const Path exe_path = install_dir + u"\\Korvane.exe";
  ASSERT_TRUE(::CopyFileW(w(recorder_), w(exe_path), FALSE));
  launch_app(exe_path, install_dir);
  const auto got = records();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(show(install_dir), show(got[0].cwd));
  EXPECT_EQ(show(u"\"" + exe_path + u"\""), show(got[0].command_line));
  EXPECT_EQ(1u, got[0].argv.size());
}

// Wine itself also accepts the long form; which form is passed is decided by
// child_working_dir, whose unit tests cover that choice.
TEST_F(ChildProcessTest, AVerbatimWorkingDirReachesTheChildInItsShortForm) {
  const Path sub = dir_ + u"\\work";
  ASSERT_TRUE(::CreateDirectoryW(w(sub), nullptr));
  const Path verbatim = u"\\\\?\\" + sub;
  const Record r = run(recorder_, {}, verbatim);
  EXPECT_EQ(show(sub), show(r.cwd));
}

// A folder too long to be a current directory is handed over by its short
// form, which CreateProcessW takes.
TEST_F(ChildProcessTest, AFolderTooLongForACurrentDirectoryIsTakenByItsShortForm) {
  Path deep = dir_;
  for (int i = 0; i < 3; ++i) {
    deep += u"\\" + Path(100, static_cast<char16_t>(u'a' + i));
    ASSERT_TRUE(::CreateDirectoryW(w(u"\\\\?\\" + deep), nullptr));
  }
  const auto short_form = short_path(deep);
  ASSERT_TRUE(short_form.has_value());
  const LaunchPaths paths = launch_paths(deep, u"Korvane.exe", short_path);
  ASSERT_TRUE(paths.working_dir.has_value());
  EXPECT_EQ(show(*short_form).substr(4), show(*paths.working_dir));  // without the verbatim prefix
  const Record r = run(recorder_, {}, *paths.working_dir);
  EXPECT_EQ(show(*paths.working_dir), show(r.cwd));
}

TEST_F(ChildProcessTest, WithoutAWorkingDirTheChildSharesOurs) {
  wchar_t ours[MAX_PATH * 4];
  const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(std::size(ours)), ours);
  const Record r = run(recorder_, {});
  EXPECT_EQ(show(Path(reinterpret_cast<const char16_t*>(ours), n)), show(r.cwd));
}

TEST_F(ChildProcessTest, TheEnvironmentIsInherited) {
  const std::u16string value = u"Gr\u00fc\u00dfe \U0001F3B5 \"q\" C:\\x\\";
  set_env(u"KORVANE_CHILD_TEST_VALUE", value);
  set_env(u"KORVANE_RECORD_VAR", u"KORVANE_CHILD_TEST_VALUE");
  const Record r = run(recorder_, {});
  set_env(u"KORVANE_CHILD_TEST_VALUE", std::nullopt);
  ASSERT_TRUE(r.var_value.has_value());
  EXPECT_EQ(show(value), show(*r.var_value));
}

TEST_F(ChildProcessTest, WaitGivesTheExitStatus) {
  for (const char16_t* status : {u"0", u"1", u"3000000000"}) {
    set_env(u"KORVANE_RECORD_EXIT", std::u16string(status));
    auto child = start_child({.program = recorder_, .args = {}, .working_dir = std::nullopt,
                              .flags = kCreateNoWindow});
    ASSERT_TRUE(child.has_value());
    const auto got = wait_child(std::move(*child));
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(std::stoul(show(status)), *got);
  }
}

TEST_F(ChildProcessTest, WaitClosesBothHandles) {
  auto child = start_child({.program = recorder_, .args = {}, .working_dir = std::nullopt,
                            .flags = kCreateNoWindow});
  ASSERT_TRUE(child.has_value());
  const HANDLE process = child->process();
  const HANDLE thread = child->thread();
  DWORD flags = 0;
  ASSERT_TRUE(::GetHandleInformation(process, &flags));
  ASSERT_TRUE(::GetHandleInformation(thread, &flags));
  ASSERT_TRUE(wait_child(std::move(*child)).has_value());
  EXPECT_FALSE(::GetHandleInformation(process, &flags));
  EXPECT_FALSE(::GetHandleInformation(thread, &flags));
}

TEST_F(ChildProcessTest, AMovedChildOwnsItsHandlesOnce) {
  auto child = start_child({.program = recorder_, .args = {}, .working_dir = std::nullopt,
                            .flags = kCreateNoWindow});
  ASSERT_TRUE(child.has_value());
  const std::uint32_t id = child->id();
  EXPECT_NE(0u, id);
  StartedChild moved = std::move(*child);
  EXPECT_EQ(nullptr, child->process());
  EXPECT_EQ(0u, child->id());
  EXPECT_EQ(id, ::GetProcessId(moved.process()));
  EXPECT_TRUE(wait_child(std::move(moved)).has_value());
}

TEST_F(ChildProcessTest, RedirectedOutputReachesTheChild) {
  const Path out_file = dir_ + u"\\out.txt";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
  const HANDLE file = ::CreateFileW(w(out_file), GENERIC_WRITE, FILE_SHARE_READ, &sa,
                                    CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  const HANDLE saved = ::GetStdHandle(STD_OUTPUT_HANDLE);
  ::SetStdHandle(STD_OUTPUT_HANDLE, file);
  const Record r = run(recorder_, {});
  ::SetStdHandle(STD_OUTPUT_HANDLE, saved);
  ::CloseHandle(file);
  EXPECT_TRUE(r.std_out.present);
  EXPECT_EQ("pipe", r.std_out.type);  // the relay's, which copies onto the file
  EXPECT_NE(std::string::npos, read_file(out_file).find("recorder: recorder"));
}

TEST_F(ChildProcessTest, WithoutStandardHandlesNoneArePassed) {
  // As when the installer is started from the desktop. A console program
  // then has at most its own console's handles; a passed handle would be this
  // test's file.
  const Path out_file = dir_ + u"\\out.txt";
  const HANDLE file = ::CreateFileW(w(out_file), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  const DWORD kStreams[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  HANDLE saved[3];
  for (int i = 0; i < 3; ++i) saved[i] = ::GetStdHandle(kStreams[i]);
  ::SetStdHandle(STD_OUTPUT_HANDLE, file);
  const Record with = run(recorder_, {});
  for (const Path& f : files_ending(u".json")) ::DeleteFileW(w(f));
  for (const Path& f : files_ending(u".done")) ::DeleteFileW(w(f));
  for (const DWORD stream : kStreams) ::SetStdHandle(stream, nullptr);
  const Record without = run(recorder_, {});
  for (int i = 0; i < 3; ++i) ::SetStdHandle(kStreams[i], saved[i]);
  ::CloseHandle(file);

  EXPECT_EQ("pipe", with.std_out.type);
  for (const auto* s : {&without.std_in, &without.std_out, &without.std_err}) {
    EXPECT_TRUE(!s->present || s->console) << s->type;
  }
  const std::string written = read_file(out_file);
  EXPECT_EQ(1, std::count(written.begin(), written.end(), '\n')) << written;
}

TEST_F(ChildProcessTest, AMissingProgramIsNotFound) {
  const std::vector<std::string> none;
  auto child = start_child({.program = u"korvane-no-such-program", .args = none,
                            .working_dir = std::nullopt, .flags = kCreateNoWindow});
  ASSERT_FALSE(child.has_value());
  EXPECT_EQ(ErrorKind::NotFound, child.error().kind());
  EXPECT_EQ("program not found", child.error().message());
  run_hidden(u"korvane-no-such-program", none);  // passed over
  launch_app(dir_ + u"\\missing\\Korvane.exe", dir_);
  EXPECT_TRUE(files_ending(u".json").empty());
}

TEST_F(ChildProcessTest, AMissingExecutablePathIsTheSystemsError) {
  auto child = start_child({.program = dir_ + u"\\missing.exe", .args = {},
                            .working_dir = std::nullopt, .flags = 0});
  ASSERT_FALSE(child.has_value());
  EXPECT_EQ(IoError::os(ERROR_FILE_NOT_FOUND), child.error());
}

TEST_F(ChildProcessTest, RefusesNulsBeforeStartingAnything) {
  const std::vector<std::string> nul_arg = {std::string("a\0b", 3)};
  const Path nul_dir = dir_ + Path(u"\0x", 2);
  const Path nul_path = recorder_ + Path(u"\0", 1);
  const struct {
    StartRequest request;
    std::string_view message;
  } kCases[] = {
      {{.program = recorder_, .args = nul_arg, .working_dir = std::nullopt, .flags = 0},
       kNulInData},
      {{.program = recorder_, .args = {}, .working_dir = nul_dir, .flags = 0}, kNulInData},
      {{.program = nul_path, .args = {}, .working_dir = std::nullopt, .flags = 0},
       kNulInWinApiString},
      {{.program = std::u16string_view(u"task\0kill", 9), .args = {}, .working_dir = std::nullopt,
        .flags = 0},
       kNulInData},
  };
  for (const auto& c : kCases) {
    auto child = start_child(c.request);
    ASSERT_FALSE(child.has_value()) << c.message;
    EXPECT_EQ(ErrorKind::InvalidInput, child.error().kind());
    EXPECT_EQ(c.message, child.error().message());
  }
  EXPECT_TRUE(files_ending(u".json").empty());
}

TEST(StartupInfo, SetsStandardHandlesOnlyWhenOneIsPresent) {
  const HANDLE a = reinterpret_cast<HANDLE>(0x10);
  const HANDLE b = reinterpret_cast<HANDLE>(0x20);
  const struct {
    HANDLE in, out, err;
    DWORD flags;
  } kCases[] = {
      {nullptr, nullptr, nullptr, 0},
      {a, nullptr, nullptr, STARTF_USESTDHANDLES},
      {nullptr, a, nullptr, STARTF_USESTDHANDLES},
      {nullptr, nullptr, b, STARTF_USESTDHANDLES},
      {a, b, a, STARTF_USESTDHANDLES},
  };
  for (const auto& c : kCases) {
    const STARTUPINFOW s = make_startup_info(c.in, c.out, c.err);
    EXPECT_EQ(sizeof(STARTUPINFOW), s.cb);
    EXPECT_EQ(c.flags, s.dwFlags);
    EXPECT_EQ(c.flags ? c.in : nullptr, s.hStdInput);
    EXPECT_EQ(c.flags ? c.out : nullptr, s.hStdOutput);
    EXPECT_EQ(c.flags ? c.err : nullptr, s.hStdError);
    EXPECT_EQ(0u, s.wShowWindow);
    EXPECT_EQ(nullptr, s.lpDesktop);
    EXPECT_EQ(nullptr, s.lpTitle);
  }
}

TEST(StartupInfo, PassesOnlyRealStandardHandles) {
  EXPECT_FALSE(is_usable_std_handle(nullptr));
  EXPECT_FALSE(is_usable_std_handle(INVALID_HANDLE_VALUE));
  const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(nullptr, event);
  EXPECT_TRUE(is_usable_std_handle(event));
  ::CloseHandle(event);
}

TEST(ProgramLookup, UserFormDropsAVerbatimPrefixTheSystemReadsAlike) {
  wchar_t system[MAX_PATH];
  const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
  const Path plain = Path(reinterpret_cast<const char16_t*>(system), n) + u"\\taskkill.exe";
  const ProgramSearch search = system_program_search();
  const auto user = search.user_form(u"\\\\?\\" + plain);
  ASSERT_TRUE(user.has_value());
  EXPECT_EQ(show(plain), show(*user));
  const auto kept = search.user_form(u"\\\\?\\" + plain + u".");
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(show(u"\\\\?\\" + plain + u"."), show(*kept));
  EXPECT_TRUE(search.exists(u"\\\\?\\" + plain).has_value());
  EXPECT_FALSE(search.exists(plain + u".missing").has_value());
}

}  // namespace
}  // namespace korvane
