// image!: make and to, positions (at, skip, next, tail), pick and poke by index or pair, the
// size/rgb/alpha/argb accessors, change (a pixel or a rectangle of another image), copy (the
// whole image or a rectangle), compare, form and mold, and the codec glue. Pixels are read out
// of the record before anything that allocates and addressed again afterwards (runtime/gc.h).
#include "datatypes/image.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/image/image_buf.h"
#include "datatypes/integer.h"
#include "datatypes/io.h"
#include "datatypes/ownership.h"
#include "datatypes/pair.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "platform/os/files.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"
#include "runtime/print.h"
#include "runtime/throw.h"

namespace image {

namespace {

constexpr Cell kImageType{TYPE_DATATYPE, TYPE_IMAGE, 0, 0};
constexpr uint32_t kWhite = 0xFFFFFFFFu;
constexpr int kPixelsPerLine = 10;  // mold lays out longer images in lines of this many
constexpr int kLinesFrom = 30;      // more pixels than this are molded on lines

inline uint32_t node_of(const Cell& v) { return cell::series_node(v); }
inline int64_t count_of(const Cell& v) { return int64_t(width_of(v)) * height_of(v); }
inline int64_t position_of(const Cell& v) { return cell::series_index_signed(v); }
inline uint32_t* pixels(const Cell& v) { return image_buf::pixels_of(node_of(v)); }

uint32_t tuple_to_pixel(const Cell& t) {
  const uint8_t* b = tuple::data_of(t);
  uint32_t alpha = tuple::count_of(t) >= 4 ? 255u - b[3] : 255u;
  return alpha << 24 | uint32_t(b[0]) << 16 | uint32_t(b[1]) << 8 | b[2];
}

Cell tuple_of_pixel(uint32_t p) {
  const uint8_t bytes[4] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p),
                           uint8_t(255 - (p >> 24))};
  Cell c = constants::none;
  tuple::make_at(&c, 4, bytes);
  return c;
}

// A new image of width x height (negative sides count as 0) filled with white. May allocate.
Cell* new_image(Cell* cell, int64_t width, int64_t height) {
  width = std::max<int64_t>(width, 0);
  height = std::max<int64_t>(height, 0);
  if (width > image_codec::kMaxSide || height > image_codec::kMaxSide) {
    rt::fire_error("internal", "no-memory");
  }
  return make_at(cell, image_buf::make_record(uint32_t(width), uint32_t(height), kWhite));
}

// The bytes of a binary from its head, copied out of series memory.
std::string binary_bytes(const Cell& binary) {
  Cell b = binary;
  uint32_t n = binary::rest_length(b);
  const alloc::Series* s = cell::series_of(b);
  const uint8_t* p = const_cast<alloc::Series*>(s)->head_ptr() + cell::series_index(b);
  return std::string(reinterpret_cast<const char*>(p), n);
}

void notify(Cell* image, const char* word, const Cell* value, int64_t index, int64_t count) {
  ownership::notify_owner(image, word, value, int32_t(index), int32_t(count));
}

// --- make and to --------------------------------------------------------------------------------

void copy(Cell* value, Cell* result, Cell* part, bool, Cell*);

Cell* to(Cell* proto, Cell* spec, uint8_t) {
  if (cell::type_of(*spec) != TYPE_IMAGE) rt::fire_error("script", "bad-to-arg", &kImageType, spec);
  copy(spec, proto, nullptr, false, nullptr);
  return proto;
}

// Every pixel the colour; or colours from the rgb bytes (3 a pixel, white once they run out) and
// transparency from the alpha bytes (opaque once they run out).
void fill(const Cell& image, const Cell* colour, const std::string& rgb, const std::string& alpha) {
  uint32_t* p = pixels(image);
  int64_t n = count_of(image);
  if (colour) {
    std::fill_n(p, n, tuple_to_pixel(*colour));
    return;
  }
  size_t groups = rgb.size() / 3;
  for (int64_t i = 0; i < n; i++) {
    uint32_t c = 0xFFFFFF;
    if (size_t(i) < groups) {
      const auto* g = reinterpret_cast<const uint8_t*>(&rgb[size_t(i) * 3]);
      c = uint32_t(g[0]) << 16 | uint32_t(g[1]) << 8 | g[2];
    }
    uint32_t a = size_t(i) < alpha.size() ? 255u - uint8_t(alpha[size_t(i)]) : 255u;
    p[i] = a << 24 | c;
  }
}

