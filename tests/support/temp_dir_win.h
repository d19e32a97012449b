#pragma once
// A fresh folder below the temporary directory for one Win32-layer test,
// removed with everything in it when the owner goes.

#include <windows.h>

#include <string>

#include "core/path.h"
#include "core/utf.h"

namespace korvane::test {

// Removes `dir` and everything below it, as far as it can.
inline void remove_tree(const Path& dir) {
  const auto w = [](const Path& p) { return reinterpret_cast<const wchar_t*>(p.c_str()); };
  WIN32_FIND_DATAW found;
  const HANDLE find = ::FindFirstFileW(w(dir + u"\\*"), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const Path name(reinterpret_cast<const char16_t*>(found.cFileName));
      if (name == u"." || name == u"..") continue;
      const Path path = dir + u"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(path);
      } else {
        ::SetFileAttributesW(w(path), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(w(path));
      }
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
  }
  ::RemoveDirectoryW(w(dir));
}

class TempDir {
 public:
  // Wine reuses small process ids across runs, and a folder a killed run
  // left behind must not fail the next one: the name is retried until new.
  explicit TempDir(std::u16string_view prefix) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
    const Path base(reinterpret_cast<const char16_t*>(temp), n);
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
      Path candidate = base + Path(prefix) +
                       utf8_to_utf16(std::to_string(::GetCurrentProcessId()) + "-" +
                                     std::to_string(::GetTickCount64()) + "-" + std::to_string(++counter));
      if (::CreateDirectoryW(reinterpret_cast<const wchar_t*>(candidate.c_str()), nullptr)) {
        path_ = std::move(candidate);
        return;
      }
      if (::GetLastError() != ERROR_ALREADY_EXISTS) return;
    }
  }
  ~TempDir() {
    if (!path_.empty()) remove_tree(u"\\\\?\\" + path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Empty when no folder could be made.
  [[nodiscard]] const Path& path() const noexcept { return path_; }

 private:
  Path path_;
};

}  // namespace korvane::test
