#pragma once
// The two gzip payloads compiled into the installer's read-only data
// (Windows build only: payloads.S defines them, from files the build names).

#include <cstddef>
#include <cstdint>
#include <span>

namespace korvane {

// One payload file, unchanged: `length` bytes from `start`, mapped read-only
// for the life of the process. Needs no initialisation, allocation or I/O.
struct EmbeddedPayload {
  const std::uint8_t* start;
  std::uint64_t length;

  // The payload as a span; the bytes are never modified or freed.
  [[nodiscard]] std::span<const std::uint8_t> bytes() const noexcept {
    return {start, static_cast<std::size_t>(length)};
  }
};

// The application, decoded into Korvane.exe.
extern "C" const EmbeddedPayload APP_EXE_GZ;
// The WebView2 loader, decoded into WebView2Loader.dll.
extern "C" const EmbeddedPayload WEBVIEW_LOADER_GZ;

}  // namespace korvane
