#include "payload_checks.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "authenticode.h"
#include "pe_image.h"

namespace korvane::tools {
namespace {

bool same_name(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

// A PE32+ x86-64 image that is (dll) or is not a DLL.
ToolResult<PeImage> x64_image(std::span<const std::uint8_t> bytes, bool dll) {
  ToolResult<PeImage> pe = parse_pe(bytes);
  if (!pe) return pe;
  if (pe->magic != kMagicPe32Plus || pe->machine != kMachineAmd64) {
    return std::unexpected("not a PE32+ x86-64 image");
  }
  const bool is_dll = (pe->characteristics & kCharacteristicDll) != 0;
  if (is_dll && !dll) return std::unexpected("a DLL, not an executable");
  if (!is_dll && dll) return std::unexpected("an executable, not a DLL");
  return pe;
}

ToolResult<std::string> signature_note(const PeImage& pe) {
  ToolResult<Signature> signature = check_authenticode(pe);
  if (!signature) return std::unexpected(signature.error());
  return std::string(*signature == Signature::matches ? "signed, signature digest matches" : "unsigned");
}

std::string fixed_text(const PeVersion& v) {
  char text[32];
  if (v.file_version[3] == 0) {
    std::snprintf(text, sizeof text, "%u.%u.%u", unsigned{v.file_version[0]}, unsigned{v.file_version[1]},
                  unsigned{v.file_version[2]});
  } else {
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned{v.file_version[0]}, unsigned{v.file_version[1]},
                  unsigned{v.file_version[2]}, unsigned{v.file_version[3]});
  }
  return text;
}

}  // namespace

ToolResult<std::string> check_app(std::span<const std::uint8_t> image, std::string_view version) {
  ToolResult<PeImage> pe = x64_image(image, false);
  if (!pe) return std::unexpected(pe.error());
  if (pe->subsystem != kSubsystemWindowsGui) {
    return std::unexpected("not a GUI program (subsystem " + std::to_string(pe->subsystem) + ")");
  }
  ToolResult<std::vector<std::string>> dlls = imported_dlls(*pe);
  if (!dlls) return std::unexpected(dlls.error());
  if (std::ranges::none_of(*dlls, [](const std::string& d) { return same_name(d, "WebView2Loader.dll"); })) {
    return std::unexpected("does not import WebView2Loader.dll");
  }
  ToolResult<std::optional<PeVersion>> found = version_resource(*pe);
  if (!found) return std::unexpected(found.error());
  const std::string want(version);
  const std::string advice = "; set KORVANE_VERSION or rebuild the application";
  if (!*found) {
    return std::unexpected("Korvane.exe has no version resource but the installer says " + want + advice);
  }
  const PeVersion& v = **found;
  if (fixed_text(v) != want) {
    return std::unexpected("Korvane.exe is version " + fixed_text(v) + " but the installer says " + want + advice);
  }
  if (!v.product_version) {
    return std::unexpected("Korvane.exe has no ProductVersion but the installer says " + want + advice);
  }
  if (*v.product_version != want) {
    return std::unexpected("Korvane.exe is version " + *v.product_version + " but the installer says " + want +
                           advice);
  }
  ToolResult<std::string> signature = signature_note(*pe);
  if (!signature) return signature;
  return "GUI executable, version " + want + ", " + *signature;
}

ToolResult<std::string> check_loader(std::span<const std::uint8_t> image) {
  ToolResult<PeImage> pe = x64_image(image, true);
  if (!pe) return std::unexpected(pe.error());
  ToolResult<std::vector<std::string>> names = exported_names(*pe);
  if (!names) return std::unexpected(names.error());
  std::string missing;
  for (std::string_view name : kLoaderExports) {
    if (std::ranges::find(*names, name) == names->end()) missing += (missing.empty() ? "" : ", ") + std::string(name);
  }
  if (!missing.empty()) return std::unexpected("does not export " + missing);
  ToolResult<std::string> signature = signature_note(*pe);
  if (!signature) return signature;
  return "DLL with the five loader exports, " + *signature;
}

}  // namespace korvane::tools
