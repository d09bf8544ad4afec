// libFuzzer target: arbitrary bytes through every decoder of runtime/compression.h. A refusal is
// an expected outcome; a crash, a sanitizer report, an output past the limit, or an output that
// zlib or libzstd (decoding the same bytes on their own) disagree with is a fault. The bytes are
// also encoded by every method and must decode back to themselves.
#define ZLIB_CONST
#include <zlib.h>
#include <zstd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "runtime/compression.h"

namespace {

// Small enough to keep each run quick; bombs reach it in a few bytes all the same.
constexpr uint64_t kLimit = 1 << 22;

// What zlib itself inflates from the stream (window bits as inflateInit2: 15 zlib, -15 raw, 31
// gzip); false when it refuses or the stream does not end at the input's end.
bool zlib_inflate(const uint8_t* data, size_t size, int window_bits, std::vector<uint8_t>& out) {
  z_stream z{};
  if (inflateInit2(&z, window_bits) != Z_OK) return false;
  out.assign(kLimit + 1, 0);
  z.next_in = data;
  z.avail_in = uInt(size);
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  int r = inflate(&z, Z_FINISH);
  bool ok = r == Z_STREAM_END && z.avail_in == 0;
  out.resize(z.total_out);
  inflateEnd(&z);
  return ok;
}

void check_against_libraries(compression::Method method, const uint8_t* data, size_t size,
                             const std::vector<uint8_t>& ours) {
  std::vector<uint8_t> theirs;
  switch (method) {
    case compression::ZLIB:
      if (!zlib_inflate(data, size, 15, theirs) || theirs != ours) std::abort();
      break;
    case compression::DEFLATE:
      if (!zlib_inflate(data, size, -15, theirs) || theirs != ours) std::abort();
      break;
    case compression::GZIP:
      if (!zlib_inflate(data, size, 31, theirs) || theirs != ours) std::abort();
      break;
    case compression::ZSTD: {
      theirs.resize(ours.size() + 1);
      size_t n = ZSTD_decompress(theirs.data(), theirs.size(), data, size);
      theirs.resize(ZSTD_isError(n) ? 0 : n);
      if (ZSTD_isError(n) || theirs != ours) std::abort();
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (int32_t m = 0; m < compression::kMethodCount; m++) {
    const auto method = compression::Method(m);
    std::vector<uint8_t> out;
    compression::Status status = compression::decode(method, data, size, kLimit, 0, out);
    if (status == compression::kOk) {
      if (out.size() > kLimit) std::abort();
      check_against_libraries(method, data, size, out);
    } else if (!out.empty()) {
      std::abort();
    }

    uint32_t room = uint32_t(size / 2048 + size + 32);
    std::vector<uint8_t> packed(room);
    status = compression::encode(method, packed.data(), room, data, uint32_t(size),
                                 compression::kDefaultLevel);
    if (status == compression::kTooSmall) {
      packed.resize(room);
      status = compression::encode(method, packed.data(), room, data, uint32_t(size),
                                   compression::kDefaultLevel);
    }
    if (status != compression::kOk) std::abort();
    packed.resize(room);
    if (compression::decode(method, packed.data(), packed.size(), kLimit, 0, out) !=
            compression::kOk ||
        out != std::vector<uint8_t>(data, data + size)) {
      // gzip input is passed through as it is; it need not be a whole gzip stream.
      if (!(method == compression::GZIP && size > 2 && data[0] == 0x1F && data[1] == 0x8B &&
            data[2] == 0x08)) {
        std::abort();
      }
    }
  }
  return 0;
}
