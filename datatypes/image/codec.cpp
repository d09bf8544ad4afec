// Image file formats over the system libraries (libpng's simplified API, TurboJPEG, giflib,
// libtiff with in-memory I/O) and a BMP reader and writer of our own. Each library reports
// failure by a status: none of them unwinds through this code, and every decoder checks the
// claimed size before it allocates the raster.
#include "datatypes/image/codec.h"

#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <unordered_map>

namespace image_codec {

uint64_t max_pixels = (0x7FFFFFF0u / 4) - 4;

bool size_allowed(uint64_t width, uint64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide &&
         width * height <= max_pixels;
}

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

inline uint32_t argb(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}

bool all_opaque(const uint32_t* pixels, size_t count) {
  for (size_t i = 0; i < count; i++) {
    if ((pixels[i] >> 24) != 0xFF) return false;
  }
  return true;
}

// Sizes the raster; false when the size is refused.
bool start(Raster& out, uint64_t width, uint64_t height, uint32_t fill = 0) {
  if (!size_allowed(width, height)) return false;
  out.width = uint32_t(width);
  out.height = uint32_t(height);
  out.pixels.assign(size_t(width * height), fill);
  return true;
}

// --- PNG ----------------------------------------------------------------------------------------

// The file without its colour-space chunks (gAMA, cHRM, sRGB, iCCP): the pixels come as stored,
// as from every other format, instead of being converted to sRGB from the file's gamma. The
// chunks stop at the first that claims more bytes than remain (libpng would allocate all it
// claims before finding out), which leaves libpng a truncated file to refuse.
std::vector<uint8_t> without_colour_space(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out(data, data + std::min<size_t>(size, 8));
  for (size_t at = 8; at < size;) {
    if (size - at < 12) break;
    uint32_t length = uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 |
                      uint32_t(data[at + 2]) << 8 | data[at + 3];
    if (length > size - at - 12) break;
    const char* type = reinterpret_cast<const char*>(data + at + 4);
    bool colour_space = std::memcmp(type, "gAMA", 4) == 0 || std::memcmp(type, "cHRM", 4) == 0 ||
                        std::memcmp(type, "sRGB", 4) == 0 || std::memcmp(type, "iCCP", 4) == 0;
    if (!colour_space) out.insert(out.end(), data + at, data + at + 12 + length);
    at += 12 + size_t(length);
  }
  return out;
}

bool png_read(const uint8_t* raw, size_t raw_size, Raster& out) {
  const std::vector<uint8_t> bytes = without_colour_space(raw, raw_size);
  const uint8_t* data = bytes.data();
  const size_t size = bytes.size();
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) return false;
  if (!start(out, image.width, image.height)) {
    png_image_free(&image);
    return false;
  }
  // libpng's 16-to-8-bit reduction of interlaced images scrambles rows: those are read as 16
  // bits (linear, which here means as stored; alpha then comes premultiplied) and reduced here.
  const bool interlaced_16 = size > 28 && data[24] == 16 && data[28] == 1;
  if (interlaced_16) {
    image.format = PNG_FORMAT_LINEAR_RGB_ALPHA;
    std::vector<uint16_t> wide(out.pixels.size() * 4);
    if (!png_image_finish_read(&image, nullptr, wide.data(), 0, nullptr)) {
      png_image_free(&image);
      return false;
    }
    for (size_t i = 0; i < out.pixels.size(); i++) {
      const uint16_t* p = &wide[i * 4];
      const uint32_t a = p[3];
      auto channel = [a](uint32_t c) {
        uint64_t straight = a ? (uint64_t(c) * 65535 + a / 2) / a : 0;
        return uint32_t((std::min<uint64_t>(straight, 65535) * 255 + 32767) / 65535);
      };
      out.pixels[i] = argb(channel(p[0]), channel(p[1]), channel(p[2]), (a * 255 + 32767) / 65535);
    }
    return true;
  }
  image.format = PNG_FORMAT_BGRA;  // little-endian 0xAARRGGBB words
  image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;  // 16-bit samples scaled to 8 bits as they are
  if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  return true;
}

