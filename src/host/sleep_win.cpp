#include <windows.h>

#include <limits>

#include "host/os.h"
#include "win/handle.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace korvane {
namespace {

// Waits on a high-resolution timer; false when the timer cannot be used.
bool timer_sleep(Duration d) noexcept {
  constexpr std::uint64_t kMaxSeconds =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / 10'000'000u - 1;
  if (d.seconds > kMaxSeconds) return false;  // the due time would overflow
  const auto ticks = static_cast<std::int64_t>(d.seconds * 10'000'000u + d.nanoseconds / 100u);
  win::UniqueHandle timer(::CreateWaitableTimerExW(
      nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS));
  if (!timer) return false;
  LARGE_INTEGER due;
  due.QuadPart = -ticks;  // relative, in 100 ns units
  if (!::SetWaitableTimer(timer.get(), &due, 0, nullptr, nullptr, FALSE)) return false;
  return ::WaitForSingleObject(timer.get(), INFINITE) == WAIT_OBJECT_0;
}

}  // namespace

void sleep(Duration d) noexcept {
  if (d.seconds == 0 && d.nanoseconds == 0) {
    ::Sleep(0);
    return;
  }
  if (timer_sleep(d)) return;

  LARGE_INTEGER frequency, start, now;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  // Milliseconds, rounded up, at most 0xFFFFFFFF.
  std::uint64_t ms = d.nanoseconds / 1'000'000u + (d.nanoseconds % 1'000'000u != 0 ? 1 : 0);
  const std::uint64_t limit = 0xFFFFFFFFu;
  ms = d.seconds > (limit - ms) / 1000u ? limit : d.seconds * 1000u + ms;
  ::Sleep(static_cast<DWORD>(ms));
  ::QueryPerformanceCounter(&now);
  const double elapsed = static_cast<double>(now.QuadPart - start.QuadPart) /
                         static_cast<double>(frequency.QuadPart);
  const double wanted = static_cast<double>(d.seconds) + d.nanoseconds / 1e9;
  if (elapsed < wanted) ::Sleep(1);
}

}  // namespace korvane
