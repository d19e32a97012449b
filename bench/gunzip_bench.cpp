// gunzip against zlib's one-shot raw inflate plus crc32, on a level-1 member
// of about 39.5 MB of executable-like data. Reports figures only.
//
// usage: korvane_gunzip_bench [RUNS]   (default 9)
//
// The heap is counted exactly by replacing glibc's malloc entry points (so
// operator new, zlib's allocations and ByteBuffer's realloc are all seen),
// using the usable size of each block.

#include <malloc.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <span>
#include <vector>

#include "payload/gunzip.h"

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {

std::size_t g_live = 0;
std::size_t g_peak = 0;

void counted(void* p) {
  if (p == nullptr) return;
  g_live += malloc_usable_size(p);
  g_peak = std::max(g_peak, g_live);
}
void uncounted(void* p) {
  if (p != nullptr) g_live -= malloc_usable_size(p);
}

}  // namespace

extern "C" {
void* malloc(std::size_t n) {
  void* p = __libc_malloc(n);
  counted(p);
  return p;
}
void* calloc(std::size_t count, std::size_t n) {
  void* p = __libc_calloc(count, n);
  counted(p);
  return p;
}
void* realloc(void* old, std::size_t n) {
  const std::size_t before = old ? malloc_usable_size(old) : 0;
  void* p = __libc_realloc(old, n);
  if (p == nullptr) return nullptr;  // `old` is untouched (or n was 0 and it is freed)
  // glibc grows a large block in place or with mremap: old and new never
  // coexist, so the count moves straight from the old size to the new.
  g_live = g_live - before + malloc_usable_size(p);
  g_peak = std::max(g_peak, g_live);
  return p;
}
void free(void* p) {
  uncounted(p);
  __libc_free(p);
}
void* memalign(std::size_t align, std::size_t n) {
  void* p = __libc_memalign(align, n);
  counted(p);
  return p;
}
void* aligned_alloc(std::size_t align, std::size_t n) { return memalign(align, n); }
int posix_memalign(void** out, std::size_t align, std::size_t n) {
  void* p = memalign(align, n);
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
}

namespace {

using Bytes = std::vector<std::uint8_t>;

// Wall time and this thread's CPU time (user and system, page faults
// included); the CPU time is less disturbed by other work on the machine.
struct Stamp {
  double wall;
  double cpu;
};
Stamp now() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  return {wall, static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec)};
}
Stamp since(Stamp start) {
  const Stamp t = now();
  return {t.wall - start.wall, t.cpu - start.cpu};
}

constexpr std::size_t kDecodedSize = 39'492'765;  // the application payload of this version

struct Rng {
  std::uint64_t x = 0x9E3779B97F4A7C15u;
  std::uint32_t next() {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return static_cast<std::uint32_t>(x >> 16);
  }
};

// Sections like a linked executable's: code made of a vocabulary of
// instruction sequences with varying operands, tables of addresses and
// offsets, compressed resources (random), strings, and zero padding to
// 4 KiB section alignment.
Bytes executable_like(std::size_t size) {
  static constexpr std::uint8_t kOps[][6] = {
      {0x48, 0x89, 0xE5, 0, 0, 0}, {0x48, 0x83, 0xEC, 0x28, 0, 0}, {0xE8, 0, 0, 0, 0, 0},
      {0x48, 0x8B, 0x05, 0, 0, 0}, {0x0F, 0x84, 0, 0, 0, 0},       {0xC3, 0, 0, 0, 0, 0},
      {0x41, 0x57, 0x41, 0x56, 0, 0}, {0x48, 0x8D, 0x4C, 0x24, 0, 0}, {0xFF, 0x15, 0, 0, 0, 0},
      {0x31, 0xC0, 0, 0, 0, 0}};
  static constexpr std::uint8_t kOpLen[] = {3, 4, 5, 3, 2, 1, 4, 4, 2, 2};
  Rng rng;
  Bytes out;
  out.reserve(size + 8192);
  while (out.size() < size) {
    const std::uint32_t kind = rng.next() % 100;
    std::size_t section = 16384 + rng.next() % 262144;
    const std::size_t end = out.size() + section;
    if (kind < 55) {  // code
      while (out.size() < end) {
        const std::uint32_t r = rng.next();
        const std::size_t op = r % 10;
        out.insert(out.end(), kOps[op], kOps[op] + kOpLen[op]);
        // Operands: mostly small and repeated, sometimes arbitrary.
        const int operand_bytes = static_cast<int>((r >> 4) % 5);
        for (int i = 0; i < operand_bytes; ++i) {
          out.push_back(static_cast<std::uint8_t>((r >> 8) % 16 == 0 ? rng.next() : (r >> (12 + i)) & 0x1F));
        }
      }
    } else if (kind < 70) {  // address and offset tables
      std::uint32_t base = rng.next();
      while (out.size() < end) {
        base += 16 + rng.next() % 64;
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(base >> (8 * i)));
        out.insert(out.end(), {0x01, 0x40, 0x00, 0x00});
      }
    } else if (kind < 73) {  // compressed resources: incompressible
      while (out.size() < end) out.push_back(static_cast<std::uint8_t>(rng.next()));
    } else if (kind < 86) {  // strings
      static constexpr const char* kWords[] = {"Korvane", "WebView2", "playlist", "::operator",
                                               "std::", "Failed to ", "audio", "\\Device\\"};
      while (out.size() < end) {
        const char* w = kWords[rng.next() % 8];
        out.insert(out.end(), w, w + std::strlen(w));
        out.push_back(rng.next() % 4 == 0 ? 0 : ' ');
      }
    } else {  // zero fill
      out.insert(out.end(), section, 0);
    }
    // Pad to the next 4 KiB boundary.
    out.insert(out.end(), (4096 - out.size() % 4096) % 4096, 0);
  }
  out.resize(size);
  out[0] = 'M';
  out[1] = 'Z';
  return out;
}

