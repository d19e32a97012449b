// Writes the fuzz target's seed corpus into the folder named by argv[1]:
// good members of every shape, and broken ones of every error.

#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "payload/gzip_builder.h"

namespace gz = korvane::gz;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const gz::Bytes hello = gz::bytes_of("hello");
  const gz::Bytes text = gz::sample_data(3000, 1);
  const gz::Bytes big = gz::sample_data(40000, 2);
  std::vector<gz::Bytes> seeds = {
      gz::hex("1f 8b 08 00 00000000 00 ff 03 00 00000000 00000000"),
      gz::member(hello),
      gz::member(hello, {.flags = 0x01}),
      gz::member(hello, {.extra = gz::Bytes{1, 2, 3, 4}, .name = "a.txt", .comment = "note",
                         .header_crc = true}),
      gz::member(hello, {.name = "x", .header_crc = true, .header_crc_xor = 1}),
      gz::member(hello, {.flags = 0x20}),
      gz::member(text, gz::stored_blocks(text, 1000)),
      gz::member(text, gz::zlib_deflate(text, 6, Z_FIXED)),
      gz::member(text, gz::zlib_deflate(text, 1, Z_DEFAULT_STRATEGY)),
      gz::member(text, gz::zlib_deflate(text, 9, Z_HUFFMAN_ONLY)),
      gz::member(big, gz::zlib_deflate(big, 1, Z_DEFAULT_STRATEGY), {.xfl = 4, .os = 0}),
      gz::concat({gz::member(hello), gz::member(text)}),
      gz::concat({gz::member(hello), gz::Bytes(16, 0xFF)}),
      gz::concat({gz::header({}), gz::hex("07")}),
      gz::concat({gz::header({}), gz::hex("03 02 00")}),
      gz::member(hello, {.name = std::string(1000, 'n')}),
  };
  gz::Bytes cut = gz::member(text);
  cut.resize(cut.size() - 3);
  seeds.push_back(std::move(cut));
  gz::Bytes bad_crc = gz::member(text);
  bad_crc[bad_crc.size() - 8] ^= 1;
  seeds.push_back(std::move(bad_crc));

  for (std::size_t i = 0; i < seeds.size(); ++i) {
    const std::string path = std::string(argv[1]) + "/seed_" + std::to_string(i) + ".gz";
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(seeds[i].data()), static_cast<std::streamsize>(seeds[i].size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  std::printf("%zu seeds in %s\n", seeds.size(), argv[1]);
  return 0;
}
