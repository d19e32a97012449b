#pragma once
// An owned, growable array of bytes: what gunzip hands back.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <utility>

namespace korvane {

// Move-only owner of `size()` bytes in a block of `capacity()` bytes. Reads
// like a std::vector<std::uint8_t> (data, size, begin/end, operator[]) and
// converts implicitly to std::span<const std::uint8_t>.
//
// The block comes from malloc and grows with realloc, so that a large buffer
// is extended in place where the C library can do it (glibc moves the pages
// of a large block with mremap, copying nothing). A std::vector would hold the
// old and the new block at once on every growth, about twice the data at peak.
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

  // Empty, with no block: data() is null.
  ByteBuffer() noexcept = default;
  ByteBuffer(ByteBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  ByteBuffer& operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
      std::free(data_);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
  }
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer() { std::free(data_); }

  [[nodiscard]] std::uint8_t* data() noexcept { return data_; }
  [[nodiscard]] const std::uint8_t* data() const noexcept { return data_; }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  [[nodiscard]] std::size_t capacity() const noexcept { return capacity_; }
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

  // Makes the block exactly `new_capacity` bytes, keeping the contents;
  // `new_capacity` >= size(). 0 releases the block. Returns false when the
  // memory cannot be had, and the buffer is then unchanged.
  [[nodiscard]] bool try_set_capacity(std::size_t new_capacity) noexcept {
    if (new_capacity == capacity_) return true;
    if (new_capacity == 0) {
      std::free(std::exchange(data_, nullptr));
      capacity_ = 0;
      return true;
    }
    void* block = std::realloc(data_, new_capacity);
    if (block == nullptr) return false;
    data_ = static_cast<std::uint8_t*>(block);
    capacity_ = new_capacity;
    return true;
  }

  friend bool operator==(const ByteBuffer& a, const ByteBuffer& b) noexcept {
    return std::ranges::equal(a, b);
  }
  friend bool operator==(const ByteBuffer& a, std::span<const std::uint8_t> b) noexcept {
    return std::ranges::equal(a, b);
  }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace korvane
