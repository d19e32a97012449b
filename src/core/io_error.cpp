#include "core/io_error.h"

namespace korvane {

std::string_view kind_description(ErrorKind kind) noexcept {
  switch (kind) {
    case ErrorKind::Os: return "os error";
    case ErrorKind::InvalidInput: return "invalid input parameter";
    case ErrorKind::NotFound: return "entity not found";
    case ErrorKind::UnexpectedEof: return "unexpected end of file";
    case ErrorKind::WriteZero: return "write zero";
    case ErrorKind::OutOfMemory: return "out of memory";
  }
  return "other error";
}

}  // namespace korvane
