#include "shell/process.h"

#include <new>
#include <utility>

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

IoResult<StartedChild> start(const StartRequest& request) {
  auto application = find_program(request.program, system_program_search());
  if (!application) return std::unexpected(application.error());

  auto command_line = make_command_line(request.program, request.args);
  if (!command_line) return std::unexpected(command_line.error());
  command_line->push_back(u'\0');  // CreateProcessW wants a writable, terminated buffer

  const DWORD flags = kCreateUnicodeEnvironment | request.flags;

  std::optional<Path> directory;
  if (request.working_dir) {
    auto dir = child_working_dir(*request.working_dir, full_path);
    if (!dir) return std::unexpected(dir.error());
    directory = std::move(*dir);
  }

  // Declared before the duplicates: they are closed first, then the lock is
  // released.
  const StartLock lock;
  auto in = inheritable_std_handle(STD_INPUT_HANDLE);
  if (!in) return std::unexpected(in.error());
  auto out = inheritable_std_handle(STD_OUTPUT_HANDLE);
  if (!out) return std::unexpected(out.error());
  auto err = inheritable_std_handle(STD_ERROR_HANDLE);
  if (!err) return std::unexpected(err.error());

  STARTUPINFOW startup = make_startup_info(in->get(), out->get(), err->get());
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(win::wide(*application), win::wide(command_line->data()), nullptr,
                        nullptr, TRUE, flags, nullptr,
                        directory ? win::wide(*directory) : nullptr, &startup, &info)) {
    return std::unexpected(IoError::os(::GetLastError()));
  }
  return StartedChild(win::UniqueHandle(info.hProcess), win::UniqueHandle(info.hThread),
                      info.dwProcessId);
}

}  // namespace

StartedChild::StartedChild(win::UniqueHandle process, win::UniqueHandle thread,
                           std::uint32_t id) noexcept
    : process_(std::move(process)), thread_(std::move(thread)), id_(id) {}

StartedChild::StartedChild(StartedChild&& other) noexcept
    : process_(std::move(other.process_)),
      thread_(std::move(other.thread_)),
      id_(std::exchange(other.id_, 0)) {}

StartedChild& StartedChild::operator=(StartedChild&& other) noexcept {
  if (this != &other) {
    close();
    process_ = std::move(other.process_);
    thread_ = std::move(other.thread_);
    id_ = std::exchange(other.id_, 0);
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

void launch_app(PathView exe_path, PathView install_dir) noexcept {
  auto child = start_child(
      {.program = exe_path, .args = {}, .working_dir = install_dir, .flags = 0});
  // Let go of the application at once; it runs on by itself.
  if (child) child->close();
}

}  // namespace korvane

static_assert(korvane::kCreateNoWindow == CREATE_NO_WINDOW);
static_assert(korvane::kCreateUnicodeEnvironment == CREATE_UNICODE_ENVIRONMENT);
static_assert(korvane::kNoWaitLimit == INFINITE);
static_assert(korvane::kWaitTimeout == WAIT_TIMEOUT);
