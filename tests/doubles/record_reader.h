#pragma once
// Reading the records that recorder.exe writes, for the C++ tests.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::test {

// The standard-handle facts of one stream.
struct StreamRecord {
  bool present = false;
  std::string type;  // "disk", "char", "pipe", "remote", "unknown"; empty when absent
  bool console = false;
};

// One start of recorder.exe. Strings are the exact UTF-16 units recorded.
struct Record {
  std::uint32_t pid = 0;
  std::u16string module_path;
  std::u16string base_name;
  std::u16string command_line;
  std::vector<std::u16string> argv;        // as the C runtime split it, argv[0] included
  std::vector<std::u16string> argv_shell;  // as CommandLineToArgvW split it
  std::u16string cwd;
  StreamRecord std_in, std_out, std_err;
  bool console_window = false;
  std::optional<std::u16string> var_name;
  std::optional<std::u16string> var_value;
  std::uint32_t exit_code = 0;
};

// The record in the UTF-8 JSON `text`; nullopt when it is not a record.
[[nodiscard]] std::optional<Record> parse_record(std::string_view text);

}  // namespace korvane::test
