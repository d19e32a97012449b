#pragma once
// Address space reserved once and backed by memory piece by piece: the
// platform seam under ByteBuffer. One file per platform implements it:
// address_space_win.cpp (VirtualAlloc, VirtualFree) and
// address_space_posix.cpp (mmap, mprotect, munmap).

#include <cstddef>

namespace korvane::address_space {

// The size of a page, in bytes: reservations, commits and decommits cover
// whole pages (4,096 on x86-64 Windows and Linux).
[[nodiscard]] std::size_t page_size() noexcept;

// Reserves `size` bytes (a multiple of page_size()) of address space with no
// memory behind them: touching them faults. Returns the page-aligned base, or
// null when that much address space cannot be had.
[[nodiscard]] void* reserve(std::size_t size) noexcept;

// Backs the `size` bytes at `at` (page-aligned, inside one reservation) with
// readable, writable memory that reads as zero until written. A page takes
// physical memory only once it is first touched. Returns false when the
// memory cannot be had (the system's commit limit); the range is then as it
// was.
[[nodiscard]] bool commit(void* at, std::size_t size) noexcept;

// Returns the `size` committed bytes at `at` (page-aligned) to reserved-only:
// their contents and their memory are given up.
void decommit(void* at, std::size_t size) noexcept;

// Gives up a whole reservation: `base` and `size` as reserve() took them.
void release(void* base, std::size_t size) noexcept;

}  // namespace korvane::address_space
