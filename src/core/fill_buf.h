#pragma once
// One routine for the Windows calls that write UTF-16 text into a caller's
// buffer (GetEnvironmentVariableW, GetTempPathW, GetFullPathNameW, ...).

#include <cstdint>
#include <string>

#include "core/io_error.h"

namespace korvane {

inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;

// What one call answered: its result and the last error right after it (the
// last error having been set to 0 before the call).
struct FillAnswer {
  std::uint32_t result;
  std::uint32_t last_error;
};

// Calls `call(buffer, size_in_units)` with a 512-unit buffer, growing it as
// the answers ask: a result equal to the size doubles it, a larger result
// becomes the new size, a smaller one is the length of the text. A result of 0
// is the empty text when the last error is 0, else that OS error.
template <class Call>
[[nodiscard]] IoResult<std::u16string> fill_utf16_buf(Call&& call) {
  char16_t stack[512];
  std::u16string heap;
  std::uint32_t size = 512;
  for (;;) {
    char16_t* buffer = stack;
    if (size > 512) {
      heap.resize(size);
      buffer = heap.data();
    }
    const FillAnswer answer = call(buffer, size);
    if (answer.result == 0) {
      if (answer.last_error == 0) return std::u16string();
      return std::unexpected(IoError::os(answer.last_error));
    }
    if (answer.result == size) {
      // ERROR_INSUFFICIENT_BUFFER is the documented case; a full buffer
      // without it cannot hold a terminated answer either, so grow alike.
      size = size > 0x7FFFFFFFu ? 0xFFFFFFFFu : size * 2;
    } else if (answer.result > size) {
      size = answer.result;
    } else {
      return std::u16string(buffer, answer.result);
    }
  }
}

}  // namespace korvane
