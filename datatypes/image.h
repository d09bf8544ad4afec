// image!: a series of pixels over an image record (datatypes/image/image_buf.h). The cell holds
// the position (a pixel index, row-major) in word 1, the record node in word 2 and the size
// (width in bits 0-15, height in bits 16-31) in word 3. The language sees a pixel as the 4-byte
// tuple r.g.b.t with t = 255 - A. Also the glue the image codecs call: decoding bytes or a file
// into an image and encoding an image into bytes.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace image {

inline uint32_t width_of(const Cell& image) { return image.w3 & 0xFFFF; }
inline uint32_t height_of(const Cell& image) { return image.w3 >> 16; }

// Writes an image! over the record at position 0 with the record's size.
Cell* make_at(Cell* cell, uint32_t record);

// Pushes an image! over a copy of the image scaled to width x height by nearest neighbour
// (negative sides count as 0) and returns it. May allocate.
Cell* push_resized(const Cell& image, int64_t width, int64_t height);

// The pixel at a 0-based index as a 4-byte tuple!, or none at or past the end.
Cell pixel_to_tuple(const Cell& image, int64_t index);

// Channel kinds of the accessors.
enum Channel : int32_t { kAlpha = 0, kRgb = 1, kArgb = 2 };
// Pushes a new binary! with one channel of every pixel, from pixel 0. May allocate.
Cell* extract_pixels(const Cell& image, Channel kind);
// Overwrites one channel of every pixel from a binary!, tuple! or integer!; any other value
// raises script/invalid-arg. The owner is told.
void set_pixels(Cell* image, const Cell& data, Channel kind);

// Pushes the decoded image when the binary's bytes from its position start with a known
// signature and returns it; a recognised but corrupt image raises access/bad-media. Bytes
// without a known signature push nothing and return null. May allocate.
Cell* push_decoded_binary(const Cell& binary);
// Pushes the image a binary! holds (anything unreadable raises access/bad-media) or, for any
// other value, the image in the file it names (a file that cannot be read or decoded raises
// access/cannot-open with it). May allocate.
Cell* decode(const Cell& data);
// The image encoded in the format (image_codec::Format): a new binary! (pushed and returned)
// when the destination is none, else written to the file the destination names (which is then
// returned). An image with no pixels raises access/bad-media; an unknown format prints "Cannot
// find image encoder" and returns null. May allocate.
Cell* encode(const Cell& image, const Cell& destination, int32_t format);

void register_datatype();

}  // namespace image
