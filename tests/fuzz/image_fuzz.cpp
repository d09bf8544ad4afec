// libFuzzer target: arbitrary bytes through every image decoder of datatypes/image/codec.h, each
// tried on the bytes whatever their signature. A refusal is an expected outcome; a crash, a
// sanitizer report or a raster that disagrees with its own size is a fault. A decoded raster
// must also survive a PNG and a BMP round trip unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "datatypes/image/codec.h"

namespace {

using image_codec::Raster;

void check(const Raster& r) {
  if (uint64_t(r.width) * r.height != r.pixels.size() || r.pixels.empty()) std::abort();
  if (uint64_t(r.width) * r.height > image_codec::max_pixels) std::abort();
}

void round_trip(const Raster& r, image_codec::Format format) {
  std::vector<uint8_t> bytes;
  if (!image_codec::encode(r.pixels.data(), r.width, r.height, format, bytes)) std::abort();
  Raster back;
  if (!image_codec::decode(bytes.data(), bytes.size(), back)) std::abort();
  if (back.width != r.width || back.height != r.height || back.pixels != r.pixels) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Small enough to keep each run quick; a header claiming more is refused like a huge one.
  image_codec::max_pixels = 1 << 20;
  using Decoder = bool (*)(const uint8_t*, size_t, Raster&);
  for (Decoder decode : {image_codec::decode_png, image_codec::decode_jpeg,
                         image_codec::decode_gif, image_codec::decode_tiff,
                         image_codec::decode_bmp}) {
    Raster r;
    if (!decode(data, size, r)) continue;
    check(r);
    if (r.pixels.size() <= 4096) {
      round_trip(r, image_codec::kPng);
      round_trip(r, image_codec::kBmp);
    }
  }
  return 0;
}
