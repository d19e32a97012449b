#pragma once
// The directory queries of the program lookup (GetModuleFileNameW,
// GetSystemDirectoryW, GetWindowsDirectoryW) through one buffer rule.

#include <optional>
#include <utility>

#include "core/path.h"
#include "host/fill_buf.h"

namespace korvane {

// Calls `call(buffer, size_in_units) -> FillAnswer` with 512 units first. A
// result equal to the size (GetModuleFileNameW's truncation, which sets
// ERROR_INSUFFICIENT_BUFFER) doubles the size; a larger result (the size
// GetSystemDirectoryW asks for) becomes the size; a smaller one is the answer.
// nullopt when the query fails: a result of 0, whatever the last error, since
// an empty directory would make the lookup search the current directory.
template <class Call>
[[nodiscard]] std::optional<Path> query_directory(Call&& call) {
  auto text = fill_utf16_buf(std::forward<Call>(call));
  if (!text || text->empty()) return std::nullopt;
  return std::move(*text);
}

}  // namespace korvane