Cell* make(Cell* proto, Cell* spec_in, uint8_t type) {
  const Cell spec = *spec_in;
  switch (cell::type_of(spec)) {
    case TYPE_PAIR:
      return new_image(proto, pair::x_of(spec), pair::y_of(spec));
    case TYPE_BLOCK:
      break;
    default:
      return to(proto, spec_in, type);
  }
  const Cell* first = cell::block_head(spec);
  int64_t count = cell::block_tail(spec) - first;
  if (count == 0) {
    if (cell::type_of(*proto) != TYPE_IMAGE) rt::fire_error("script", "invalid-arg", &spec);
    copy(proto, proto, nullptr, false, nullptr);
    return proto;
  }
  if (cell::type_of(first[0]) != TYPE_PAIR) rt::fire_error("script", "invalid-arg", &first[0]);
  const Cell size = first[0];
  Cell colour = constants::none;
  std::string rgb, alpha;
  if (count > 1) {
    switch (cell::type_of(first[1])) {
      case TYPE_TUPLE: colour = first[1]; break;
      case TYPE_BINARY: rgb = binary_bytes(first[1]); break;
      default: rt::fire_error("script", "invalid-arg", &first[1]);
    }
  }
  if (count > 2) {
    if (cell::type_of(first[2]) != TYPE_BINARY) rt::fire_error("script", "invalid-arg", &first[2]);
    alpha = binary_bytes(first[2]);
  }
  new_image(proto, pair::x_of(size), pair::y_of(size));
  fill(*proto, cell::type_of(colour) == TYPE_TUPLE ? &colour : nullptr, rgb, alpha);
  return proto;
}

// --- positions ----------------------------------------------------------------------------------

// The index an integer or pair offset reaches from the position: `at` counts from 1 (mode 1,
// where 0 and 1 reach the same pixel), `skip` from 0. out_of_range tells whether a pair lies
// outside the image for pick and poke.
int64_t reach(const Cell& image, const Cell& offset, bool from_one, bool& out_of_range,
              int64_t& e) {
  int64_t w = width_of(image), h = height_of(image);
  out_of_range = false;
  switch (cell::type_of(offset)) {
    case TYPE_INTEGER:
      e = integer::get_value(offset);
      break;
    case TYPE_PAIR: {
      int64_t x = pair::x_of(offset), y = pair::y_of(offset);
      if (from_one) {
        out_of_range = x > w || x <= 0 || y > h || y <= 0;
        e = y > 0 ? x + w * (y - 1) : x + w * y;
      } else {
        out_of_range = x >= w || x < 0 || y >= h || y < 0;
        e = x + w * y;
      }
      break;
    }
    default:
      rt::fire_error("script", "invalid-arg", &offset);
  }
  int64_t head = position_of(image);
  return from_one && e > 0 ? head + e - 1 : head + e;
}

void move_to(bool from_one) {
  Cell* image = stack::arg(0);
  bool out_of_range;
  int64_t e;
  int64_t index = reach(*image, *stack::arg(1), from_one, out_of_range, e);
  cell::set_series_index(*image, uint32_t(std::clamp<int64_t>(index, 0, count_of(*image))));
}

void at() { move_to(true); }
void skip() { move_to(false); }

void next() {
  Cell* image = stack::arg(0);
  if (position_of(*image) < count_of(*image)) {
    cell::set_series_index(*image, cell::series_index(*image) + 1);
  }
}

void tail() { cell::set_series_index(*stack::arg(0), uint32_t(count_of(*stack::arg(0)))); }

void tail_q() {
  Cell* image = stack::arg(0);
  *image = Cell{TYPE_LOGIC, position_of(*image) >= count_of(*image) ? 1u : 0u, 0, 0};
}

int32_t length(Cell* value) { return int32_t(count_of(*value)); }

// The pixel index pick and poke address, or -1 when out of range.
int64_t pick_index(const Cell& image, const Cell& offset) {
  bool out_of_range;
  int64_t e;
  int64_t index = reach(image, offset, true, out_of_range, e);
  if (out_of_range || e == 0 || index < 0 || index >= count_of(image)) return -1;
  return index;
}

Cell* pick(Cell* value, int32_t index, Cell* index_value) {
  const Cell offset = index_value ? *index_value : integer::make(index);
  int64_t i = pick_index(*value, offset);
  *value = i < 0 ? constants::none : tuple_of_pixel(pixels(*value)[i]);
  return value;
}

