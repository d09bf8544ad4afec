// Checksums computed here; digests, HMAC and random bytes through OpenSSL's libcrypto (EVP
// one-shot digests, HMAC, RAND_bytes). See checksum.h.
#include "runtime/checksum.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <array>
#include <cassert>
#include <cstdint>

#include "runtime/throw.h"

namespace checksum {

const char* const kMethodNames[kMethodCount] = {"tcp",     "md5",    "sha1",   "crc32", "adler32",
                                                "sha256", "sha384", "sha512", "hash"};

namespace {

constexpr std::array<uint32_t, 256> kCrcTable = [] {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; n++) {
    uint32_t c = n;
    for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}();

const EVP_MD* digest_of(Method method) {
  switch (method) {
    case MD5: return EVP_md5();
    case SHA1: return EVP_sha1();
    case SHA256: return EVP_sha256();
    case SHA384: return EVP_sha384();
    case SHA512: return EVP_sha512();
    default: return nullptr;
  }
}

}  // namespace

uint32_t digest_size(Method method) {
  const EVP_MD* md = digest_of(method);
  return md ? uint32_t(EVP_MD_get_size(md)) : 0;
}

uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, size_t length) {
  uint32_t c = ~crc;
  for (size_t i = 0; i < length; i++) c = kCrcTable[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
  return ~c;
}

uint32_t crc32(const uint8_t* bytes, size_t length) { return crc32_update(0, bytes, length); }

uint32_t adler32(const uint8_t* bytes, size_t length) {
  constexpr uint32_t kModulus = 65521;
  // The most bytes whose sums cannot overflow 32 bits before the modulus is taken.
  constexpr size_t kRun = 5552;
  uint32_t a = 1, b = 0;
  while (length > 0) {
    size_t n = length < kRun ? length : kRun;
    length -= n;
    for (; n > 0; n--) {
      a += *bytes++;
      b += a;
    }
    a %= kModulus;
    b %= kModulus;
  }
  return b << 16 | a;
}

uint32_t tcp(const uint8_t* bytes, size_t length) {
  // 64 bits hold the sum of any input that fits in memory; the carries are folded back in
  // until none is left, as the ones'-complement sum requires.
  uint64_t sum = 0;
  size_t i = 0;
  for (; i + 1 < length; i += 2) sum += uint32_t(bytes[i]) << 8 | bytes[i + 1];
  if (i < length) sum += uint32_t(bytes[i]) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return ~uint32_t(sum) & 0xFFFF;
}

uint32_t digest(Method method, const uint8_t* bytes, size_t length, uint8_t* out) {
  const EVP_MD* md = digest_of(method);
  if (!md) rt::fire_error("internal", "feature-na");  // libcrypto cannot be loaded
  unsigned int size = 0;
  if (!EVP_Digest(bytes, length, out, &size, md, nullptr)) {
    rt::fire_error("internal", "no-memory");
  }
  return size;
}

uint32_t hmac(Method method, const uint8_t* bytes, size_t length, const uint8_t* key,
              size_t key_length, uint8_t* out) {
  const EVP_MD* md = digest_of(method);
  if (!md) rt::fire_error("internal", "feature-na");
  unsigned int size = 0;
  // OpenSSL takes the key's length as an int; a longer key is hashed first anyway, so its
  // digest stands for it.
  uint8_t key_digest[kMaxDigestSize];
  if (key_length > size_t(INT32_MAX)) {
    key_length = digest(method, key, key_length, key_digest);
    key = key_digest;
  }
  // HMAC writes nothing through a null key; an empty key is an empty range.
  static const uint8_t kNoKey = 0;
  if (!HMAC(md, key_length ? key : &kNoKey, int(key_length), bytes, length, out, &size)) {
    rt::fire_error("internal", "no-memory");
  }
  return size;
}

void random_bytes(uint8_t* buffer, size_t count) {
  // RAND_bytes takes an int count; a failure means the system has no entropy to give.
  while (count > 0) {
    int piece = count > size_t(INT32_MAX) ? INT32_MAX : int(count);
    if (RAND_bytes(buffer, piece) != 1) rt::fire_error("internal", "feature-na");
    buffer += piece;
    count -= size_t(piece);
  }
}

uint32_t hash(const uint8_t* bytes, size_t length, uint32_t size) {
  assert(size >= 1);
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < length; i++) {
    h ^= bytes[i];
    h *= 16777619u;
  }
  return h % size;
}

}  // namespace checksum
