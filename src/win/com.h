#pragma once
// Move-only owners for COM: an interface pointer (released once) and the
// thread's COM initialisation (undone once, and only when it was done).

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace korvane::win {

template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) reset(std::exchange(other.p_, nullptr));
    return *this;
  }
  ~ComPtr() { reset(); }

  [[nodiscard]] T* get() const noexcept { return p_; }
  [[nodiscard]] T* operator->() const noexcept { return p_; }
  [[nodiscard]] explicit operator bool() const noexcept { return p_ != nullptr; }
  // Releases what is held; for the void** out-parameter of CoCreateInstance
  // and QueryInterface, which hand over one reference.
  [[nodiscard]] void** put_void() noexcept {
    reset();
    return reinterpret_cast<void**>(&p_);
  }
  void reset(T* p = nullptr) noexcept {
    if (p_ != nullptr) p_->Release();
    p_ = p;
  }

 private:
  T* p_ = nullptr;
};

// The calling thread's CoInitializeEx; CoUninitialize on destruction when it
// succeeded (S_OK, or S_FALSE for a thread already initialised alike). A
// thread initialised in the other model (RPC_E_CHANGED_MODE) can still use
// COM, but must not be uninitialised by us.
class ComApartment {
 public:
  explicit ComApartment(DWORD model) noexcept : result_(::CoInitializeEx(nullptr, model)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ComApartment(ComApartment&& other) noexcept
      : result_(std::exchange(other.result_, E_FAIL)) {}
  ComApartment& operator=(ComApartment&&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }

  // True when COM can be used on this thread.
  [[nodiscard]] bool usable() const noexcept {
    return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE;
  }
  [[nodiscard]] HRESULT result() const noexcept { return result_; }

 private:
  HRESULT result_;
};

}  // namespace korvane::win
