#include "core/address_space.h"

#include <windows.h>

namespace korvane::address_space {

std::size_t page_size() noexcept {
  static const std::size_t size = [] {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return static_cast<std::size_t>(info.dwPageSize);
  }();
  return size;
}

void* reserve(std::size_t size) noexcept {
  return ::VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
}

bool commit(void* at, std::size_t size) noexcept {
  return ::VirtualAlloc(at, size, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

void decommit(void* at, std::size_t size) noexcept {
  // Decommitting pages that are committed cannot fail.
  (void)::VirtualFree(at, size, MEM_DECOMMIT);
}

void release(void* base, std::size_t) noexcept {
  // MEM_RELEASE takes the whole reservation by its base, with size 0.
  (void)::VirtualFree(base, 0, MEM_RELEASE);
}

}  // namespace korvane::address_space
