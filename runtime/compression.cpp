// The zlib and gzip containers around zlib's raw DEFLATE, raw DEFLATE and Zstandard frames
// through libzstd, and the growing output that keeps decoders from trusting claimed sizes. See
// compression.h.
#define ZLIB_CONST
#include "runtime/compression.h"

#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "runtime/checksum.h"

namespace compression {

const char* const kMethodNames[kMethodCount] = {"zlib", "deflate", "gzip", "zstd"};

int32_t max_level(Method method) { return method == ZSTD ? 19 : 9; }

uint64_t default_limit(size_t input_length) {
  return std::max(kFreeOutput, uint64_t(input_length) * kMaxRatio);
}

namespace {

// --- Byte order --------------------------------------------------------------------------------

uint32_t read_le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint32_t read_be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
void write_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}
void write_be32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * (3 - i)));
}

uint32_t clamp32(uint64_t n) { return n > UINT32_MAX ? UINT32_MAX : uint32_t(n); }
// zlib counts in unsigned int: longer ranges go through in pieces.
uInt piece(size_t n) { return n > UINT_MAX ? UINT_MAX : uInt(n); }

// --- Growing output ----------------------------------------------------------------------------

// The decoders' output: a vector whose size is the room written so far, filled up to `used`. It
// holds at most limit + 1 bytes, so that passing the limit shows as used > limit.
class Output {
 public:
  Output(std::vector<uint8_t>& bytes, uint64_t limit) : bytes_(bytes), cap_(limit + 1) {}

  // The first room: the size the data or the caller claims (a little more, so that an exact
  // claim does not need a second round to see the end), or a guess from the input's length; in
  // any case no more than the input times kMaxRatio.
  bool start(size_t input_length, uint64_t claimed) {
    uint64_t bound = std::min(uint64_t(input_length) * kMaxRatio + 1024, cap_);
    uint64_t first = claimed ? std::min(claimed, bound) + 64 : uint64_t(input_length) * 4;
    return resize(std::min(std::max<uint64_t>(first, 1024), bound));
  }
  // Doubles the room, up to the cap; false when the cap is reached or memory ran out.
  bool grow() {
    if (bytes_.size() >= cap_) return false;
    return resize(std::min<uint64_t>(uint64_t(bytes_.size()) * 2, cap_));
  }
  // The reason grow failed.
  Status refusal() const { return bytes_.size() >= cap_ ? kTooLarge : kNoMemory; }

  uint8_t* free_space() { return bytes_.data() + used; }
  size_t room() const { return bytes_.size() - used; }
  bool over_limit() const { return used >= cap_; }
  Status finish(Status status) {
    if (status == kOk && over_limit()) status = kTooLarge;
    bytes_.resize(status == kOk ? used : 0);
    return status;
  }

  size_t used = 0;

