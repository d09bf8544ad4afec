// read-clipboard and write-clipboard over the desktop's clipboard: the values are turned into
// plain bytes (text, paths) before the platform sees them, and back after it answers.
#include "io/clipboard.h"

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/file.h"
#include "datatypes/image.h"
#include "datatypes/image/codec.h"
#include "datatypes/image/image_buf.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "platform/gui/clipboard.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace clipboard {
namespace {

const uint8_t* data_of(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

[[noreturn]] void fire_no_display(const std::string& why) {
  const std::string what = "clipboard: " + why;
  Cell* text = string::load_encoded_push(data_of(what), what.size(), string::kUtf8);
  rt::fire_error("access", "cannot-open", text);
}

// UTF-8 of a string! or file! from its position.
std::string utf8_of(const Cell& value) {
  Cell* copy = stack::push_copy(value);
  int64_t count = -1;
  const uint8_t* bytes = unicode::string_to_utf8(*copy, count);
  std::string text(reinterpret_cast<const char*>(bytes), size_t(count));
  stack::pop_cells(1);
  return text;
}

// The absolute POSIX path of a file! or string! path.
std::string full_path(const Cell& path) {
  Cell* text = string::init_empty(stack::push_copy(constants::none), 16);
  file::to_os_path(path, *text, true);
  std::string result = utf8_of(*text);
  stack::pop_cells(1);
  return result;
}

// As another program's text reads here: without CR, and ending at a NUL as C text does.
std::string as_read(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\0') break;
    if (c != '\r') out += c;
  }
  return out;
}

// An image goes on the clipboard as PNG (what most programs paste) and as a 32-bit BMP with its
// alpha (for those that take only a bitmap). The encoders allocate nothing from series memory.
void offer_image(const Cell& image, platform::ClipboardData& offer) {
  const uint32_t width = image::width_of(image), height = image::height_of(image);
  if (width == 0 || height == 0) return;
  const uint32_t* pixels = image_buf::pixels_of(cell::series_node(image));
  const std::pair<image_codec::Format, const char*> formats[] = {
      {image_codec::kPng, "image/png"}, {image_codec::kBmp, "image/bmp"}};
  for (const auto& [format, type] : formats) {
    std::vector<uint8_t> bytes;
    if (!image_codec::encode(pixels, width, height, format, bytes)) {
      rt::fire_error("access", "bad-media");
    }
    offer.images.emplace_back(type, std::string(bytes.begin(), bytes.end()));
  }
  offer.format = platform::ClipboardFormat::kImage;
}

}  // namespace

Cell* read() {
  platform::ClipboardData data;
  std::string why;
  switch (platform::clipboard_read(data, why)) {
    case platform::ClipboardStatus::kNoDisplay:
      fire_no_display(why);
    case platform::ClipboardStatus::kFailed:
      return stack::push_copy(logic::make(false));
    case platform::ClipboardStatus::kDone:
      break;
  }
  switch (data.format) {
    case platform::ClipboardFormat::kText: {
      const std::string text = as_read(data.text);
      return string::load_encoded_push(data_of(text), text.size(), string::kUtf8);
    }
    case platform::ClipboardFormat::kFiles: {
      Cell* block = block::init_empty(stack::push_copy(constants::none),
                                      int32_t(data.paths.size()));
      for (const std::string& path : data.paths) {
        Cell* name = string::load_encoded_to_block(data_of(path), path.size(), *block,
                                                    string::kUtf8);
        cell::set_type(*name, TYPE_FILE);
      }
      return block;
    }
    case platform::ClipboardFormat::kImage: {
      // The bytes' signature picks the decoder, whatever type the owner named.
      const std::string& bytes = data.images.front().second;
      image_codec::Raster raster;
      if (!image_codec::decode(data_of(bytes), bytes.size(), raster)) {
        rt::fire_error("access", "bad-media");
      }
      return image::make_at(stack::push_copy(constants::none), image_buf::from_raster(raster));
    }
    case platform::ClipboardFormat::kNothing:
      break;
  }
  return stack::push_copy(constants::none);
}

bool write(const Cell& data) {
  platform::ClipboardData offer;
  switch (cell::type_of(data)) {
    case TYPE_NONE:
      break;
    case TYPE_STRING:
      offer.format = platform::ClipboardFormat::kText;
      offer.text = utf8_of(data);
      break;
    case TYPE_BLOCK:
      offer.format = platform::ClipboardFormat::kFiles;
      for (int32_t i = 0; i < block::rest_length(data); i++) {
        // A copy on the data stack: the block's buffer may move while the path is made.
        Cell* item =
            stack::push_copy(*block::cell_at(data, int32_t(cell::series_index(data)) + i));
        const uint8_t type = cell::type_of(*item);
        if (type != TYPE_FILE && type != TYPE_STRING) rt::fire_error("script", "invalid-arg", item);
        offer.paths.push_back(full_path(*item));
        stack::pop_cells(1);
      }
      break;
    case TYPE_IMAGE:
      offer_image(data, offer);  // an image without pixels offers nothing
      break;
    default:
      rt::fire_error("script", "invalid-arg", &data);
  }
  std::string why;
  const platform::ClipboardStatus status = platform::clipboard_write(offer, why);
  if (status == platform::ClipboardStatus::kNoDisplay) fire_no_display(why);
  return status == platform::ClipboardStatus::kDone;
}

}  // namespace clipboard