bool png_write(const uint32_t* pixels, uint32_t width, uint32_t height,
               std::vector<uint8_t>& out) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  size_t count = size_t(width) * height;
  std::vector<uint8_t> rgb;
  const void* buffer = pixels;
  if (all_opaque(pixels, count)) {
    image.format = PNG_FORMAT_BGR;
    rgb.resize(count * 3);
    for (size_t i = 0; i < count; i++) std::memcpy(&rgb[i * 3], &pixels[i], 3);
    buffer = rgb.data();
  } else {
    image.format = PNG_FORMAT_BGRA;
  }
  png_alloc_size_t bytes = 0;
  if (!png_image_write_to_memory(&image, nullptr, &bytes, 0, buffer, 0, nullptr)) return false;
  out.resize(bytes);
  if (!png_image_write_to_memory(&image, out.data(), &bytes, 0, buffer, 0, nullptr)) return false;
  out.resize(bytes);
  return true;
}

// --- JPEG ---------------------------------------------------------------------------------------

bool jpeg_read(const uint8_t* data, size_t size, Raster& out) {
  tjhandle handle = tjInitDecompress();
  if (!handle) return false;
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  bool ok = size <= 0xFFFFFFFFu &&
            tjDecompressHeader3(handle, data, static_cast<unsigned long>(size), &width, &height,
                                &subsampling, &colorspace) == 0 &&
            width > 0 && height > 0 && start(out, uint64_t(width), uint64_t(height));
  if (ok && tjDecompress2(handle, data, static_cast<unsigned long>(size),
                          reinterpret_cast<unsigned char*>(out.pixels.data()), width, 0, height,
                          TJPF_BGRA, 0) != 0) {
    // A warning (a truncated scan, say) still leaves an image; only a fatal error refuses it.
    ok = tjGetErrorCode(handle) == TJERR_WARNING;
  }
  tjDestroy(handle);
  return ok;
}

bool jpeg_write(const uint32_t* pixels, uint32_t width, uint32_t height,
                std::vector<uint8_t>& out) {
  tjhandle handle = tjInitCompress();
  if (!handle) return false;
  unsigned char* buffer = nullptr;
  unsigned long bytes = 0;
  bool ok = tjCompress2(handle, reinterpret_cast<const unsigned char*>(pixels), int(width), 0,
                        int(height), TJPF_BGRX, &buffer, &bytes, TJSAMP_444, 90, 0) == 0;
  if (ok) out.assign(buffer, buffer + bytes);
  tjFree(buffer);
  tjDestroy(handle);
  return ok;
}

// --- GIF ----------------------------------------------------------------------------------------

struct MemoryReader {
  const uint8_t* data;
  size_t size;
  size_t at;
};

int gif_read_bytes(GifFileType* gif, GifByteType* buffer, int n) {
  auto* r = static_cast<MemoryReader*>(gif->UserData);
  size_t k = std::min(size_t(std::max(n, 0)), r->size - r->at);
  std::memcpy(buffer, r->data + r->at, k);
  r->at += k;
  return int(k);
}

