// recorder.exe: a stand-in for the programs the installer starts (copied as
// taskkill.exe, powershell.exe or Korvane.exe). It writes what it received
// into a JSON record so that tests see exactly how it was started. The record
// format is described in README.md.

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/utf.h"

namespace {

std::u16string from_wide(const wchar_t* s) {
  return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string();
}

const wchar_t* wide(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// The value of a variable; nullopt when unset.
std::optional<std::u16string> env(const std::u16string& name) {
  std::u16string value(256, u'\0');
  for (;;) {
    ::SetLastError(0);
    const DWORD n = ::GetEnvironmentVariableW(wide(name), reinterpret_cast<wchar_t*>(value.data()),
                                              static_cast<DWORD>(value.size()));
    if (n == 0) {
      if (::GetLastError() != 0) return std::nullopt;
      return std::u16string();
    }
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    value.resize(n);
  }
}

std::optional<std::uint32_t> env_number(const std::u16string& name) {
  const auto text = env(name);
  if (!text || text->empty()) return std::nullopt;
  std::uint64_t n = 0;
  for (const char16_t c : *text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    n = n * 10 + (c - u'0');
    if (n > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<std::uint32_t>(n);
}

std::u16string module_path() {
  std::u16string path(512, u'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path.data()),
                                         static_cast<DWORD>(path.size()));
    if (n == 0) return std::u16string();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::u16string current_dir() {
  const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return std::u16string();
  std::u16string dir(n, u'\0');
  const DWORD got = ::GetCurrentDirectoryW(n, reinterpret_cast<wchar_t*>(dir.data()));
  dir.resize(got < n ? got : 0);
  return dir;
}

// The file name of `path` without a final ".exe" (any case).
std::u16string base_name(std::u16string_view path) {
  const std::size_t slash = path.find_last_of(u"\\/");
  std::u16string name(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
  if (name.size() >= 4) {
    std::u16string tail = name.substr(name.size() - 4);
    for (char16_t& c : tail) {
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    if (tail == u".exe") name.resize(name.size() - 4);
  }
  return name;
}

void json_text(std::string& out, std::string_view utf8) {
  out.push_back('"');
  for (const char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (u < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 0xF]);
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
}

// {"utf8": lossy text, "utf16": [code units]}
void json_string(std::string& out, std::u16string_view s) {
  out += "{\"utf8\": ";
  json_text(out, korvane::to_string_lossy(s));
  out += ", \"utf16\": [";
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (i != 0) out += ", ";
    out += std::to_string(static_cast<unsigned>(s[i]));
  }
  out += "]}";
}

void json_optional_string(std::string& out, const std::optional<std::u16string>& s) {
  if (s) {
    json_string(out, *s);
  } else {
    out += "null";
  }
}

struct StreamInfo {
  bool present;
  const char* type;  // GetFileType's answer, or nullptr when absent
  bool console;
};

StreamInfo stream_info(DWORD which) {
  const HANDLE h = ::GetStdHandle(which);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return {false, nullptr, false};
  const char* type = "unknown";
  switch (::GetFileType(h)) {
    case FILE_TYPE_DISK: type = "disk"; break;
    case FILE_TYPE_CHAR: type = "char"; break;
    case FILE_TYPE_PIPE: type = "pipe"; break;
    case FILE_TYPE_REMOTE: type = "remote"; break;
    default: break;
  }
  DWORD mode = 0;
  return {true, type, ::GetConsoleMode(h, &mode) != 0};
}

void json_stream(std::string& out, const char* name, const StreamInfo& info) {
  out += "    \"";
  out += name;
  out += "\": {\"present\": ";
  out += info.present ? "true" : "false";
  out += ", \"type\": ";
  if (info.type) {
    out += '"';
    out += info.type;
    out += '"';
  } else {
    out += "null";
  }
  out += ", \"console\": ";
  out += info.console ? "true" : "false";
  out += "}";
}

// Writes `bytes` to `dir\name` through a temporary name, so that a reader
// never sees part of it. False when the name is taken or writing fails.
bool publish(const std::u16string& dir, const std::u16string& name, const std::string& bytes) {
  const std::u16string final_path = dir + u"\\" + name;
  const std::u16string temp_path = final_path + u".tmp";
  const HANDLE file = ::CreateFileW(wide(temp_path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr) &&
                  written == bytes.size();
  ::CloseHandle(file);
  if (!ok || !::MoveFileExW(wide(temp_path), wide(final_path), 0)) {
    ::DeleteFileW(wide(temp_path));
    return false;
  }
  return true;
}

void write_stdout(const std::string& text) {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Read first, before anything could change them.
  const StreamInfo in = stream_info(STD_INPUT_HANDLE);
  const StreamInfo out = stream_info(STD_OUTPUT_HANDLE);
  const StreamInfo err = stream_info(STD_ERROR_HANDLE);
  const bool console_window = ::GetConsoleWindow() != nullptr;

  const std::u16string self = module_path();
  const std::u16string base = base_name(self);
  const std::u16string command_line = from_wide(::GetCommandLineW());
  const std::uint32_t exit_code = env_number(u"KORVANE_RECORD_EXIT").value_or(0);
  const std::optional<std::uint32_t> sleep_ms = env_number(u"KORVANE_RECORD_SLEEP_MS");
  const std::optional<std::u16string> var_name = env(u"KORVANE_RECORD_VAR");
  const std::optional<std::u16string> var_value =
      var_name && !var_name->empty() ? env(*var_name) : std::nullopt;
  const std::optional<std::u16string> record_dir = env(u"KORVANE_RECORD_DIR");

  std::string json = "{\n  \"format\": 1,\n  \"pid\": ";
  json += std::to_string(::GetCurrentProcessId());
  json += ",\n  \"module_path\": ";
  json_string(json, self);
  json += ",\n  \"base_name\": ";
  json_string(json, base);
  json += ",\n  \"command_line\": ";
  json_string(json, command_line);
  json += ",\n  \"argv\": [";
  for (int i = 0; i < argc; ++i) {
    json += i == 0 ? "\n    " : ",\n    ";
    json_string(json, from_wide(argv[i]));
  }
  json += "\n  ],\n  \"argv_shell\": ";
  int shell_argc = 0;
  if (LPWSTR* shell_argv = ::CommandLineToArgvW(::GetCommandLineW(), &shell_argc)) {
    json += "[";
    for (int i = 0; i < shell_argc; ++i) {
      json += i == 0 ? "\n    " : ",\n    ";
      json_string(json, from_wide(shell_argv[i]));
    }
    json += "\n  ]";
    ::LocalFree(shell_argv);
  } else {
    json += "null";
  }
  json += ",\n  \"cwd\": ";
  json_string(json, current_dir());
  json += ",\n  \"std_handles\": {\n";
  json_stream(json, "stdin", in);
  json += ",\n";
  json_stream(json, "stdout", out);
  json += ",\n";
  json_stream(json, "stderr", err);
  json += "\n  },\n  \"console_window\": ";
  json += console_window ? "true" : "false";
  json += ",\n  \"var_name\": ";
  json_optional_string(json, var_name);
  json += ",\n  \"var_value\": ";
  json_optional_string(json, var_value);
  json += ",\n  \"exit_code\": ";
  json += std::to_string(exit_code);
  json += ",\n  \"sleep_ms\": ";
  json += sleep_ms ? std::to_string(*sleep_ms) : "null";
  json += "\n}\n";

  // <base>-<pid>-<tick>[-n]: unique per start, even for a reused pid.
  std::u16string stem;
  if (record_dir && !record_dir->empty()) {
    const std::string prefix = korvane::to_string_lossy(base) + "-" +
                               std::to_string(::GetCurrentProcessId()) + "-" +
                               std::to_string(::GetTickCount64());
    for (int n = 0; n < 100; ++n) {
      const std::u16string candidate =
          korvane::utf8_to_utf16(n == 0 ? prefix : prefix + "-" + std::to_string(n));
      const std::u16string taken = *record_dir + u"\\" + candidate + u".json";
      if (::GetFileAttributesW(wide(taken)) != INVALID_FILE_ATTRIBUTES) continue;
      if (publish(*record_dir, candidate + u".json", json)) stem = candidate;
      break;
    }
  }

  if (out.present) write_stdout("recorder: " + korvane::to_string_lossy(base) + "\r\n");
  if (sleep_ms) ::Sleep(*sleep_ms);
  if (!stem.empty()) {
    publish(*record_dir, stem + u".done", "{\"exit_code\": " + std::to_string(exit_code) + "}\n");
  }
  return static_cast<int>(exit_code);
}
