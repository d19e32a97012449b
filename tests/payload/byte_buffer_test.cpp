#include "core/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace korvane {
namespace {

TEST(ByteBuffer, StartsEmptyWithoutABlock) {
  const ByteBuffer b;
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(b.capacity(), 0u);
  EXPECT_EQ(b.data(), nullptr);
  EXPECT_EQ(b.begin(), b.end());
}

TEST(ByteBuffer, GrowsKeepingItsContents) {
  ByteBuffer b;
  ASSERT_TRUE(b.try_set_capacity(3));
  std::memcpy(b.spare().data(), "abc", 3);
  b.commit(3);
  ASSERT_TRUE(b.try_set_capacity(1 << 20));
  EXPECT_EQ(b.spare().size(), (1u << 20) - 3);
  const std::vector<std::uint8_t> want{'a', 'b', 'c'};
  EXPECT_TRUE(b == std::span<const std::uint8_t>(want));
  ASSERT_TRUE(b.try_set_capacity(3));
  EXPECT_EQ(b.capacity(), 3u);
  EXPECT_EQ(b[2], 'c');
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAsan = true;  // its allocator aborts instead of returning null
#else
constexpr bool kUnderAsan = false;
#endif

TEST(ByteBuffer, ImpossibleCapacityLeavesItUnchanged) {
  if (kUnderAsan) GTEST_SKIP() << "AddressSanitizer aborts on impossible allocations";
  ByteBuffer b;
  ASSERT_TRUE(b.try_set_capacity(1));
  b.spare()[0] = 7;
  b.commit(1);
  const std::uint8_t* before = b.data();
  EXPECT_FALSE(b.try_set_capacity(static_cast<std::size_t>(-1) / 2));
  EXPECT_EQ(b.data(), before);
  EXPECT_EQ(b.size(), 1u);
  EXPECT_EQ(b.capacity(), 1u);
}

TEST(ByteBuffer, MoveHandsOverTheBlock) {
  ByteBuffer a;
  ASSERT_TRUE(a.try_set_capacity(8));
  a.commit(8);
  const std::uint8_t* block = a.data();
  ByteBuffer b(std::move(a));
  EXPECT_EQ(b.data(), block);
  EXPECT_EQ(b.size(), 8u);
  EXPECT_EQ(a.data(), nullptr);  // NOLINT(bugprone-use-after-move): moved-from state is specified
  EXPECT_EQ(a.size(), 0u);
  ByteBuffer c;
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