void store(Cell* image, int64_t i, const Cell& colour) {
  uint32_t pixel = tuple_to_pixel(colour);
  bool notified = ownership::notify_owner(image, "poke", &colour, int32_t(i), 1);
  if (i < count_of(*image)) {
    image_buf::pixels_changed(node_of(*image));
    pixels(*image)[i] = pixel;
  }
  if (notified) notify(image, "poked", &colour, i, 1);
}

Cell* poke(Cell* value, int32_t index, Cell* new_value, Cell* index_value) {
  const Cell offset = index_value ? *index_value : integer::make(index);
  int64_t i = pick_index(*value, offset);
  if (i < 0) rt::fire_error("script", "out-of-range", &offset);
  if (cell::type_of(*new_value) != TYPE_TUPLE) rt::fire_error("script", "invalid-arg", new_value);
  store(value, i, *new_value);
  return new_value;
}

// --- the path step ------------------------------------------------------------------------------

Channel channel_named(uint32_t symbol) {
  const auto& s = runtime_words::symbols;
  if (symbol::same_canonical(symbol, s.argb)) return kArgb;
  if (symbol::same_canonical(symbol, s.rgb)) return kRgb;
  if (symbol::same_canonical(symbol, s.alpha)) return kAlpha;
  return Channel(-1);
}

Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step) {
  switch (cell::type_of(*element)) {
    case TYPE_INTEGER:
    case TYPE_PAIR:
      return step.value ? poke(parent, 0, step.value, element) : pick(parent, 0, element);
    case TYPE_WORD: {
      uint32_t symbol = word::symbol_of(*element);
      if (symbol::same_canonical(symbol, runtime_words::symbols.size)) {
        if (step.value) break;
        *parent = pair::make(int32_t(width_of(*parent)), int32_t(height_of(*parent)));
        return parent;
      }
      Channel kind = channel_named(symbol);
      if (kind < 0) break;
      if (step.value) {
        set_pixels(parent, *step.value, kind);
        return step.value;
      }
      const Cell extracted = *extract_pixels(*parent, kind);
      stack::pop_cells(1);
      *parent = extracted;
      return parent;
    }
    default:
      break;
  }
  rt::fire_error("script", "invalid-path", step.path, element);
}

// --- change -------------------------------------------------------------------------------------

void change(Cell* series, Cell* value, int32_t part, bool, int32_t dup) {
  if (part >= 0 || dup != 1) cell::fire_not_done();  // the defined answer for /part and /dup
  int64_t p = std::max<int64_t>(position_of(*series), 0);
  switch (cell::type_of(*value)) {
    case TYPE_TUPLE: {
      if (p >= count_of(*series)) {
        Cell index = integer::make(int32_t(p + 1));
        rt::fire_error("script", "out-of-range", &index);
      }
      store(series, p, *value);
      cell::set_series_index(*series, uint32_t(p + 1));
      return;
    }
    case TYPE_IMAGE:
      break;
    default:
      rt::fire_error("script", "invalid-type", datatype::push(cell::type_of(*value)));
  }
  const int64_t w = width_of(*series), h = height_of(*series);
  const int64_t sw = width_of(*value), sh = height_of(*value);
  if (w == 0 || h == 0 || p >= count_of(*series)) return;
  const int64_t x0 = p % w, y0 = p / w;
  const int64_t rows = std::min(sh, h - y0), cols = std::min(sw, w - x0);
  if (rows <= 0 || cols <= 0) return;
  // The source may be the target itself: its rectangle is read out first.
  std::vector<uint32_t> source(size_t(rows * cols));
  const uint32_t* from = pixels(*value);
  for (int64_t y = 0; y < rows; y++) {
    std::copy_n(from + y * sw, cols, &source[size_t(y * cols)]);
  }
  bool notified =
      ownership::notify_owner(series, "change", value, int32_t(p), int32_t(rows * cols));
  if (count_of(*series) == w * h && image_buf::pixel_count(node_of(*series)) == w * h) {
    image_buf::pixels_changed(node_of(*series));
    uint32_t* to = pixels(*series);
    for (int64_t y = 0; y < rows; y++) {
      std::copy_n(&source[size_t(y * cols)], cols, to + (y0 + y) * w + x0);
    }
  }
  if (notified) notify(series, "changed", value, p, rows * cols);
  const int64_t last_row = y0 + rows - 1;
  cell::set_series_index(*series, uint32_t(last_row * w + std::min(x0 + sw, w)));
}

// --- copy ---------------------------------------------------------------------------------------