// The first frame, over a canvas of the screen's size; pixels outside the frame and those of the
// transparent colour are transparent.
bool gif_read(const uint8_t* data, size_t size, Raster& out) {
  MemoryReader reader{data, size, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&reader, gif_read_bytes, &error);
  if (!gif) return false;
  bool ok = false;
  int transparent = -1;
  for (;;) {
    GifRecordType record;
    if (DGifGetRecordType(gif, &record) == GIF_ERROR) break;
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) break;
      if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
        GraphicsControlBlock gcb;
        if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK) {
          transparent = gcb.TransparentColor;
        }
      }
      bool failed = false;
      while (block) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
          failed = true;
          break;
        }
      }
      if (failed) break;
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) break;  // the end before any frame
    if (DGifGetImageDesc(gif) == GIF_ERROR) break;
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    uint64_t canvas_w = gif->SWidth > 0 ? uint64_t(gif->SWidth) : uint64_t(frame.Width);
    uint64_t canvas_h = gif->SHeight > 0 ? uint64_t(gif->SHeight) : uint64_t(frame.Height);
    if (!map || frame.Width <= 0 || frame.Height <= 0 ||
        !size_allowed(uint64_t(frame.Width), uint64_t(frame.Height)) ||
        !start(out, canvas_w, canvas_h)) {
      break;
    }
    std::vector<GifPixelType> line(size_t(frame.Width));
    std::vector<int> rows;
    if (frame.Interlace) {
      constexpr int kOffset[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; pass++) {
        for (int y = kOffset[pass]; y < frame.Height; y += kStep[pass]) rows.push_back(y);
      }
    } else {
      for (int y = 0; y < frame.Height; y++) rows.push_back(y);
    }
    ok = true;
    for (int y : rows) {
      if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) {
        ok = false;
        break;
      }
      int64_t ty = int64_t(frame.Top) + y;
      if (ty < 0 || ty >= int64_t(out.height)) continue;
      for (int x = 0; x < frame.Width; x++) {
        int64_t tx = int64_t(frame.Left) + x;
        if (tx < 0 || tx >= int64_t(out.width)) continue;
        int index = line[size_t(x)];
        if (index >= map->ColorCount) continue;  // outside the palette: left transparent
        const GifColorType& c = map->Colors[index];
        out.pixels[size_t(ty) * out.width + size_t(tx)] =
            argb(c.Red, c.Green, c.Blue, index == transparent ? 0 : 255);
      }
    }
    break;
  }
  DGifCloseFile(gif, &error);
  return ok;
}

struct MemoryWriter {
  std::vector<uint8_t>* out;
};

int gif_write_bytes(GifFileType* gif, const GifByteType* buffer, int n) {
  auto* w = static_cast<MemoryWriter*>(gif->UserData);
  w->out->insert(w->out->end(), buffer, buffer + n);
  return n;
}

bool gif_write(const uint32_t* pixels, uint32_t width, uint32_t height,
               std::vector<uint8_t>& out) {
  const size_t count = size_t(width) * height;
  // A pixel less than half opaque becomes the transparent entry; the others lose their alpha.
  auto clear = [](uint32_t p) { return (p >> 24) < 128; };
  bool has_clear = false;
  std::unordered_map<uint32_t, int> index_of;
  std::vector<uint32_t> palette;
  bool exact = true;
  for (size_t i = 0; i < count && exact; i++) {
    if (clear(pixels[i])) {
      has_clear = true;
      continue;
    }
    uint32_t rgb = pixels[i] & 0xFFFFFF;
    if (index_of.count(rgb)) continue;
    if (palette.size() >= 256) {
      exact = false;
      break;
    }
    index_of[rgb] = int(palette.size());
    palette.push_back(rgb);
  }
  int limit = has_clear ? 255 : 256;
  std::vector<GifPixelType> indexes(count);
  std::vector<GifColorType> colours;
  if (exact && int(palette.size()) <= limit) {
    for (uint32_t rgb : palette) {
      colours.push_back({GifByteType(rgb >> 16), GifByteType(rgb >> 8), GifByteType(rgb)});
    }
    for (size_t i = 0; i < count; i++) {
      if (!clear(pixels[i])) indexes[i] = GifPixelType(index_of[pixels[i] & 0xFFFFFF]);
    }
  } else {
    std::vector<GifByteType> r(count), g(count), b(count);
    for (size_t i = 0; i < count; i++) {
      r[i] = GifByteType(pixels[i] >> 16);
      g[i] = GifByteType(pixels[i] >> 8);
      b[i] = GifByteType(pixels[i]);
    }
    int size = limit;
    colours.resize(256);
    if (GifQuantizeBuffer(width, height, &size, r.data(), g.data(), b.data(), indexes.data(),
                          colours.data()) == GIF_ERROR) {
      return false;
    }
    colours.resize(size_t(size));
  }
  int transparent = -1;
  if (has_clear) {
    transparent = int(colours.size());
    colours.push_back({0, 0, 0});
    for (size_t i = 0; i < count; i++) {
      if (clear(pixels[i])) indexes[i] = GifPixelType(transparent);
    }
  }
  int bits = std::max(1, GifBitSize(int(colours.size())));
  colours.resize(size_t(1) << bits, GifColorType{0, 0, 0});
  ColorMapObject* map = GifMakeMapObject(1 << bits, colours.data());
  if (!map) return false;
  MemoryWriter writer{&out};
  int error = 0;
  GifFileType* gif = EGifOpen(&writer, gif_write_bytes, &error);
  if (!gif) {
    GifFreeMapObject(map);
    return false;
  }
  EGifSetGifVersion(gif, true);
  bool ok = EGifPutScreenDesc(gif, int(width), int(height), bits, 0, map) == GIF_OK;
  if (ok && transparent >= 0) {
    GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, transparent};
    GifByteType extension[4];
    size_t length = EGifGCBToExtension(&gcb, extension);
    ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(length), extension) == GIF_OK;
  }
  ok = ok && EGifPutImageDesc(gif, 0, 0, int(width), int(height), false, nullptr) == GIF_OK;
  for (uint32_t y = 0; ok && y < height; y++) {
    ok = EGifPutLine(gif, &indexes[size_t(y) * width], int(width)) == GIF_OK;
  }
  if (EGifCloseFile(gif, &error) == GIF_ERROR) ok = false;
  GifFreeMapObject(map);
  return ok;
}

