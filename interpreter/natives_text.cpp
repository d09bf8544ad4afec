// Text conversion natives: uppercase and lowercase (runtime/casefold.h), dehex and enhex (percent
// decoding and encoding, datatypes/url.h), enbase and debase (the base codecs of
// datatypes/binary.h), to-hex, to-local-file (the operating system's form of a path,
// datatypes/file.h) and as. They follow the native protocol of interpreter/natives.h; a new
// series is built on the data stack, so it stays rooted while it grows, and left in
// stack::arg(0).
#include <algorithm>
#include <cstdint>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "interpreter/natives.h"
#include "runtime/casefold.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace natives {

namespace {

// A new string! sized to the argument's length, written by fill, becomes the result.
template <class Fill>
void new_text(Fill fill) {
  Cell source = *stack::arg(0);
  uint32_t length = string::rest_length(source);
  Cell* out = stack::push_copy(constants::none);
  string::init_empty(out, length);
  fill(*stack::arg(0), *out);
  stack::set_only_result(*out);
}

}  // namespace

void dehex(const int32_t*) {
  new_text([](const Cell& source, const Cell& out) { url::decode_percent(source, out); });
}

// A string! keeps only the unreserved characters; url!, file! and the other texts the URL set.
void enhex(const int32_t*) {
  uint32_t mode = cell::type_of(*stack::arg(0)) == TYPE_STRING ? url::kUnreserved : url::kUrlSet;
  new_text([mode](const Cell& source, const Cell& out) { url::encode_percent(source, out, mode); });
}

// to-local-file path /full
void to_local_file(const int32_t* refinements) {
  bool full = refinements[0] >= 0;
  new_text([full](const Cell& source, const Cell& out) { file::to_os_path(source, out, full); });
}

namespace {

// uppercase string /part limit, lowercase string /part limit: a char! or the text in place.
template <bool Upper>
void change_case(const int32_t* refinements) {
  const Cell* part = refinements[0] >= 0 ? stack::arg(refinements[0]) : nullptr;
  string::change_case(stack::arg(0), part, Upper);
  stack::set_only_result(*stack::arg(0));
}

}  // namespace

// to-hex value /size length: the integer's eight hex digits (a negative value's left part "F"),
// or the last `length` of them, as an issue!.
void to_hex(const int32_t* refinements) {
  const std::string digits = string::int_to_hex(integer::get_value(*stack::arg(0)), false);
  size_t count = digits.size();
  if (refinements[0] >= 0) {
    const Cell size = *stack::arg(refinements[0]);
    int32_t wanted = integer::get_value(size);
    if (wanted <= 0) rt::fire_error("script", "invalid-arg", &size);
    count = std::min(count, size_t(wanted));
  }
  Cell issue;
  word::init_issue_from_c_string(&issue, digits.substr(digits.size() - count).c_str());
  stack::set_only_result(issue);
}

namespace {

// The base of enbase and debase: 64 unless /base gives one, which must be 2, 16, 58 or 64.
int base_of(const int32_t* refinements) {
  if (refinements[0] < 0) return 64;
  const Cell base = *stack::arg(refinements[0]);
  int32_t value = integer::get_value(base);
  if (value != 2 && value != 16 && value != 58 && value != 64) {
    rt::fire_error("script", "invalid-arg", &base);
  }
  return value;
}

// Room for the encoding as the encoders' output buffers are sized (line breaks counted in); text
// that could not be held raises script/too-long.
void check_encoded_size(int base, uint64_t n) {
  uint64_t size = 0;
  switch (base) {
    case 64: size = n / 3 * 4 + n % 3 * 4 / 3 + n / 32 * 2 + 5; break;
    case 58: size = n * 2; break;
    case 16: size = n * 2 + n / 32 + 32; break;
    default: size = n * 8 + n / 8 * 2 + 4; break;
  }
  if (size > uint64_t(INT32_MAX)) rt::fire_error("script", "too-long");
}

}  // namespace

// enbase value /base base-value: a string! is encoded as its UTF-8 bytes, a binary! as its bytes
// from the head; the text is a new string!.
void enbase(const int32_t* refinements) {
  Cell source = *stack::arg(0);
  int base = base_of(refinements);
  std::string text;
  if (cell::type_of(source) == TYPE_BINARY) {
    uint32_t length = binary::rest_length(source);
    check_encoded_size(base, length);
    binary::encode_base(base, string::head_address(source), length, text);
  } else {
    int64_t length = -1;
    const uint8_t* bytes = unicode::string_to_utf8(source, length);
    check_encoded_size(base, uint64_t(length));
    binary::encode_base(base, bytes, size_t(length), text);
  }
  Cell* out = stack::push_copy(constants::none);
  string::load_encoded(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out,
                       string::kUtf8);
  stack::set_only_result(*out);
}

// debase value /base base-value: the bytes the text's digits spell, or none when the text is not
// in the base. Characters above 127 are never digits of any base.
void debase(const int32_t* refinements) {
  Cell source = *stack::arg(0);
  int base = base_of(refinements);
  uint32_t length = string::rest_length(source);
  const uint32_t unit = cell::series_of(source)->unit();
  Cell* out = stack::push_copy(constants::none);
  bool decoded;
  if (unit == 1) {
    decoded = binary::decode_base(base, string::head_address(source), length, out);
  } else {
    std::string narrow;
    for (uint32_t i = 0; i < length; i++) {
      uint32_t c = unicode::read_unit(string::head_address(source) + i * unit, unit);
      narrow += char(c > 127 ? 0xFF : c);
    }
    decoded = binary::decode_base(base, reinterpret_cast<const uint8_t*>(narrow.data()),
                                  narrow.size(), out);
  }
  stack::set_only_result(decoded ? *out : constants::none);
}

namespace {

// The classes within which as retypes: 1 the blocks and paths, 2 the texts, 0 anything else.
int as_class(uint8_t type) {
  if (type == TYPE_BLOCK || type == TYPE_PAREN || (type >= TYPE_PATH && type <= TYPE_GET_PATH)) {
    return 1;
  }
  return types::any_string(type) ? 2 : 0;
}

}  // namespace

// as type spec: the spec as a value of the type (a datatype, or a value of it), sharing its
// buffer.
void as(const int32_t*) {
  const Cell type = *stack::arg(0);
  Cell spec = *stack::arg(1);
  uint8_t target =
      cell::type_of(type) == TYPE_DATATYPE ? cell::datatype_id(type) : cell::type_of(type);
  int spec_class = as_class(cell::type_of(spec));
  if (spec_class == 0 || spec_class != as_class(target)) {
    Cell from = cell::make_datatype(cell::type_of(spec));
    Cell to = cell::make_datatype(target);
    rt::fire_error("script", "not-same-class", &from, &to);
  }
  cell::set_type(spec, target);
  stack::set_only_result(spec);
}

// The natives made from the templates above.
void uppercase(const int32_t* refinements) { change_case<true>(refinements); }
void lowercase(const int32_t* refinements) { change_case<false>(refinements); }

}  // namespace natives
