#pragma once
// A fixture for tests that start real child processes: recorder.exe
// (tests/doubles) stands in for the programs started and records how it was
// started. Windows build only.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/utf.h"
#include "doubles/record_reader.h"
#include "shell/process.h"
#include "support/temp_dir_win.h"

namespace korvane::test {

inline std::string show(std::u16string_view units) { return to_string_lossy(units); }
inline const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

inline Path module_dir() {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD n = ::GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
  Path path(reinterpret_cast<const char16_t*>(buffer), n);
  return path.substr(0, path.find_last_of(u'\\'));
}

inline void set_env(const std::u16string& name, const std::optional<std::u16string>& value) {
  ::SetEnvironmentVariableW(w(name), value ? w(*value) : nullptr);
}

inline std::string read_file(const Path& path) {
  const HANDLE file = ::CreateFileW(w(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                    FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string data;
  char chunk[4096];
  DWORD got = 0;
  while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) data.append(chunk, got);
  ::CloseHandle(file);
  return data;
}

inline bool exists(const Path& path) { return ::GetFileAttributesW(w(path)) != INVALID_FILE_ATTRIBUTES; }

// A fresh folder for the records of one test, the recorder found below the
// test executable, and copies of it placed in a folder of PATH or beside the
// test executable, removed afterwards with PATH restored.
class ChildProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder_ = module_dir() + u"\\doubles\\recorder.exe";
    ASSERT_TRUE(exists(recorder_)) << "build the recorder target: " << show(recorder_);
    ASSERT_FALSE(temp_.path().empty());
    dir_ = temp_.path();
    set_env(u"KORVANE_RECORD_DIR", dir_);
  }

  void TearDown() override {
    for (const char* name : {"KORVANE_RECORD_DIR", "KORVANE_RECORD_EXIT", "KORVANE_RECORD_SLEEP_MS",
                             "KORVANE_RECORD_VAR"}) {
      set_env(utf8_to_utf16(name), std::nullopt);
    }
    for (const Path& copy : copies_) ::DeleteFileW(w(copy));
    if (saved_path_) set_env(u"PATH", *saved_path_);
  }

  // Places a copy of the recorder as `name` in a folder that becomes the
  // whole of PATH for this test; gives the copy's path.
  Path copy_recorder_onto_path(std::u16string_view name) {
    if (!saved_path_) {
      wchar_t value[32768];
      const DWORD n = ::GetEnvironmentVariableW(L"PATH", value, static_cast<DWORD>(std::size(value)));
      saved_path_ = Path(reinterpret_cast<const char16_t*>(value), n);
      set_env(u"PATH", path_dir_.path());
    }
    const Path copy = path_dir_.path() + u"\\" + Path(name);
    copy_recorder(copy);
    return copy;
  }

  // Places a copy of the recorder at `path`, removed after the test.
  void copy_recorder(const Path& path) {
    ASSERT_TRUE(::CopyFileW(w(recorder_), w(path), FALSE)) << show(path) << " " << ::GetLastError();
    copies_.push_back(path);
  }

  std::vector<Path> files_ending(std::u16string_view ending) const {
    std::vector<Path> out;
    WIN32_FIND_DATAW found;
    const HANDLE find = ::FindFirstFileW(w(dir_ + u"\\*"), &found);
    if (find == INVALID_HANDLE_VALUE) return out;
    do {
      const Path name(reinterpret_cast<const char16_t*>(found.cFileName));
      if (name.ends_with(ending)) out.push_back(dir_ + u"\\" + name);
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
    return out;
  }

  // The records written so far, waiting for `count` of them to be complete
  // (their ".done" marker present) for at most a generous bound.
  std::vector<Record> records(std::size_t count = 1) const {
    for (int i = 0; i < 600 && files_ending(u".done").size() < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::vector<Record> out;
    for (const Path& file : files_ending(u".json")) {
      auto r = test::parse_record(read_file(file));
      EXPECT_TRUE(r.has_value()) << "unreadable record " << show(file);
      if (r) out.push_back(std::move(*r));
    }
    return out;
  }

  // Starts `program`, waits, and gives its one record.
  Record run(std::u16string_view program, const std::vector<std::string>& args,
             std::optional<PathView> working_dir = std::nullopt) {
    auto child = start_child({.program = program, .args = args, .working_dir = working_dir,
                              .flags = kCreateNoWindow});
    // Wine's CreateProcessW has been seen, once in many runs, to fail with
    // ERROR_INTERNAL_ERROR (1359) when handing a disk file on as stdout; one
    // more try tells that from a fault of ours.
    if (!child && child.error().os_code() == 1359) {
      child = start_child({.program = program, .args = args, .working_dir = working_dir,
                           .flags = kCreateNoWindow});
    }
    EXPECT_TRUE(child.has_value()) << show(program) << " "
                                   << (child ? 0 : child.error().os_code());
    if (!child) return {};
    const auto status = wait_child(std::move(*child));
    EXPECT_TRUE(status.has_value());
    const auto got = records();
    EXPECT_EQ(1u, got.size());
    return got.empty() ? Record{} : got.front();
  }

  test::TempDir temp_{u"korvane-child-test-"};
  Path recorder_;
  test::TempDir path_dir_{u"korvane-child-path-"};
  std::optional<Path> saved_path_;
  Path dir_;
  std::vector<Path> copies_;
};

}  // namespace korvane::test
