#pragma once
// Starting child processes (Windows build only): the hidden, waited-for runs
// of taskkill and PowerShell, and the start of the installed application.

#include <array>
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
  // The installer's standard streams for the child (a copy of its input, its
  // output and error through OutputRelay), and nothing else of the
  // installer's; false: no handle of the installer at all.
  bool std_handles = true;
};

// A thread of the installer that copies what a child writes into a pipe of
// the installer's own onto the installer's standard output or error, until
// every writer of the pipe is gone (the thread then closes the pipe), or the
// installer ends. So a child never holds the stream the installer was given:
// whoever reads the installer's output sees its end when the installer ends,
// also when a child it gave up on runs on. Move-only owner of the thread's
// handle; closing it leaves the thread running.
class OutputRelay {
 public:
  OutputRelay() noexcept = default;
  explicit OutputRelay(win::UniqueHandle thread) noexcept : thread_(std::move(thread)) {}

  // Waits at most `limit_ms` milliseconds for the copying to end.
  void finish(std::uint32_t limit_ms) noexcept;

 private:
  win::UniqueHandle thread_;
};

// How long a child's output may still take to reach the installer's once the
// child has ended (a program it started may hold the pipe for longer).
inline constexpr std::uint32_t kRelayDrainMs = 5000;

// A started child: the owned process and main-thread handles, and the relays
// of its output. Move-only; closes the process handle, then the thread handle.
class StartedChild {
 public:
  using Relays = std::array<OutputRelay, 2>;

  StartedChild(win::UniqueHandle process, win::UniqueHandle thread, std::uint32_t id,
               Relays relays = {}) noexcept;
  StartedChild(StartedChild&& other) noexcept;
  StartedChild& operator=(StartedChild&& other) noexcept;
  StartedChild(const StartedChild&) = delete;
  StartedChild& operator=(const StartedChild&) = delete;
  ~StartedChild() { close(); }

  [[nodiscard]] HANDLE process() const noexcept { return process_.get(); }
  [[nodiscard]] HANDLE thread() const noexcept { return thread_.get(); }
  // The child's process id (0 once moved from).
  [[nodiscard]] std::uint32_t id() const noexcept { return id_; }
  // Waits at most `limit_ms` for each relay of the child's output to end.
  void finish_relays(std::uint32_t limit_ms) noexcept;
  // Closes both handles, process first; harmless when already closed.
  void close() noexcept;

 private:
  win::UniqueHandle process_;
  win::UniqueHandle thread_;
  std::uint32_t id_;
  Relays relays_;
};

// True when a GetStdHandle answer is a handle to pass on (neither NULL nor
// INVALID_HANDLE_VALUE).
[[nodiscard]] bool is_usable_std_handle(HANDLE h) noexcept;

// The start-up information for the child's standard handles (NULL where a
// stream has none): all zero but `cb`, and STARTF_USESTDHANDLES with the three
// handles only when at least one is not NULL.
[[nodiscard]] STARTUPINFOW make_startup_info(HANDLE in, HANDLE out, HANDLE err) noexcept;

// Finds the program, builds its command line from the caller's program text
// and arguments, and starts it with CREATE_UNICODE_ENVIRONMENT | flags and the
// environment inherited. With `std_handles`, the child's standard handles are
// an inheritable copy of the installer's input and a relay pipe for each of
// its output and error (one for both where they are the same), for the
// streams the installer has, and it inherits nothing else
// (PROC_THREAD_ATTRIBUTE_HANDLE_LIST); without, no handle at all, and its
// standard handles are NULL. Errors: those of find_program,
// make_command_line and child_working_dir; the OS error of DuplicateHandle,
// of a pipe or its thread, of the attribute list or of CreateProcessW;
// OutOfMemory when a buffer cannot be had. Nothing stays open on failure.
[[nodiscard]] IoResult<StartedChild> start_child(const StartRequest& request) noexcept;

// Waits for `child` at most `limit_ms` milliseconds and gives its exit
// status, once its output has reached the installer's (kRelayDrainMs at
// most); OS error kWaitTimeout past the limit, when the child is left running
// (its relays copy on while the installer runs); the OS error of the wait or
// of GetExitCodeProcess otherwise. Both handles are closed, process first,
// whatever the outcome.
[[nodiscard]] IoResult<std::uint32_t> wait_child(StartedChild child,
                                                 std::uint32_t limit_ms = kNoWaitLimit) noexcept;

// Starts `program` without a console window and waits for it at most
// `limit_ms` milliseconds; every outcome is passed over, a child still
// running at the limit included (it is not stopped).
void run_hidden(std::u16string_view program, std::span<const std::string> args,
                std::uint32_t limit_ms = kChildWaitLimitMs) noexcept;

// Starts the installed application `program` in `working_dir` (nullopt: the
// Windows folder), not waited for, with no handle of the installer: it
// outlives the installer, and whoever waits for the installer's output must
// not wait for it. A failure is passed over.
void launch_app(PathView program, std::optional<PathView> working_dir) noexcept;

}  // namespace korvane
