#include "host/fill_buf.h"

#include <gtest/gtest.h>

#include <vector>

namespace korvane {
namespace {

// Answers like GetEnvironmentVariableW for a value of `length` units.
struct FakeQuery {
  std::u16string value;
  std::vector<std::uint32_t> sizes_seen;
  FillAnswer operator()(char16_t* buffer, std::uint32_t size) {
    sizes_seen.push_back(size);
    if (value.size() + 1 > size) return {static_cast<std::uint32_t>(value.size() + 1), 0};
    value.copy(buffer, value.size());
    buffer[value.size()] = 0;
    return {static_cast<std::uint32_t>(value.size()), 0};
  }
};

TEST(FillUtf16Buf, ShortAnswerNeedsOneCall) {
  FakeQuery q{u"C:\\Users\\u", {}};
  EXPECT_EQ(u"C:\\Users\\u", fill_utf16_buf(std::ref(q)).value());
  EXPECT_EQ(std::vector<std::uint32_t>{512}, q.sizes_seen);
}

TEST(FillUtf16Buf, LargerResultBecomesTheNewSize) {
  FakeQuery q{std::u16string(700, u'x'), {}};
  EXPECT_EQ(std::u16string(700, u'x'), fill_utf16_buf(std::ref(q)).value());
  EXPECT_EQ((std::vector<std::uint32_t>{512, 701}), q.sizes_seen);
}

TEST(FillUtf16Buf, ResultEqualToTheSizeDoublesIt) {
  std::vector<std::uint32_t> sizes;
  const auto r = fill_utf16_buf([&](char16_t* buffer, std::uint32_t size) {
    sizes.push_back(size);
    if (size < 2048) return FillAnswer{size, kErrorInsufficientBuffer};  // truncated
    buffer[0] = u'k';
    return FillAnswer{1, 0};
  });
  EXPECT_EQ(u"k", r.value());
  EXPECT_EQ((std::vector<std::uint32_t>{512, 1024, 2048}), sizes);
}

TEST(FillUtf16Buf, ZeroIsEmptyOrTheError) {
  EXPECT_EQ(u"", fill_utf16_buf([](char16_t*, std::uint32_t) { return FillAnswer{0, 0}; }).value());
  EXPECT_EQ(IoError::os(203),
            fill_utf16_buf([](char16_t*, std::uint32_t) { return FillAnswer{0, 203}; }).error());
}

}  // namespace
}  // namespace korvane
