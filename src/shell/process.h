#pragma once
// Starting child processes (Windows build only): the hidden, waited-for runs
// of taskkill and PowerShell, and the start of the installed application.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/io_error.h"
#include "core/path.h"
#include "win/handle.h"

namespace korvane {

inline constexpr std::uint32_t kCreateNoWindow = 0x08000000;
inline constexpr std::uint32_t kCreateUnicodeEnvironment = 0x00000400;
// A wait limit that never ends (INFINITE).
inline constexpr std::uint32_t kNoWaitLimit = 0xFFFFFFFF;
// The longest wait for a hidden child, in milliseconds: far beyond a normal
// run, PowerShell's first start on a slow, scanned machine included.
inline constexpr std::uint32_t kChildWaitLimitMs = 2 * 60 * 1000;
// The OS error of a wait that reached its limit (WAIT_TIMEOUT).
inline constexpr std::uint32_t kWaitTimeout = 258;

// One start, built by the caller and used once. The views must outlive the
// start_child call.
struct StartRequest {
  std::u16string_view program;           // bare name or path, as the caller names it
  std::span<const std::string> args;     // UTF-8 texts, in order
  std::optional<PathView> working_dir;   // absent: the installer's own
  std::uint32_t flags = 0;               // OR-ed with CREATE_UNICODE_ENVIRONMENT
};

// A started child: the owned process and main-thread handles. Move-only;
// closes the process handle, then the thread handle.
class StartedChild {
 public:
  StartedChild(win::UniqueHandle process, win::UniqueHandle thread, std::uint32_t id) noexcept;
  StartedChild(StartedChild&& other) noexcept;
  StartedChild& operator=(StartedChild&& other) noexcept;
  StartedChild(const StartedChild&) = delete;
  StartedChild& operator=(const StartedChild&) = delete;
  ~StartedChild() { close(); }

  [[nodiscard]] HANDLE process() const noexcept { return process_.get(); }
  [[nodiscard]] HANDLE thread() const noexcept { return thread_.get(); }
  // The child's process id (0 once moved from).
  [[nodiscard]] std::uint32_t id() const noexcept { return id_; }
  // Closes both handles, process first; harmless when already closed.
  void close() noexcept;

 private:
  win::UniqueHandle process_;
  win::UniqueHandle thread_;
  std::uint32_t id_;
};

// True when a GetStdHandle answer is a handle to pass on (neither NULL nor
// INVALID_HANDLE_VALUE).
[[nodiscard]] bool is_usable_std_handle(HANDLE h) noexcept;

// The start-up information for the child's standard handles (NULL where a
// stream has none): all zero but `cb`, and STARTF_USESTDHANDLES with the three
// handles only when at least one is not NULL.
[[nodiscard]] STARTUPINFOW make_startup_info(HANDLE in, HANDLE out, HANDLE err) noexcept;

// Finds the program, builds its command line from the caller's program text
// and arguments, and starts it with CREATE_UNICODE_ENVIRONMENT | flags, the
// environment inherited, and inheritable copies of the standard handles that
// exist. Errors: those of find_program, make_command_line and
// child_working_dir; the OS error of DuplicateHandle or CreateProcessW;
// OutOfMemory when a buffer cannot be had. Nothing stays open on failure.
[[nodiscard]] IoResult<StartedChild> start_child(const StartRequest& request) noexcept;

// Waits for `child` at most `limit_ms` milliseconds and gives its exit
// status; OS error kWaitTimeout past the limit, when the child is left
// running; the OS error of the wait or of GetExitCodeProcess otherwise. Both
// handles are closed, process first, whatever the outcome.
[[nodiscard]] IoResult<std::uint32_t> wait_child(StartedChild child,
                                                 std::uint32_t limit_ms = kNoWaitLimit) noexcept;

// Starts `program` without a console window and waits for it at most
// `limit_ms` milliseconds; every outcome is passed over, a child still
// running at the limit included (it is not stopped).
void run_hidden(std::u16string_view program, std::span<const std::string> args,
                std::uint32_t limit_ms = kChildWaitLimitMs) noexcept;

// Starts the installed application in `install_dir`, not waited for; a
// failure is passed over.
void launch_app(PathView exe_path, PathView install_dir) noexcept;

}  // namespace korvane