Bytes raw_deflate(std::span<const std::uint8_t> data, int level) {
  z_stream s{};
  deflateInit2(&s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&s, data.size()));
  s.next_in = const_cast<Bytef*>(data.data());
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  if (deflate(&s, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

void put_le32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// zlib's one-shot raw inflate into a buffer of the known size, then crc32
// over the finished buffer; the buffer is allocated (not zeroed) each time,
// as gunzip's is. Returns the CRC-32.
std::uint32_t one_shot(std::span<const std::uint8_t> deflate, std::size_t decoded_size) {
  auto* out = static_cast<std::uint8_t*>(std::malloc(decoded_size));
  z_stream s{};
  inflateInit2(&s, -15);
  s.next_in = const_cast<Bytef*>(deflate.data());
  s.avail_in = static_cast<uInt>(deflate.size());
  s.next_out = out;
  s.avail_out = static_cast<uInt>(decoded_size);
  if (inflate(&s, Z_FINISH) != Z_STREAM_END || s.total_out != decoded_size) std::abort();
  inflateEnd(&s);
  const auto crc = static_cast<std::uint32_t>(crc32_z(0, out, decoded_size));
  std::free(out);
  return crc;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  const Bytes data = executable_like(kDecodedSize);
  const auto crc = static_cast<std::uint32_t>(crc32_z(0, data.data(), data.size()));
  const Bytes deflate = raw_deflate(data, 1);
  Bytes member{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 0};
  member.insert(member.end(), deflate.begin(), deflate.end());
  put_le32(member, crc);
  put_le32(member, static_cast<std::uint32_t>(data.size()));
  std::printf("decoded %zu bytes, member %zu bytes (level 1, %.1f%%), %d runs\n", data.size(),
              member.size(), 100.0 * static_cast<double>(member.size()) / static_cast<double>(data.size()),
              runs);

  std::vector<double> ours, theirs, ratios, ours_cpu, theirs_cpu, cpu_ratios;
  std::size_t peak_ours = 0, peak_theirs = 0;
  for (int run = 0; run < runs; ++run) {
    // Alternate the order so that neither side always runs on a warmer machine.
    for (int side = 0; side < 2; ++side) {
      const bool gunzip_turn = (side == 0) == (run % 2 == 0);
      const std::size_t live_before = g_live;
      g_peak = g_live;
      const Stamp start = now();
      if (gunzip_turn) {
        auto out = korvane::gunzip(member);
        if (!out || out->size() != data.size()) std::abort();
        const Stamp t = since(start);
        if (!std::ranges::equal(*out, data)) std::abort();
        ours.push_back(t.wall);
        ours_cpu.push_back(t.cpu);
        peak_ours = std::max(peak_ours, g_peak - live_before);
      } else {
        if (one_shot(deflate, data.size()) != crc) std::abort();
        const Stamp t = since(start);
        theirs.push_back(t.wall);
        theirs_cpu.push_back(t.cpu);
        peak_theirs = std::max(peak_theirs, g_peak - live_before);
      }
    }
    ratios.push_back(ours.back() / theirs.back());
    cpu_ratios.push_back(ours_cpu.back() / theirs_cpu.back());
  }

  const double n = static_cast<double>(data.size());
  std::printf("gunzip:            median %.1f ms (min %.1f)\n", 1e3 * median(ours),
              1e3 * *std::min_element(ours.begin(), ours.end()));
  std::printf("zlib one-shot+crc: median %.1f ms (min %.1f)\n", 1e3 * median(theirs),
              1e3 * *std::min_element(theirs.begin(), theirs.end()));
  std::printf("time ratio gunzip/zlib: median of runs %.3f, of medians %.3f (wall)\n", median(ratios),
              median(ours) / median(theirs));
  std::printf("                       median of runs %.3f, of medians %.3f (thread CPU time)\n",
              median(cpu_ratios), median(ours_cpu) / median(theirs_cpu));
  std::printf("peak heap while decoding: gunzip %zu bytes (%.3f x decoded), zlib one-shot %zu (%.3f x)\n",
              peak_ours, static_cast<double>(peak_ours) / n, peak_theirs,
              static_cast<double>(peak_theirs) / n);

  // The peak depends on where the size falls within a growth step: sample
  // sizes across one step (a factor of 1.25) below the payload's.
  double worst = 0, best = 1e9;
  std::size_t smallest = data.size();
  for (int i = 0; i < 8; ++i) {
    const std::size_t size = static_cast<std::size_t>(n / (1.0 + 0.25 * i / 8.0));
    smallest = std::min(smallest, size);
    const auto part = std::span(data).first(size);
    Bytes m{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 0};
    const Bytes d = raw_deflate(part, 1);
    m.insert(m.end(), d.begin(), d.end());
    put_le32(m, static_cast<std::uint32_t>(crc32_z(0, part.data(), part.size())));
    put_le32(m, static_cast<std::uint32_t>(size));
    const std::size_t live_before = g_live;
    g_peak = g_live;
    if (auto out = korvane::gunzip(m); !out || out->size() != size) std::abort();
    const double ratio = static_cast<double>(g_peak - live_before) / static_cast<double>(size);
    worst = std::max(worst, ratio);
    best = std::min(best, ratio);
  }
  std::printf("peak heap over 8 sizes from %.1f to %.1f MB: %.3f to %.3f x decoded\n",
              static_cast<double>(smallest) / 1e6, n / 1e6, best, worst);
  return 0;
}