 private:
  bool resize(uint64_t size) {
    if (size > SIZE_MAX) return false;
    try {
      bytes_.resize(size_t(size));
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  std::vector<uint8_t>& bytes_;
  uint64_t cap_;
};

// --- DEFLATE -----------------------------------------------------------------------------------

int zlib_level(int32_t level) { return level == kDefaultLevel ? Z_DEFAULT_COMPRESSION : level; }

// Inflates the raw DEFLATE stream that must fill src exactly. The window is always the largest
// (32 KB): the whole output stays at hand anyway, so a smaller one declared by a zlib header
// would only make acceptance depend on how the output happened to grow.
Status inflate_raw(const uint8_t* src, size_t length, Output& out) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return kNoMemory;
  Status status = kCorrupt;
  for (;;) {
    if (out.room() == 0 && !out.grow()) {
      status = out.refusal();
      break;
    }
    z.next_in = src;
    z.avail_in = piece(length);
    z.next_out = out.free_space();
    z.avail_out = piece(out.room());
    const uInt in_before = z.avail_in, out_before = z.avail_out;
    int r = inflate(&z, Z_NO_FLUSH);
    const size_t consumed = in_before - z.avail_in, produced = out_before - z.avail_out;
    src += consumed;
    length -= consumed;
    out.used += produced;
    if (r == Z_STREAM_END) {
      status = length == 0 ? kOk : kCorrupt;  // bytes after the stream's end
      break;
    }
    if (r == Z_MEM_ERROR) {
      status = kNoMemory;
      break;
    }
    if (r != Z_OK && r != Z_BUF_ERROR) break;  // bad data, a preset dictionary
    if (out.room() == 0) continue;
    // Room left and the stream not ended: the input is cut short (or nothing moves).
    if (length == 0 || (consumed == 0 && produced == 0)) break;
  }
  inflateEnd(&z);
  return status;
}

Status deflate_raw(uint8_t* dest, uint32_t& size, const uint8_t* src, uint32_t length,
                   int32_t level) {
  z_stream z{};
  if (deflateInit2(&z, zlib_level(level), Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return kNoMemory;
  }
  z.next_in = src;
  z.avail_in = length;
  z.next_out = dest;
  z.avail_out = size;
  Status status;
  switch (deflate(&z, Z_FINISH)) {
    case Z_STREAM_END:
      size = uint32_t(z.total_out);
      status = kOk;
      break;
    case Z_OK:
    case Z_BUF_ERROR:
      size = clamp32(deflateBound(&z, length));
      status = kTooSmall;
      break;
    default: status = kCorrupt; break;
  }
  deflateEnd(&z);
  return status;
}

// A container's fixed bytes around the DEFLATE stream: the room left for it, or the whole size
// needed when it did not fit.
Status deflate_inside(uint8_t* dest, uint32_t& size, uint32_t header, uint32_t overhead,
                      const uint8_t* src, uint32_t length, int32_t level) {
  if (size < overhead) {
    size = clamp32(uint64_t(length) + overhead);
    return kTooSmall;
  }
  uint32_t room = size - overhead;
  Status status = deflate_raw(dest + header, room, src, length, level);
  size = status == kOk || status == kTooSmall ? clamp32(uint64_t(room) + overhead) : size;
  return status;
}

// --- gzip --------------------------------------------------------------------------------------

constexpr uint8_t kGzipMagic[3] = {0x1F, 0x8B, 0x08};
constexpr uint32_t kGzipHeader = 10, kGzipTrailer = 8;
enum GzipFlag : uint8_t { FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16, kGzipReserved = 0xE0 };
constexpr uint8_t kGzipOs = 4;

// Where a gzip member's DEFLATE stream starts, after the optional fields the flags announce;
// 0 when the header is broken or runs into the trailer.
size_t gzip_data_start(const uint8_t* src, size_t length) {
  if (length < kGzipHeader + kGzipTrailer || std::memcmp(src, kGzipMagic, 3) != 0 ||
      (src[3] & kGzipReserved)) {
    return 0;
  }
  const uint8_t flags = src[3];
  const size_t end = length - kGzipTrailer;
  size_t pos = kGzipHeader;
  if (flags & FEXTRA) {
    if (end - pos < 2) return 0;
    size_t extra = size_t(src[pos]) | size_t(src[pos + 1]) << 8;
    pos += 2;
    if (extra > end - pos) return 0;
    pos += extra;
  }
  for (uint8_t field : {FNAME, FCOMMENT}) {  // NUL-ended texts
    if (!(flags & field)) continue;
    const void* nul = std::memchr(src + pos, 0, end - pos);
    if (!nul) return 0;
    pos = size_t(static_cast<const uint8_t*>(nul) - src) + 1;
  }
  if (flags & FHCRC) {
    if (end - pos < 2) return 0;
    uint32_t crc16 = uint32_t(src[pos]) | uint32_t(src[pos + 1]) << 8;
    if (crc16 != (checksum::crc32(src, pos) & 0xFFFF)) return 0;
    pos += 2;
  }
  return pos;
}

// --- zlib --------------------------------------------------------------------------------------

constexpr uint32_t kZlibHeader = 2, kZlibTrailer = 4;  // CMF and FLG; the Adler-32

// --- Zstandard ---------------------------------------------------------------------------------

Status zstd_status(size_t code) {
  return ZSTD_getErrorCode(code) == ZSTD_error_memory_allocation ? kNoMemory : kCorrupt;
}

}  // namespace

// --- Encoders ----------------------------------------------------------------------------------

Status encode_gzip(uint8_t* dest, uint32_t& size, const uint8_t* src, uint32_t length,
                   int32_t level) {
  if (length > 2 && std::memcmp(src, kGzipMagic, 3) == 0) {
    if (size < length) {
      size = length;
      return kTooSmall;
    }
    std::memcpy(dest, src, length);
    size = length;
    return kOk;
  }
  Status status =
      deflate_inside(dest, size, kGzipHeader, kGzipHeader + kGzipTrailer, src, length, level);
  if (status != kOk) return status;
  // No flags and no time; XFL tells the fastest (4) or the strongest (2) compression.
  const uint8_t header[kGzipHeader] = {
      kGzipMagic[0], kGzipMagic[1], kGzipMagic[2], 0, 0, 0, 0, 0,
      uint8_t(level == 0 || level == 1 ? 4 : level == 9 ? 2 : 0), kGzipOs};
  std::memcpy(dest, header, kGzipHeader);
  write_le32(dest + size - kGzipTrailer, checksum::crc32(src, length));
  write_le32(dest + size - kGzipTrailer + 4, length);
  return kOk;
}

Status encode_zlib(uint8_t* dest, uint32_t& size, const uint8_t* src, uint32_t length,
                   int32_t level) {
  Status status =
      deflate_inside(dest, size, kZlibHeader, kZlibHeader + kZlibTrailer, src, length, level);
  if (status != kOk) return status;
  // CMF: DEFLATE with a 32 KB window; FLG: the level's class, and check bits that make the
  // pair a multiple of 31.
  const int32_t effective = level == kDefaultLevel ? 6 : level;
  dest[0] = 0x78;
  dest[1] = effective < 2 ? 0x01 : effective < 6 ? 0x5E : effective == 6 ? 0x9C : 0xDA;
  write_be32(dest + size - kZlibTrailer, checksum::adler32(src, length));
  return kOk;
}

Status encode_deflate(uint8_t* dest, uint32_t& size, const uint8_t* src, uint32_t length,
                      int32_t level) {
  return deflate_raw(dest, size, src, length, level);
}

Status encode_zstd(uint8_t* dest, uint32_t& size, const uint8_t* src, uint32_t length,
                   int32_t level) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  if (!context) return kNoMemory;
  ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel,
                         level == kDefaultLevel ? ZSTD_CLEVEL_DEFAULT : level);
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  size_t written = ZSTD_compress2(context, dest, size, src, length);
  ZSTD_freeCCtx(context);
  if (!ZSTD_isError(written)) {
    size = uint32_t(written);
    return kOk;
  }
  if (ZSTD_getErrorCode(written) == ZSTD_error_dstSize_tooSmall) {
    size = clamp32(ZSTD_compressBound(length));
    return kTooSmall;
  }
  return zstd_status(written);
}

