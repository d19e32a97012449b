#pragma once
// An owned, growable array of bytes: what gunzip hands back.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

namespace korvane {

// Move-only owner of `size()` bytes at the start of `capacity()` writable
// bytes. Reads like a std::vector<std::uint8_t> (data, size, begin/end,
// operator[]) and converts implicitly to std::span<const std::uint8_t>.
//
// The bytes live in a range of address space that the buffer reserves once,
// on its first growth, and backs with memory page by page at its end as the
// capacity grows (core/address_space.h: VirtualAlloc on Windows, mmap and
// mprotect elsewhere). So the buffer never moves and nothing is ever copied
// to grow it, and a page that has not been written yet takes no memory.
//
// The reservation is address space, not memory: by default 1 GiB
// (kDefaultReservation), which is also the most the buffer can ever hold;
// a capacity beyond it is refused like memory that cannot be had. Capacities
// are whole pages (address_space::page_size(), 4 KiB on x86-64).
class ByteBuffer {
 public:
  using value_type = std::uint8_t;
  using size_type = std::size_t;
  using difference_type = std::ptrdiff_t;
  using reference = std::uint8_t&;
  using const_reference = const std::uint8_t&;
  using pointer = std::uint8_t*;
  using const_pointer = const std::uint8_t*;
  using iterator = std::uint8_t*;
  using const_iterator = const std::uint8_t*;

  // The address space a buffer reserves unless told otherwise: 1 GiB, some
  // 25 times the application payload of this version.
  static constexpr std::size_t kDefaultReservation = std::size_t{1} << 30;

  // Empty, with nothing reserved yet: data() is null.
  ByteBuffer() noexcept = default;
  // Empty, and will reserve `reservation` bytes (rounded up to whole pages,
  // at least one) on its first growth instead of kDefaultReservation.
  explicit ByteBuffer(std::size_t reservation) noexcept;
  ByteBuffer(ByteBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)),
        reservation_(std::exchange(other.reservation_, kDefaultReservation)) {}
  ByteBuffer& operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
      release();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
      reservation_ = std::exchange(other.reservation_, kDefaultReservation);
    }
    return *this;
  }
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer() { release(); }

  [[nodiscard]] std::uint8_t* data() noexcept { return data_; }
  [[nodiscard]] const std::uint8_t* data() const noexcept { return data_; }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  // The writable bytes, data() onwards: whole pages, 0 before the first growth.
  [[nodiscard]] std::size_t capacity() const noexcept { return capacity_; }
  // The most capacity() can ever become, in bytes: whole pages.
  [[nodiscard]] std::size_t reservation() const noexcept { return reservation_; }
  [[nodiscard]] bool empty() const noexcept { return size_ == 0; }
  [[nodiscard]] iterator begin() noexcept { return data_; }
  [[nodiscard]] iterator end() noexcept { return data_ + size_; }
  [[nodiscard]] const_iterator begin() const noexcept { return data_; }
  [[nodiscard]] const_iterator end() const noexcept { return data_ + size_; }
  // `index` < size().
  [[nodiscard]] std::uint8_t& operator[](std::size_t index) noexcept { return data_[index]; }
  [[nodiscard]] const std::uint8_t& operator[](std::size_t index) const noexcept {
    return data_[index];
  }

  // The writable bytes between size() and capacity(); their contents are
  // unspecified until written.
  [[nodiscard]] std::span<std::uint8_t> spare() noexcept {
    return {data_ + size_, capacity_ - size_};
  }
  // Appends the first `count` bytes of spare(), which the caller has written.
  // `count` <= capacity() - size().
  void commit(std::size_t count) noexcept { size_ += count; }

  // Makes capacity() `new_capacity` rounded up to whole pages, keeping the
  // contents and the address; `new_capacity` >= size(). The first growth
  // reserves the address space; shrinking hands the pages beyond back to the
  // system; 0 releases everything, reservation included. Returns false, the
  // buffer unchanged, when `new_capacity` exceeds reservation() or the
  // address space or memory cannot be had. Example: with 4 KiB pages,
  // try_set_capacity(5000) gives a capacity of 8,192 bytes.
  [[nodiscard]] bool try_set_capacity(std::size_t new_capacity) noexcept;

  friend bool operator==(const ByteBuffer& a, const ByteBuffer& b) noexcept {
    return std::ranges::equal(a, b);
  }
  friend bool operator==(const ByteBuffer& a, std::span<const std::uint8_t> b) noexcept {
    return std::ranges::equal(a, b);
  }

 private:
  void release() noexcept;

  std::uint8_t* data_ = nullptr;  // the reservation's base, once reserved
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;  // committed bytes from data_
  std::size_t reservation_ = kDefaultReservation;  // whole pages
};

}  // namespace korvane
