#pragma once
// A move-only owner of an open registry key (RegCloseKey once). Predefined
// keys such as HKEY_CURRENT_USER are never held.

#include <windows.h>

#include <utility>

namespace korvane::win {

class UniqueKey {
 public:
  UniqueKey() noexcept = default;
  explicit UniqueKey(HKEY key) noexcept : key_(key) {}
  UniqueKey(const UniqueKey&) = delete;
  UniqueKey& operator=(const UniqueKey&) = delete;
  UniqueKey(UniqueKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  UniqueKey& operator=(UniqueKey&& other) noexcept {
    if (this != &other) reset(std::exchange(other.key_, nullptr));
    return *this;
  }
  ~UniqueKey() { reset(); }

  [[nodiscard]] HKEY get() const noexcept { return key_; }
  [[nodiscard]] explicit operator bool() const noexcept { return key_ != nullptr; }
  // Closes the key held, if any, and holds `key`.
  void reset(HKEY key = nullptr) noexcept {
    if (key_ != nullptr) static_cast<void>(::RegCloseKey(key_));
    key_ = key;
  }

 private:
  HKEY key_ = nullptr;
};

}  // namespace korvane::win
