#include "pe_image.h"

#include <algorithm>

namespace korvane::tools {
namespace {

std::optional<std::uint16_t> u16(std::span<const std::uint8_t> b, std::size_t at) {
  if (at > b.size() || b.size() - at < 2) return std::nullopt;
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::optional<std::uint32_t> u32(std::span<const std::uint8_t> b, std::size_t at) {
  if (at > b.size() || b.size() - at < 4) return std::nullopt;
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// A NUL-terminated ASCII name at `rva` (import and export names).
ToolResult<std::string> name_at(const PeImage& pe, std::uint32_t rva) {
  const auto at = pe.offset_of(rva);
  if (!at) return std::unexpected("a name lies outside the file");
  std::string name;
  for (std::size_t i = *at; i < pe.file.size() && name.size() < 512; ++i) {
    if (pe.file[i] == 0) return name;
    name.push_back(static_cast<char>(pe.file[i]));
  }
  return std::unexpected("a name is not terminated");
}

// One block of a version resource: wLength, wValueLength, wType, the
// UTF-16 key, padding to 32 bits, the value, padding, the children.
struct VersionBlock {
  std::u16string key;
  std::size_t value;     // offset of the value
  std::size_t children;  // offset of the first child
  std::size_t end;       // offset just past the block
  std::uint16_t value_length;
};

std::size_t align4(std::size_t at, std::size_t base) { return base + ((at - base + 3) & ~std::size_t{3}); }

std::optional<VersionBlock> version_block(std::span<const std::uint8_t> b, std::size_t at,
                                          std::size_t limit, std::size_t base, bool text) {
  const auto length = u16(b, at);
  const auto value_length = u16(b, at + 2);
  if (!length || !value_length || *length < 6 || at + *length > limit) return std::nullopt;
  VersionBlock block{{}, 0, 0, at + *length, *value_length};
  std::size_t i = at + 6;
  for (;; i += 2) {
    const auto unit = u16(b, i);
    if (!unit || i + 2 > block.end) return std::nullopt;
    if (*unit == 0) break;
    block.key.push_back(static_cast<char16_t>(*unit));
  }
  block.value = align4(i + 2, base);
  // String values count UTF-16 units, binary ones bytes.
  const std::size_t value_bytes = text ? std::size_t{*value_length} * 2 : *value_length;
  block.children = std::min(align4(block.value + value_bytes, base), block.end);
  return block;
}

std::string ascii(std::span<const std::uint8_t> b, std::size_t at, std::size_t end) {
  std::string out;
  for (std::size_t i = at; i + 1 < end; i += 2) {
    const auto unit = *u16(b, i);
    if (unit == 0) break;
    out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
  return out;
}

// The ProductVersion string below StringFileInfo, if any.
std::optional<std::string> product_version(std::span<const std::uint8_t> b, const VersionBlock& root,
                                           std::size_t base) {
  for (std::size_t at = root.children; at < root.end;) {
    const auto info = version_block(b, at, root.end, base, false);
    if (!info) return std::nullopt;
    if (info->key == u"StringFileInfo") {
      for (std::size_t t = info->children; t < info->end;) {
        const auto table = version_block(b, t, info->end, base, false);
        if (!table) return std::nullopt;
        for (std::size_t s = table->children; s < table->end;) {
          const auto entry = version_block(b, s, table->end, base, true);
          if (!entry) return std::nullopt;
          if (entry->key == u"ProductVersion") return ascii(b, entry->value, entry->end);
          s = align4(entry->end, base);
        }
        t = align4(table->end, base);
      }
    }
    at = align4(info->end, base);
  }
  return std::nullopt;
}

}  // namespace

PeDataDirectory PeImage::directory(PeDirectory d) const noexcept {
  const auto i = static_cast<std::size_t>(d);
  return i < directories.size() ? directories[i] : PeDataDirectory{0, 0};
}

std::optional<std::size_t> PeImage::offset_of(std::uint32_t rva) const noexcept {
  for (const PeSection& s : sections) {
    const std::uint32_t span = std::max(s.virtual_size, s.raw_size);
    if (rva >= s.virtual_address && rva - s.virtual_address < span) {
      const std::uint32_t into = rva - s.virtual_address;
      if (into >= s.raw_size) return std::nullopt;  // in the zero-filled tail
      const std::size_t at = std::size_t{s.raw_offset} + into;
      if (at >= file.size()) return std::nullopt;
      return at;
    }
  }
  if (rva < size_of_headers && rva < file.size()) return rva;
  return std::nullopt;
}

ToolResult<PeImage> parse_pe(std::span<const std::uint8_t> file) {
  if (file.empty()) return std::unexpected("not a PE file (the file is empty)");
  if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') {
    return std::unexpected("not a PE file (no MZ header)");
  }
  const std::size_t pe = *u32(file, 60);
  const auto signature = u32(file, pe);
  if (!signature || *signature != 0x00004550) return std::unexpected("not a PE file (no PE signature)");
  PeImage image{};
  image.file = file;
  const std::size_t coff = pe + 4;
  const auto machine = u16(file, coff);
  const auto section_count = u16(file, coff + 2);
  const auto optional_size = u16(file, coff + 16);
  const auto characteristics = u16(file, coff + 18);
  if (!machine || !section_count || !optional_size || !characteristics) {
    return std::unexpected("not a PE file (truncated COFF header)");
  }
  image.machine = *machine;
  image.characteristics = *characteristics;
  image.optional_header = coff + 20;
  const auto magic = u16(file, image.optional_header);
  if (!magic) return std::unexpected("not a PE file (no optional header)");
  image.magic = *magic;
  if (image.magic != kMagicPe32Plus) return image;  // the caller reports the format
  const auto subsystem = u16(file, image.optional_header + 68);
  const auto headers = u32(file, image.optional_header + 60);
  const auto directory_count = u32(file, image.optional_header + 108);
  if (!subsystem || !headers || !directory_count || *optional_size < 112) {
    return std::unexpected("truncated PE32+ optional header");
  }
  image.subsystem = *subsystem;
  image.size_of_headers = *headers;
  const std::size_t count = std::min<std::size_t>(*directory_count, (*optional_size - 112u) / 8u);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = image.optional_header + 112 + i * 8;
    const auto address = u32(file, at);
    const auto size = u32(file, at + 4);
    if (!address || !size) return std::unexpected("truncated data directories");
    image.directories.push_back({*address, *size});
  }
  const std::size_t table = image.optional_header + *optional_size;
  for (std::size_t i = 0; i < *section_count; ++i) {
    const std::size_t at = table + i * 40;
    const auto virtual_size = u32(file, at + 8);
    const auto virtual_address = u32(file, at + 12);
    const auto raw_size = u32(file, at + 16);
    const auto raw_offset = u32(file, at + 20);
    if (!virtual_size || !virtual_address || !raw_size || !raw_offset) {
      return std::unexpected("truncated section table");
    }
    image.sections.push_back({*virtual_address, *virtual_size, *raw_offset, *raw_size});
  }
  return image;
}

ToolResult<std::vector<std::string>> imported_dlls(const PeImage& pe) {
  std::vector<std::string> names;
  const PeDataDirectory dir = pe.directory(PeDirectory::imports);
  if (dir.address == 0) return names;
  const auto start = pe.offset_of(dir.address);
  if (!start) return std::unexpected("the import directory lies outside the file");
  for (std::size_t at = *start;; at += 20) {
    const auto name = u32(pe.file, at + 12);
    const auto thunks = u32(pe.file, at + 16);
    if (!name || !thunks) return std::unexpected("the import directory is truncated");
    if (*name == 0 && *thunks == 0) return names;
    ToolResult<std::string> dll = name_at(pe, *name);
    if (!dll) return std::unexpected("an import entry is damaged: " + dll.error());
    names.push_back(std::move(*dll));
    if (names.size() > 4096) return std::unexpected("the import directory does not end");
  }
}

ToolResult<std::vector<std::string>> exported_names(const PeImage& pe) {
  std::vector<std::string> names;
  const PeDataDirectory dir = pe.directory(PeDirectory::exports);
  if (dir.address == 0) return names;
  const auto start = pe.offset_of(dir.address);
  if (!start) return std::unexpected("the export directory lies outside the file");
  const auto count = u32(pe.file, *start + 24);
  const auto table = u32(pe.file, *start + 32);
  if (!count || !table || *count > 65536) return std::unexpected("the export directory is damaged");
  const auto names_at = pe.offset_of(*table);
  if (*count > 0 && !names_at) return std::unexpected("the export name table lies outside the file");
  for (std::uint32_t i = 0; i < *count; ++i) {
    const auto rva = u32(pe.file, *names_at + std::size_t{i} * 4);
    if (!rva) return std::unexpected("the export name table is truncated");
    ToolResult<std::string> name = name_at(pe, *rva);
    if (!name) return std::unexpected("an export name is damaged: " + name.error());
    names.push_back(std::move(*name));
  }
  return names;
}

ToolResult<std::vector<PeResourceData>> resources(const PeImage& pe, std::uint32_t type) {
  std::vector<PeResourceData> found;
  const PeDataDirectory dir = pe.directory(PeDirectory::resources);
  if (dir.address == 0) return found;
  const auto root = pe.offset_of(dir.address);
  if (!root) return std::unexpected("the resource directory lies outside the file");
  // Type, name and language levels: every entry below the entries of `type`.
  std::vector<std::size_t> tables{*root};
  for (int level = 0; level < 3; ++level) {
    std::vector<std::size_t> next;
    for (const std::size_t table : tables) {
      const auto named = u16(pe.file, table + 12);
      const auto ids = u16(pe.file, table + 14);
      if (!named || !ids) return std::unexpected("the resource directory is truncated");
      for (std::size_t i = 0; i < std::size_t{*named} + *ids; ++i) {
        const auto id = u32(pe.file, table + 16 + i * 8);
        const auto target = u32(pe.file, table + 16 + i * 8 + 4);
        if (!id || !target) return std::unexpected("the resource directory is truncated");
        if (level == 0 && *id != type) continue;
        const bool subdirectory = (*target & 0x80000000u) != 0;
        if (subdirectory != (level < 2)) return std::unexpected("the resource directory is malformed");
        next.push_back(*root + (*target & 0x7FFFFFFFu));
        if (next.size() > 65536) return std::unexpected("the resource directory does not end");
      }
    }
    tables = std::move(next);
  }
  for (const std::size_t entry : tables) {
    const auto data_rva = u32(pe.file, entry);
    const auto data_size = u32(pe.file, entry + 4);
    if (!data_rva || !data_size) return std::unexpected("a resource entry is truncated");
    const auto data = pe.offset_of(*data_rva);
    if (!data || pe.file.size() - *data < *data_size) {
      return std::unexpected("a resource lies outside the file");
    }
    found.push_back({*data, *data_size});
  }
  return found;
}

ToolResult<std::optional<PeVersion>> version_resource(const PeImage& pe) {
  constexpr std::uint32_t kRtVersion = 16;
  ToolResult<std::vector<PeResourceData>> found = resources(pe, kRtVersion);
  if (!found) return std::unexpected(found.error());
  if (found->empty()) return std::nullopt;
  const std::size_t data = found->front().offset;
  const std::size_t end = data + found->front().size;
  const auto block = version_block(pe.file, data, end, data, false);
  if (!block || block->key != u"VS_VERSION_INFO" || block->value_length < 52) {
    return std::unexpected("the version resource is malformed");
  }
  const auto fixed_signature = u32(pe.file, block->value);
  const auto ms = u32(pe.file, block->value + 8);
  const auto ls = u32(pe.file, block->value + 12);
  if (!fixed_signature || *fixed_signature != 0xFEEF04BDu || !ms || !ls) {
    return std::unexpected("the version resource has no fixed file version");
  }
  PeVersion version{{static_cast<std::uint16_t>(*ms >> 16), static_cast<std::uint16_t>(*ms),
                     static_cast<std::uint16_t>(*ls >> 16), static_cast<std::uint16_t>(*ls)},
                    product_version(pe.file, *block, data)};
  return version;
}

}  // namespace korvane::tools
