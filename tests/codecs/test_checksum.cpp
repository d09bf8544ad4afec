// The checksums computed by the runtime against zlib's own CRC-32 and Adler-32, the Internet
// checksum against the property that makes it a checksum, HMAC against the published vectors of
// RFC 4231 (keys longer than the hash's block among them), and the integer hash's range.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "runtime/checksum.h"

namespace {

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 generator(seed);
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes) b = uint8_t(generator());
  return bytes;
}

std::string hex(const uint8_t* bytes, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < n; i++) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

TEST(Checksum, Crc32AndAdler32AgreeWithZlibAtEveryLengthAndOffset) {
  const std::vector<uint8_t> data = random_bytes(700, 1);
  for (size_t offset = 0; offset < 8; offset++) {
    for (size_t n = 0; offset + n <= data.size(); n++) {
      const uint8_t* p = data.data() + offset;
      ASSERT_EQ(checksum::crc32(p, n), uint32_t(::crc32(0, p, uInt(n)))) << offset << " " << n;
      ASSERT_EQ(checksum::adler32(p, n), uint32_t(::adler32(1, p, uInt(n)))) << offset << " " << n;
    }
  }
}

// All bytes 0xFF make Adler-32's sums grow fastest: the modulus must be taken in time.
TEST(Checksum, LongInputsAgreeWithZlib) {
  for (const std::vector<uint8_t>& data :
       {std::vector<uint8_t>(3'000'000, 0xFF), random_bytes(2'000'003, 2),
        std::vector<uint8_t>(5552 * 3 + 1, 0xFF), std::vector<uint8_t>(1'000'000, 0)}) {
    EXPECT_EQ(checksum::crc32(data.data(), data.size()),
              uint32_t(::crc32(0, data.data(), uInt(data.size()))));
    EXPECT_EQ(checksum::adler32(data.data(), data.size()),
              uint32_t(::adler32(1, data.data(), uInt(data.size()))));
  }
}

TEST(Checksum, Crc32ContinuesAcrossPieces) {
  const std::vector<uint8_t> data = random_bytes(1000, 3);
  for (size_t cut : {0, 1, 17, 500, 999, 1000}) {
    uint32_t first = checksum::crc32(data.data(), cut);
    EXPECT_EQ(checksum::crc32_update(first, data.data() + cut, data.size() - cut),
              checksum::crc32(data.data(), data.size()));
  }
}

// Data followed by its Internet checksum (big-endian) sums to 0xFFFF, so its checksum is 0:
// how a receiver checks a packet. Long inputs carry far past 32 bits before folding.
TEST(Checksum, TcpChecksumOfDataWithItsChecksumIsZero) {
  for (size_t n : {0, 2, 20, 1500, 200'000, 3'000'000}) {
    std::vector<uint8_t> data = random_bytes(n, uint32_t(n) + 4);
    uint32_t sum = checksum::tcp(data.data(), data.size());
    ASSERT_LE(sum, 0xFFFFu);
    data.push_back(uint8_t(sum >> 8));
    data.push_back(uint8_t(sum));
    EXPECT_EQ(checksum::tcp(data.data(), data.size()), 0u) << n;
  }
  std::vector<uint8_t> ones(1 << 20, 0xFF);
  EXPECT_EQ(checksum::tcp(ones.data(), ones.size()), 0u);
  const uint8_t rfc[] = {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};  // RFC 1071's example
  EXPECT_EQ(checksum::tcp(rfc, sizeof rfc), 0x220Du);
  const uint8_t odd[] = {0x01};
  EXPECT_EQ(checksum::tcp(odd, 1), 0xFEFFu);
}

// RFC 4231, test cases 1, 2 and 6 (a 131-byte key, longer than either block: hashed first).
TEST(Checksum, HmacMatchesRfc4231) {
  struct Case {
    std::string key, data;
    checksum::Method method;
    const char* expected;
  };
  const std::string key20(20, '\x0b'), key131(131, '\xaa');
  const std::string large = "Test Using Larger Than Block-Size Key - Hash Key First";
  const Case cases[] = {
      {key20, "Hi There", checksum::SHA256,
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {key20, "Hi There", checksum::SHA512,
       "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cde"
       "daa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854"},
      {"Jefe", "what do ya want for nothing?", checksum::SHA384,
       "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e"
       "8e2240ca5e69e2c78b3239ecfab21649"},
      {key131, large, checksum::SHA256,
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {key131, large, checksum::SHA512,
       "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f352"
       "6b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598"},
  };
  for (const Case& c : cases) {
    uint8_t out[checksum::kMaxDigestSize];
    uint32_t size = checksum::hmac(c.method, reinterpret_cast<const uint8_t*>(c.data.data()),
                                   c.data.size(), reinterpret_cast<const uint8_t*>(c.key.data()),
                                   c.key.size(), out);
    EXPECT_EQ(size, checksum::digest_size(c.method));
    EXPECT_EQ(hex(out, size), c.expected);
  }
}

TEST(Checksum, DigestSizesAreTheMethods) {
  EXPECT_EQ(checksum::digest_size(checksum::MD5), 16u);
  EXPECT_EQ(checksum::digest_size(checksum::SHA1), 20u);
  EXPECT_EQ(checksum::digest_size(checksum::SHA256), 32u);
  EXPECT_EQ(checksum::digest_size(checksum::SHA384), 48u);
  EXPECT_EQ(checksum::digest_size(checksum::SHA512), 64u);
  for (checksum::Method m : {checksum::TCP, checksum::CRC32, checksum::ADLER32, checksum::HASH}) {
    EXPECT_EQ(checksum::digest_size(m), 0u);
  }
}

// Two draws of 64 bytes from the secure source are alike with chance 2^-512; every byte value
// shows up in 64 KB of them.
TEST(Checksum, RandomBytesFillTheBufferAndDiffer) {
  std::vector<uint8_t> a(64, 0), b(64, 0);
  checksum::random_bytes(a.data(), a.size());
  checksum::random_bytes(b.data(), b.size());
  EXPECT_NE(a, b);
  std::vector<uint8_t> many(65536, 0);
  checksum::random_bytes(many.data(), many.size());
  std::vector<bool> seen(256, false);
  for (uint8_t byte : many) seen[byte] = true;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);
}

TEST(Checksum, IntegerHashStaysInsideTheTable) {
  const std::vector<uint8_t> data = random_bytes(64, 5);
  for (uint32_t size : {1u, 2u, 7u, 1000u, 65536u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    for (size_t n = 0; n < data.size(); n++) {
      ASSERT_LT(checksum::hash(data.data(), n, size), size);
    }
  }
  // FNV-1a's published values: the offset basis for nothing, and "a".
  EXPECT_EQ(checksum::hash(nullptr, 0, 0xFFFFFFFFu), 2166136261u % 0xFFFFFFFFu);
  const uint8_t a[] = {'a'};
  EXPECT_EQ(checksum::hash(a, 1, 0xFFFFFFFFu), 0xE40C292Cu % 0xFFFFFFFFu);
}

}  // namespace
