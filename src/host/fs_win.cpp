#include <windows.h>
#include <winternl.h>

#include <algorithm>

#include "core/fill_buf.h"
#include "host/create_dir.h"
#include "host/os.h"
#include "host/paths.h"
#include "win/handle.h"
#include "win/wide.h"

extern "C" {
NTSTATUS NTAPI NtWriteFile(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                           PLARGE_INTEGER, PULONG);
ULONG NTAPI RtlNtStatusToDosError(NTSTATUS);
}

namespace korvane {
namespace {

constexpr NTSTATUS kStatusPending = 0x00000103;
// A wait broken off by an alert or an APC: the call is made again.
constexpr NTSTATUS kStatusAlerted = 0x00000101;
constexpr NTSTATUS kStatusUserApc = 0x000000C0;

// Cuts an existing file to zero length; the error of the second way when
// both fail.
IoResult<void> truncate(HANDLE file) {
  FILE_ALLOCATION_INFO allocation{};
  if (::SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation)) {
    return {};
  }
  FILE_END_OF_FILE_INFO end{};
  if (::SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end)) return {};
  return std::unexpected(IoError::os(::GetLastError()));
}

// One synchronous NtWriteFile at the current position: the bytes written.
IoResult<std::uint32_t> write_some(HANDLE file, const std::uint8_t* data, std::uint32_t length) {
  for (;;) {
    IO_STATUS_BLOCK status{};
    status.Status = kStatusPending;
    NTSTATUS result = ::NtWriteFile(file, nullptr, nullptr, nullptr, &status,
                                    const_cast<std::uint8_t*>(data), length, nullptr, nullptr);
    if (result == kStatusPending) {
      ::WaitForSingleObject(file, INFINITE);
      result = status.Status;
    }
    if (result == kStatusPending) {
      // Cannot happen on a synchronous handle; reported rather than trusted.
      return std::unexpected(IoError::os(ERROR_IO_PENDING));
    }
    if (result == kStatusAlerted || result == kStatusUserApc) continue;
    if (NT_SUCCESS(result)) return static_cast<std::uint32_t>(status.Information);
    return std::unexpected(IoError::os(::RtlNtStatusToDosError(result)));
  }
}

}  // namespace

IoResult<Path> full_path(PathView path) {
  const std::u16string terminated(path);
  return win::fill_wide_buf([&](wchar_t* buffer, DWORD size) {
    return ::GetFullPathNameW(win::wide(terminated), size, buffer, nullptr);
  });
}

IoResult<void> create_directory(PathView path) {
  auto target = get_long_path(path, true, full_path);
  if (!target) return std::unexpected(target.error());
  if (!::CreateDirectoryW(win::wide(*target), nullptr)) {
    return std::unexpected(IoError::os(::GetLastError()));
  }
  return {};
}

bool is_directory(PathView path) {
  auto target = get_long_path(path, true, full_path);
  if (!target) return false;
  // Opening the entry follows links, so a link to a directory reports the
  // directory's own attributes.
  win::UniqueFile file(::CreateFileW(win::wide(*target), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return false;
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic)) {
    return false;
  }
  if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  if ((basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (::GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag) &&
        IsReparseTagNameSurrogate(tag.ReparseTag)) {
      return false;
    }
  }
  return true;
}

IoResult<void> write(PathView path, std::span<const std::uint8_t> bytes) {
  auto target = get_long_path(path, true, full_path);
  if (!target) return std::unexpected(target.error());
  win::UniqueFile file(::CreateFileW(win::wide(*target), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_ALWAYS, 0, nullptr));
  if (!file) return std::unexpected(IoError::os(::GetLastError()));
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    if (auto cut = truncate(file.get()); !cut) return cut;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const auto chunk = static_cast<std::uint32_t>(
        std::min<std::size_t>(bytes.size() - done, 0xFFFFFFFFu));
    auto written = write_some(file.get(), bytes.data() + done, chunk);
    if (!written) return std::unexpected(written.error());
    if (*written == 0) {
      return std::unexpected(
          IoError::with_message(ErrorKind::WriteZero, "failed to write whole buffer"));
    }
    done += *written;
  }
  return {};
}

IoResult<void> open_for_write(PathView path) {
  auto target = get_long_path(path, true, full_path);
  if (!target) return std::unexpected(target.error());
  const win::UniqueFile file(::CreateFileW(win::wide(*target), GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return std::unexpected(IoError::os(::GetLastError()));
  return {};
}

IoResult<void> hard_link(PathView existing, PathView link) {
  auto from = get_long_path(existing, true, full_path);
  if (!from) return std::unexpected(from.error());
  auto to = get_long_path(link, true, full_path);
  if (!to) return std::unexpected(to.error());
  if (!::CreateHardLinkW(win::wide(*to), win::wide(*from), nullptr)) {
    return std::unexpected(IoError::os(::GetLastError()));
  }
  return {};
}

IoResult<void> move_file(PathView from, PathView to, bool replace) {
  auto source = get_long_path(from, true, full_path);
  if (!source) return std::unexpected(source.error());
  auto target = get_long_path(to, true, full_path);
  if (!target) return std::unexpected(target.error());
  if (!::MoveFileExW(win::wide(*source), win::wide(*target),
                     replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
    return std::unexpected(IoError::os(::GetLastError()));
  }
  return {};
}

IoResult<void> delete_file(PathView path) {
  auto target = get_long_path(path, true, full_path);
  if (!target) return std::unexpected(target.error());
  if (!::DeleteFileW(win::wide(*target))) return std::unexpected(IoError::os(::GetLastError()));
  return {};
}

}  // namespace korvane

// The error codes the directory walk names, as the SDK names them.
static_assert(korvane::kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(korvane::kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(korvane::kErrorInvalidDrive == ERROR_INVALID_DRIVE);
static_assert(korvane::kErrorBadNetpath == ERROR_BAD_NETPATH);
static_assert(korvane::kErrorBadNetName == ERROR_BAD_NET_NAME);
static_assert(korvane::kErrorFileExists == ERROR_FILE_EXISTS);
static_assert(korvane::kErrorAlreadyExists == ERROR_ALREADY_EXISTS);
static_assert(korvane::kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