// A new image of the rectangle of the source at (x0, y0), cw x ch. May allocate.
void copy_rect(const Cell& source_in, Cell* result, int64_t x0, int64_t y0, int64_t cw,
               int64_t ch) {
  const Cell source = source_in;  // result may be the source's cell
  gc::Guard keep(source);
  cw = std::max<int64_t>(cw, 0);
  ch = std::max<int64_t>(ch, 0);
  Cell made = constants::none;
  gc::Guard keep_made(made);
  new_image(&made, cw, ch);
  const int64_t sw = width_of(source);
  const uint32_t* from = pixels(source);
  uint32_t* to = pixels(made);
  for (int64_t y = 0; y < ch; y++) std::copy_n(from + (y0 + y) * sw + x0, cw, to + y * cw);
  *result = made;
}

void copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
  const Cell source = *value;
  const int64_t w = width_of(source), h = height_of(source);
  if (w == 0 || h == 0) {
    copy_rect(source, result, 0, 0, 0, 0);
    return;
  }
  const int64_t p = std::clamp<int64_t>(position_of(source), 0, w * h);
  const int64_t x0 = p % w, y0 = p / w;
  if (!part) {
    if (p == 0) {
      copy_rect(source, result, 0, 0, w, h);
    } else {
      copy_rect(source, result, x0, y0, w - x0, h - y0);
    }
    return;
  }
  switch (cell::type_of(*part)) {
    case TYPE_PAIR: {
      // Each side runs forward from the position's column or row, or back from it when
      // negative (the columns or rows before it, as far as the image goes); 0 gives none.
      auto span = [](int64_t from, int64_t length, int64_t limit, int64_t& start) {
        start = length < 0 ? std::max<int64_t>(from + length, 0) : from;
        return length < 0 ? from - start : std::min(length, limit - from);
      };
      int64_t cx, cy;
      const int64_t cw = span(x0, pair::x_of(*part), w, cx);
      const int64_t ch = span(y0, pair::y_of(*part), h, cy);
      copy_rect(source, result, cx, cy, cw, ch);
      return;
    }
    case TYPE_IMAGE: {
      if (node_of(*part) != node_of(source)) {
        series::fire_invalid_refine(runtime_words::refinements.part, *part);
      }
      int64_t q = std::clamp<int64_t>(position_of(*part), 0, w * h);
      int64_t a = std::min(p, q), b = std::max(p, q);
      int64_t ax = a % w, ay = a / w, bx = b % w, by = b / w;
      copy_rect(source, result, std::min(ax, bx), ay, std::abs(bx - ax), by - ay);
      return;
    }
    case TYPE_INTEGER:
      cell::fire_not_done();  // a pixel count as /part: the defined answer
    default:
      series::fire_invalid_refine(runtime_words::refinements.part, *part);
  }
}

// --- compare ------------------------------------------------------------------------------------

int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*b) != TYPE_IMAGE) return action::kNotComparable;
  const bool same = node_of(*a) == node_of(*b) && position_of(*a) == position_of(*b);
  if (op == action::SAME) return same ? 0 : 1;
  switch (op) {
    case action::LESSER: case action::LESSER_OR_EQUAL: case action::GREATER:
    case action::GREATER_OR_EQUAL:
      return action::kNotComparable;
    default:
      break;
  }
  if (same) return 0;
  auto order = [](int64_t x, int64_t y) { return int32_t((x > y) - (x < y)); };
  if (int32_t r = order(count_of(*a), count_of(*b))) return r;
  // Equal counts but other sizes (2x2 and 4x1) are different images whatever their bytes.
  if (int32_t r = order(width_of(*a), width_of(*b))) return r;
  if (count_of(*a) == 0) return 0;
  int r = std::memcmp(pixels(*a), pixels(*b), size_t(count_of(*a)) * 4);
  return (r > 0) - (r < 0);
}

// --- form and mold ------------------------------------------------------------------------------

