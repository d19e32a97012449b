// What FlushFileBuffers adds to writing a new file of the application's
// size, where the installer runs (under Wine). Figures only;
// scripts/bench_flush.sh runs it and prints them beside the silent install.
//
// usage: korvane_flush_bench <folder> <bytes> [RUNS]   (default 9)
//
// RUNS interleaved pairs after one untimed pair, the two taking turns going
// first; each writes a fresh file whole (CreateFileW, WriteFile) and closes
// it, one of them with FlushFileBuffers before the close. Prints one line:
//   flush runs=<n> bytes=<n> write_ms=<median> write_flush_ms=<median>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double write_file(const std::wstring& path, const std::vector<char>& bytes, bool flush) {
  const auto start = std::chrono::steady_clock::now();
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "CreateFileW failed: %lu\n", ::GetLastError());
    std::exit(1);
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    if (!::WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      std::fprintf(stderr, "WriteFile failed: %lu\n", ::GetLastError());
      std::exit(1);
    }
    done += written;
  }
  if (flush && !::FlushFileBuffers(file)) {
    std::fprintf(stderr, "FlushFileBuffers failed: %lu\n", ::GetLastError());
    std::exit(1);
  }
  ::CloseHandle(file);
  const auto end = std::chrono::steady_clock::now();
  ::DeleteFileW(path.c_str());
  return std::chrono::duration<double, std::milli>(end - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: korvane_flush_bench <folder> <bytes> [RUNS]\n");
    return 2;
  }
  const std::wstring path = std::wstring(argv[1]) + L"\\flush-bench.bin";
  const auto size = static_cast<std::size_t>(std::wcstoull(argv[2], nullptr, 10));
  const int runs = argc > 3 ? std::max(1, static_cast<int>(std::wcstol(argv[3], nullptr, 10))) : 9;
  std::vector<char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 2654435761u >> 24);

  (void)write_file(path, bytes, false);
  (void)write_file(path, bytes, true);
  std::vector<double> plain, flushed;
  for (int i = 0; i < runs; ++i) {
    if (i % 2 == 0) {
      plain.push_back(write_file(path, bytes, false));
      flushed.push_back(write_file(path, bytes, true));
    } else {
      flushed.push_back(write_file(path, bytes, true));
      plain.push_back(write_file(path, bytes, false));
    }
  }
  std::printf("flush runs=%d bytes=%zu write_ms=%.1f write_flush_ms=%.1f\n", runs, size, median(plain),
              median(flushed));
  return 0;
}
