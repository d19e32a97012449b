#pragma once
// The named lock that one installation or removal of Korvane holds for its
// user: the installer from the stop step until the application has started,
// the uninstall script for its whole work (it names the same lock).

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane {

// ERROR_INSTALL_ALREADY_RUNNING, "another installation is already in
// progress": the error of a lock that stays held, and the exit status of a
// run that could not have it (deployment tools retry it).
inline constexpr std::uint32_t kErrorInstallAlreadyRunning = 1618;

// Global, so that runs in other sessions (a deployment agent's, an
// administrator's) meet it too; per user by the SID.
inline constexpr std::u16string_view kInstallLockPrefix = u"Global\\KorvaneSetup-";

// kInstallLockPrefix followed by `sid`.
[[nodiscard]] inline std::u16string install_lock_name(std::u16string_view sid) {
  return std::u16string(kInstallLockPrefix) + std::u16string(sid);
}

}  // namespace korvane
