#include "core/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/address_space.h"

namespace korvane {
namespace {

const std::size_t kPage = address_space::page_size();

TEST(ByteBuffer, StartsEmptyWithoutABlock) {
  const ByteBuffer b;
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(b.capacity(), 0u);
  EXPECT_EQ(b.data(), nullptr);
  EXPECT_EQ(b.begin(), b.end());
  EXPECT_EQ(b.reservation(), ByteBuffer::kDefaultReservation);
  EXPECT_EQ(ByteBuffer::kDefaultReservation, std::size_t{1} << 30);
}

TEST(ByteBuffer, CapacityIsWholePages) {
  ByteBuffer b;
  ASSERT_TRUE(b.try_set_capacity(1));
  EXPECT_EQ(b.capacity(), kPage);
  ASSERT_TRUE(b.try_set_capacity(kPage + 1));
  EXPECT_EQ(b.capacity(), 2 * kPage);
  EXPECT_EQ(b.spare().size(), 2 * kPage);
}

TEST(ByteBuffer, GrowsInPlaceKeepingItsContents) {
  ByteBuffer b;
  ASSERT_TRUE(b.try_set_capacity(3));
  std::memcpy(b.spare().data(), "abc", 3);
  b.commit(3);
  const std::uint8_t* block = b.data();
  ASSERT_TRUE(b.try_set_capacity(64 << 20));
  EXPECT_EQ(b.data(), block);  // never moved, never copied
  EXPECT_EQ(b.spare().size(), (64u << 20) - 3);
  b.spare().back() = 9;  // the whole capacity is writable
  const std::vector<std::uint8_t> want{'a', 'b', 'c'};
  EXPECT_TRUE(b == std::span<const std::uint8_t>(want));
  ASSERT_TRUE(b.try_set_capacity(3));
  EXPECT_EQ(b.capacity(), kPage);
  EXPECT_EQ(b.data(), block);
  EXPECT_EQ(b[2], 'c');
}

TEST(ByteBuffer, ReservationIsWholePagesAndAtLeastOne) {
  EXPECT_EQ(ByteBuffer(0).reservation(), kPage);
  EXPECT_EQ(ByteBuffer(kPage + 1).reservation(), 2 * kPage);
  EXPECT_EQ(ByteBuffer(3 * kPage).reservation(), 3 * kPage);
}

TEST(ByteBuffer, CapacityBeyondTheReservationIsRefusedAndChangesNothing) {
  ByteBuffer b(4 * kPage);
  ASSERT_TRUE(b.try_set_capacity(kPage));
  b.spare()[0] = 7;
  b.commit(1);
  const std::uint8_t* before = b.data();
  EXPECT_FALSE(b.try_set_capacity(4 * kPage + 1));
  EXPECT_FALSE(b.try_set_capacity(static_cast<std::size_t>(-1)));
  EXPECT_EQ(b.data(), before);
  EXPECT_EQ(b.size(), 1u);
  EXPECT_EQ(b.capacity(), kPage);
  EXPECT_EQ(b[0], 7);
  // The whole reservation can be had.
  ASSERT_TRUE(b.try_set_capacity(4 * kPage));
  EXPECT_EQ(b.data(), before);
  b.spare().back() = 1;
}

TEST(ByteBuffer, FirstGrowthBeyondTheReservationIsRefused) {
  ByteBuffer b(kPage);
  EXPECT_FALSE(b.try_set_capacity(kPage + 1));
  EXPECT_EQ(b.data(), nullptr);
  EXPECT_EQ(b.capacity(), 0u);
}

TEST(ByteBuffer, ZeroCapacityReleasesAndTheBufferCanGrowAgain) {
  ByteBuffer b(2 * kPage);
  ASSERT_TRUE(b.try_set_capacity(10));
  b.commit(10);
  ASSERT_TRUE(b.try_set_capacity(0));
  EXPECT_EQ(b.data(), nullptr);
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(b.capacity(), 0u);
  ASSERT_TRUE(b.try_set_capacity(2 * kPage));
  EXPECT_EQ(b.reservation(), 2 * kPage);
}

TEST(ByteBuffer, MoveHandsOverTheBlock) {
  ByteBuffer a(8 * kPage);
  ASSERT_TRUE(a.try_set_capacity(8));
  a.commit(8);
  const std::uint8_t* block = a.data();
  ByteBuffer b(std::move(a));
  EXPECT_EQ(b.data(), block);
  EXPECT_EQ(b.size(), 8u);
  EXPECT_EQ(b.reservation(), 8 * kPage);
  EXPECT_EQ(a.data(), nullptr);  // NOLINT(bugprone-use-after-move): moved-from state is specified
  EXPECT_EQ(a.size(), 0u);
  EXPECT_EQ(a.reservation(), ByteBuffer::kDefaultReservation);
  ByteBuffer c;
  ASSERT_TRUE(c.try_set_capacity(1));  // released by the assignment
  c = std::move(b);
  EXPECT_EQ(c.data(), block);
  EXPECT_TRUE(b.empty());
}

TEST(ByteBuffer, ReadsAsASpan) {
  ByteBuffer b;
  ASSERT_TRUE(b.try_set_capacity(2));
  b.spare()[0] = 1;
  b.spare()[1] = 2;
  b.commit(2);
  const std::span<const std::uint8_t> view = b;
  EXPECT_EQ(view.size(), 2u);
  EXPECT_EQ(view[1], 2);
}

}  // namespace
}  // namespace korvane
