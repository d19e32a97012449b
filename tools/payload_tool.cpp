// payload_tool: packs, checks and (for tests) damages the installer's
// payload files on the build machine.
//
//   payload_tool pack <input> <output.gz>        one gzip member of <input>
//   payload_tool check <payload.gz>...           exit 1 on the first bad file
//   payload_tool check-app <file> <version>      Korvane.exe, raw or gzip
//   payload_tool check-loader <file>             WebView2Loader.dll, raw or gzip
//   payload_tool damage-crc <input.gz> <output.gz>
//   payload_tool stub-size <installer.exe> <app.gz> <loader.gz> [<max bytes>]
//       prints the stub (the installer less its two payload files and its
//       icon images) in bytes, then how it was made up; exit 1 over <max>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "gzip_member.h"
#include "payload/gunzip.h"
#include "payload_checks.h"
#include "pe_image.h"

namespace korvane::tools {
namespace {

ToolResult<Bytes> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::unexpected("cannot open " + path + ": " + std::strerror(errno));
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::unexpected("cannot read " + path);
  return bytes;
}

// Writes beside `path` and renames, so a failed run leaves no partial file
// that a later build would take for finished.
ToolResult<bool> write_file(const std::string& path, const Bytes& bytes) {
  const std::string part = path + ".part";
  std::error_code ec;
  if (const auto dir = std::filesystem::path(path).parent_path(); !dir.empty()) {
    std::filesystem::create_directories(dir, ec);
    if (ec) return std::unexpected("cannot create " + dir.string() + ": " + ec.message());
  }
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    if (!out) return std::unexpected("cannot create " + part + ": " + std::strerror(errno));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::filesystem::remove(part);
      return std::unexpected("cannot write " + part);
    }
  }
  std::filesystem::rename(part, path, ec);
  if (ec) return std::unexpected("cannot rename " + part + ": " + ec.message());
  return true;
}

int fail(std::string_view text) {
  std::fprintf(stderr, "payload_tool: %.*s\n", static_cast<int>(text.size()), text.data());
  return 1;
}

int pack(const std::string& input, const std::string& output) {
  ToolResult<Bytes> data = read_file(input);
  if (!data) return fail(data.error());
  ToolResult<Bytes> member = pack_member(*data);
  if (!member) return fail(input + ": " + member.error());
  ToolResult<bool> written = write_file(output, *member);
  if (!written) return fail(written.error());
  return 0;
}

int check(const std::string& path) {
  ToolResult<Bytes> file = read_file(path);
  if (!file) return fail(file.error());
  ToolResult<PayloadFacts> facts = check_payload(*file);
  if (!facts) return fail("bad payload " + path + ": " + facts.error());
  std::printf("payload %s: %llu bytes compressed, %llu bytes decoded, CRC-32 0x%08X\n", path.c_str(),
              static_cast<unsigned long long>(facts->compressed_size),
              static_cast<unsigned long long>(facts->decoded_size), static_cast<unsigned>(facts->crc32));
  return 0;
}

// Checks what the payload `path` holds. A gzip file (it starts with
// 1F 8B) is checked as a member first and judged by its decoded bytes.
template <class Check>
int check_content(const std::string& path, Check check) {
  ToolResult<Bytes> file = read_file(path);
  if (!file) return fail(file.error());
  ToolResult<std::string> verdict;
  if (file->size() >= 2 && (*file)[0] == 0x1F && (*file)[1] == 0x8B) {
    ToolResult<PayloadFacts> facts = check_payload(*file);
    if (!facts) return fail("bad payload " + path + ": " + facts.error());
    IoResult<ByteBuffer> decoded = gunzip(*file);
    if (!decoded) return fail("bad payload " + path + ": cannot decode");
    verdict = check(std::span<const std::uint8_t>(decoded->data(), decoded->size()));
  } else {
    verdict = check(std::span<const std::uint8_t>(*file));
  }
  if (!verdict) return fail("bad payload " + path + ": " + verdict.error());
  std::printf("payload %s: %s\n", path.c_str(), verdict->c_str());
  return 0;
}

int damage_crc(const std::string& input, const std::string& output) {
  ToolResult<Bytes> file = read_file(input);
  if (!file) return fail(file.error());
  ToolResult<Bytes> damaged = damage_trailer_crc(*file);
  if (!damaged) return fail("bad payload " + input + ": " + damaged.error());
  ToolResult<bool> written = write_file(output, *damaged);
  if (!written) return fail(written.error());
  return 0;
}

int stub_size(const std::string& installer, const std::string& app, const std::string& loader,
              const char* max) {
  ToolResult<Bytes> image = read_file(installer);
  if (!image) return fail(image.error());
  ToolResult<PeImage> pe = parse_pe(*image);
  if (!pe) return fail(installer + ": " + pe.error());
  constexpr std::uint32_t kRtIcon = 3;
  ToolResult<std::vector<PeResourceData>> icons = resources(*pe, kRtIcon);
  if (!icons) return fail(installer + ": " + icons.error());
  std::uint64_t icon_bytes = 0;
  for (const PeResourceData& icon : *icons) icon_bytes += icon.size;
  std::error_code ec;
  const std::uint64_t payload_bytes =
      std::filesystem::file_size(app, ec) + std::filesystem::file_size(loader, ec);
  if (ec) return fail("cannot read the size of a payload: " + ec.message());
  const std::uint64_t stub = image->size() - payload_bytes - icon_bytes;
  std::printf("%llu = file %zu - payloads %llu - icon images %llu\n",
              static_cast<unsigned long long>(stub), image->size(),
              static_cast<unsigned long long>(payload_bytes), static_cast<unsigned long long>(icon_bytes));
  if (max != nullptr && stub > std::strtoull(max, nullptr, 10)) {
    return fail(installer + ": the stub is " + std::to_string(stub) + " bytes, over the limit of " + max);
  }
  return 0;
}

int usage() {
  return fail(
      "usage: payload_tool pack <input> <output.gz> | check <payload.gz>... | "
      "check-app <file> <version> | check-loader <file> | damage-crc <input.gz> <output.gz> | "
      "stub-size <installer.exe> <app.gz> <loader.gz> [<max bytes>]");
}

}  // namespace
}  // namespace korvane::tools

int main(int argc, char** argv) {
  using namespace korvane::tools;
  if (argc < 3) return usage();
  const std::string_view command = argv[1];
  if (command == "pack" && argc == 4) return pack(argv[2], argv[3]);
  if (command == "damage-crc" && argc == 4) return damage_crc(argv[2], argv[3]);
  if (command == "check-app" && argc == 4) {
    const std::string version = argv[3];
    return check_content(argv[2], [&](std::span<const std::uint8_t> image) { return check_app(image, version); });
  }
  if (command == "check-loader" && argc == 3) return check_content(argv[2], check_loader);
  if (command == "stub-size" && (argc == 5 || argc == 6)) {
    return stub_size(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
  }
  if (command == "check") {
    for (int i = 2; i < argc; ++i) {
      if (const int rc = check(argv[i]); rc != 0) return rc;
    }
    return 0;
  }
  return usage();
}
