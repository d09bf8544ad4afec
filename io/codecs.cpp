// The image codec routines: thin bodies over image::encode and image::decode, one encode per
// format. Whatever those push stays on the stack until the result is in arg(0).
#include "io/codecs.h"

#include "datatypes/constants.h"
#include "datatypes/image.h"
#include "datatypes/image/codec.h"
#include "datatypes/stack.h"

namespace codecs {

namespace {

template <int32_t format>
void encode_image() {
  Cell* result = image::encode(*stack::arg(0), *stack::arg(1), format);
  const Cell value = result ? *result : constants::none;
  stack::set_only_result(value);
}

}  // namespace

void decode_image() {
  const Cell value = *image::decode(*stack::arg(0));
  stack::set_only_result(value);
}

const ImageCodec image_codecs[5] = {
    {"png", "image/png", ".png", image_codec::kPng, encode_image<image_codec::kPng>,
     decode_image},
    {"jpeg", "image/jpeg", ".jpg .jpeg .jpe .jfif", image_codec::kJpeg,
     encode_image<image_codec::kJpeg>, decode_image},
    {"bmp", "image/bmp", ".bmp", image_codec::kBmp, encode_image<image_codec::kBmp>,
     decode_image},
    {"gif", "image/gif", ".gif", image_codec::kGif, encode_image<image_codec::kGif>,
     decode_image},
    {"tiff", "image/tiff", ".tif .tiff", image_codec::kTiff, encode_image<image_codec::kTiff>,
     decode_image},
};

}  // namespace codecs
