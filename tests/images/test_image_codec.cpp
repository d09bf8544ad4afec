// The image formats of datatypes/image/codec.h on their own: the PngSuite images decode to the
// pixels their reference lists give and the corrupt ones are refused; every format round-trips
// (the lossless ones exactly); sizes beyond the limits are refused before any pixel is read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "datatypes/image/codec.h"

namespace {

using image_codec::Raster;

std::vector<uint8_t> read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The numbers of a JSON array of integers.
std::vector<uint32_t> read_numbers(const std::filesystem::path& path) {
  std::vector<uint32_t> numbers;
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  for (size_t i = 0; i < text.size();) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
      i++;
      continue;
    }
    uint32_t n = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      n = n * 10 + uint32_t(text[i++] - '0');
    }
    numbers.push_back(n);
  }
  return numbers;
}

std::filesystem::path suite() {
  const char* dir = std::getenv("ZEL_PNGSUITE");
  return dir ? dir : "";
}

TEST(PngSuite, ImagesDecodeToTheirReferencePixels) {
  ASSERT_FALSE(suite().empty()) << "ZEL_PNGSUITE names the suite's folder";
  int checked = 0;
  std::vector<std::string> mismatched;
  for (const auto& entry : std::filesystem::directory_iterator(suite() / "png")) {
    const std::string name = entry.path().stem().string();
    if (entry.path().extension() != ".png" || name[0] == 'x') continue;
    auto reference = suite() / "json" / (name + "_to8.json");
    if (!std::filesystem::exists(reference)) reference = suite() / "json" / (name + ".json");
    if (!std::filesystem::exists(reference)) continue;
    const std::vector<uint8_t> bytes = read_bytes(entry.path());
    Raster raster;
    ASSERT_TRUE(image_codec::decode(bytes.data(), bytes.size(), raster)) << name;
    std::vector<uint32_t> expected = read_numbers(reference);
    // References of 16-bit images without an 8-bit version: their high bytes.
    if (std::any_of(expected.begin(), expected.end(), [](uint32_t v) { return v > 255; })) {
      for (uint32_t& v : expected) v >>= 8;
    }
    // The references take a 16-bit sample's high byte; we round it to the nearest 8-bit value:
    // one off either way.
    const uint32_t tolerance = name.find("16") != std::string::npos ? 1 : 0;
    // Interlaced 16-bit images with alpha come through premultiplied samples: the colour of a
    // fully transparent pixel is lost, and faint ones are one more off.
    const bool premultiplied = name.starts_with("basi") || name.starts_with("bgai");
    ASSERT_EQ(expected.size(), raster.pixels.size() * 4) << name;
    for (size_t i = 0; i < raster.pixels.size(); i++) {
      const uint32_t p = raster.pixels[i];
      const uint32_t rgba[4] = {(p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF, p >> 24};
      auto close = [tolerance](uint32_t a, uint32_t b) { return (a > b ? a - b : b - a) <= tolerance; };
      const uint32_t* want = &expected[i * 4];
      if (premultiplied && tolerance && want[3] < 255) {
        if (!close(rgba[3], want[3])) mismatched.push_back(name + " alpha at " + std::to_string(i));
        continue;
      }
      if (!std::equal(rgba, rgba + 4, want, close)) {
        mismatched.push_back(name + " at pixel " + std::to_string(i));
        break;
      }
    }
    checked++;
  }
  EXPECT_GE(checked, 150);
  EXPECT_TRUE(mismatched.empty()) << mismatched.size() << " images differ, first: "
                                  << (mismatched.empty() ? "" : mismatched.front());
  for (const auto& m : mismatched) ADD_FAILURE() << m;
}

TEST(PngSuite, CorruptImagesAreRefused) {
  ASSERT_FALSE(suite().empty()) << "ZEL_PNGSUITE names the suite's folder";
  int refused = 0;
  for (const auto& entry : std::filesystem::directory_iterator(suite() / "png")) {
    if (entry.path().filename().string()[0] != 'x') continue;
    const std::vector<uint8_t> bytes = read_bytes(entry.path());
    Raster raster;
    EXPECT_FALSE(image_codec::decode(bytes.data(), bytes.size(), raster)) << entry.path();
    EXPECT_TRUE(raster.pixels.empty()) << entry.path();
    refused++;
  }
  EXPECT_GE(refused, 14);
}

// A test picture: every pixel different, with a gradient of transparency when asked.
std::vector<uint32_t> picture(uint32_t width, uint32_t height, bool alpha) {
  std::vector<uint32_t> pixels(size_t(width) * height);
  for (uint32_t y = 0; y < height; y++) {
    for (uint32_t x = 0; x < width; x++) {
      uint32_t a = alpha ? (x * 37 + y * 11) & 0xFF : 0xFF;
      pixels[size_t(y) * width + x] = a << 24 | (x * 13 & 0xFF) << 16 | (y * 29 & 0xFF) << 8 |
                                      ((x ^ y) * 7 & 0xFF);
    }
  }
  return pixels;
}

struct Shape {
  uint32_t width, height;
  bool alpha;
};

TEST(ImageCodec, LosslessFormatsRoundTripExactly) {
  for (auto format : {image_codec::kPng, image_codec::kBmp, image_codec::kTiff}) {
    for (Shape s : {Shape{1, 1, false}, Shape{1, 7, true}, Shape{7, 1, false}, Shape{33, 17, true},
                    Shape{33, 17, false}, Shape{3, 5, true}}) {
      const auto pixels = picture(s.width, s.height, s.alpha);
      std::vector<uint8_t> bytes;
      ASSERT_TRUE(image_codec::encode(pixels.data(), s.width, s.height, format, bytes));
      EXPECT_EQ(image_codec::sniff(bytes.data(), bytes.size()), format);
      Raster back;
      ASSERT_TRUE(image_codec::decode(bytes.data(), bytes.size(), back))
          << format << " " << s.width << "x" << s.height;
      EXPECT_EQ(back.width, s.width);
      EXPECT_EQ(back.height, s.height);
      EXPECT_EQ(back.pixels, pixels) << format << " " << s.width << "x" << s.height;
    }
  }
}

TEST(ImageCodec, GifKeepsUpTo256ColoursAndFullTransparency) {
  // 255 opaque colours and fully transparent pixels: exactly representable.
  const uint32_t width = 20, height = 16;
  std::vector<uint32_t> pixels(width * height);
  for (uint32_t i = 0; i < pixels.size(); i++) {
    pixels[i] = i % 50 == 0 ? 0x00000000u : 0xFF000000u | (i % 255) * 0x010307u;
  }
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(image_codec::encode(pixels.data(), width, height, image_codec::kGif, bytes));
  Raster back;
  ASSERT_TRUE(image_codec::decode(bytes.data(), bytes.size(), back));
  EXPECT_EQ(back.pixels, pixels);
  // More colours than a palette holds still make a GIF of the same size, close in colour.
  const auto many = picture(40, 30, false);
  ASSERT_TRUE(image_codec::encode(many.data(), 40, 30, image_codec::kGif, bytes));
  ASSERT_TRUE(image_codec::decode(bytes.data(), bytes.size(), back));
  ASSERT_EQ(back.pixels.size(), many.size());
  for (size_t i = 0; i < many.size(); i++) EXPECT_EQ(back.pixels[i] >> 24, 0xFFu);
}

TEST(ImageCodec, JpegRoundTripsClosely) {
  const auto pixels = picture(48, 32, false);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(image_codec::encode(pixels.data(), 48, 32, image_codec::kJpeg, bytes));
  Raster back;
  ASSERT_TRUE(image_codec::decode(bytes.data(), bytes.size(), back));
  ASSERT_EQ(back.width, 48u);
  ASSERT_EQ(back.height, 32u);
  double error = 0;
  for (size_t i = 0; i < pixels.size(); i++) {
    EXPECT_EQ(back.pixels[i] >> 24, 0xFFu);
    for (int shift : {0, 8, 16}) {
      error += std::abs(int((pixels[i] >> shift) & 0xFF) - int((back.pixels[i] >> shift) & 0xFF));
    }
  }
  EXPECT_LT(error / (pixels.size() * 3), 12.0);  // mean error per channel
}

// A BMP header claiming a size; the pixel data that should follow is missing.
std::vector<uint8_t> bmp_claiming(int32_t width, int32_t height) {
  std::vector<uint8_t> b(54, 0);
  b[0] = 'B';
  b[1] = 'M';
  auto put = [&b](size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = uint8_t(v >> (8 * i));
  };
  put(10, 54);
  put(14, 40);
  put(18, uint32_t(width));
  put(22, uint32_t(height));
  b[26] = 1;
  b[28] = 24;
  return b;
}

TEST(ImageCodec, ClaimedSizesBeyondTheLimitsAreRefused) {
  Raster raster;
  for (auto [w, h] : {std::pair{70000, 1}, {1, 70000}, {65535, 65535}, {0, 5}, {5, 0},
                      {-3, 3}, {2, 2}}) {
    const auto bytes = bmp_claiming(w, h);
    EXPECT_FALSE(image_codec::decode(bytes.data(), bytes.size(), raster)) << w << "x" << h;
  }
  EXPECT_FALSE(image_codec::size_allowed(65536, 1));
  EXPECT_FALSE(image_codec::size_allowed(40000, 40000));  // beyond what a buffer holds
  EXPECT_TRUE(image_codec::size_allowed(65535, 1));
  // A PNG header claiming 65535 x 65535 is refused before its rows are read.
  const auto pixels = picture(2, 2, false);
  std::vector<uint8_t> png;
  ASSERT_TRUE(image_codec::encode(pixels.data(), 2, 2, image_codec::kPng, png));
  for (int i = 16; i < 24; i += 4) {
    png[i] = 0;
    png[i + 1] = 0;
    png[i + 2] = 0xFF;
    png[i + 3] = 0xFF;
  }
  EXPECT_FALSE(image_codec::decode(png.data(), png.size(), raster));
}

TEST(ImageCodec, UnknownBytesAndTruncatedFilesAreRefused) {
  Raster raster;
  const uint8_t junk[] = {1, 2, 3, 4, 5};
  EXPECT_EQ(image_codec::sniff(junk, sizeof junk), -1);
  EXPECT_FALSE(image_codec::decode(junk, sizeof junk, raster));
  const auto pixels = picture(9, 9, true);
  for (auto format : {image_codec::kPng, image_codec::kBmp, image_codec::kTiff,
                      image_codec::kGif, image_codec::kJpeg}) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(image_codec::encode(pixels.data(), 9, 9, format, bytes));
    for (size_t keep : {size_t(8), bytes.size() / 3}) {
      EXPECT_FALSE(image_codec::decode(bytes.data(), keep, raster)) << format << " " << keep;
    }
  }
}

}  // namespace
