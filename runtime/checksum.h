// Checksums and digests behind the checksum native: CRC-32, Adler-32 and the Internet (TCP/IP)
// checksum computed here, the message digests (MD5, SHA-1, SHA-256, SHA-384, SHA-512) and their
// HMAC through OpenSSL's libcrypto, the integer hash of bytes for a table of a given size, and
// the secure random bytes of the same library.
// Everything works on plain byte ranges and allocates nothing from the moving memory manager,
// so the bytes may lie in a series buffer.
#pragma once
#include <cstddef>
#include <cstdint>

namespace checksum {

// The methods of checksum, in the order of their words.
enum Method : int32_t { TCP, MD5, SHA1, CRC32, ADLER32, SHA256, SHA384, SHA512, HASH };
constexpr int32_t kMethodCount = HASH + 1;
// The method words' spellings, by method.
extern const char* const kMethodNames[kMethodCount];

// Bytes of the method's digest; 0 for the methods that give an integer (tcp, crc32, adler32,
// hash).
uint32_t digest_size(Method method);
constexpr uint32_t kMaxDigestSize = 64;

// CRC-32 of ISO 3309 / IEEE 802.3 (reflected polynomial 0xEDB88320, initial and final
// complement), the one of zip, gzip and PNG.
uint32_t crc32(const uint8_t* bytes, size_t length);
// Continues a CRC-32: crc32_update(crc32(a), b) is the CRC-32 of a followed by b.
uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, size_t length);
// Adler-32 of RFC 1950.
uint32_t adler32(const uint8_t* bytes, size_t length);
// The 16-bit Internet checksum of RFC 1071: the ones'-complement sum of big-endian 16-bit words
// (an odd last byte is the high byte of a zero-padded word), complemented.
uint32_t tcp(const uint8_t* bytes, size_t length);

// The digest of a digest method into out (kMaxDigestSize bytes of room); returns its size.
uint32_t digest(Method method, const uint8_t* bytes, size_t length, uint8_t* out);
// The HMAC of RFC 2104 with the digest method's hash (a key longer than the hash's block is
// hashed first); returns the digest's size.
uint32_t hmac(Method method, const uint8_t* bytes, size_t length, const uint8_t* key,
              size_t key_length, uint8_t* out);

// Fills the buffer from the system's secure random source (the generator's secure draws).
void random_bytes(uint8_t* buffer, size_t count);

// The integer hash of bytes for a table of `size` slots (size >= 1): the 32-bit FNV-1a hash of
// the bytes (offset basis 2166136261, prime 16777619), taken modulo the size, so that it lies in
// 0 .. size - 1.
uint32_t hash(const uint8_t* bytes, size_t length, uint32_t size);

}  // namespace checksum
