#include "core/fill_buf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace korvane {
namespace {

using Path = std::u16string;

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

// GetModuleFileNameW: copies what fits, truncates, and answers the buffer size
// with ERROR_INSUFFICIENT_BUFFER when the path does not fit with its NUL.
struct ModuleFileName {
  Path text;
  std::vector<std::uint32_t>* sizes;
  FillAnswer operator()(char16_t* buffer, std::uint32_t size) const {
    sizes->push_back(size);
    const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    text.copy(buffer, n);
    buffer[n] = u'\0';
    if (text.size() + 1 > size) return {size, kErrorInsufficientBuffer};
    return {static_cast<std::uint32_t>(n), 0};
  }
};

// GetSystemDirectoryW: answers the size it needs (with the NUL) when the
// buffer is too small.
struct SystemDirectory {
  Path text;
  std::vector<std::uint32_t>* sizes;
  FillAnswer operator()(char16_t* buffer, std::uint32_t size) const {
    sizes->push_back(size);
    if (text.size() + 1 > size) return {static_cast<std::uint32_t>(text.size() + 1), 0};
    text.copy(buffer, text.size());
    buffer[text.size()] = u'\0';
    return {static_cast<std::uint32_t>(text.size()), 0};
  }
};

TEST(FillUtf16Buf, DirectoryQueriesStartWith512UnitsAndGrowAsAsked) {
  const struct {
    std::size_t length;
    std::vector<std::uint32_t> module_sizes;
    std::vector<std::uint32_t> system_sizes;
  } kCases[] = {
      {19, {512}, {512}},
      {511, {512}, {512}},
      {512, {512, 1024}, {512, 513}},
      {1023, {512, 1024}, {512, 1024}},
      {1024, {512, 1024, 2048}, {512, 1025}},
      {5000, {512, 1024, 2048, 4096, 8192}, {512, 5001}},
  };
  for (const auto& c : kCases) {
    Path text = uR"(C:\)";
    while (text.size() < c.length) text.push_back(static_cast<char16_t>(u'a' + text.size() % 26));
    std::vector<std::uint32_t> sizes;
    const auto module = fill_utf16_buf(ModuleFileName{text, &sizes});
    ASSERT_TRUE(module.has_value()) << c.length;
    EXPECT_EQ(text, *module) << c.length;
    EXPECT_EQ(c.module_sizes, sizes) << c.length;
    sizes.clear();
    const auto system = fill_utf16_buf(SystemDirectory{text, &sizes});
    ASSERT_TRUE(system.has_value()) << c.length;
    EXPECT_EQ(text, *system) << c.length;
    EXPECT_EQ(c.system_sizes, sizes) << c.length;
  }
}

}  // namespace
}  // namespace korvane
