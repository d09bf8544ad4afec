// image!: what the language cannot reach yet. The nearest-neighbour resized copy and the vertical
// flip that the renderer asks for, and the image codec routines (encode and decode of the png,
// jpeg, bmp, gif and tiff codec objects) called as routine bodies are, on their frame's cells.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "datatypes/image.h"
#include "datatypes/image/image_buf.h"
#include "gc_stress.h"
#include "interpreter/eval.h"
#include "io/codecs.h"
#include "lexer/lexer.h"
#include "number_test_support.h"
#include "stdout_capture.h"

namespace {

class ImageTest : public number_test::NumberTest {
 protected:
  // Runs a routine body on a frame holding the arguments; gives its result (arg 0) molded, or
  // the raised error as category/id.
  static std::string call(codecs::Body body, std::initializer_list<Cell> arguments,
                          Cell* result = nullptr) {
    Cell value{};
    std::string error = guarded([&] {
      frames::mark_native(source_word("test-call"));
      for (const Cell& c : arguments) stack::push_copy(c);
      body();
      value = *stack::arg(0);
      frames::unwind();
    });
    if (!error.empty()) return error;
    if (result) *result = value;
    return mold(value);
  }

  static const codecs::ImageCodec& codec(const char* name) {
    for (const auto& c : codecs::image_codecs) {
      if (std::string(c.name) == name) return c;
    }
    ADD_FAILURE() << "no codec " << name;
    return codecs::image_codecs[0];
  }
};

// Each target pixel takes the source pixel its position scales down to; the source is left as
// it was, and a side of 0 (or below) gives an image without pixels.
TEST_F(ImageTest, ResizedCopyTakesTheNearestPixels) {
  StressEveryAllocation stress;
  const Cell source = *eval("make image! [2x2 #{111111222222333333444444}]");
  struct Case {
    int64_t width, height;
    const char* molded;
  };
  const std::vector<Case> cases = {
      {4, 2, "make image! [4x2 #{111111111111222222222222333333333333444444444444}]"},
      {2, 4, "make image! [2x4 #{111111222222111111222222333333444444333333444444}]"},
      {1, 1, "make image! [1x1 #{111111}]"},
      {3, 1, "make image! [3x1 #{111111111111222222}]"},
      {0, 3, "make image! [0x3 #{}]"},
      {-2, 2, "make image! [0x2 #{}]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mold(*image::push_resized(source, c.width, c.height)), c.molded)
        << c.width << "x" << c.height;
  }
  EXPECT_EQ(mold(source), "make image! [2x2 #{111111222222333333444444}]");
  EXPECT_EQ(mold(*image::push_resized(*eval("make image! 0x0"), 2, 1)),
            "make image! [2x1 #{FFFFFFFFFFFF}]");
  EXPECT_EQ(guarded([] { image::push_resized(*eval("make image! 1x1"), 70000, 1); }),
            "internal/no-memory");
}

// Rows in reverse order, transparency kept; the source is unchanged.
TEST_F(ImageTest, VerticalFlipReversesTheRows) {
  StressEveryAllocation stress;
  const Cell source = *eval("make image! [2x3 #{111111222222333333444444555555666666} #{00FF}]");
  Cell* flipped = empty_stack_cell();
  image::make_at(flipped, image_buf::flip_vertical(cell::series_node(source)));
  EXPECT_EQ(mold(*flipped),
            "make image! [2x3 #{555555666666333333444444111111222222} #{0000000000FF}]");
  EXPECT_EQ(mold(source),
            "make image! [2x3 #{111111222222333333444444555555666666} #{00FF00000000}]");
}

// encode with none gives the bytes as a binary!, which decode makes an equal image of (PNG, BMP
// and TIFF exactly, transparency included; GIF exactly for opaque pixels; JPEG of the same
// size); an image without pixels cannot be encoded; bytes that are no image cannot be decoded.
TEST_F(ImageTest, CodecRoutinesRoundTrip) {
  const Cell translucent =
      *eval("make image! [3x2 #{FF000000FF000000FF102030405060708090} #{00000000007F}]");
  const Cell opaque = *eval("make image! [3x2 #{FF000000FF000000FF102030405060708090}]");
  for (const char* name : {"png", "bmp", "tiff", "gif"}) {
    const Cell image = std::string(name) == "gif" ? opaque : translucent;
    Cell bytes{};
    EXPECT_EQ(call(codec(name).encode, {image, constants::none}, &bytes).substr(0, 2), "#{")
        << name;
    EXPECT_EQ(cell::type_of(bytes), TYPE_BINARY);
    stack::push_copy(bytes);
    EXPECT_EQ(call(codec(name).decode, {bytes}), mold(image)) << name;
  }
  Cell jpeg{};
  call(codec("jpeg").encode, {opaque, constants::none}, &jpeg);
  stack::push_copy(jpeg);
  Cell decoded{};
  call(codec("jpeg").decode, {jpeg}, &decoded);
  EXPECT_EQ(cell::type_of(decoded), TYPE_IMAGE);
  EXPECT_EQ(image::width_of(decoded), 3u);
  EXPECT_EQ(image::height_of(decoded), 2u);

  EXPECT_EQ(call(codec("png").encode, {*eval("make image! 0x4"), constants::none}),
            "access/bad-media");
  EXPECT_EQ(call(codec("png").decode, {*eval("#{89504E470D0A1A0A00}")}), "access/bad-media");
  EXPECT_EQ(call(codec("png").decode, {*eval("#{00010203}")}), "access/bad-media");
}

// A format number beyond the five prints a line and gives nothing.
TEST_F(ImageTest, UnknownEncoderFormat) {
  const Cell image = *eval("make image! 1x1");
  StdoutCapture out;
  EXPECT_EQ(image::encode(image, constants::none, 5), nullptr);
  EXPECT_EQ(image::encode(image, constants::none, -1), nullptr);
  EXPECT_EQ(out.text(), "Cannot find image encoder\nCannot find image encoder\n");
}

// A header claiming more pixels than an image may hold is refused as bad media.
TEST_F(ImageTest, CodecDecodeRefusesHugeClaims) {
  // A BMP header of 65535 x 65535 pixels at 32 bits, with no pixel data after it.
  const Cell bmp = *eval(
      "#{424D36000000000000003600000028000000FFFF0000FFFF0000010020000000000000000000"
      "130B0000130B00000000000000000000}");
  EXPECT_EQ(call(codec("bmp").decode, {bmp}), "access/bad-media");
}

// With a file! as where, encode writes the file and gives it back; decode of the file! reads it.
// A file that is missing or holds no image cannot be opened.
TEST_F(ImageTest, CodecRoutinesWriteAndReadFiles) {
  const std::string path = testing::TempDir() + "zel-image-codec-test.png";
  const Cell image = *eval("make image! [2x1 1.2.3.4]");
  const Cell file = *eval("to file! {" + path + "}");
  EXPECT_EQ(call(codec("png").encode, {image, file}), mold(file));
  EXPECT_EQ(call(codec("png").decode, {file}), mold(image));
  std::remove(path.c_str());
  EXPECT_EQ(call(codec("png").decode, {file}), "access/cannot-open");
}

}  // namespace