Status encode(Method method, uint8_t* dest, uint32_t& size, const uint8_t* src, uint32_t length,
              int32_t level) {
  switch (method) {
    case ZLIB: return encode_zlib(dest, size, src, length, level);
    case DEFLATE: return encode_deflate(dest, size, src, length, level);
    case GZIP: return encode_gzip(dest, size, src, length, level);
    case ZSTD: return encode_zstd(dest, size, src, length, level);
  }
  return kCorrupt;
}

// --- Decoders ----------------------------------------------------------------------------------

Status decode_gzip(const uint8_t* src, size_t length, uint64_t limit, uint64_t expected,
                   std::vector<uint8_t>& bytes) {
  Output out(bytes, limit);
  const size_t start = gzip_data_start(src, length);
  if (start == 0) return out.finish(kCorrupt);
  const uint32_t crc = read_le32(src + length - kGzipTrailer);
  const uint32_t stored_size = read_le32(src + length - kGzipTrailer + 4);  // modulo 2^32
  if (!out.start(length, std::max<uint64_t>(stored_size, expected))) {
    return out.finish(out.refusal());
  }
  Status status = inflate_raw(src + start, length - kGzipTrailer - start, out);
  if (status == kOk &&
      (uint32_t(out.used) != stored_size || checksum::crc32(bytes.data(), out.used) != crc)) {
    status = kCorrupt;
  }
  return out.finish(status);
}

