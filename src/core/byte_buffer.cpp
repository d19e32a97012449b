#include "core/byte_buffer.h"

#include <algorithm>
#include <limits>

#include "core/address_space.h"

namespace korvane {
namespace {

// `n` rounded up to a multiple of `page`; `n` must not exceed the largest
// multiple that a std::size_t holds.
std::size_t whole_pages(std::size_t n, std::size_t page) noexcept {
  return (n + page - 1) / page * page;
}

}  // namespace

static_assert(ByteBuffer::kDefaultReservation % (64 * 1024) == 0,
              "the default reservation is whole pages of any size up to 64 KiB");

ByteBuffer::ByteBuffer(std::size_t reservation) noexcept {
  const std::size_t page = address_space::page_size();
  const std::size_t largest = std::numeric_limits<std::size_t>::max() / page * page;
  reservation_ = reservation > largest ? largest : std::max(page, whole_pages(reservation, page));
}

bool ByteBuffer::try_set_capacity(std::size_t new_capacity) noexcept {
  if (new_capacity == 0) {
    release();
    return true;
  }
  if (new_capacity > reservation_) return false;
  // reservation_ is whole pages, so this stays within it.
  const std::size_t wanted = whole_pages(new_capacity, address_space::page_size());
  if (data_ == nullptr) {
    void* base = address_space::reserve(reservation_);
    if (base == nullptr) return false;
    if (!address_space::commit(base, wanted)) {
      address_space::release(base, reservation_);
      return false;
    }
    data_ = static_cast<std::uint8_t*>(base);
    capacity_ = wanted;
    return true;
  }
  if (wanted > capacity_) {
    if (!address_space::commit(data_ + capacity_, wanted - capacity_)) return false;
  } else if (wanted < capacity_) {
    address_space::decommit(data_ + wanted, capacity_ - wanted);
  }
  capacity_ = wanted;
  return true;
}

void ByteBuffer::release() noexcept {
  if (data_ != nullptr) address_space::release(data_, reservation_);
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
}

}  // namespace korvane
