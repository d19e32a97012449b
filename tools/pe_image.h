#pragma once
// Reading a PE32+ image from its file bytes on the build machine: headers,
// sections, imports, exports and the version resource. Every read is
// bounds-checked; a malformed file is an error value, never a crash.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "gzip_member.h"

namespace korvane::tools {

inline constexpr std::uint16_t kMachineAmd64 = 0x8664;
inline constexpr std::uint16_t kMagicPe32Plus = 0x20B;
inline constexpr std::uint16_t kSubsystemWindowsGui = 2;
inline constexpr std::uint16_t kCharacteristicDll = 0x2000;

// Indices into the optional header's data directories.
enum class PeDirectory : std::size_t { exports = 0, imports = 1, resources = 2, certificates = 4 };

struct PeDataDirectory {
  std::uint32_t address;  // an RVA; for certificates a file offset
  std::uint32_t size;
};

struct PeSection {
  std::uint32_t virtual_address;
  std::uint32_t virtual_size;
  std::uint32_t raw_offset;
  std::uint32_t raw_size;
};

// The parsed headers of one image; `file` is borrowed and must outlive it.
struct PeImage {
  std::span<const std::uint8_t> file;
  std::uint16_t machine;
  std::uint16_t characteristics;
  std::uint16_t magic;
  std::uint16_t subsystem;
  std::size_t optional_header;  // file offset of the optional header
  std::uint32_t size_of_headers;
  std::vector<PeDataDirectory> directories;
  std::vector<PeSection> sections;

  // The directory `d`, or {0, 0} when the image has none.
  [[nodiscard]] PeDataDirectory directory(PeDirectory d) const noexcept;
  // File offset of `rva` inside a section's raw data, or nothing.
  [[nodiscard]] std::optional<std::size_t> offset_of(std::uint32_t rva) const noexcept;
};

// Where one resource's data lies in the file.
struct PeResourceData {
  std::size_t offset;
  std::uint32_t size;
};

// The version resource's parts that name the version.
struct PeVersion {
  std::uint16_t file_version[4];  // fixed file version, most significant first
  std::optional<std::string> product_version;  // the ProductVersion string, if any
};

// Parses the DOS, COFF and optional headers and the section table. Fails with
// "not a PE file (...)" when the bytes are no PE image at all.
[[nodiscard]] ToolResult<PeImage> parse_pe(std::span<const std::uint8_t> file);

// Names of the DLLs in the import directory, as written in the file.
[[nodiscard]] ToolResult<std::vector<std::string>> imported_dlls(const PeImage& pe);

// Names of the functions the export directory exports by name.
[[nodiscard]] ToolResult<std::vector<std::string>> exported_names(const PeImage& pe);

// Every resource of `type` (RT_ICON is 3, RT_VERSION 16), in the order of the
// resource directory: all names, all languages.
[[nodiscard]] ToolResult<std::vector<PeResourceData>> resources(const PeImage& pe, std::uint32_t type);

// The first version resource (RT_VERSION) with its fixed file version and
// ProductVersion string; nothing when the image has no version resource.
[[nodiscard]] ToolResult<std::optional<PeVersion>> version_resource(const PeImage& pe);

}  // namespace korvane::tools