// "make image! [WxH #{RRGGBB...}]", a second block of transparency bytes (255 - A) when any
// pixel is not opaque; more than 30 pixels are laid out 10 a line unless flat. /only leaves out
// "make image! [" and its closing bracket together.
int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell*, int32_t part,
             int32_t indent) {
  const Cell v = *value;
  std::string text = options.only ? "" : "make image! [";
  text += std::to_string(width_of(v)) + "x" + std::to_string(height_of(v));
  const int64_t n = count_of(v);
  const int64_t from = std::clamp<int64_t>(position_of(v), 0, n);
  const int64_t shown = n - from;
  const bool lines = !options.flat && shown > kLinesFrom;
  auto new_line = [&text](int32_t depth) {
    text += '\n';
    text.append(size_t(std::max(depth, 0)) * 4, ' ');
  };
  const uint32_t* p = n ? pixels(v) : nullptr;
  bool translucent = false;
  auto block = [&](bool alpha) {
    text += " #{";
    if (lines) new_line(indent + 1);
    int64_t i = 0;
    for (; i < shown && int64_t(text.size()) < part; i++) {
      if (lines && i > 0 && i % kPixelsPerLine == 0) new_line(indent + 1);
      uint32_t px = p[from + i];
      if (alpha) {
        text += string::byte_to_hex(uint8_t(255 - (px >> 24)));
      } else {
        if ((px >> 24) != 255) translucent = true;
        text += string::byte_to_hex(uint8_t(px >> 16));
        text += string::byte_to_hex(uint8_t(px >> 8));
        text += string::byte_to_hex(uint8_t(px));
      }
    }
    if (lines && shown % kPixelsPerLine != 0) new_line(indent);
    text += '}';
  };
  block(false);
  if (translucent) block(true);
  if (!options.only) text += ']';
  return part - cell::append_text(out, text.c_str());
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
  return mold(value, out, {}, arg, part, 0);
}

void mark(const Cell& value) { gc::mark_node(node_of(value)); }

}  // namespace

Cell* make_at(Cell* cell, uint32_t record) {
  *cell = Cell{TYPE_IMAGE, 0, record, image_buf::header_of(record)->size};
  return cell;
}

Cell* push_resized(const Cell& image_in, int64_t width, int64_t height) {
  const Cell image = image_in;
  gc::Guard keep(image);
  width = std::max<int64_t>(width, 0);
  height = std::max<int64_t>(height, 0);
  if (width > image_codec::kMaxSide || height > image_codec::kMaxSide) {
    rt::fire_error("internal", "no-memory");
  }
  Cell* result = stack::push_copy(constants::none);
  return make_at(result, image_buf::scale(node_of(image), uint32_t(width), uint32_t(height)));
}

Cell pixel_to_tuple(const Cell& image, int64_t index) {
  if (index < 0 || index >= count_of(image)) return constants::none;
  return tuple_of_pixel(pixels(image)[index]);
}