Status decode_zlib(const uint8_t* src, size_t length, uint64_t limit, uint64_t expected,
                   std::vector<uint8_t>& bytes) {
  Output out(bytes, limit);
  if (length < kZlibHeader + kZlibTrailer) return out.finish(kCorrupt);
  const uint8_t cmf = src[0], flg = src[1];
  // DEFLATE (8) with a window of at most 32 KB, the check bits right, no preset dictionary.
  if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20)) {
    return out.finish(kCorrupt);
  }
  if (!out.start(length, expected)) return out.finish(out.refusal());
  Status status =
      inflate_raw(src + kZlibHeader, length - kZlibHeader - kZlibTrailer, out);
  if (status == kOk &&
      checksum::adler32(bytes.data(), out.used) != read_be32(src + length - kZlibTrailer)) {
    status = kCorrupt;
  }
  return out.finish(status);
}

Status decode_deflate(const uint8_t* src, size_t length, uint64_t limit, uint64_t expected,
                      std::vector<uint8_t>& bytes) {
  Output out(bytes, limit);
  if (length == 0) return out.finish(kCorrupt);
  if (!out.start(length, expected)) return out.finish(out.refusal());
  return out.finish(inflate_raw(src, length, out));
}

Status decode_zstd(const uint8_t* src, size_t length, uint64_t limit, uint64_t expected,
                   std::vector<uint8_t>& bytes) {
  Output out(bytes, limit);
  if (length == 0) return out.finish(kCorrupt);
  unsigned long long claimed = ZSTD_getFrameContentSize(src, length);
  if (claimed == ZSTD_CONTENTSIZE_UNKNOWN || claimed == ZSTD_CONTENTSIZE_ERROR) claimed = 0;
  if (!out.start(length, std::max<uint64_t>(claimed, expected))) {
    return out.finish(out.refusal());
  }
  ZSTD_DCtx* context = ZSTD_createDCtx();
  if (!context) return out.finish(kNoMemory);
  ZSTD_inBuffer in{src, length, 0};
  Status status = kCorrupt;
  for (;;) {
    if (out.room() == 0 && !out.grow()) {
      status = out.refusal();
      break;
    }
    ZSTD_outBuffer chunk{out.free_space(), out.room(), 0};
    const size_t in_before = in.pos;
    size_t r = ZSTD_decompressStream(context, &chunk, &in);
    out.used += chunk.pos;
    if (ZSTD_isError(r)) {
      status = zstd_status(r);
      break;
    }
    // 0: a frame is complete and flushed; the input may hold more frames.
    if (r == 0 && in.pos == in.size) {
      status = kOk;
      break;
    }
    if (chunk.pos == chunk.size) continue;
    // Room left and a frame unfinished: the input is cut short (or nothing moves).
    if (in.pos == in.size || (in.pos == in_before && chunk.pos == 0)) break;
  }
  ZSTD_freeDCtx(context);
  return out.finish(status);
}

Status decode(Method method, const uint8_t* src, size_t length, uint64_t limit, uint64_t expected,
              std::vector<uint8_t>& out) {
  switch (method) {
    case ZLIB: return decode_zlib(src, length, limit, expected, out);
    case DEFLATE: return decode_deflate(src, length, limit, expected, out);
    case GZIP: return decode_gzip(src, length, limit, expected, out);
    case ZSTD: return decode_zstd(src, length, limit, expected, out);
  }
  return kCorrupt;
}

}  // namespace compression
