// The compiled routines behind the image codec objects of system/codecs (png, jpeg, bmp, gif,
// tiff): each codec's encode (image, where) and decode (data). Their bodies work as routine
// bodies do: the arguments in the current frame's cells (stack::arg(0), stack::arg(1)), the
// result left in arg(0). The table below gives, per codec, its name, suffixes, format number and
// bodies, for the code that builds the codec objects and binds their encode and decode fields.
#pragma once
#include <cstdint>

namespace codecs {

using Body = void (*)();

struct ImageCodec {
  const char* name;       // the codec's name in system/codecs
  const char* mime_type;
  const char* suffixes;   // space-separated, with their dots
  int32_t format;         // image_codec::Format
  Body encode;            // (image [image!] where [file! none!]) -> binary! or the file
  Body decode;            // (data [binary! file!]) -> image!
};

// png, jpeg, bmp, gif, tiff.
extern const ImageCodec image_codecs[5];

// decode (data): a binary! decoded from memory, anything else taken as the file to decode.
void decode_image();

}  // namespace codecs
