#pragma once
// A length of time as the pause takes it.

#include <cstdint>

namespace korvane {

struct Duration {
  std::uint64_t seconds;
  std::uint32_t nanoseconds;  // 0 to 999,999,999
};

}  // namespace korvane
