// Compression containers behind compress and decompress: the zlib (RFC 1950) and gzip (RFC 1952)
// containers written here around zlib's raw DEFLATE, raw DEFLATE itself, and Zstandard frames
// through libzstd. Everything works on plain byte ranges and allocates nothing from the moving
// memory manager, so the source may lie in a series buffer.
//
// Decoding never trusts a size the data claims (a gzip trailer's ISIZE, a Zstandard frame's
// content size): the output grows as bytes actually come out, its first reservation bounded by
// the input's size times kMaxRatio, and decoding stops with kTooLarge once the output passes the
// caller's limit, so that a few bytes cannot ask for gigabytes (a decompression bomb).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace compression {

// The methods, in the order of their words.
enum Method : int32_t { ZLIB, DEFLATE, GZIP, ZSTD };
constexpr int32_t kMethodCount = ZSTD + 1;
extern const char* const kMethodNames[kMethodCount];

enum Status : int32_t {
  kOk = 0,
  kTooSmall = 1,  // encoders: the destination is too small; the needed size is stored
  kCorrupt = 2,   // decoders: not a valid stream of the method (also a failed encoder)
  kTooLarge = 3,  // decoders: the output passed the limit
  kNoMemory = 4,  // the codec library could not allocate
};

// The method's default level (zlib's 6, Zstandard's 3).
constexpr int32_t kDefaultLevel = -1;
// The highest level of each method (the lowest is 1).
int32_t max_level(Method method);

// The greatest expansion of DEFLATE (1032 to 1): no valid DEFLATE stream comes out larger than
// its input times this, so it bounds first reservations and the default limit.
constexpr uint64_t kMaxRatio = 1032;
// Outputs up to this size are always allowed, whatever the ratio.
constexpr uint64_t kFreeOutput = 64u << 20;
// The default output limit for an input of this length: the greater of kFreeOutput and the
// input's length times kMaxRatio.
uint64_t default_limit(size_t input_length);

// --- Encoders ----------------------------------------------------------------------------------
// Each writes into dest, which has room for `size` bytes, with the level (1 .. max_level, or
// kDefaultLevel). On kOk size is the number of bytes written; on kTooSmall it is the room that
// would be needed (also when even the container's fixed bytes do not fit).

// The gzip container: a 10-byte header (no name, no time), the DEFLATE stream, the CRC-32 and
// the length of the source (little-endian). A source that is already gzip data (more than 2
// bytes starting 1F 8B 08) is copied as it is.
Status encode_gzip(uint8_t* dest, uint32_t& size, const uint8_t* src, uint32_t length,
                   int32_t level);
// The zlib container: CMF 78 and an FLG that tells the level, the DEFLATE stream and the
// big-endian Adler-32 of the source.
Status encode_zlib(uint8_t* dest, uint32_t& size, const uint8_t* src, uint32_t length,
                   int32_t level);
Status encode_deflate(uint8_t* dest, uint32_t& size, const uint8_t* src, uint32_t length,
                      int32_t level);
// One Zstandard frame with the content size and a content checksum.
Status encode_zstd(uint8_t* dest, uint32_t& size, const uint8_t* src, uint32_t length,
                   int32_t level);
Status encode(Method method, uint8_t* dest, uint32_t& size, const uint8_t* src, uint32_t length,
              int32_t level);

// --- Decoders ----------------------------------------------------------------------------------
// Each replaces out's contents with the decoded bytes. The whole input must be one stream of
// the method (a gzip member, a zlib stream, a DEFLATE stream; for Zstandard one or more frames)
// with nothing after it, and its checks must hold (gzip: header flags, header CRC, CRC-32 and
// length of the output; zlib: header and Adler-32; Zstandard: the frames' checksums). `expected`
// is the caller's guess of the output size (0: none), used like a claimed size for the first
// reservation; out never holds more than `limit` bytes.

Status decode_gzip(const uint8_t* src, size_t length, uint64_t limit, uint64_t expected,
                   std::vector<uint8_t>& out);
Status decode_zlib(const uint8_t* src, size_t length, uint64_t limit, uint64_t expected,
                   std::vector<uint8_t>& out);
Status decode_deflate(const uint8_t* src, size_t length, uint64_t limit, uint64_t expected,
                      std::vector<uint8_t>& out);
Status decode_zstd(const uint8_t* src, size_t length, uint64_t limit, uint64_t expected,
                   std::vector<uint8_t>& out);
Status decode(Method method, const uint8_t* src, size_t length, uint64_t limit, uint64_t expected,
              std::vector<uint8_t>& out);

}  // namespace compression
