#pragma once
// Move-only owners of Windows handles. The invalid value is part of the type:
// UniqueHandle for handles whose "none" is NULL (processes, threads, timers),
// UniqueFile for CreateFileW's INVALID_HANDLE_VALUE, UniqueFind for a search.

#include <windows.h>

#include <utility>

namespace korvane::win {

template <HANDLE (*Invalid)() noexcept>
class BasicUniqueHandle {
 public:
  BasicUniqueHandle() noexcept = default;
  explicit BasicUniqueHandle(HANDLE h) noexcept : h_(h) {}
  BasicUniqueHandle(const BasicUniqueHandle&) = delete;
  BasicUniqueHandle& operator=(const BasicUniqueHandle&) = delete;
  BasicUniqueHandle(BasicUniqueHandle&& other) noexcept : h_(std::exchange(other.h_, Invalid())) {}
  BasicUniqueHandle& operator=(BasicUniqueHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.h_, Invalid()));
    return *this;
  }
  ~BasicUniqueHandle() { reset(); }

  [[nodiscard]] HANDLE get() const noexcept { return h_; }
  [[nodiscard]] explicit operator bool() const noexcept { return h_ != Invalid(); }
  // Closes the handle held, if any, and holds `h`.
  void reset(HANDLE h = Invalid()) noexcept {
    if (h_ != Invalid()) ::CloseHandle(h_);
    h_ = h;
  }
  [[nodiscard]] HANDLE release() noexcept { return std::exchange(h_, Invalid()); }

 private:
  HANDLE h_ = Invalid();
};

inline HANDLE null_handle() noexcept { return nullptr; }
inline HANDLE invalid_handle_value() noexcept { return INVALID_HANDLE_VALUE; }

using UniqueHandle = BasicUniqueHandle<&null_handle>;
using UniqueFile = BasicUniqueHandle<&invalid_handle_value>;

// A FindFirstFileExW search, closed with FindClose.
class UniqueFind {
 public:
  explicit UniqueFind(HANDLE h) noexcept : h_(h) {}
  UniqueFind(const UniqueFind&) = delete;
  UniqueFind& operator=(const UniqueFind&) = delete;
  UniqueFind(UniqueFind&& other) noexcept : h_(std::exchange(other.h_, INVALID_HANDLE_VALUE)) {}
  UniqueFind& operator=(UniqueFind&&) = delete;
  ~UniqueFind() {
    if (h_ != INVALID_HANDLE_VALUE) ::FindClose(h_);
  }
  [[nodiscard]] HANDLE get() const noexcept { return h_; }
  [[nodiscard]] explicit operator bool() const noexcept { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

}  // namespace korvane::win
