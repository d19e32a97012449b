// gunzip against zlib's one-shot raw inflate plus crc32, on a gzip member
// read from a file. Reports figures only; scripts/bench.sh runs it natively
// and under Wine and prints the table.
//
// usage: korvane_gunzip_bench time <member.gz> [RUNS]   (default 9)
//        korvane_gunzip_bench memory gunzip|zlib <member.gz>
//
// time: RUNS interleaved pairs in this process, after one untimed pair; the
// two take turns going first. Prints one line:
//   time runs=<n> gunzip_ms=<median> zlib_ms=<median> ratio=<median of the per-run ratios>
// memory: one decode in a fresh process. Prints one line:
//   memory <decoder> decoded=<bytes> growth=<bytes>
// where growth is the peak resident memory while decoding less the resident
// memory before it (the member's own pages already in): on Windows the peak
// working set from GetProcessMemoryInfo, on Linux the peak resident set
// (VmHWM, reset through /proc/self/clear_refs just before decoding).
//
// zlib's side inflates into a buffer allocated at the decoded size (from the
// trailer) for each run, so that, like gunzip's output, its pages are fresh;
// it checks the CRC-32 against the trailer. Members must have no optional
// header parts (10-byte header), as packed ones have.

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#endif

#include "payload/gunzip.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void die(const char* what) {
  std::fprintf(stderr, "korvane_gunzip_bench: %s\n", what);
  std::exit(2);
}

// The whole file, read straight into its final buffer (no transient copy
// that would raise the peak resident memory).
Bytes read_file(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) die("cannot open the member");
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  if (size < 18) die("the member is too short");
  Bytes bytes(static_cast<std::size_t>(size));
  if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) die("cannot read the member");
  std::fclose(f);
  return bytes;
}

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct Member {
  Bytes file;
  std::span<const std::uint8_t> deflate;  // between the 10-byte header and the trailer
  std::uint32_t crc;
  std::size_t decoded_size;  // ISIZE: the corpus is far below 4 GiB
};

Member load(const char* path) {
  Member m{read_file(path), {}, 0, 0};
  if (m.file[0] != 0x1F || m.file[1] != 0x8B || m.file[3] != 0) die("not a plain gzip member");
  m.deflate = std::span<const std::uint8_t>(m.file).subspan(10, m.file.size() - 18);
  m.crc = le32(m.file.data() + m.file.size() - 8);
  m.decoded_size = le32(m.file.data() + m.file.size() - 4);
  return m;
}

// zlib's one-shot raw inflate into a fresh buffer of the decoded size, then
// crc32 over it.
void zlib_one_shot(const Member& m) {
  auto* out = static_cast<std::uint8_t*>(std::malloc(m.decoded_size));
  if (out == nullptr) die("out of memory");
  z_stream s{};
  if (inflateInit2(&s, -15) != Z_OK) die("inflateInit2");
  s.next_in = const_cast<Bytef*>(m.deflate.data());
  s.avail_in = static_cast<uInt>(m.deflate.size());
  s.next_out = out;
  s.avail_out = static_cast<uInt>(m.decoded_size);
  if (inflate(&s, Z_FINISH) != Z_STREAM_END || s.total_out != m.decoded_size) die("zlib failed");
  inflateEnd(&s);
  if (static_cast<std::uint32_t>(crc32_z(0, out, m.decoded_size)) != m.crc) die("zlib: CRC-32 differs");
  std::free(out);
}

void korvane_gunzip(const Member& m) {
  const auto out = korvane::gunzip(m.file);
  if (!out || out->size() != m.decoded_size) die("gunzip failed");
}

double seconds_of(void (*decode)(const Member&), const Member& m) {
  const auto start = std::chrono::steady_clock::now();
  decode(m);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int time_runs(const char* path, int runs) {
  const Member m = load(path);
  seconds_of(korvane_gunzip, m);
  seconds_of(zlib_one_shot, m);
  std::vector<double> ours, theirs, ratios;
  for (int run = 0; run < runs; ++run) {
    double t_ours = 0, t_theirs = 0;
    if (run % 2 == 0) {
      t_ours = seconds_of(korvane_gunzip, m);
      t_theirs = seconds_of(zlib_one_shot, m);
    } else {
      t_theirs = seconds_of(zlib_one_shot, m);
      t_ours = seconds_of(korvane_gunzip, m);
    }
    ours.push_back(t_ours);
    theirs.push_back(t_theirs);
    ratios.push_back(t_ours / t_theirs);
  }
  std::printf("time runs=%d gunzip_ms=%.1f zlib_ms=%.1f ratio=%.3f\n", runs, 1e3 * median(ours),
              1e3 * median(theirs), median(ratios));
  return 0;
}

#ifdef _WIN32
PROCESS_MEMORY_COUNTERS counters() {
  PROCESS_MEMORY_COUNTERS c{};
  c.cb = sizeof c;
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &c, sizeof c)) die("GetProcessMemoryInfo");
  return c;
}
std::size_t resident_now() { return counters().WorkingSetSize; }
void reset_peak() {}  // Windows keeps the peak for the process's life
std::size_t peak_resident() { return counters().PeakWorkingSetSize; }
#else
std::size_t status_kib(const char* field) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) die("cannot read /proc/self/status");
  char line[256];
  std::size_t kib = 0;
  const std::size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, field, n) == 0 && line[n] == ':') kib = std::strtoull(line + n + 1, nullptr, 10);
  }
  std::fclose(f);
  return kib * 1024;
}
std::size_t resident_now() { return status_kib("VmRSS"); }
void reset_peak() {
  // "5" sets the peak resident set (VmHWM) to the current one.
  std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (f == nullptr || std::fputs("5", f) < 0 || std::fclose(f) != 0) die("cannot reset VmHWM");
}
std::size_t peak_resident() { return status_kib("VmHWM"); }
#endif

int memory(std::string_view decoder, const char* path) {
  const Member m = load(path);
  reset_peak();
  const std::size_t before = resident_now();
  if (decoder == "gunzip") {
    korvane_gunzip(m);
  } else if (decoder == "zlib") {
    zlib_one_shot(m);
  } else {
    die("the decoder is gunzip or zlib");
  }
  const std::size_t peak = peak_resident();
  std::printf("memory %.*s decoded=%zu growth=%zu\n", static_cast<int>(decoder.size()), decoder.data(),
              m.decoded_size, peak > before ? peak - before : 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view mode = argc > 1 ? argv[1] : "";
  if (mode == "time" && (argc == 3 || argc == 4)) {
    return time_runs(argv[2], argc == 4 ? std::max(1, std::atoi(argv[3])) : 9);
  }
  if (mode == "memory" && argc == 4) return memory(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: korvane_gunzip_bench time <member.gz> [RUNS]\n"
               "       korvane_gunzip_bench memory gunzip|zlib <member.gz>\n");
  return 2;
}
