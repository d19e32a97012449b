// launcher.exe: starts a program with a changed environment, working
// directory or standard handles, waits for it and returns its exit status.
// Wine sets PATH, LOCALAPPDATA, APPDATA, TEMP, TMP and USERPROFILE itself, so
// tests change them here, inside the Windows process tree. Usage in README.md.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/utf.h"
#include "shell/command_line_quote.h"

namespace {

constexpr int kFailure = 255;

const wchar_t* wide(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

void print_error(const std::string& text) {
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  const std::string line = "launcher: " + text + "\n";
  DWORD written = 0;
  ::WriteFile(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

int fail(const std::string& what, DWORD code) {
  print_error(what + " failed with error " + std::to_string(code));
  return kFailure;
}

int usage(const std::string& why) {
  print_error(why);
  print_error(
      "usage: launcher.exe [--set NAME=VALUE]... [--unset NAME]... [--stdout FILE] "
      "[--no-std-handles] [--new-console] [--cwd DIR] [--raw-cmdline TEXT] [--status-file FILE] "
      "[--hold FILE] [--lock NAME] "
      "{-- PROGRAM [ARGS...] | --command TEXT}");
  print_error("   or: launcher.exe --scan DIR STATUS_FILE");
  return kFailure;
}

class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE h = nullptr) : h_(h) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
  }
  [[nodiscard]] HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

bool write_text(const std::u16string& path, const std::string& text) {
  const OwnedHandle out(::CreateFileW(wide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return out.get() != INVALID_HANDLE_VALUE &&
         ::WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// --scan: a virus scanner's part. Every new "*.setup-*.new" file that shows
// in `dir` is opened as soon as it is seen (sharing read and write, not
// delete, so that it can be neither renamed nor deleted meanwhile) and held
// for 300 ms. Ends once it has held one and none has shown for 2 s, or after
// a minute; `status` holds "ready" while it watches, then the number held.
int scan(const std::u16string& dir, const std::u16string& status) {
  if (!write_text(status, "ready")) return fail("writing the status file", ::GetLastError());
  std::vector<std::u16string> seen;
  const ULONGLONG start = ::GetTickCount64();
  ULONGLONG last = start;
  while (::GetTickCount64() - start < 60000 && (seen.empty() || ::GetTickCount64() - last < 2000)) {
    WIN32_FIND_DATAW found;
    const HANDLE find = ::FindFirstFileW(wide(dir + u"\\*.setup-*.new"), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
        bool known = false;
        for (const auto& s : seen) known = known || s == name;
        if (known) continue;
        const OwnedHandle held(::CreateFileW(wide(dir + u"\\" + name), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        if (held.get() == INVALID_HANDLE_VALUE) continue;
        seen.push_back(name);
        ::Sleep(300);
        last = ::GetTickCount64();
      } while (::FindNextFileW(find, &found));
      ::FindClose(find);
    }
    ::Sleep(1);
  }
  return write_text(status, std::to_string(seen.size())) ? 0 : fail("writing the status file", ::GetLastError());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  if (args.size() == 3 && args[0] == u"--scan") return scan(args[1], args[2]);

  std::optional<std::u16string> stdout_file;
  std::optional<std::u16string> cwd;
  std::optional<std::u16string> raw_cmdline;
  std::optional<std::u16string> status_file;
  std::optional<std::u16string> command;
  std::optional<std::u16string> hold;
  std::optional<std::u16string> lock;
  bool no_std_handles = false;
  bool new_console = false;
  std::size_t i = 0;
  for (; i < args.size() && args[i] != u"--"; ++i) {
    const std::u16string& opt = args[i];
    const bool has_value = i + 1 < args.size();
    if (opt == u"--no-std-handles") {
      no_std_handles = true;
      continue;
    }
    if (opt == u"--new-console") {
      new_console = true;
      continue;
    }
    const bool takes_value = opt == u"--set" || opt == u"--unset" || opt == u"--stdout" ||
                             opt == u"--cwd" || opt == u"--raw-cmdline" ||
                             opt == u"--status-file" || opt == u"--command" || opt == u"--hold" ||
                             opt == u"--lock";
    if (!takes_value) return usage("unknown option: " + korvane::to_string_lossy(opt));
    if (!has_value) return usage("option without a value: " + korvane::to_string_lossy(opt));
    const std::u16string& value = args[++i];
    if (opt == u"--set") {
      // The name ends at the first '=' after its first unit (names like =C: exist).
      const std::size_t eq = value.find(u'=', 1);
      if (eq == std::u16string::npos) return usage("--set needs NAME=VALUE");
      const std::u16string name = value.substr(0, eq);
      const std::u16string text = value.substr(eq + 1);
      if (!::SetEnvironmentVariableW(wide(name), wide(text))) {
        return fail("setting " + korvane::to_string_lossy(name), ::GetLastError());
      }
    } else if (opt == u"--unset") {
      if (!::SetEnvironmentVariableW(wide(value), nullptr) &&
          ::GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
        return fail("unsetting " + korvane::to_string_lossy(value), ::GetLastError());
      }
    } else if (opt == u"--stdout") {
      stdout_file = value;
    } else if (opt == u"--cwd") {
      cwd = value;
    } else if (opt == u"--status-file") {
      status_file = value;
    } else if (opt == u"--command") {
      command = value;
    } else if (opt == u"--hold") {
      hold = value;
    } else if (opt == u"--lock") {
      lock = value;
    } else {
      raw_cmdline = value;
    }
  }
  // --command names no program: Windows finds it from the command line, as
  // the shell does when it runs a registered UninstallString.
  std::optional<std::u16string> program;
  std::vector<std::u16string> child_args;
  if (command) {
    if (i < args.size()) return usage("--command takes no -- PROGRAM");
    if (raw_cmdline) return usage("--command and --raw-cmdline exclude each other");
  } else {
    if (i + 1 >= args.size()) return usage("no program after --");
    program = args[i + 1];
    child_args.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 2, args.end());
  }
  if (stdout_file && no_std_handles) return usage("--stdout and --no-std-handles exclude each other");

  std::u16string command_line;
  if (command) {
    command_line = *command;
  } else if (raw_cmdline) {
    command_line = *raw_cmdline;
  } else {
    auto built = korvane::make_command_line(*program, child_args);
    if (!built) return usage("an argument holds a NUL");
    command_line = std::move(*built);
  }
  command_line.push_back(u'\0');

  // Open while the child runs, sharing read and write but not delete: the
  // file can be neither deleted nor renamed meanwhile.
  const OwnedHandle held(hold ? ::CreateFileW(wide(*hold), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                              : nullptr);
  if (held.get() == INVALID_HANDLE_VALUE) {
    return fail("opening " + korvane::to_string_lossy(*hold), ::GetLastError());
  }

  // Owned while the child runs, as another installation holds its lock.
  const OwnedHandle mutex(lock ? ::CreateMutexW(nullptr, TRUE, wide(*lock)) : nullptr);
  if (lock && (mutex.get() == nullptr || ::GetLastError() == ERROR_ALREADY_EXISTS)) {
    return fail("owning " + korvane::to_string_lossy(*lock), ::GetLastError());
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  HANDLE raw_file = nullptr;
  if (stdout_file) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    raw_file = ::CreateFileW(wide(*stdout_file), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw_file == INVALID_HANDLE_VALUE) {
      return fail("creating " + korvane::to_string_lossy(*stdout_file), ::GetLastError());
    }
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = raw_file;
    startup.hStdError = raw_file;
  } else if (no_std_handles) {
    startup.dwFlags = STARTF_USESTDHANDLES;  // all three NULL
  }

  const OwnedHandle file(raw_file);  // closed once the child has its copy

  PROCESS_INFORMATION info{};
  const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (new_console ? CREATE_NEW_CONSOLE : 0);
  if (!::CreateProcessW(program ? wide(*program) : nullptr,
                        reinterpret_cast<wchar_t*>(command_line.data()), nullptr, nullptr,
                        no_std_handles ? FALSE : TRUE, flags, nullptr, cwd ? wide(*cwd) : nullptr,
                        &startup, &info)) {
    return fail("starting " + korvane::to_string_lossy(program.value_or(command_line)),
                ::GetLastError());
  }
  const OwnedHandle process(info.hProcess);
  const OwnedHandle thread(info.hThread);
  if (::WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) {
    return fail("waiting", ::GetLastError());
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.get(), &code)) return fail("reading the exit code", ::GetLastError());
  // A Linux caller sees only the low 8 bits of the status; the file has all 32.
  if (status_file) {
    const OwnedHandle out(::CreateFileW(wide(*status_file), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::string text = std::to_string(code);
    DWORD written = 0;
    if (out.get() == INVALID_HANDLE_VALUE ||
        !::WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
      return fail("writing " + korvane::to_string_lossy(*status_file), ::GetLastError());
    }
  }
  return static_cast<int>(code);
}