Cell* extract_pixels(const Cell& image_in, Channel kind) {
  const Cell image = image_in;
  gc::Guard keep(image);
  const int64_t n = count_of(image);
  const int64_t width = kind == kAlpha ? 1 : kind == kRgb ? 3 : 4;
  Cell* result = stack::push_copy(constants::none);
  std::string bytes(size_t(n * width), '\0');
  const uint32_t* p = pixels(image);
  for (int64_t i = 0; i < n; i++) {
    uint32_t px = p[i];
    char* q = &bytes[size_t(i * width)];
    switch (kind) {
      case kAlpha: q[0] = char(255 - (px >> 24)); break;
      case kRgb: q[0] = char(px >> 16); q[1] = char(px >> 8); q[2] = char(px); break;
      case kArgb: std::memcpy(q, &px, 4); break;
    }
  }
  binary::make_from_bytes(result, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return result;
}

void set_pixels(Cell* image, const Cell& data_in, Channel kind) {
  const Cell data = data_in;
  gc::Guard keep(data);
  const uint8_t type = cell::type_of(data);
  std::string bytes;
  uint32_t word = 0;
  switch (type) {
    case TYPE_BINARY: bytes = binary_bytes(data); break;
    case TYPE_TUPLE: word = tuple_to_pixel(data); break;
    case TYPE_INTEGER: {
      // The low byte stands where a tuple's first byte stands: bytes r, g, b, t from the low end.
      uint32_t v = uint32_t(integer::get_value(data));
      word = (255u - (v >> 24)) << 24 | (v & 0xFF) << 16 | (v & 0xFF00) | ((v >> 16) & 0xFF);
      break;
    }
    default: rt::fire_error("script", "invalid-arg", &data);
  }
  const int64_t n = count_of(*image);
  bool notified = ownership::notify_owner(image, "change", &data, 0, int32_t(n));
  if (image_buf::pixel_count(node_of(*image)) >= n) {
    image_buf::pixels_changed(node_of(*image));
    uint32_t* p = pixels(*image);
    if (type == TYPE_BINARY) {
      const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
      switch (kind) {
        case kArgb:
          std::memcpy(p, b, size_t(std::min<int64_t>(int64_t(bytes.size()), 4 * n)));
          break;
        case kRgb:
          for (int64_t i = 0; i < std::min<int64_t>(int64_t(bytes.size()) / 3, n); i++) {
            p[i] = (p[i] & 0xFF000000u) | uint32_t(b[3 * i]) << 16 | uint32_t(b[3 * i + 1]) << 8 |
                   b[3 * i + 2];
          }
          break;
        case kAlpha:
          for (int64_t i = 0; i < std::min<int64_t>(int64_t(bytes.size()), n); i++) {
            p[i] = (p[i] & 0xFFFFFF) | uint32_t(255 - b[i]) << 24;
          }
          break;
      }
    } else {
      for (int64_t i = 0; i < n; i++) {
        switch (kind) {
          case kArgb: p[i] = word; break;
          case kRgb: p[i] = (p[i] & 0xFF000000u) | (word & 0xFFFFFF); break;
          // The first (lowest) byte is the transparency.
          case kAlpha: p[i] = (p[i] & 0xFFFFFF) | (255u - ((word >> 16) & 0xFF)) << 24; break;
        }
      }
    }
  }
  if (notified) notify(image, "changed", &data, 0, n);
}

Cell* push_decoded_binary(const Cell& binary_in) {
  Cell b = binary_in;
  uint32_t n = binary::rest_length(b);
  const uint8_t* bytes = cell::series_of(b)->head_ptr() + cell::series_index(b);
  if (image_codec::sniff(bytes, n) < 0) return nullptr;
  image_codec::Raster raster;
  // The decoders allocate nothing from series memory: the bytes stay where they are meanwhile.
  if (!image_codec::decode(bytes, n, raster)) rt::fire_error("access", "bad-media");
  Cell* result = stack::push_copy(constants::none);
  make_at(result, image_buf::from_raster(raster));
  return result;
}

Cell* decode(const Cell& data_in) {
  const Cell data = data_in;
  gc::Guard keep(data);
  if (cell::type_of(data) == TYPE_BINARY) {
    Cell* result = push_decoded_binary(data);
    if (!result) rt::fire_error("access", "bad-media");
    return result;
  }
  std::string bytes;
  image_codec::Raster raster;
  if (!types::any_string(cell::type_of(data)) ||
      !platform::read_file(io::os_path(data).c_str(), bytes) ||
      !image_codec::decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), raster)) {
    rt::fire_error("access", "cannot-open", &data);
  }
  Cell* result = stack::push_copy(constants::none);
  make_at(result, image_buf::from_raster(raster));
  return result;
}

Cell* encode(const Cell& image_in, const Cell& destination_in, int32_t format) {
  const Cell image = image_in;
  const Cell destination = destination_in;
  gc::Guard keep(image);
  gc::Guard keep_destination(destination);
  if (format < image_codec::kBmp || format > image_codec::kTiff) {
    rt::print_line({"Cannot find image encoder"});
    return nullptr;
  }
  if (cell::type_of(image) != TYPE_IMAGE || count_of(image) == 0) {
    rt::fire_error("access", "bad-media");
  }
  std::vector<uint8_t> bytes;
  // The encoders allocate nothing from series memory: the pixels stay where they are meanwhile.
  if (!image_codec::encode(pixels(image), width_of(image), height_of(image),
                           image_codec::Format(format), bytes)) {
    rt::fire_error("access", "bad-media");
  }
  Cell* result = stack::push_copy(constants::none);
  binary::make_from_bytes(result, bytes.data(), bytes.size());
  if (cell::type_of(destination) == TYPE_NONE) return result;
  io::write_file_path(&destination, *result, {.binary = true});
  *result = destination;
  return result;
}

void register_datatype() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  image_buf::init();
  datatype::register_type(
      TYPE_IMAGE,
      {act<MAKE>(make), act<TO>(to), act<FORM>(form), act<MOLD>(mold),
       act<EVAL_PATH>(eval_path), act<COMPARE>(compare), act<AT>(at), inherit<BACK>(),
       act<CHANGE>(change), act<COPY>(copy), inherit<HEAD>(), inherit<HEAD_Q>(),
       inherit<INDEX_Q>(), act<LENGTH_Q>(length), act<NEXT>(next), act<PICK>(pick),
       act<POKE>(poke), act<SKIP>(skip), act<TAIL>(tail), act<TAIL_Q>(tail_q),
       inherit<MODIFY>()});
  gc::set_type_marker(TYPE_IMAGE, mark);
}

}  // namespace image
