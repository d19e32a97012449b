#pragma once
// Move-only owners of memory that a Win32 call allocated and the caller must
// free with that API's own function: CoTaskMemFree (SHGetKnownFolderPath) or
// LocalFree (ConvertSidToStringSidW).

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace korvane::win {

template <class T, void (*Free)(void*) noexcept>
class UniqueMemory {
 public:
  UniqueMemory() noexcept = default;
  UniqueMemory(const UniqueMemory&) = delete;
  UniqueMemory& operator=(const UniqueMemory&) = delete;
  UniqueMemory(UniqueMemory&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  UniqueMemory& operator=(UniqueMemory&& other) noexcept {
    if (this != &other) reset(std::exchange(other.p_, nullptr));
    return *this;
  }
  ~UniqueMemory() { reset(); }

  [[nodiscard]] T* get() const noexcept { return p_; }
  [[nodiscard]] explicit operator bool() const noexcept { return p_ != nullptr; }
  // Frees what is held; for the out-parameter of the call that allocates.
  [[nodiscard]] T** put() noexcept {
    reset();
    return &p_;
  }
  void reset(T* p = nullptr) noexcept {
    if (p_ != nullptr) Free(p_);
    p_ = p;
  }

 private:
  T* p_ = nullptr;
};

inline void co_task_mem_free(void* p) noexcept { ::CoTaskMemFree(p); }
inline void local_free(void* p) noexcept { static_cast<void>(::LocalFree(p)); }

template <class T>
using CoTaskMemory = UniqueMemory<T, &co_task_mem_free>;
template <class T>
using LocalMemory = UniqueMemory<T, &local_free>;

}  // namespace korvane::win
