// The Win32 side of the host services, on real files in a temporary folder.

#include "host/os.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "core/utf.h"
#include "host/create_dir.h"
#include "host/file_unit.h"
#include "host/sid.h"
#include "setup/win_services.h"
#include "win/handle.h"
#include "win/wide.h"
#include "support/temp_dir_win.h"

namespace korvane {
namespace {

std::u16string from_wide(const wchar_t* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }

std::vector<std::uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

// The compositions the installer's Windows host makes.
IoResult<void> create_dir_all(PathView path) {
  return korvane::create_dir_all(path, create_directory, is_directory);
}
std::string os_error_text(const IoError& error) {
  return korvane::os_error_text(error, ntdll_loaded(), format_message);
}

// A fresh folder below the temporary directory, removed afterwards. Paths
// are given in the \\?\ form so that long ones work in the checks too.
class HostFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    root_ = dir_.path();
  }

  [[nodiscard]] bool is_dir(const Path& p) const {
    const DWORD a = ::GetFileAttributesW(win::wide(u"\\\\?\\" + p));
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
  }
  [[nodiscard]] std::string read(const Path& p) const {
    win::UniqueFile f(::CreateFileW(win::wide(u"\\\\?\\" + p), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!f) return "<missing>";
    std::string out;
    char chunk[4096];
    DWORD n = 0;
    while (::ReadFile(f.get(), chunk, sizeof chunk, &n, nullptr) && n > 0) out.append(chunk, n);
    return out;
  }

  test::TempDir dir_{u"korvane-host-"};
  Path root_;
};

TEST_F(HostFiles, CreatesNestedDirectories) {
  const Path dir = root_ + u"\\Local\\Programs\\Korvane";
  ASSERT_TRUE(create_dir_all(dir));
  EXPECT_TRUE(is_dir(dir));
}

TEST_F(HostFiles, ExistingDirectoryIsSuccess) {
  ASSERT_TRUE(create_dir_all(root_ + u"\\a"));
  EXPECT_TRUE(create_dir_all(root_ + u"\\a"));
  EXPECT_TRUE(create_dir_all(root_ + u"\\a\\"));
}

TEST_F(HostFiles, DirectoryThatExistsAsAFileGivesError183) {
  const Path file = root_ + u"\\Korvane";
  ASSERT_TRUE(write(file, bytes_of("plain file")));
  const auto r = create_dir_all(file);
  ASSERT_FALSE(r);
  EXPECT_EQ(IoError::os(183), r.error());
  const std::string text = os_error_text(r.error());
  EXPECT_TRUE(text.ends_with(" (os error 183)")) << text;
  EXPECT_GT(text.size(), std::string(" (os error 183)").size()) << text;
}

TEST_F(HostFiles, WriteOverALongerFileLeavesExactlyTheNewBytes) {
  const Path file = root_ + u"\\Korvane.exe";
  ASSERT_TRUE(write(file, std::vector<std::uint8_t>(100000, 'o')));
  ASSERT_TRUE(write(file, bytes_of("new content")));
  EXPECT_EQ("new content", read(file));
}

TEST_F(HostFiles, EmptyBufferGivesAnEmptyFile) {
  const Path file = root_ + u"\\empty";
  ASSERT_TRUE(write(file, bytes_of("something")));
  ASSERT_TRUE(write(file, {}));
  EXPECT_EQ("", read(file));
  ASSERT_TRUE(write(root_ + u"\\new-empty", {}));
  EXPECT_EQ("", read(root_ + u"\\new-empty"));
}

TEST_F(HostFiles, FileHeldWithoutSharingGivesTheSharingViolation) {
  const Path file = root_ + u"\\held.exe";
  ASSERT_TRUE(write(file, bytes_of("running")));
  win::UniqueFile held(::CreateFileW(win::wide(file), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  const auto r = write(file, bytes_of("replacement"));
  ASSERT_FALSE(r);
  EXPECT_EQ(IoError::os(32), r.error());
  EXPECT_TRUE(os_error_text(r.error()).ends_with(" (os error 32)"));
  held.reset();
  EXPECT_EQ("running", read(file));
}

// The unit as the Windows host composes it, over the real calls.
IoResult<void> replace_all(const Path& dir, const std::string& app, const std::string& loader) {
  const Path app_path = dir + u"\\Korvane.exe";
  const Path loader_path = dir + u"\\WebView2Loader.dll";
  const UnitFile files[] = {
      {app_path, {reinterpret_cast<const std::uint8_t*>(app.data()), app.size()}},
      {loader_path, {reinterpret_cast<const std::uint8_t*>(loader.data()), loader.size()}},
  };
  return replace_files(files, staging_tag(process_id(), tick_count()), process_id(), system_file_ops());
}

std::vector<std::string> names_in(const Path& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  const HANDLE find = ::FindFirstFileW(win::wide(dir + u"\\*"), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = to_string_lossy(from_wide(found.cFileName));
    if (name != "." && name != "..") names.push_back(name);
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
  return names;
}

TEST_F(HostFiles, UnitReplacesEveryFileAndLeavesNoOtherName) {
  ASSERT_TRUE(replace_all(root_, "first application", "first loader"));
  ASSERT_TRUE(replace_all(root_, "second", "second loader"));
  EXPECT_EQ((std::vector<std::string>{"Korvane.exe", "WebView2Loader.dll"}), names_in(root_));
  EXPECT_EQ("second", read(root_ + u"\\Korvane.exe"));
  EXPECT_EQ("second loader", read(root_ + u"\\WebView2Loader.dll"));
}

TEST_F(HostFiles, UnitWithAHeldFileChangesNothing) {
  ASSERT_TRUE(replace_all(root_, "old application", "old loader"));
  const Path loader = root_ + u"\\WebView2Loader.dll";
  win::UniqueFile held(::CreateFileW(win::wide(loader), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  const auto r = replace_all(root_, "new application", "new loader");
  ASSERT_FALSE(r);
  EXPECT_EQ(IoError::os(32), r.error());
  held.reset();
  EXPECT_EQ((std::vector<std::string>{"Korvane.exe", "WebView2Loader.dll"}), names_in(root_));
  EXPECT_EQ("old application", read(root_ + u"\\Korvane.exe"));
  EXPECT_EQ("old loader", read(loader));
}

// The probe asks for what the renames need: a holder that shares writing but
// not deletion (a backup agent, a viewer) stops it, as it would stop the
// replacing rename.
TEST_F(HostFiles, ProbeForReplacingMeetsAHolderThatDoesNotShareDeletion) {
  const Path file = root_ + u"\\Korvane.exe";
  ASSERT_TRUE(write(file, bytes_of("old")));
  struct {
    DWORD share;
    bool opens;
  } const cases[] = {
      {FILE_SHARE_READ | FILE_SHARE_WRITE, false},
      {FILE_SHARE_READ | FILE_SHARE_DELETE, false},
      {FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
  };
  for (const auto& c : cases) {
    win::UniqueFile held(::CreateFileW(win::wide(file), GENERIC_READ, c.share, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    const auto r = open_for_replace(file);
    EXPECT_EQ(c.opens, r.has_value()) << c.share;
    if (!r) {
      EXPECT_EQ(IoError::os(32), r.error()) << c.share;
    }
  }
  EXPECT_EQ("old", read(file));
}

TEST_F(HostFiles, ReadOnlyFileIsMadeWritableAndFolderListed) {
  const Path file = root_ + u"\\Korvane.exe";
  ASSERT_TRUE(write(file, bytes_of("old")));
  ASSERT_TRUE(::SetFileAttributesW(win::wide(file), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(delete_file(file));  // what a read-only backup would meet
  ASSERT_TRUE(make_writable(file));
  EXPECT_EQ(0u, ::GetFileAttributesW(win::wide(file)) & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(make_writable(file));  // nothing to clear
  EXPECT_EQ(IoError::os(2), make_writable(root_ + u"\\none").error());

  ASSERT_TRUE(create_directory(root_ + u"\\sub"));
  auto names = list_dir(root_);
  ASSERT_TRUE(names);
  std::ranges::sort(*names);
  EXPECT_EQ((std::vector<std::u16string>{u"Korvane.exe", u"sub"}), *names);
  EXPECT_FALSE(list_dir(root_ + u"\\none"));

  EXPECT_TRUE(is_running(process_id()));
  EXPECT_FALSE(is_running(0xFFFFFFF0u));
}

TEST_F(HostFiles, FileOperationsGiveTheSystemsErrors) {
  const Path a = root_ + u"\\a", b = root_ + u"\\b";
  EXPECT_EQ(IoError::os(2), open_for_replace(a).error());
  ASSERT_TRUE(write(a, bytes_of("a")));
  ASSERT_TRUE(write(b, bytes_of("b")));
  EXPECT_TRUE(open_for_replace(a));
  EXPECT_EQ("a", read(a));  // opened, not truncated
  EXPECT_EQ(IoError::os(183), hard_link(a, b).error());
  EXPECT_EQ(IoError::os(183), move_file(a, b, false).error());
  ASSERT_TRUE(move_file(a, b, true));
  EXPECT_EQ("a", read(b));
  ASSERT_TRUE(delete_file(b));
  EXPECT_EQ(IoError::os(2), delete_file(b).error());
}

TEST_F(HostFiles, RelativePathResolvesAgainstTheCurrentDirectory) {
  wchar_t old[MAX_PATH + 1];
  ASSERT_NE(0u, ::GetCurrentDirectoryW(MAX_PATH + 1, old));
  ASSERT_TRUE(::SetCurrentDirectoryW(win::wide(root_)));
  const auto made = create_dir_all(u"Programs\\Korvane");
  const auto written = write(u"Programs\\Korvane\\file.txt", bytes_of("relative"));
  ::SetCurrentDirectoryW(old);
  ASSERT_TRUE(made);
  ASSERT_TRUE(written);
  EXPECT_EQ("relative", read(root_ + u"\\Programs\\Korvane\\file.txt"));
}

TEST_F(HostFiles, PathLongerThan300UnitsIsCreatedAndWritten) {
  Path dir = root_;
  for (int i = 0; i < 8; ++i) dir += u"\\" + Path(40, static_cast<char16_t>(u'a' + i));
  ASSERT_GT(dir.size(), 300u);
  ASSERT_TRUE(create_dir_all(dir));
  ASSERT_TRUE(write(dir + u"\\Korvane.exe", bytes_of("deep")));
  EXPECT_EQ("deep", read(dir + u"\\Korvane.exe"));
}

TEST_F(HostFiles, NulInAPathIsRefused) {
  const Path bad = root_ + std::u16string(u"\\a\0b", 4);
  const IoError want = IoError::with_message(ErrorKind::InvalidInput, "strings passed to WinAPI cannot contain NULs");
  EXPECT_EQ(want, create_dir_all(bad).error());
  EXPECT_EQ(want, write(bad, {}).error());
}

TEST(HostEnvironment, VarOsTellsAbsentFromEmpty) {
  ASSERT_TRUE(::SetEnvironmentVariableW(L"KORVANE_TEST_SET", L"C:\\x \u00FC\U0001F3B5"));
  ASSERT_TRUE(::SetEnvironmentVariableW(L"KORVANE_TEST_EMPTY", L""));
  ::SetEnvironmentVariableW(L"KORVANE_TEST_UNSET", nullptr);
  EXPECT_EQ(Path(u"C:\\x \u00FC\U0001F3B5"), var_os(u"KORVANE_TEST_SET"));
  EXPECT_EQ(Path(), var_os(u"KORVANE_TEST_EMPTY"));
  EXPECT_EQ(std::nullopt, var_os(u"KORVANE_TEST_UNSET"));
  EXPECT_EQ(std::nullopt, var_os(std::u16string_view(u"KORVANE_TEST_SET\0x", 18)));
}

TEST(HostEnvironment, VarOsReadsValuesLongerThanTheFirstBuffer) {
  const std::u16string value(3000, u'v');
  ASSERT_TRUE(::SetEnvironmentVariableW(L"KORVANE_TEST_LONG", win::wide(value)));
  EXPECT_EQ(value, var_os(u"KORVANE_TEST_LONG"));
}

TEST(HostEnvironment, TempDirIsTheSystemsTemporaryFolder) {
  wchar_t buffer[MAX_PATH + 1];
  ASSERT_NE(0u, ::GetTempPathW(MAX_PATH + 1, buffer));
  const auto dir = temp_dir();
  ASSERT_TRUE(dir);
  EXPECT_EQ(from_wide(buffer), *dir);
  EXPECT_EQ(u'\\', dir->back());
}

TEST(HostSleep, ReturnsAfterAtLeastTheTimeAsked) {
  LARGE_INTEGER f, a, b;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&a);
  sleep(Duration{0, 350'000'000});
  ::QueryPerformanceCounter(&b);
  const double ms = 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
  // A lower bound only (with a millisecond for clock rounding): the pause pauses.
  EXPECT_GE(ms, 349.0);
  sleep(Duration{0, 0});
  sleep(Duration{0, 1});
}

TEST(OsErrorTextOnWindows, SystemMessagesAreTrimmedAndSuffixed) {
  for (std::uint32_t code : {2u, 3u, 183u}) {
    const std::string text = os_error_text(IoError::os(code));
    const std::string suffix = " (os error " + std::to_string(code) + ")";
    ASSERT_TRUE(text.ends_with(suffix)) << text;
    const std::string message = text.substr(0, text.size() - suffix.size());
    ASSERT_FALSE(message.empty()) << code;
    EXPECT_EQ(std::string::npos, std::string_view(" \t\n\f\r").find(message.back()))
        << "trailing white space in: " << text;
    EXPECT_EQ(std::string::npos, message.find("OS Error")) << text;
  }
}

TEST(OsErrorTextOnWindows, UnknownCodeShowsTheFormatMessageError) {
  const std::string text = os_error_text(IoError::os(0x0FFFFFF0u));
  EXPECT_EQ("OS Error 268435440 (FormatMessageW() returned error 317) (os error 268435440)", text);
}

TEST(OsErrorTextOnWindows, NtStatusBitTakesTheNtdllMessage) {
  // STATUS_ACCESS_VIOLATION with the bit that marks an NT status.
  const std::uint32_t code = 0x10000000u | 0xC0000005u;
  const std::string text = os_error_text(IoError::os(code));
  EXPECT_TRUE(text.ends_with(" (os error -805306363)")) << text;
  // Windows has the status text; Wine's NTDLL.DLL has no message table, and
  // the fallback then shows the code looked up, without the bit.
  if (text.starts_with("OS Error")) {
    EXPECT_TRUE(text.starts_with("OS Error -1073741819 (FormatMessageW() returned error ")) << text;
  }
}

// The uninstall script removes the entry by this text: it must be the SID's
// plain form, the one a registry path under HKEY_USERS holds.
TEST(UserSid, TheProcessTokenGivesASidText) {
  auto sid = current_user_sid();
  ASSERT_TRUE(sid.has_value());
  EXPECT_TRUE(is_sid_text(*sid)) << to_string_lossy(*sid);
  EXPECT_TRUE(sid->starts_with(u"S-1-5-")) << to_string_lossy(*sid);
}

// Another thread stands in for another run: a mutex is its thread's own.
TEST(InstallLock, WaitsForTheHolderAndTakesOverOneThatEndedWithoutLettingGo) {
  const std::u16string name = u"Global\\KorvaneTest-" + utf8_to_utf16(std::to_string(::GetCurrentProcessId()));
  struct Holder {
    std::u16string name;
    HANDLE taken;
    HANDLE release;
    bool let_go;  // else the thread ends while it owns the mutex
  };
  for (const bool let_go : {true, false}) {
    Holder holder{name, ::CreateEventW(nullptr, TRUE, FALSE, nullptr), ::CreateEventW(nullptr, TRUE, FALSE, nullptr),
                  let_go};
    const win::UniqueHandle thread(::CreateThread(
        nullptr, 0,
        [](void* arg) -> DWORD {
          auto* h = static_cast<Holder*>(arg);
          auto owned = own_named_mutex(h->name, 0);
          ::SetEvent(h->taken);
          ::WaitForSingleObject(h->release, INFINITE);
          if (!h->let_go) ::ExitThread(0);  // no destructor runs: abandoned
          return owned ? 0 : 1;
        },
        &holder, 0, nullptr));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(holder.taken, 10000));
    EXPECT_EQ(IoError::os(kErrorInstallAlreadyRunning), own_named_mutex(name, 300).error()) << let_go;
    ::SetEvent(holder.release);
    EXPECT_TRUE(own_named_mutex(name, 10000).has_value()) << let_go;
    ::WaitForSingleObject(thread.get(), 10000);
    ::CloseHandle(holder.taken);
    ::CloseHandle(holder.release);
  }
}

}  // namespace
}  // namespace korvane
