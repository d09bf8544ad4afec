// The image file formats: PNG (libpng), JPEG (libjpeg-turbo), GIF (giflib), TIFF (libtiff) and
// BMP (our own), decoded into and encoded from a plain raster of 32-bit straight-alpha pixels
// (0xAARRGGBB, A = 255 opaque). Nothing here touches series memory or the collector: the image
// record (image_buf.h) copies a decoded raster into its buffer, and the fuzz target drives the
// decoders alone. Decoders refuse bad input by returning false, never by crashing, and refuse a
// header that claims more pixels than an image can hold before allocating anything for them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace image_codec {

struct Raster {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint32_t> pixels;  // row-major, width x height words
};

// The encoder format numbers.
enum Format : int32_t { kBmp = 0, kPng = 1, kGif = 2, kJpeg = 3, kTiff = 4 };

// Largest width and height (the image record keeps each in 16 bits), and the largest pixel
// count: what one series buffer can hold. The fuzz target lowers max_pixels to keep each run
// small.
constexpr uint32_t kMaxSide = 65535;
extern uint64_t max_pixels;
// Whether a claimed size is one an image may have (both sides from 1 on).
bool size_allowed(uint64_t width, uint64_t height);

// The format a signature at the start of the bytes names, or -1.
int32_t sniff(const uint8_t* data, size_t size);

// Decodes the first frame of recognised bytes; false when unrecognised or corrupt.
bool decode(const uint8_t* data, size_t size, Raster& out);
bool decode_png(const uint8_t* data, size_t size, Raster& out);
bool decode_jpeg(const uint8_t* data, size_t size, Raster& out);
bool decode_gif(const uint8_t* data, size_t size, Raster& out);
bool decode_tiff(const uint8_t* data, size_t size, Raster& out);
bool decode_bmp(const uint8_t* data, size_t size, Raster& out);

// Encodes width x height pixels (width and height from 1 on) in the format; false when the
// library fails. JPEG drops alpha (quality 90); GIF keeps up to 256 colours exactly (fully
// transparent pixels share one transparent entry) and reduces more colours to a palette.
bool encode(const uint32_t* pixels, uint32_t width, uint32_t height, Format format,
            std::vector<uint8_t>& out);

}  // namespace image_codec
