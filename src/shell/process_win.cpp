#include "shell/process.h"

#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "host/os.h"
#include "shell/command_line_quote.h"
#include "shell/program_lookup_win.h"
#include "shell/working_dir.h"
#include "win/wide.h"

namespace korvane {
namespace {

// Held from before the standard handles are duplicated until after they are
// closed, so that no other start hands them to its child meanwhile.
SRWLOCK g_start_lock = SRWLOCK_INIT;

class StartLock {
 public:
  StartLock() noexcept { ::AcquireSRWLockExclusive(&g_start_lock); }
  ~StartLock() { ::ReleaseSRWLockExclusive(&g_start_lock); }
  StartLock(const StartLock&) = delete;
  StartLock& operator=(const StartLock&) = delete;
};

// An inheritable duplicate of one standard handle; an empty owner when the
// stream has none.
IoResult<win::UniqueHandle> inheritable_std_handle(DWORD which) noexcept {
  const HANDLE h = ::GetStdHandle(which);
  if (!is_usable_std_handle(h)) return win::UniqueHandle();
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
    return std::unexpected(IoError::os(::GetLastError()));
  }
  return win::UniqueHandle(copy);
}

// What a relay thread owns: the read end of its pipe, and the installer's
// stream it copies onto.
struct RelayPipe {
  HANDLE from;
  HANDLE to;
};

DWORD WINAPI copy_output(void* arg) noexcept {
  const std::unique_ptr<RelayPipe> pipe(static_cast<RelayPipe*>(arg));
  const win::UniqueHandle from(pipe->from);
  char buffer[4096];
  bool writable = true;
  DWORD got = 0;
  while (::ReadFile(from.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    // Once the installer's stream refuses, the rest is read and dropped, so
    // that the child never blocks on a full pipe.
    for (DWORD done = 0; writable && done < got;) {
      DWORD written = 0;
      writable = ::WriteFile(pipe->to, buffer + done, got - done, &written, nullptr) && written > 0;
      done += written;
    }
  }
  return 0;
}

// A relay onto `target`: the pipe end for the child, inheritable, and the
// relay whose thread reads the other end.
struct Relay {
  win::UniqueHandle child_end;
  OutputRelay relay;
};

IoResult<Relay> relay_to(HANDLE target) {
  auto pipe = std::make_unique<RelayPipe>(RelayPipe{nullptr, target});
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  if (!::CreatePipe(&read, &write, &inheritable, 0)) return std::unexpected(IoError::os(::GetLastError()));
  win::UniqueHandle read_end(read);
  win::UniqueHandle write_end(write);
  if (!::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0)) return std::unexpected(IoError::os(::GetLastError()));
  pipe->from = read;
  win::UniqueHandle thread(::CreateThread(nullptr, 0, copy_output, pipe.get(), 0, nullptr));
  if (!thread) return std::unexpected(IoError::os(::GetLastError()));
  // The thread owns the read end and its parameters now.
  static_cast<void>(read_end.release());
  static_cast<void>(pipe.release());
  return Relay{std::move(write_end), OutputRelay(std::move(thread))};
}

// The attribute list that limits what a child inherits to `handles`
// (PROC_THREAD_ATTRIBUTE_HANDLE_LIST): a handle the installer itself
// inherited, or any other inheritable one, stays out of the child.
class InheritList {
 public:
  explicit InheritList(std::span<HANDLE> handles) : handles_(handles) {}
  InheritList(const InheritList&) = delete;
  InheritList& operator=(const InheritList&) = delete;
  ~InheritList() {
    if (ready_) ::DeleteProcThreadAttributeList(list());
  }

  // Fills the list; the OS error when the system refuses it.
  [[nodiscard]] IoResult<void> make() {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    buffer_.resize(size);
    if (!::InitializeProcThreadAttributeList(list(), 1, 0, &size)) {
      return std::unexpected(IoError::os(::GetLastError()));
    }
    ready_ = true;
    if (!::UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                     handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      return std::unexpected(IoError::os(::GetLastError()));
    }
    return {};
  }
  [[nodiscard]] LPPROC_THREAD_ATTRIBUTE_LIST list() noexcept {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
  }

