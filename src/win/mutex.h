#pragma once
// A move-only owner of a named mutex that this thread owns: released
// (ReleaseMutex) and closed when the owner goes.

#include <windows.h>

#include <utility>

namespace korvane::win {

class OwnedMutex {
 public:
  OwnedMutex() noexcept = default;
  // `mutex` is owned by the calling thread (a wait on it succeeded).
  explicit OwnedMutex(HANDLE mutex) noexcept : mutex_(mutex) {}
  OwnedMutex(const OwnedMutex&) = delete;
  OwnedMutex& operator=(const OwnedMutex&) = delete;
  OwnedMutex(OwnedMutex&& other) noexcept : mutex_(std::exchange(other.mutex_, nullptr)) {}
  OwnedMutex& operator=(OwnedMutex&& other) noexcept {
    if (this != &other) {
      reset();
      mutex_ = std::exchange(other.mutex_, nullptr);
    }
    return *this;
  }
  ~OwnedMutex() { reset(); }

  [[nodiscard]] explicit operator bool() const noexcept { return mutex_ != nullptr; }
  // Releases and closes the mutex held, if any.
  void reset() noexcept {
    if (mutex_ == nullptr) return;
    ::ReleaseMutex(mutex_);
    ::CloseHandle(mutex_);
    mutex_ = nullptr;
  }

 private:
  HANDLE mutex_ = nullptr;
};

}  // namespace korvane::win
