#pragma once
// A day of the local calendar.

#include <cstdint>

namespace korvane {

struct CalendarDate {
  std::uint16_t year = 0;
  std::uint16_t month = 0;  // 1 to 12
  std::uint16_t day = 0;    // 1 to 31

  friend bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

}  // namespace korvane
