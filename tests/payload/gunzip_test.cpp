#include "payload/gunzip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <string>

#include "core/address_space.h"
#include "payload/gzip_builder.h"

namespace korvane {
namespace {

using gz::Bytes;
using gz::hex;

const IoError kEof = IoError::bare(ErrorKind::UnexpectedEof);
const IoError kBadHeader = IoError::with_message(ErrorKind::InvalidInput, "invalid gzip header");
const IoError kTooLong = IoError::with_message(ErrorKind::InvalidInput, "gzip header field too long");
const IoError kChecksum = IoError::with_message(
    ErrorKind::InvalidInput, "corrupt gzip stream does not have a matching checksum");
const IoError kCorrupt = IoError::with_message(ErrorKind::InvalidInput, "corrupt deflate stream");
const IoError kIncomplete = IoError::with_message(ErrorKind::UnexpectedEof, "incomplete deflate stream");
const IoError kOutOfMemory = IoError::bare(ErrorKind::OutOfMemory);

std::string describe(const IoError& e) {
  return "kind " + std::to_string(static_cast<int>(e.kind())) + " \"" + std::string(e.message()) + "\"";
}

// The error of decoding `input`, or a failure when it decodes.
testing::AssertionResult fails_with(std::span<const std::uint8_t> input, const IoError& want) {
  const auto got = gunzip(input);
  if (got) return testing::AssertionFailure() << "decoded " << got->size() << " bytes";
  if (got.error() != want) return testing::AssertionFailure() << "got " << describe(got.error());
  return testing::AssertionSuccess();
}

testing::AssertionResult decodes_to(std::span<const std::uint8_t> input,
                                    std::span<const std::uint8_t> want) {
  const auto got = gunzip(input);
  if (!got) return testing::AssertionFailure() << "error " << describe(got.error());
  if (*got != want) {
    return testing::AssertionFailure() << "decoded " << got->size() << " bytes, want " << want.size();
  }
  return testing::AssertionSuccess();
}

// Undoes set_growth_failure_for_testing at the end of the scope.
class ScopedGrowthFailure {
 public:
  explicit ScopedGrowthFailure(std::size_t max_capacity) {
    set_growth_failure_for_testing(max_capacity);
  }
  ~ScopedGrowthFailure() { set_growth_failure_for_testing(kNoGrowthFailure); }
  ScopedGrowthFailure(const ScopedGrowthFailure&) = delete;
  ScopedGrowthFailure& operator=(const ScopedGrowthFailure&) = delete;
};

// "hello" as a fixed-Huffman block, by zlib.
const Bytes kHelloDeflate = hex("cb 48 cd c9 c9 07 00");
const Bytes kHello = gz::bytes_of("hello");
// A plain header: FLG 0, MTIME 0, XFL 0, OS 255.
constexpr std::string_view kPlainHeader = "1f 8b 08 00 00 00 00 00 00 ff";

Bytes hello_member_with_header(std::string_view header_hex) {
  return gz::concat({hex(header_hex), kHelloDeflate, gz::trailer(kHello)});
}

TEST(Gunzip, HandMadeMemberDecodes) {
  EXPECT_TRUE(decodes_to(hello_member_with_header(kPlainHeader), kHello));
  EXPECT_TRUE(decodes_to(hex("1f 8b 08 00 00000000 00 ff 03 00 00000000 00000000"), Bytes{}));
}

TEST(Gunzip, FewerThanTenBytesAreBareEof) {
  static constexpr std::string_view kCases[] = {
      "",                            // empty input
      "1f",                          //
      "1f 8b",                       //
      "1f 8b 08 00 00 00 00 00 00",  // nine bytes of a good header
      "00",                          // not gzip at all, but too short to tell
      "ff ff ff ff ff ff ff ff ff",  //
      "1f 8b 07 e0",                 // bad method and flags, still too short
  };
  for (const auto input : kCases) EXPECT_TRUE(fails_with(hex(input), kEof)) << input;
}

TEST(Gunzip, HeaderDefectsTable) {
  static constexpr struct {
    std::string_view input;
    std::string_view why;
    bool eof;  // bare UnexpectedEof; otherwise "invalid gzip header"
  } kCases[] = {
      {"1e 8b 08 00 00000000 00 ff 03 00 00000000 00000000", "bad ID1", false},
      {"1f 8c 08 00 00000000 00 ff 03 00 00000000 00000000", "bad ID2", false},
      {"1f 8b 07 00 00000000 00 ff 03 00 00000000 00000000", "method 7", false},
      {"1f 8b 09 00 00000000 00 ff 03 00 00000000 00000000", "method 9", false},
      {"1f 8b 08 20 00000000 00 ff 03 00 00000000 00000000", "FLG 0x20", false},
      {"1f 8b 08 40 00000000 00 ff 03 00 00000000 00000000", "FLG 0x40", false},
      {"1f 8b 08 80 00000000 00 ff 03 00 00000000 00000000", "FLG 0x80", false},
      {"1f 8b 08 ff 00000000 00 ff", "all flags", false},
      {"1f 8b 08 e0 00000000 00 ff", "reserved flags, header only", false},
      {"1f 8b 08 04 00000000 00 ff", "FEXTRA, no XLEN", true},
      {"1f 8b 08 04 00000000 00 ff 05", "inside XLEN", true},
      {"1f 8b 08 04 00000000 00 ff 05 00 aa bb", "inside the extra data", true},
      {"1f 8b 08 04 00000000 00 ff ff ff", "XLEN 65535, no data", true},
      {"1f 8b 08 08 00000000 00 ff", "FNAME, nothing", true},
      {"1f 8b 08 08 00000000 00 ff 61 62 63", "inside the name", true},
      {"1f 8b 08 10 00000000 00 ff 61 62 63", "inside the comment", true},
      {"1f 8b 08 18 00000000 00 ff 61 00 62", "name done, inside the comment", true},
      {"1f 8b 08 02 00000000 00 ff", "FHCRC, no CRC", true},
      {"1f 8b 08 02 00000000 00 ff 12", "inside the header CRC", true},
      {"1f 8b 08 1e 00000000 00 ff 01 00 99 61 00 62 00 12", "all parts, inside the CRC", true},
  };
  for (const auto& c : kCases) {
    EXPECT_TRUE(fails_with(hex(c.input), c.eof ? kEof : kBadHeader)) << c.why;
  }
}

TEST(Gunzip, ReservedFlagsRejectAnOtherwiseValidMember) {
  for (const std::uint8_t flag : {0x20, 0x40, 0x80}) {
    const Bytes m = gz::member(kHello, {.flags = flag});
    EXPECT_TRUE(fails_with(m, kBadHeader)) << int{flag};
  }
}

TEST(Gunzip, FtextMtimeXflAndOsChangeNothing) {
  EXPECT_TRUE(decodes_to(gz::member(kHello, {.flags = 0x01}), kHello));
  EXPECT_TRUE(decodes_to(gz::member(kHello, {.mtime = 0xDEADBEEF, .xfl = 4, .os = 0}), kHello));
  EXPECT_TRUE(decodes_to(gz::member(kHello, {.xfl = 2, .os = 3}), kHello));
}

TEST(Gunzip, ExtraFieldOfAnyLength) {
  for (const std::size_t xlen : {0u, 1u, 4u, 32767u, 32768u, 65535u}) {
    Bytes extra(xlen, 0xAB);
    // Subfields are not interpreted: zero bytes inside are plain data.
    if (xlen > 2) extra[1] = 0;
    EXPECT_TRUE(decodes_to(gz::member(kHello, {.extra = extra}), kHello)) << xlen;
    EXPECT_TRUE(decodes_to(gz::member(kHello, {.extra = extra, .header_crc = true}), kHello)) << xlen;
  }
}

TEST(Gunzip, NameAndCommentUpTo65535Bytes) {
  const std::string longest(65535, 'n');
  EXPECT_TRUE(decodes_to(gz::member(kHello, {.name = longest}), kHello));
  EXPECT_TRUE(decodes_to(gz::member(kHello, {.comment = longest}), kHello));
  EXPECT_TRUE(decodes_to(gz::member(kHello, {.name = longest, .comment = longest, .header_crc = true}),
                         kHello));
  EXPECT_TRUE(decodes_to(gz::member(kHello, {.name = "", .comment = ""}), kHello));
}

TEST(Gunzip, NameOrCommentOf65536BytesIsTooLong) {
  const std::string too_long(65536, 'n');
  EXPECT_TRUE(fails_with(gz::member(kHello, {.name = too_long}), kTooLong));
  EXPECT_TRUE(fails_with(gz::member(kHello, {.comment = too_long}), kTooLong));
  EXPECT_TRUE(fails_with(gz::member(kHello, {.name = "ok", .comment = too_long}), kTooLong));
  // The limit reports before a later header CRC mismatch would.
  EXPECT_TRUE(fails_with(gz::member(kHello, {.name = too_long, .header_crc = true, .header_crc_xor = 1}),
                         kTooLong));
}

TEST(Gunzip, TooLongIsReportedWhenTheByteArrivesEvenIfInputEnds) {
  const Bytes h = gz::header({.name = std::string(70000, 'n')});
  const std::size_t name_start = 10;
  // 65,535 name bytes and the end: still short of the limit, so end of file.
  EXPECT_TRUE(fails_with(std::span(h).first(name_start + 65535), kEof));
  // The 65,536th non-zero byte has arrived: too long, the end notwithstanding.
  EXPECT_TRUE(fails_with(std::span(h).first(name_start + 65536), kTooLong));
}

TEST(Gunzip, HeaderCrcRightAndWrong) {
  EXPECT_TRUE(decodes_to(gz::member(kHello, {.header_crc = true}), kHello));
  EXPECT_TRUE(decodes_to(gz::member(kHello, {.extra = Bytes{1, 2}, .name = "a.txt", .comment = "c",
                                             .header_crc = true}),
                         kHello));
  for (const std::uint16_t damage : {0x0001, 0x8000, 0xFFFF}) {
    EXPECT_TRUE(fails_with(gz::member(kHello, {.name = "a.txt", .header_crc = true,
                                               .header_crc_xor = damage}),
                           kChecksum))
        << damage;
  }
}

TEST(Gunzip, HeaderCrcCoversEveryHeaderByte) {
  // Change one byte of the header after the CRC was computed: the stored CRC
  // no longer matches, whichever byte it is.
  const Bytes good = gz::member(kHello, {.flags = 0x01, .mtime = 7, .extra = Bytes{1, 2, 3},
                                         .name = "n", .comment = "c", .header_crc = true});
  // Layout: 0-9 fixed, 10-11 XLEN, 12-14 extra, 15-16 "n\0", 17-18 "c\0",
  // 19-20 the CRC. Changes that keep the layout: FTEXT in FLG, and any data byte.
  static constexpr struct {
    std::size_t at;
    std::uint8_t flip;
  } kChanges[] = {{3, 0x01},  {4, 0x40},  {7, 0x40},  {8, 0x40},  {9, 0x40},
                  {12, 0x40}, {14, 0x40}, {15, 0x40}, {17, 0x40}};
  ASSERT_TRUE(decodes_to(good, kHello));
  for (const auto& c : kChanges) {
    Bytes bad = good;
    bad[c.at] ^= c.flip;
    EXPECT_TRUE(fails_with(bad, kChecksum)) << "byte " << c.at;
  }
}

TEST(Gunzip, WrongHeaderCrcIsFoundBeforeInflating) {
  const Bytes m = gz::concat({gz::header({.header_crc = true, .header_crc_xor = 1}), hex("07 00 00")});
  EXPECT_TRUE(fails_with(m, kChecksum));
}

TEST(Gunzip, HeaderOnlyIsIncompleteDeflate) {
  EXPECT_TRUE(fails_with(hex(kPlainHeader), kIncomplete));
  EXPECT_TRUE(fails_with(gz::header({.name = "x", .header_crc = true}), kIncomplete));
}

// Every cut of a member with all optional header parts, with the error
// belonging to the region the cut falls in.
TEST(Gunzip, EveryTruncationGivesTheErrorOfItsRegion) {
  const Bytes data = gz::sample_data(3000);
  const gz::Header h{.extra = Bytes{9, 8, 7}, .name = "name.bin", .comment = "a comment",
                     .header_crc = true};
  const Bytes head = gz::header(h);
  const Bytes deflate = gz::zlib_deflate(data, 6, Z_DEFAULT_STRATEGY);
  const Bytes m = gz::member(data, deflate, h);
  const std::size_t deflate_end = head.size() + deflate.size();
  for (std::size_t cut = 0; cut < m.size(); ++cut) {
    const IoError& want = cut < head.size() ? kEof : cut < deflate_end ? kIncomplete : kEof;
    ASSERT_TRUE(fails_with(std::span(m).first(cut), want)) << "cut at " << cut << " of " << m.size();
  }
  EXPECT_TRUE(decodes_to(m, data));
}

TEST(Gunzip, TrailerMismatchesAreChecksumErrors) {
  const Bytes data = gz::sample_data(1000);
  const Bytes good = gz::member(data);
  const std::size_t crc_at = good.size() - 8;
  const std::size_t size_at = good.size() - 4;
  static constexpr struct {
    int offset;  // 0-3 CRC-32, 4-7 ISIZE
    int delta;
    std::string_view why;
  } kCases[] = {
      {0, 1, "CRC low byte + 1"},   {3, 0x80, "CRC high bit"}, {4, 1, "ISIZE + 1"},
      {4, -1, "ISIZE - 1"},         {7, 1, "ISIZE + 2^24"},   {2, 0xFF, "CRC byte 2"},
  };
  for (const auto& c : kCases) {
    Bytes bad = good;
    const std::size_t at = crc_at + static_cast<std::size_t>(c.offset);
    bad[at] = static_cast<std::uint8_t>(bad[at] + c.delta);
    EXPECT_TRUE(fails_with(bad, kChecksum)) << c.why;
  }
  // ISIZE is compared modulo 2^32 only, and never used to size the output:
  // a huge ISIZE is a checksum error, not a memory error.
  Bytes huge = good;
  huge[size_at + 3] = 0xFF;
  EXPECT_TRUE(fails_with(huge, kChecksum));
}

TEST(Gunzip, StoredBlocksByHand) {
  const Bytes data = gz::sample_data(200000);
  for (const std::size_t block : {1u, 100u, 65535u}) {
    const Bytes deflate = gz::stored_blocks(data, block);
    ASSERT_EQ(gz::first_block_type(deflate), 0);
    EXPECT_TRUE(decodes_to(gz::member(data, deflate), data)) << block;
  }
  // An empty stored block before the final one.
  EXPECT_TRUE(decodes_to(gz::member(kHello, gz::concat({hex("00 0000 ffff"), gz::stored_blocks(kHello)})),
                         kHello));
}

TEST(Gunzip, FixedBlockByHand) {
  // "abcabcabc": three literals, then length 6 at distance 3 (codes 260, 2).
  gz::BitWriter w;
  w.bits(1, 1);  // BFINAL
  w.bits(1, 2);  // BTYPE 01: fixed Huffman
  for (const char c : std::string_view("abc")) w.fixed_symbol(c);
  w.fixed_symbol(260);  // length 6
  w.code(2, 5);         // distance 3
  w.fixed_symbol(256);  // end of block
  const Bytes deflate = w.finish();
  EXPECT_TRUE(decodes_to(gz::member(gz::bytes_of("abcabcabc"), deflate), gz::bytes_of("abcabcabc")));
}

TEST(Gunzip, BlocksOfEveryTypeFromZlib) {
  const Bytes data = gz::sample_data(100000);
  static constexpr struct {
    int level;
    int strategy;
    int block_type;
  } kCases[] = {
      {0, Z_DEFAULT_STRATEGY, 0},  // stored
      {6, Z_FIXED, 1},             // fixed Huffman
      {6, Z_DEFAULT_STRATEGY, 2},  // dynamic Huffman
      {1, Z_DEFAULT_STRATEGY, 2},  // the payloads' level
      {9, Z_HUFFMAN_ONLY, 2},      //
      {6, Z_RLE, 2},               //
  };
  for (const auto& c : kCases) {
    const Bytes deflate = gz::zlib_deflate(data, c.level, c.strategy);
    ASSERT_EQ(gz::first_block_type(deflate), c.block_type) << c.level << "/" << c.strategy;
    EXPECT_TRUE(decodes_to(gz::member(data, deflate), data)) << c.level << "/" << c.strategy;
  }
}

TEST(Gunzip, InvalidDeflateDataTable) {
  static constexpr struct {
    std::string_view deflate;
    std::string_view why;
  } kCases[] = {
      {"07", "reserved block type 3, final"},
      {"06", "reserved block type 3, not final"},
      {"01 05 00 00 00", "stored LEN does not match NLEN"},
      // BFINAL 1, fixed; length 3 (code 257) at distance 1 with no output yet.
      {"03 02 00", "distance too far back"},
      // BFINAL 1, fixed, then literal/length symbol 286, which does not exist.
      {"1b 03", "invalid literal/length code 286"},
      // Dynamic block: HLIT 257, HDIST 1, HCLEN 4, four code length codes of length 1.
      {"05 00 92 04", "over-subscribed code length code"},
  };
  for (const auto& c : kCases) {
    const Bytes m = gz::concat({hex(kPlainHeader), hex(c.deflate), Bytes(8, 0)});
    EXPECT_TRUE(fails_with(m, kCorrupt)) << c.why;
  }
}

TEST(Gunzip, CorruptionAfterMuchOutputDiscardsIt) {
  const Bytes data = gz::sample_data(500000);
  Bytes deflate = gz::stored_blocks(data, 60000);
  // The fourth stored block's NLEN no longer matches its LEN.
  deflate[3 * 60005 + 3] ^= 0x01;
  EXPECT_TRUE(fails_with(gz::member(data, deflate), kCorrupt));
}

TEST(Gunzip, EmptyMember) {
  const Bytes empty;
  EXPECT_TRUE(decodes_to(gz::member(empty), empty));
  EXPECT_TRUE(decodes_to(gz::member(empty, gz::stored_blocks(empty)), empty));
  EXPECT_TRUE(decodes_to(gz::member(empty, gz::zlib_deflate(empty, 0, Z_DEFAULT_STRATEGY)), empty));
}

TEST(Gunzip, OnlyTheFirstMemberIsDecoded) {
  const Bytes first = gz::sample_data(5000, 1);
  const Bytes second = gz::sample_data(7000, 2);
  EXPECT_TRUE(decodes_to(gz::concat({gz::member(first), gz::member(second)}), first));
  // Even when the second member is broken.
  EXPECT_TRUE(decodes_to(gz::concat({gz::member(first), hex("1f 8b 08 e0 ff ff")}), first));
}

TEST(Gunzip, BytesAfterTheTrailerAreIgnored) {
  const Bytes m = gz::member(kHello);
  for (const Bytes& garbage : {Bytes(1, 0), Bytes(100, 0), Bytes(70000, 0xFF), hex("1f"),
                               gz::sample_data(40000)}) {
    EXPECT_TRUE(decodes_to(gz::concat({m, garbage}), kHello)) << garbage.size();
  }
}

TEST(Gunzip, SameSpanTwiceGivesIdenticalBuffers) {
  const Bytes data = gz::sample_data(300000);
  const Bytes m = gz::member(data);
  const auto a = gunzip(m);
  const auto b = gunzip(m);
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(*a == *b);
  EXPECT_TRUE(*a == std::span<const std::uint8_t>(data));
  const Bytes bad = gz::concat({hex(kPlainHeader), hex("07")});
  EXPECT_EQ(gunzip(bad).error(), gunzip(bad).error());
}

TEST(Gunzip, ResultHoldsExactlyTheData) {
  const Bytes data = gz::sample_data(123457);
  const auto got = gunzip(gz::member(data));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->size(), data.size());
  // The committed pages beyond the data are handed back.
  EXPECT_GE(got->capacity(), data.size());
  EXPECT_LT(got->capacity() - data.size(), address_space::page_size());
  EXPECT_EQ(got->reservation(), ByteBuffer::kDefaultReservation);
}

TEST(Gunzip, OutputBeyondTheReservationIsOutOfMemory) {
  const std::size_t page = address_space::page_size();
  const Bytes data = gz::sample_data(100000);
  const Bytes m = gz::member(data);
  {
    const ScopedGrowthFailure limit(50000);
    EXPECT_TRUE(fails_with(m, kOutOfMemory));
    // Room enough: the limit alone does not fail a decode.
    EXPECT_TRUE(decodes_to(gz::member(kHello), kHello));
  }
  {
    // Only the reservation's first page, fixed working memory, is there.
    const ScopedGrowthFailure limit(0);
    EXPECT_TRUE(decodes_to(gz::member(gz::sample_data(page)), gz::sample_data(page)));
    EXPECT_TRUE(fails_with(gz::member(gz::sample_data(page + 1)), kOutOfMemory));
  }
  {
    // Exactly the reservation: 1, 2, then 3 pages (the rest, less than double).
    const ScopedGrowthFailure limit(3 * page);
    EXPECT_TRUE(decodes_to(gz::member(gz::sample_data(3 * page)), gz::sample_data(3 * page)));
    EXPECT_TRUE(fails_with(gz::member(gz::sample_data(3 * page + 1)), kOutOfMemory));
  }
  EXPECT_TRUE(decodes_to(m, data));
}

TEST(Gunzip, HeaderErrorsComeBeforeAMemoryLimit) {
  const ScopedGrowthFailure limit(0);
  EXPECT_TRUE(fails_with(gz::member(gz::sample_data(1000), {.flags = 0x20}), kBadHeader));
}

TEST(Gunzip, PayloadSizedMemberCrossesManyRefills) {
  // 8 MiB of output from about 4 MB of input: over a hundred 32 KiB staging pieces.
  const Bytes data = gz::sample_data(8 << 20, 7);
  const Bytes deflate = gz::zlib_deflate(data, 1, Z_DEFAULT_STRATEGY);
  ASSERT_GT(deflate.size(), 100u * 0x8000);
  EXPECT_TRUE(decodes_to(gz::member(data, deflate, {.xfl = 4, .os = 0}), data));
}

TEST(Gunzip, HighlyCompressedOutputInLargePieces) {
  // 16 MiB of zeros from about 16 KB: one staged piece yields many output pieces.
  const Bytes data(16 << 20, 0);
  EXPECT_TRUE(decodes_to(gz::member(data, gz::zlib_deflate(data, 9, Z_DEFAULT_STRATEGY)), data));
}

TEST(Gunzip, TrailerStraddlingAStagingBoundary) {
  // A stored block sized so that header + DEFLATE data end `before` bytes
  // short of the 32 KiB boundary: the trailer is split across two pieces.
  for (std::size_t before = 0; before <= 8; ++before) {
    const std::size_t data_size = 0x8000 - before - 10 - 5;
    const Bytes data = gz::sample_data(data_size, 3);
    const Bytes m = gz::member(data, gz::stored_blocks(data));
    ASSERT_EQ(m.size(), 0x8000 - before + 8);
    EXPECT_TRUE(decodes_to(m, data)) << before;
    EXPECT_TRUE(fails_with(std::span(m).first(m.size() - 1), kEof)) << before;
    Bytes bad = m;
    bad.back() ^= 0x01;
    EXPECT_TRUE(fails_with(bad, kChecksum)) << before;
  }
}

TEST(Gunzip, DeflateEndingOnAStagingBoundary) {
  // The DEFLATE data ends exactly at 32 KiB and at 64 KiB; the input ends there too.
  for (const std::size_t end : {0x8000u, 0x10000u}) {
    // Stored blocks of up to 65,535 bytes, 5 header bytes each.
    std::size_t data_size = 0;
    for (std::size_t blocks = 1;; ++blocks) {
      data_size = end - 10 - 5 * blocks;
      if ((data_size + 65534) / 65535 == blocks) break;
    }
    const Bytes data = gz::sample_data(data_size, 4);
    const Bytes deflate = gz::stored_blocks(data);
    ASSERT_EQ(10 + deflate.size(), end);
    const Bytes m = gz::member(data, deflate);
    EXPECT_TRUE(decodes_to(m, data)) << end;
    EXPECT_TRUE(fails_with(std::span(m).first(end), kEof)) << end;
    EXPECT_TRUE(fails_with(std::span(m).first(end - 1), kIncomplete)) << end;
  }
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Gunzip, MembersMadeByGzipAndPython) {
  const std::string dir = KORVANE_TOOL_MEMBERS_DIR;
  const Bytes input = read_file(dir + "/input.bin");
  ASSERT_GT(input.size(), 100000u);
  static constexpr struct {
    std::string_view file;
    bool named;
  } kCases[] = {
      {"gzip_named.gz", true},
      {"gzip_nameless.gz", false},
      {"python_named.gz", true},
      {"python_plain.gz", false},
  };
  for (const auto& c : kCases) {
    const Bytes m = read_file(dir + "/" + std::string(c.file));
    ASSERT_GE(m.size(), 18u) << c.file;
    // The header really is what the case claims.
    EXPECT_EQ((m[3] & 0x08) != 0, c.named) << c.file;
    EXPECT_TRUE(decodes_to(m, input)) << c.file;
  }
}

}  // namespace
}  // namespace korvane
