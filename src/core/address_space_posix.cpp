#include "core/address_space.h"

#include <sys/mman.h>
#include <unistd.h>

namespace korvane::address_space {
namespace {

// Private, anonymous, inaccessible, and not counted against the commit
// limit: address space only.
constexpr int kReservedFlags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;

}  // namespace

std::size_t page_size() noexcept {
  static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

void* reserve(std::size_t size) noexcept {
  void* base = ::mmap(nullptr, size, PROT_NONE, kReservedFlags, -1, 0);
  return base == MAP_FAILED ? nullptr : base;
}

bool commit(void* at, std::size_t size) noexcept {
  // Making private pages writable charges them to the commit limit; under
  // strict overcommit this is where memory runs out (ENOMEM).
  return ::mprotect(at, size, PROT_READ | PROT_WRITE) == 0;
}

void decommit(void* at, std::size_t size) noexcept {
  // A fresh inaccessible mapping over the range drops its pages and their
  // charge in one call. Should it fail (the system's limit on the number of
  // mappings), the pages stay committed: still correct, only not handed back.
  (void)::mmap(at, size, PROT_NONE, kReservedFlags | MAP_FIXED, -1, 0);
}

void release(void* base, std::size_t size) noexcept { (void)::munmap(base, size); }

}  // namespace korvane::address_space
