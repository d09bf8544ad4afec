// The compression containers: round trips at every level, encoders that report the room they
// need, decoders that refuse every cut-short or lengthened stream, the output limit, and the
// allocations a decoder makes when the data claims a size (watched through this program's
// operator new, which records the largest request while a test asks it to).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "runtime/compression.h"

namespace {

bool watching = false;
size_t largest_request = 0;

}  // namespace

void* operator new(size_t size) {
  if (watching) largest_request = std::max(largest_request, size);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
// Not inlined: the compiler would see free() meet a pointer from operator new and warn.
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

using compression::Method;
using compression::Status;
using Bytes = std::vector<uint8_t>;

constexpr Method kMethods[] = {compression::ZLIB, compression::DEFLATE, compression::GZIP,
                               compression::ZSTD};

// The largest allocation made while it lives.
struct Watch {
  Watch() {
    largest_request = 0;
    watching = true;
  }
  ~Watch() { watching = false; }
  size_t largest() const { return largest_request; }
};

Bytes random_bytes(size_t n, uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(n);
  for (auto& b : bytes) b = uint8_t(generator());
  return bytes;
}

Bytes text_bytes(size_t n) {
  static const char* words[] = {"alpha ", "beta ", "gamma ", "delta\n", "epsilon "};
  Bytes bytes;
  for (size_t i = 0; bytes.size() < n; i++) {
    for (const char* c = words[(i * 7) % 5]; *c && bytes.size() < n; c++) bytes.push_back(*c);
  }
  return bytes;
}

Bytes encoded(Method method, const Bytes& data, int32_t level = compression::kDefaultLevel) {
  uint32_t size = uint32_t(data.size() / 2048 + data.size() + 32);
  Bytes out(size);
  Status status = compression::encode(method, out.data(), size, data.data(),
                                      uint32_t(data.size()), level);
  if (status == compression::kTooSmall) {
    out.resize(size);
    status = compression::encode(method, out.data(), size, data.data(), uint32_t(data.size()),
                                 level);
  }
  EXPECT_EQ(status, compression::kOk);
  out.resize(size);
  return out;
}

Status decoded(Method method, const Bytes& stream, Bytes& out,
               uint64_t limit = compression::kFreeOutput) {
  return compression::decode(method, stream.data(), stream.size(), limit, 0, out);
}

TEST(Compression, EveryMethodAndLevelRoundTrips) {
  const Bytes shapes[] = {Bytes{}, Bytes{42}, text_bytes(70'000), random_bytes(20'000, 1),
                          Bytes(300'000, 0)};
  for (Method method : kMethods) {
    for (int32_t level = 1; level <= compression::max_level(method); level++) {
      for (const Bytes& data : shapes) {
        Bytes out;
        ASSERT_EQ(decoded(method, encoded(method, data, level), out), compression::kOk)
            << method << " level " << level << " size " << data.size();
        ASSERT_EQ(out, data) << method << " level " << level;
      }
    }
  }
}

// Python's zlib.decompress with the matching window bits reads what the encoders write; here
// zlib's own one-shot inflate stands for it on the zlib container.
TEST(Compression, ZlibContainerIsReadByZlibItself) {
  const Bytes data = text_bytes(50'000);
  for (int32_t level : {1, 5, 6, 9, compression::kDefaultLevel}) {
    Bytes stream = encoded(compression::ZLIB, data, level);
    Bytes out(data.size());
    uLongf size = out.size();
    ASSERT_EQ(::uncompress(out.data(), &size, stream.data(), stream.size()), Z_OK);
    EXPECT_EQ(size, data.size());
    EXPECT_EQ(out, data);
  }
}

TEST(Compression, EncodersSayHowMuchRoomTheyNeed) {
  const Bytes data = random_bytes(10'000, 2);
  for (Method method : kMethods) {
    Bytes out(40);
    uint32_t size = 40;
    ASSERT_EQ(compression::encode(method, out.data(), size, data.data(), uint32_t(data.size()),
                                  compression::kDefaultLevel),
              compression::kTooSmall)
        << method;
    ASSERT_GT(size, data.size()) << method;
    out.resize(size);
    ASSERT_EQ(compression::encode(method, out.data(), size, data.data(), uint32_t(data.size()),
                                  compression::kDefaultLevel),
              compression::kOk)
        << method;
  }
  // Below the containers' fixed bytes.
  Bytes out(10);
  uint32_t size = 10;
  EXPECT_EQ(compression::encode_gzip(out.data(), size, data.data(), 100, 6),
            compression::kTooSmall);
  EXPECT_EQ(size, 118u);
  size = 5;
  EXPECT_EQ(compression::encode_zlib(out.data(), size, data.data(), 100, 6),
            compression::kTooSmall);
  EXPECT_EQ(size, 106u);
  // gzip data is copied as it is, when it fits.
  const Bytes gzip = encoded(compression::GZIP, data);
  Bytes copy(gzip.size());
  size = uint32_t(gzip.size() - 1);
  EXPECT_EQ(compression::encode_gzip(copy.data(), size, gzip.data(), uint32_t(gzip.size()), 6),
            compression::kTooSmall);
  EXPECT_EQ(size, gzip.size());
  EXPECT_EQ(compression::encode_gzip(copy.data(), size, gzip.data(), uint32_t(gzip.size()), 6),
            compression::kOk);
  EXPECT_EQ(copy, gzip);
}

// Every proper prefix of a stream, and the stream with a byte more, is refused.
TEST(Compression, CutOrLengthenedStreamsAreCorrupt) {
  const Bytes data = text_bytes(3000);
  for (Method method : kMethods) {
    const Bytes stream = encoded(method, data);
    for (size_t n = 0; n < stream.size(); n++) {
      Bytes prefix(stream.begin(), stream.begin() + n), out;
      ASSERT_EQ(decoded(method, prefix, out), compression::kCorrupt) << method << " " << n;
      ASSERT_TRUE(out.empty());
    }
    Bytes longer = stream, out;
    longer.push_back(0);
    EXPECT_EQ(decoded(method, longer, out), compression::kCorrupt) << method;
  }
}

TEST(Compression, OutputStopsAtTheLimit) {
  const Bytes data = text_bytes(100'000);
  for (Method method : kMethods) {
    const Bytes stream = encoded(method, data);
    Bytes out;
    EXPECT_EQ(decoded(method, stream, out, data.size()), compression::kOk) << method;
    EXPECT_EQ(out, data);
    Watch watch;
    EXPECT_EQ(decoded(method, stream, out, data.size() - 1), compression::kTooLarge) << method;
    EXPECT_TRUE(out.empty());
    EXPECT_LE(watch.largest(), data.size()) << method;
  }
  EXPECT_EQ(compression::default_limit(10), compression::kFreeOutput);
  EXPECT_EQ(compression::default_limit(1'000'000), 1'000'000 * compression::kMaxRatio);
}

// A gzip trailer or a Zstandard frame header that claims gigabytes for a few bytes of data does
// not make the decoder allocate them; an honest claim is taken as the first room whole.
TEST(Compression, ClaimedSizesDoNotDecideAllocations) {
  const Bytes data = text_bytes(1000);
  Bytes gzip = encoded(compression::GZIP, data);
  gzip[gzip.size() - 1] = gzip[gzip.size() - 2] = gzip[gzip.size() - 3] = 0xFF;  // ISIZE
  {
    Watch watch;
    Bytes out;
    EXPECT_EQ(compression::decode_gzip(gzip.data(), gzip.size(), UINT32_MAX, 0, out),
              compression::kCorrupt);
    EXPECT_LE(watch.largest(), gzip.size() * compression::kMaxRatio + 1024);
  }
  // A frame header (a 1 KB window, an 8-byte content size of 2^40) before one last raw block
  // of 3 bytes.
  const Bytes zstd = {0x28, 0xB5, 0x2F, 0xFD, 0xC0, 0x00, 0, 0, 0, 0, 0, 1, 0, 0,
                      0x19, 0x00, 0x00, 'a', 'b', 'c'};
  {
    Watch watch;
    Bytes out;
    EXPECT_EQ(compression::decode_zstd(zstd.data(), zstd.size(), UINT32_MAX, 0, out),
              compression::kCorrupt);
    EXPECT_LE(watch.largest(), zstd.size() * compression::kMaxRatio + 1024);
  }
  const Bytes big = text_bytes(1 << 20);
  const Bytes honest = encoded(compression::GZIP, big);
  {
    Watch watch;
    Bytes out;
    EXPECT_EQ(decoded(compression::GZIP, honest, out), compression::kOk);
    EXPECT_EQ(out, big);
    EXPECT_LE(watch.largest(), big.size() + 64);
  }
}

// zlib's checks: the header's check bits and method, no preset dictionary, the Adler-32.
TEST(Compression, ZlibHeaderAndTrailerAreChecked) {
  const Bytes data = text_bytes(500);
  const Bytes good = encoded(compression::ZLIB, data);
  struct Change {
    size_t at;
    uint8_t value;
  };
  const Change changes[] = {
      {0, 0x79},                // not DEFLATE
      {0, 0x88},                // window above 32 KB
      {1, 0x9D},                // check bits wrong
      {1, 0xBB},                // preset dictionary (check bits right)
      {good.size() - 1, uint8_t(good.back() ^ 1)},  // Adler-32
  };
  for (const Change& c : changes) {
    Bytes bad = good, out;
    bad[c.at] = c.value;
    EXPECT_EQ(decoded(compression::ZLIB, bad, out), compression::kCorrupt) << c.at;
  }
}

}  // namespace
