#pragma once
// The setup driver's Win32 side (Windows build only).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/io_error.h"
#include "setup/error_text.h"
#include "setup/run.h"

namespace korvane {

// One modal MessageBoxW with no owner window: the button that closed it, or 0
// when the box fails.
[[nodiscard]] std::int32_t msg_box(std::string_view caption, std::string_view text,
                                   std::uint32_t style);

// FormatMessageW over the system's message table (and NTDLL.DLL's).
class SystemMessages final : public MessageSource {
 public:
  [[nodiscard]] bool has_ntdll() override;
  [[nodiscard]] Answer format_message(std::uint32_t flags, bool from_ntdll,
                                      std::uint32_t code) override;
};

// os_error_text with the system's messages.
[[nodiscard]] std::string os_error_text(const IoError& error);

// The real system behind SetupHost.
[[nodiscard]] std::unique_ptr<SetupHost> make_windows_host();

}  // namespace korvane
