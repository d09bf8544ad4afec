// The image record: the buffer behind every image! value. One series node holds a small header
// (flags, size) just before its head and the pixels from the head on: width x height 32-bit
// straight-alpha words 0xAARRGGBB (A = 255 opaque), row-major. Pixels live in series memory, so
// they move with the collector like any buffer: re-derive their address after an allocation.
// The renderer may keep a drawing surface made from an image (later a Cairo image surface); the
// record tracks it through the derived-surface hook below and drops it when the pixels change or
// the record dies.
#pragma once
#include <cstdint>

#include "datatypes/image/codec.h"
#include "runtime/cell.h"

namespace image_buf {

// Header flags.
constexpr uint32_t kChanged = 0x02;      // pixels changed since the derived surface was made
constexpr uint32_t kDerivedUsed = 0x40;  // the derived surface was used since the last collection

struct Header {
  uint32_t flags;
  uint32_t size;  // width in bits 0-15, height in bits 16-31
  uint32_t spare[2];
};

inline uint32_t pack_size(uint32_t width, uint32_t height) { return (height << 16) | width; }
inline uint32_t width_of_size(uint32_t size) { return size & 0xFFFF; }
inline uint32_t height_of_size(uint32_t size) { return size >> 16; }

// A new record of width x height pixels, every one `fill`. A side beyond 65535 or more pixels
// than a buffer holds raises internal/no-memory. May allocate.
uint32_t make_record(uint32_t width, uint32_t height, uint32_t fill);
// A new record holding the raster's pixels. May allocate.
uint32_t from_raster(const image_codec::Raster& raster);
// A new record of width x height pixels scaled from the record's by nearest neighbour (pixel
// x, y takes the source pixel x * source width / width, y * source height / height); white
// when the source has no pixels. May allocate.
uint32_t scale(uint32_t node, uint32_t width, uint32_t height);
// A new record of the same size with the rows in reverse order. May allocate.
uint32_t flip_vertical(uint32_t node);

Header* header_of(uint32_t node);
// The pixels; valid until the next allocation.
uint32_t* pixels_of(uint32_t node);
uint32_t pixel_count(uint32_t node);

// Pixels are about to change: flag kChanged and drop the derived surface.
void pixels_changed(uint32_t node);

// --- The derived surface ------------------------------------------------------------------------
// The renderer installs how its surfaces are released; a surface lives while its record lives
// and was used (ref_derived) since the collection before the last one.
using ReleaseSurface = void (*)(void* surface);
void set_surface_release(ReleaseSurface release);
void set_derived(uint32_t node, void* surface);  // replaces (and releases) any previous one
void* ref_derived(uint32_t node);                // null when none; marks it used
void drop_derived(uint32_t node);

// Registers the collector's sweep of the derived surfaces; once, before image! is registered.
void init();

}  // namespace image_buf