// --- TIFF ---------------------------------------------------------------------------------------

struct TiffMemory {
  const uint8_t* data;     // reading
  std::vector<uint8_t>* out;  // writing
  uint64_t size;
  uint64_t at;
};

tmsize_t tiff_read(thandle_t h, void* buffer, tmsize_t n) {
  auto* m = static_cast<TiffMemory*>(h);
  if (!m->data || n < 0 || m->at >= m->size) return 0;
  uint64_t k = std::min<uint64_t>(uint64_t(n), m->size - m->at);
  std::memcpy(buffer, m->data + m->at, size_t(k));
  m->at += k;
  return tmsize_t(k);
}

tmsize_t tiff_write(thandle_t h, void* buffer, tmsize_t n) {
  auto* m = static_cast<TiffMemory*>(h);
  if (!m->out || n < 0) return 0;
  uint64_t end = m->at + uint64_t(n);
  if (end > m->out->size()) m->out->resize(size_t(end));
  std::memcpy(m->out->data() + m->at, buffer, size_t(n));
  m->at = end;
  m->size = std::max(m->size, end);
  return n;
}

toff_t tiff_seek(thandle_t h, toff_t offset, int whence) {
  auto* m = static_cast<TiffMemory*>(h);
  uint64_t base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->size : 0;
  m->at = base + offset;
  return m->at;
}

int tiff_close(thandle_t) { return 0; }
toff_t tiff_size(thandle_t h) { return static_cast<TiffMemory*>(h)->size; }
int tiff_map(thandle_t, void**, toff_t*) { return 0; }
void tiff_unmap(thandle_t, void*, toff_t) {}

TIFF* tiff_open(TiffMemory& memory, const char* mode) {
  static const bool quiet = [] {
    TIFFSetErrorHandler(nullptr);  // failures come back as statuses; nothing is printed
    TIFFSetWarningHandler(nullptr);
    return true;
  }();
  (void)quiet;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(256) << 20);
  TIFF* tif = TIFFClientOpenExt("memory", mode, &memory, tiff_read, tiff_write, tiff_seek,
                                tiff_close, tiff_size, tiff_map, tiff_unmap, options);
  TIFFOpenOptionsFree(options);
  return tif;
}

