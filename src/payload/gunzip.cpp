#include "payload/gunzip.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <string_view>

#include "payload/inflater.h"

namespace korvane {
namespace {

constexpr std::size_t kStagingSize = 0x8000;
// Output is asked for in pieces of at most this much, so that each piece is
// still in cache when the CRC-32 runs over it.
constexpr std::size_t kMaxOutputPiece = 256 * 1024;
constexpr std::size_t kMaxFieldLength = 65535;

constexpr std::uint8_t kFlagHeaderCrc = 0x02;
constexpr std::uint8_t kFlagExtra = 0x04;
constexpr std::uint8_t kFlagName = 0x08;
constexpr std::uint8_t kFlagComment = 0x10;
constexpr std::uint8_t kFlagsReserved = 0xE0;

constexpr std::string_view kInvalidHeader = "invalid gzip header";
constexpr std::string_view kFieldTooLong = "gzip header field too long";
constexpr std::string_view kChecksumMismatch = "corrupt gzip stream does not have a matching checksum";
constexpr std::string_view kCorruptDeflate = "corrupt deflate stream";
constexpr std::string_view kIncompleteDeflate = "incomplete deflate stream";

// The address space each output buffer reserves; smaller only in tests.
std::atomic<std::size_t> g_reservation{ByteBuffer::kDefaultReservation};

std::unexpected<IoError> invalid(std::string_view message) noexcept {
  return std::unexpected(IoError::with_message(ErrorKind::InvalidInput, message));
}
std::unexpected<IoError> truncated() noexcept {
  return std::unexpected(IoError::bare(ErrorKind::UnexpectedEof));
}

std::uint32_t le16(std::span<const std::uint8_t, 2> b) noexcept {
  return static_cast<std::uint32_t>(b[0] | (b[1] << 8));
}
std::uint32_t le32(std::span<const std::uint8_t, 4> b) noexcept {
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

// Reads the input through the zero-filled staging buffer, refilling it with
// the next piece of at most kStagingSize bytes whenever it runs empty.
class StagingReader {
 public:
  explicit StagingReader(std::span<const std::uint8_t> input)
      : input_(input), buffer_(std::make_unique<std::uint8_t[]>(kStagingSize)) {}

  // The staged bytes not yet consumed, refilled first if none are left.
  // Empty only at the end of the input.
  [[nodiscard]] std::span<const std::uint8_t> peek() noexcept {
    if (pos_ == fill_ && next_ < input_.size()) {
      fill_ = std::min(kStagingSize, input_.size() - next_);
      std::memcpy(buffer_.get(), input_.data() + next_, fill_);
      next_ += fill_;
      pos_ = 0;
    }
    return {buffer_.get() + pos_, fill_ - pos_};
  }
  // Drops the first `count` bytes of peek().
  void consume(std::size_t count) noexcept { pos_ += count; }
  // True once the last piece of the input has been staged.
  [[nodiscard]] bool input_staged() const noexcept { return next_ == input_.size(); }

  // Fills `out` completely; false when the input ends sooner.
  [[nodiscard]] bool read(std::span<std::uint8_t> out) noexcept {
    while (!out.empty()) {
      const auto staged = peek();
      if (staged.empty()) return false;
      const std::size_t n = std::min(staged.size(), out.size());
      std::memcpy(out.data(), staged.data(), n);
      consume(n);
      out = out.subspan(n);
    }
    return true;
  }

 private:
  std::span<const std::uint8_t> input_;
  std::size_t next_ = 0;  // offset in input_ of the first byte not yet staged
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t pos_ = 0;
  std::size_t fill_ = 0;
};

// CRC-32 of the header bytes read so far; kept only when FHCRC is set.
class HeaderCrc {
 public:
  explicit HeaderCrc(bool enabled) noexcept : enabled_(enabled) {}
  void feed(std::span<const std::uint8_t> bytes) noexcept {
    if (enabled_) crc_ = crc32_update(crc_, bytes);
  }
  [[nodiscard]] std::uint32_t value() const noexcept { return crc_; }

 private:
  bool enabled_;
  std::uint32_t crc_ = 0;
};

IoResult<void> read_fed(StagingReader& in, std::span<std::uint8_t> out, HeaderCrc& crc) noexcept {
  if (!in.read(out)) return truncated();
  crc.feed(out);
  return {};
}

// The extra data is not interpreted: it only passes through the header CRC.
IoResult<void> skip_fed(StagingReader& in, std::size_t count, HeaderCrc& crc) noexcept {
  while (count != 0) {
    const auto staged = in.peek();
    if (staged.empty()) return truncated();
    const auto piece = staged.first(std::min(count, staged.size()));
    crc.feed(piece);
    in.consume(piece.size());
    count -= piece.size();
  }
  return {};
}

// A name or comment: bytes up to and including the first zero byte.
IoResult<void> skip_zero_terminated(StagingReader& in, HeaderCrc& crc) noexcept {
  std::size_t held = 0;
  for (;;) {
    const auto staged = in.peek();
    if (staged.empty()) return truncated();
    const void* zero = std::memchr(staged.data(), 0, staged.size());
    const std::size_t run =
        zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - staged.data())
             : staged.size();
    // Every byte of the run is non-zero and already here: the limit is
    // broken as soon as one arrives with 65,535 held.
    if (run > kMaxFieldLength - held) return invalid(kFieldTooLong);
    held += run;
    const std::size_t taken = zero ? run + 1 : run;
    crc.feed(staged.first(taken));
    in.consume(taken);
    if (zero) return {};
  }
}

IoResult<void> parse_header(StagingReader& in) noexcept {
  std::array<std::uint8_t, 10> fixed{};
  // All ten bytes must be there before any of them is judged.
  if (!in.read(fixed)) return truncated();
  const std::uint8_t flags = fixed[3];
  if (fixed[0] != 0x1F || fixed[1] != 0x8B || fixed[2] != 8 || (flags & kFlagsReserved) != 0) {
    return invalid(kInvalidHeader);
  }
  // MTIME (bytes 4-7), XFL (8), OS (9) and FTEXT steer nothing here.

  HeaderCrc crc((flags & kFlagHeaderCrc) != 0);
  crc.feed(fixed);
  if ((flags & kFlagExtra) != 0) {
    std::array<std::uint8_t, 2> xlen{};
    if (auto r = read_fed(in, xlen, crc); !r) return r;
    if (auto r = skip_fed(in, le16(xlen), crc); !r) return r;
  }
  if ((flags & kFlagName) != 0) {
    if (auto r = skip_zero_terminated(in, crc); !r) return r;
  }
  if ((flags & kFlagComment) != 0) {
    if (auto r = skip_zero_terminated(in, crc); !r) return r;
  }
  if ((flags & kFlagHeaderCrc) != 0) {
    std::array<std::uint8_t, 2> stored{};
    if (!in.read(stored)) return truncated();
    if (le16(stored) != (crc.value() & 0xFFFF)) return invalid(kChecksumMismatch);
  }
  return {};
}

// Doubles the committed part of the output's reservation, or commits the
// rest of it when that is less. Committed pages that output has not yet
// reached take no memory, so a large step costs nothing but address space it
// already has, and keeps the commit calls few (about 14 for 40 MB).
[[nodiscard]] bool grow(ByteBuffer& out) noexcept {
  const std::size_t capacity = out.capacity();
  if (capacity == 0) {
    // The reservation and its first page: fixed working memory.
    if (!out.try_set_capacity(1)) std::terminate();
    return true;
  }
  if (capacity == out.reservation()) return false;
  return out.try_set_capacity(capacity + std::min(capacity, out.reservation() - capacity));
}

struct Inflated {
  ByteBuffer data;
  std::uint32_t crc;
  std::uint32_t count;  // the output length modulo 2^32, as ISIZE holds it
};

IoResult<Inflated> inflate_member(StagingReader& in) noexcept {
  Inflater inflater = Inflater::raw();
  Inflated result{ByteBuffer(g_reservation.load(std::memory_order_relaxed)), 0, 0};
  ByteBuffer& out = result.data;
  for (;;) {
    // A full buffer that cannot grow still gets a call with no room: the
    // rest of the stream may hold no more output (its end-of-block code).
    const bool full = out.size() == out.capacity() && !grow(out);
    const auto staged = in.peek();
    // zlib is told to finish only once nothing of the input is left unstaged.
    const bool finish = in.input_staged();
    const auto room = out.spare().first(std::min(out.spare().size(), kMaxOutputPiece));
    const Inflater::Step step = inflater.inflate(staged, room, finish);

    const auto piece = room.first(step.produced);
    result.crc = crc32_update(result.crc, piece);
    result.count += static_cast<std::uint32_t>(step.produced);
    out.commit(step.produced);
    in.consume(step.consumed);

    switch (step.status) {
      case Inflater::Status::StreamEnd: return result;
      case Inflater::Status::DataError: return invalid(kCorruptDeflate);
      case Inflater::Status::Progress: break;
    }
    if (full && step.consumed == 0) {
      // zlib needs room for output, and the buffer has none to give.
      return std::unexpected(IoError::bare(ErrorKind::OutOfMemory));
    }
    // zlib stopped with room to spare after taking every byte there is: it
    // needs input that does not exist, and has no output left to give.
    if (finish && step.consumed == staged.size() && step.produced < room.size()) {
      return std::unexpected(IoError::with_message(ErrorKind::UnexpectedEof, kIncompleteDeflate));
    }
  }
}

}  // namespace

IoResult<ByteBuffer> gunzip(std::span<const std::uint8_t> input) noexcept {
  StagingReader in(input);
  if (auto header = parse_header(in); !header) return std::unexpected(header.error());

  auto inflated = inflate_member(in);
  if (!inflated) return std::unexpected(inflated.error());

  // The trailer starts with the first byte zlib left unconsumed.
  std::array<std::uint8_t, 8> trailer{};
  if (!in.read(trailer)) return truncated();
  if (le32(std::span(trailer).first<4>()) != inflated->crc ||
      le32(std::span(trailer).last<4>()) != inflated->count) {
    return invalid(kChecksumMismatch);
  }

  ByteBuffer out = std::move(inflated->data);
  // Up to half of the committed pages are spare: hand them back to the
  // system (shrinking cannot fail).
  (void)out.try_set_capacity(out.size());
  return out;
}

void set_growth_failure_for_testing(std::size_t max_capacity) noexcept {
  g_reservation.store(max_capacity == kNoGrowthFailure ? ByteBuffer::kDefaultReservation : max_capacity,
                      std::memory_order_relaxed);
}

}  // namespace korvane