 private:
  std::span<HANDLE> handles_;
  std::vector<unsigned char> buffer_;
  bool ready_ = false;
};

IoResult<StartedChild> start(const StartRequest& request) {
  auto application = find_program(request.program, system_program_search());
  if (!application) return std::unexpected(application.error());

  auto command_line = make_command_line(request.program, request.args);
  if (!command_line) return std::unexpected(command_line.error());
  command_line->push_back(u'\0');  // CreateProcessW wants a writable, terminated buffer

  DWORD flags = kCreateUnicodeEnvironment | request.flags;

  std::optional<Path> directory;
  if (request.working_dir) {
    auto dir = child_working_dir(*request.working_dir, full_path);
    if (!dir) return std::unexpected(dir.error());
    directory = std::move(*dir);
  }

  // Declared before the child's ends: they are closed first, then the lock is
  // released.
  const StartLock lock;
  // The child's input, output and error; the output and error may be one.
  win::UniqueHandle child_ends[3];
  HANDLE std_for_child[3] = {};
  StartedChild::Relays relays;
  if (request.std_handles) {
    auto in = inheritable_std_handle(STD_INPUT_HANDLE);
    if (!in) return std::unexpected(in.error());
    child_ends[0] = std::move(*in);
    std_for_child[0] = child_ends[0].get();
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    const HANDLE targets[] = {out, err};
    for (int i = 0; i < 2; ++i) {
      if (!is_usable_std_handle(targets[i])) continue;
      if (i == 1 && err == out && std_for_child[1] != nullptr) {
        std_for_child[2] = std_for_child[1];
        continue;
      }
      auto relay = relay_to(targets[i]);
      if (!relay) return std::unexpected(relay.error());
      child_ends[i + 1] = std::move(relay->child_end);
      std_for_child[i + 1] = child_ends[i + 1].get();
      relays[i] = std::move(relay->relay);
    }
  }
  std::vector<HANDLE> inherited;
  for (const auto& end : child_ends) {
    if (end) inherited.push_back(end.get());
  }

  STARTUPINFOEXW startup{};
  startup.StartupInfo = make_startup_info(std_for_child[0], std_for_child[1], std_for_child[2]);
  // No handles of ours: the child's standard handles are NULL, not whatever
  // the system would copy from the installer's.
  if (!request.std_handles) startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  InheritList inherit(inherited);
  if (!inherited.empty()) {
    if (auto made = inherit.make(); !made) return std::unexpected(made.error());
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = inherit.list();
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(win::wide(*application), win::wide(command_line->data()), nullptr, nullptr,
                        inherited.empty() ? FALSE : TRUE, flags, nullptr,
                        directory ? win::wide(*directory) : nullptr, &startup.StartupInfo, &info)) {
    return std::unexpected(IoError::os(::GetLastError()));
  }
  return StartedChild(win::UniqueHandle(info.hProcess), win::UniqueHandle(info.hThread),
                      info.dwProcessId, std::move(relays));
}

}  // namespace

void OutputRelay::finish(std::uint32_t limit_ms) noexcept {
  if (thread_) ::WaitForSingleObject(thread_.get(), limit_ms);
}

StartedChild::StartedChild(win::UniqueHandle process, win::UniqueHandle thread, std::uint32_t id,
                           Relays relays) noexcept
    : process_(std::move(process)), thread_(std::move(thread)), id_(id), relays_(std::move(relays)) {}

void StartedChild::finish_relays(std::uint32_t limit_ms) noexcept {
  for (OutputRelay& relay : relays_) relay.finish(limit_ms);
}

StartedChild::StartedChild(StartedChild&& other) noexcept
    : process_(std::move(other.process_)),
      thread_(std::move(other.thread_)),
      id_(std::exchange(other.id_, 0)),
      relays_(std::move(other.relays_)) {}

StartedChild& StartedChild::operator=(StartedChild&& other) noexcept {
  if (this != &other) {
    close();
    process_ = std::move(other.process_);
    thread_ = std::move(other.thread_);
    id_ = std::exchange(other.id_, 0);
    relays_ = std::move(other.relays_);
  }
  return *this;
}

void StartedChild::close() noexcept {
  process_.reset();
  thread_.reset();
}

bool is_usable_std_handle(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }

STARTUPINFOW make_startup_info(HANDLE in, HANDLE out, HANDLE err) noexcept {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (in != nullptr || out != nullptr || err != nullptr) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
  }
  return startup;
}

IoResult<StartedChild> start_child(const StartRequest& request) noexcept {
  try {
    return start(request);
  } catch (const std::bad_alloc&) {
    return std::unexpected(IoError::bare(ErrorKind::OutOfMemory));
  }
}

IoResult<std::uint32_t> wait_child(StartedChild child, std::uint32_t limit_ms) noexcept {
  IoResult<std::uint32_t> status;
  if (const DWORD waited = ::WaitForSingleObject(child.process(), limit_ms);
      waited == WAIT_TIMEOUT) {
    status = std::unexpected(IoError::os(kWaitTimeout));
  } else if (waited != WAIT_OBJECT_0) {
    status = std::unexpected(IoError::os(::GetLastError()));
  } else if (DWORD code = 0; !::GetExitCodeProcess(child.process(), &code)) {
    status = std::unexpected(IoError::os(::GetLastError()));
  } else {
    status = code;
    child.finish_relays(kRelayDrainMs);
  }
  child.close();
  return status;
}

void run_hidden(std::u16string_view program, std::span<const std::string> args,
                std::uint32_t limit_ms) noexcept {
  auto child = start_child({.program = program, .args = args, .working_dir = std::nullopt,
                            .flags = kCreateNoWindow});
  if (!child) return;
  static_cast<void>(wait_child(std::move(*child), limit_ms));
}

void launch_app(PathView program, std::optional<PathView> working_dir) noexcept {
  try {
    std::optional<Path> windows;
    if (!working_dir) {
      auto found = win::fill_wide_buf([](wchar_t* buffer, DWORD size) { return ::GetWindowsDirectoryW(buffer, size); });
      if (found && !found->empty()) windows = std::move(*found);
    }
    auto child = start_child({.program = program, .args = {},
                              .working_dir = working_dir ? working_dir : windows ? std::optional<PathView>(*windows)
                                                                                 : std::nullopt,
                              .flags = 0, .std_handles = false});
    // Let go of the application at once; it runs on by itself.
    if (child) child->close();
  } catch (const std::bad_alloc&) {
    // Passed over like any other failure to start.
  }
}

}  // namespace korvane

static_assert(korvane::kCreateNoWindow == CREATE_NO_WINDOW);
static_assert(korvane::kCreateUnicodeEnvironment == CREATE_UNICODE_ENVIRONMENT);
static_assert(korvane::kNoWaitLimit == INFINITE);
static_assert(korvane::kWaitTimeout == WAIT_TIMEOUT);