// 8-bit RGB or RGBA with unassociated alpha, samples interleaved, in strips: read as stored (the
// RGBA interface would premultiply the alpha).
bool tiff_read_plain(TIFF* tif, Raster& out) {
  uint16_t bits = 0, samples = 0, photometric = 0, planar = 0;
  uint16_t extra_count = 0;
  uint16_t* extra = nullptr;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
  bool plain = bits == 8 && photometric == PHOTOMETRIC_RGB && planar == PLANARCONFIG_CONTIG &&
               !TIFFIsTiled(tif) &&
               ((samples == 3 && extra_count == 0) ||
                (samples == 4 && extra_count == 1 && extra[0] == EXTRASAMPLE_UNASSALPHA));
  if (!plain) return false;
  tmsize_t line_size = TIFFScanlineSize(tif);
  if (line_size < tmsize_t(out.width) * samples) return false;
  std::vector<uint8_t> line(static_cast<size_t>(line_size));
  for (uint32_t y = 0; y < out.height; y++) {
    if (TIFFReadScanline(tif, line.data(), y, 0) < 0) return false;
    for (uint32_t x = 0; x < out.width; x++) {
      const uint8_t* p = &line[size_t(x) * samples];
      out.pixels[size_t(y) * out.width + x] = argb(p[0], p[1], p[2], samples == 4 ? p[3] : 255);
    }
  }
  return true;
}

bool tiff_decode(const uint8_t* data, size_t size, Raster& out) {
  TiffMemory memory{data, nullptr, size, 0};
  TIFF* tif = tiff_open(memory, "rm");
  if (!tif) return false;
  uint32_t width = 0, height = 0;
  bool ok = TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) &&
            TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) && start(out, width, height);
  if (ok && !tiff_read_plain(tif, out)) {
    char message[1024];
    ok = TIFFRGBAImageOK(tif, message) &&
         TIFFReadRGBAImageOriented(tif, width, height, out.pixels.data(), ORIENTATION_TOPLEFT,
                                   1);
    // The RGBA interface packs R in the low byte: turn each word into 0xAARRGGBB.
    for (uint32_t& p : out.pixels) {
      p = argb(TIFFGetR(p), TIFFGetG(p), TIFFGetB(p), TIFFGetA(p));
    }
  }
  TIFFClose(tif);
  return ok;
}

bool tiff_encode(const uint32_t* pixels, uint32_t width, uint32_t height,
                 std::vector<uint8_t>& out) {
  TiffMemory memory{nullptr, &out, 0, 0};
  TIFF* tif = tiff_open(memory, "w");
  if (!tif) return false;
  const size_t count = size_t(width) * height;
  const uint16_t samples = all_opaque(pixels, count) ? 3 : 4;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  if (samples == 4) {
    uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  std::vector<uint8_t> line(size_t(width) * samples);
  bool ok = true;
  for (uint32_t y = 0; ok && y < height; y++) {
    for (uint32_t x = 0; x < width; x++) {
      uint32_t p = pixels[size_t(y) * width + x];
      uint8_t* q = &line[size_t(x) * samples];
      q[0] = uint8_t(p >> 16);
      q[1] = uint8_t(p >> 8);
      q[2] = uint8_t(p);
      if (samples == 4) q[3] = uint8_t(p >> 24);
    }
    ok = TIFFWriteScanline(tif, line.data(), y, 0) >= 0;
  }
  TIFFClose(tif);
  out.resize(size_t(memory.size));
  return ok;
}

// --- BMP ----------------------------------------------------------------------------------------

uint32_t u16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t u32(const uint8_t* p) { return u16(p) | u16(p + 2) << 16; }

struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;
  explicit Channel(uint32_t m = 0) : mask(m) {
    if (!m) return;
    shift = std::countr_zero(m);
    max = m >> shift;
  }
  // The channel of a pixel word, scaled to 0-255 (masks wider than a byte keep its top bits).
  uint32_t of(uint32_t word, uint32_t absent) const {
    if (!mask) return absent;
    uint64_t v = (word & mask) >> shift;
    return uint32_t((v * 255 + max / 2) / max);
  }
};

