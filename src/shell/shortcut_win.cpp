#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "core/utf.h"
#include "shell/shortcut_win.h"
#include "win/com.h"
#include "win/memory.h"
#include "win/wide.h"

namespace korvane {
namespace {

// The wait before the one more try of a save that met a sharing violation.
constexpr DWORD kShareRetryMs = 200;

IoError hresult_error(HRESULT hr) noexcept { return IoError::os(static_cast<std::uint32_t>(hr)); }

// The link's fields and the file, each set or saved in one call.
IoResult<void> fill_and_save(const win::ComPtr<IShellLinkW>& link, const Shortcut& shortcut,
                             const std::u16string& file) {
  const std::u16string target(shortcut.target);
  const std::u16string working_dir(shortcut.working_dir);
  const std::u16string description = utf8_to_utf16(shortcut.description);
  for (const std::u16string* text : {&file, &target, &working_dir, &description}) {
    if (auto nul = nul_error(*text, kNulInWinApiString)) return std::unexpected(*nul);
  }
  if (HRESULT hr = link->SetPath(win::wide(target)); FAILED(hr)) {
    return std::unexpected(hresult_error(hr));
  }
  if (HRESULT hr = link->SetWorkingDirectory(win::wide(working_dir)); FAILED(hr)) {
    return std::unexpected(hresult_error(hr));
  }
  if (HRESULT hr = link->SetDescription(win::wide(description)); FAILED(hr)) {
    return std::unexpected(hresult_error(hr));
  }
  win::ComPtr<IPersistFile> persist;
  if (HRESULT hr = link->QueryInterface(IID_IPersistFile, persist.put_void()); FAILED(hr)) {
    return std::unexpected(hresult_error(hr));
  }
  // A failed save deletes what it wrote, which points nowhere, but never the
  // shortcut that was there before (a previous installation's good one).
  const bool existed = ::GetFileAttributesW(win::wide(file)) != INVALID_FILE_ATTRIBUTES;
  HRESULT hr = persist->Save(win::wide(file), TRUE);
  if (hr == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)) {
    ::Sleep(kShareRetryMs);  // the shell or a scanner reading the old one
    hr = persist->Save(win::wide(file), TRUE);
  }
  if (FAILED(hr)) {
    if (!existed) static_cast<void>(::DeleteFileW(win::wide(file)));
    return std::unexpected(hresult_error(hr));
  }
  return {};
}

}  // namespace

std::optional<Path> shell_folder(ShellFolder folder) {
  const KNOWNFOLDERID& id = folder == ShellFolder::Desktop ? FOLDERID_Desktop : FOLDERID_Programs;
  // Freed with CoTaskMemFree whether the call succeeds or not.
  win::CoTaskMemory<wchar_t> path;
  if (FAILED(::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, path.put())) || !path) {
    return std::nullopt;
  }
  return Path(reinterpret_cast<const char16_t*>(path.get()));
}

IoResult<void> save_shortcut(const Shortcut& shortcut) {
  const win::ComApartment com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (!com.usable()) return std::unexpected(hresult_error(com.result()));
  // Released before the apartment is left.
  win::ComPtr<IShellLinkW> link;
  if (HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkW, link.put_void());
      FAILED(hr)) {
    return std::unexpected(hresult_error(hr));
  }
  return fill_and_save(link, shortcut, std::u16string(shortcut.file));
}

}  // namespace korvane
