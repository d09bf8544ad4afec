// The image record's buffer and the table of derived surfaces. The table is keyed by record
// node; a collector sweep hook releases the surfaces of records that died, and of those whose
// surface went unused for a whole cycle.
#include "datatypes/image/image_buf.h"

#include <algorithm>
#include <unordered_map>

#include "runtime/alloc.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace image_buf {

namespace {

constexpr uint32_t kHeaderBytes = sizeof(Header);
static_assert(kHeaderBytes == 16);

std::unordered_map<uint32_t, void*> surfaces;
ReleaseSurface release_surface = nullptr;

void release(void* surface) {
  if (surface && release_surface) release_surface(surface);
}

void sweep() {
  for (auto it = surfaces.begin(); it != surfaces.end();) {
    bool keep = gc::is_marked(it->first);
    if (keep) {
      Header* h = header_of(it->first);
      keep = h->flags & kDerivedUsed;
      h->flags &= ~kDerivedUsed;
    }
    if (keep) {
      ++it;
    } else {
      release(it->second);
      it = surfaces.erase(it);
    }
  }
}

}  // namespace

uint32_t make_record(uint32_t width, uint32_t height, uint32_t fill) {
  if (width > image_codec::kMaxSide || height > image_codec::kMaxSide ||
      uint64_t(width) * height > image_codec::max_pixels) {
    rt::fire_error("internal", "no-memory");
  }
  uint32_t count = width * height;
  // The header sits in the buffer's first 16 bytes, before the head.
  uint32_t node = alloc::new_series(count + kHeaderBytes / 4, 4, kHeaderBytes);
  alloc::Series* s = alloc::series_of(node);
  *reinterpret_cast<Header*>(s->data()) = Header{0, pack_size(width, height), {0, 0}};
  s->tail = s->head + count * 4;
  std::fill_n(reinterpret_cast<uint32_t*>(s->head_ptr()), count, fill);
  return node;
}

uint32_t from_raster(const image_codec::Raster& raster) {
  uint32_t node = make_record(raster.width, raster.height, 0);
  std::copy(raster.pixels.begin(), raster.pixels.end(), pixels_of(node));
  return node;
}

uint32_t scale(uint32_t node, uint32_t width, uint32_t height) {
  const uint32_t size = header_of(node)->size;
  const uint64_t sw = width_of_size(size), sh = height_of_size(size);
  // Nothing to sample: white, as a new image is.
  if (sw == 0 || sh == 0) return make_record(width, height, 0xFFFFFFFFu);
  gc::Guard keep(node);
  const uint32_t made = make_record(width, height, 0);
  const uint32_t* from = pixels_of(node);  // addressed after the allocation
  uint32_t* to = pixels_of(made);
  for (uint64_t y = 0; y < height; y++) {
    const uint32_t* row = from + (y * sh / height) * sw;
    for (uint64_t x = 0; x < width; x++) *to++ = row[x * sw / width];
  }
  return made;
}

uint32_t flip_vertical(uint32_t node) {
  const uint32_t size = header_of(node)->size;
  const uint32_t w = width_of_size(size), h = height_of_size(size);
  gc::Guard keep(node);
  const uint32_t made = make_record(w, h, 0);
  const uint32_t* from = pixels_of(node);
  uint32_t* to = pixels_of(made);
  for (uint32_t y = 0; y < h; y++) std::copy_n(from + size_t(h - 1 - y) * w, w, to + size_t(y) * w);
  return made;
}

Header* header_of(uint32_t node) {
  return reinterpret_cast<Header*>(alloc::series_of(node)->data());
}

uint32_t* pixels_of(uint32_t node) {
  return reinterpret_cast<uint32_t*>(alloc::series_of(node)->head_ptr());
}

uint32_t pixel_count(uint32_t node) { return alloc::series_of(node)->used() / 4; }

void pixels_changed(uint32_t node) {
  header_of(node)->flags |= kChanged;
  drop_derived(node);
}

void set_surface_release(ReleaseSurface fn) { release_surface = fn; }

void set_derived(uint32_t node, void* surface) {
  drop_derived(node);
  if (!surface) return;
  surfaces[node] = surface;
  header_of(node)->flags = (header_of(node)->flags & ~kChanged) | kDerivedUsed;
}

void* ref_derived(uint32_t node) {
  auto it = surfaces.find(node);
  if (it == surfaces.end()) return nullptr;
  header_of(node)->flags |= kDerivedUsed;
  return it->second;
}

void drop_derived(uint32_t node) {
  auto it = surfaces.find(node);
  if (it == surfaces.end()) return;
  void* surface = it->second;
  surfaces.erase(it);
  release(surface);
}

void init() {
  static bool done = false;
  if (done) return;
  done = true;
  gc::add_sweep_hook(sweep);
}

}  // namespace image_buf