// Uncompressed and bit-field BMPs of 1, 4, 8, 16, 24 and 32 bits, bottom-up or top-down, with
// the core, info, V4 and V5 headers. Run-length compressed files are refused.
bool bmp_read(const uint8_t* data, size_t size, Raster& out) {
  if (size < 26 || data[0] != 'B' || data[1] != 'M') return false;
  const uint64_t pixel_offset = u32(data + 10);
  const uint32_t header = u32(data + 14);
  int64_t width, height;
  uint32_t bpp, compression = 0, colours_used = 0;
  uint64_t palette_at = 14 + uint64_t(header);
  uint32_t palette_entry = 4;
  Channel red, green, blue, alpha;
  if (header == 12) {
    width = u16(data + 18);
    height = int16_t(u16(data + 20));
    bpp = u16(data + 24);
    palette_entry = 3;
  } else if (header >= 40 && 14 + uint64_t(header) <= size) {
    width = int32_t(u32(data + 18));
    height = int32_t(u32(data + 22));
    bpp = u16(data + 28);
    compression = u32(data + 30);
    colours_used = u32(data + 46);
    if (compression == 3 || compression == 6) {  // bit fields (6: with alpha)
      uint64_t masks_at = 54;
      uint32_t mask_count = compression == 6 ? 4 : 3;
      if (header == 40) palette_at += 4 * mask_count;
      if (masks_at + 4 * mask_count > size) return false;
      red = Channel(u32(data + 54));
      green = Channel(u32(data + 58));
      blue = Channel(u32(data + 62));
      if (compression == 6 || header >= 56) {
        if (masks_at + 16 > size) return false;
        alpha = Channel(u32(data + 66));
      }
    } else if (compression != 0) {
      return false;
    }
  } else {
    return false;
  }
  bool top_down = height < 0;
  if (top_down) height = -height;
  if (width <= 0 || height <= 0 || !size_allowed(uint64_t(width), uint64_t(height))) return false;
  if (compression == 0) {
    switch (bpp) {
      case 16: red = Channel(0x7C00); green = Channel(0x03E0); blue = Channel(0x001F); break;
      case 24: case 32:
        red = Channel(0xFF0000); green = Channel(0xFF00); blue = Channel(0xFF); break;
      case 1: case 4: case 8: break;
      default: return false;
    }
  } else if (bpp != 16 && bpp != 32) {
    return false;
  }
  // The palette of the indexed depths.
  std::vector<uint32_t> palette;
  if (bpp <= 8) {
    uint64_t entries = colours_used && colours_used <= (1u << bpp) ? colours_used : 1u << bpp;
    for (uint64_t i = 0; i < entries; i++) {
      uint64_t at = palette_at + i * palette_entry;
      if (at + 3 > size) break;
      palette.push_back(argb(data[at + 2], data[at + 1], data[at], 255));
    }
    if (palette.empty()) return false;
  }
  const uint64_t stride = ((uint64_t(width) * bpp + 31) / 32) * 4;
  if (pixel_offset > size || stride * uint64_t(height) > size - pixel_offset) return false;
  if (!start(out, uint64_t(width), uint64_t(height))) return false;
  for (int64_t row = 0; row < height; row++) {
    const uint8_t* line = data + pixel_offset + stride * uint64_t(row);
    int64_t y = top_down ? row : height - 1 - row;
    uint32_t* target = &out.pixels[size_t(y) * out.width];
    for (int64_t x = 0; x < width; x++) {
      uint32_t pixel;
      if (bpp <= 8) {
        uint64_t bit = uint64_t(x) * bpp;
        uint32_t index = (line[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        pixel = index < palette.size() ? palette[index] : kOpaque;
      } else {
        uint32_t word = bpp == 16   ? u16(line + x * 2)
                        : bpp == 24 ? u16(line + x * 3) | uint32_t(line[x * 3 + 2]) << 16
                                    : u32(line + x * 4);
        pixel = argb(red.of(word, 0), green.of(word, 0), blue.of(word, 0), alpha.of(word, 255));
      }
      target[x] = pixel;
    }
  }
  return true;
}

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// Opaque images as 24-bit BI_RGB; images with alpha as 32-bit bit fields in a V4 header, whose
// alpha mask keeps the transparency.
bool bmp_write(const uint32_t* pixels, uint32_t width, uint32_t height,
               std::vector<uint8_t>& out) {
  const bool opaque = all_opaque(pixels, size_t(width) * height);
  const uint32_t header = opaque ? 40 : 108;
  const uint32_t bpp = opaque ? 24 : 32;
  const uint64_t stride = ((uint64_t(width) * bpp + 31) / 32) * 4;
  const uint64_t image_bytes = stride * height;
  const uint64_t offset = 14 + header;
  if (offset + image_bytes > 0xFFFFFFFFu) return false;
  out.clear();
  out.reserve(size_t(offset + image_bytes));
  out.push_back('B');
  out.push_back('M');
  put32(out, uint32_t(offset + image_bytes));
  put32(out, 0);
  put32(out, uint32_t(offset));
  put32(out, header);
  put32(out, width);
  put32(out, height);  // bottom-up
  put16(out, 1);
  put16(out, bpp);
  put32(out, opaque ? 0 : 3);
  put32(out, uint32_t(image_bytes));
  put32(out, 2835);  // 72 DPI
  put32(out, 2835);
  put32(out, 0);
  put32(out, 0);
  if (!opaque) {
    put32(out, 0x00FF0000);
    put32(out, 0x0000FF00);
    put32(out, 0x000000FF);
    put32(out, 0xFF000000);
    put32(out, 0x73524742);  // 'sRGB'
    out.resize(out.size() + 48, 0);  // endpoints and gamma, unused with sRGB
  }
  for (uint32_t row = 0; row < height; row++) {
    const uint32_t* line = pixels + size_t(height - 1 - row) * width;
    size_t start_size = out.size();
    for (uint32_t x = 0; x < width; x++) {
      uint32_t p = line[x];
      out.push_back(uint8_t(p));
      out.push_back(uint8_t(p >> 8));
      out.push_back(uint8_t(p >> 16));
      if (!opaque) out.push_back(uint8_t(p >> 24));
    }
    out.resize(start_size + size_t(stride), 0);
  }
  return true;
}

}  // namespace

int32_t sniff(const uint8_t* d, size_t n) {
  if (n >= 4 && d[0] == 0x89 && d[1] == 'P' && d[2] == 'N' && d[3] == 'G') return kPng;
  if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return kJpeg;
  if (n >= 2 && d[0] == 'B' && d[1] == 'M') return kBmp;
  if (n >= 6 && d[0] == 'G' && d[1] == 'I' && d[2] == 'F' && d[3] == '8' &&
      (d[4] == '7' || d[4] == '9') && d[5] == 'a') {
    return kGif;
  }
  if (n >= 4 && ((d[0] == 'I' && d[1] == 'I' && d[2] == 0x2A && d[3] == 0) ||
                 (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && d[3] == 0x2A))) {
    return kTiff;
  }
  return -1;
}

bool decode_png(const uint8_t* data, size_t size, Raster& out) { return png_read(data, size, out); }
bool decode_jpeg(const uint8_t* data, size_t size, Raster& out) {
  return jpeg_read(data, size, out);
}
bool decode_gif(const uint8_t* data, size_t size, Raster& out) { return gif_read(data, size, out); }
bool decode_tiff(const uint8_t* data, size_t size, Raster& out) {
  return tiff_decode(data, size, out);
}
bool decode_bmp(const uint8_t* data, size_t size, Raster& out) { return bmp_read(data, size, out); }

bool decode(const uint8_t* data, size_t size, Raster& out) {
  bool ok = false;
  switch (sniff(data, size)) {
    case kPng: ok = decode_png(data, size, out); break;
    case kJpeg: ok = decode_jpeg(data, size, out); break;
    case kBmp: ok = decode_bmp(data, size, out); break;
    case kGif: ok = decode_gif(data, size, out); break;
    case kTiff: ok = decode_tiff(data, size, out); break;
    default: break;
  }
  if (!ok) out = Raster{};
  return ok;
}

bool encode(const uint32_t* pixels, uint32_t width, uint32_t height, Format format,
            std::vector<uint8_t>& out) {
  out.clear();
  if (width == 0 || height == 0) return true;
  switch (format) {
    case kBmp: return bmp_write(pixels, width, height, out);
    case kPng: return png_write(pixels, width, height, out);
    case kGif: return gif_write(pixels, width, height, out);
    case kJpeg: return jpeg_write(pixels, width, height, out);
    case kTiff: return tiff_encode(pixels, width, height, out);
  }
  return false;
}

}  // namespace image_codec
