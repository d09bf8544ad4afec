// vector!: the element model (reading and storing packed numbers of 1, 2, 4 or 8 bytes), make,
// form and mold, compare, element-wise arithmetic, and the actions whose string! forms would read
// the elements as text (append, insert, change, find, select, sort, take, the path step).
// Elements are read out into C++ values before anything that can allocate or run user code, and
// buffers are re-derived from the node afterwards (runtime/gc.h).
#include "datatypes/vector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/cell_ops.h"
#include "datatypes/char.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/upcall.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"
#include "runtime/sort.h"
#include "runtime/throw.h"

namespace vector {

namespace {

using alloc::Series;

constexpr Cell kVectorType{TYPE_DATATYPE, TYPE_VECTOR, 0, 0};

bool floating(uint8_t element_type) {
  return element_type == TYPE_FLOAT || element_type == TYPE_PERCENT;
}

// One element as a number of its vector's kind: i for char! and integer! vectors, f for the
// floating ones.
struct Num {
  int64_t i = 0;
  double f = 0.0;
};

inline uint8_t* element(Series* s, int64_t i) { return s->head_ptr() + i * s->unit(); }
inline int32_t length_of(const Cell& v) { return series::buffer_length(v); }
inline int32_t head_of(const Cell& v) {
  return std::clamp(cell::series_index_signed(v), 0, length_of(v));
}

Num read_raw(const uint8_t* p, uint32_t unit, uint8_t type) {
  Num n;
  if (floating(type)) {
    if (unit == 4) {
      float x;
      std::memcpy(&x, p, 4);
      n.f = x;
    } else {
      std::memcpy(&n.f, p, 8);
    }
    return n;
  }
  bool is_char = type == TYPE_CHAR;
  switch (unit) {
    case 1: n.i = is_char ? int64_t(p[0]) : int64_t(int8_t(p[0])); break;
    case 2: {
      uint16_t x;
      std::memcpy(&x, p, 2);
      n.i = is_char ? int64_t(x) : int64_t(int16_t(x));
      break;
    }
    default: {
      uint32_t x;
      std::memcpy(&x, p, 4);
      n.i = is_char ? int64_t(x) : int64_t(int32_t(x));
    }
  }
  return n;
}

// Integers are truncated to the unit (their low bytes); floats rounded to the unit's precision.
void write_raw(uint8_t* p, uint32_t unit, uint8_t type, const Num& n) {
  if (floating(type)) {
    if (unit == 4) {
      float x = float(n.f);
      std::memcpy(p, &x, 4);
    } else {
      std::memcpy(p, &n.f, 8);
    }
    return;
  }
  uint32_t x = uint32_t(uint64_t(n.i));
  std::memcpy(p, &x, unit);  // little-endian: the low bytes
}

Num read_at(const Cell& v, int64_t i) {
  Series* s = cell::series_of(v);
  return read_raw(element(s, i), s->unit(), element_type_of(v));
}

Cell make_value(uint8_t type, const Num& n) {
  switch (type) {
    case TYPE_CHAR: return char_::make(uint32_t(n.i));
    case TYPE_INTEGER: return integer::make(int32_t(n.i));
    case TYPE_FLOAT: return float_::make(n.f);
    default: {
      Cell c{TYPE_PERCENT, 0, 0, 0};
      cell::set_double(c, n.f);
      return c;
    }
  }
}

// A float or percent as a 32-bit integer: truncated toward zero; NaN and values beyond the range
// raise script/out-of-range.
int64_t truncated(const Cell& value) {
  double d = cell::get_double(value);
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) rt::fire_error("script", "out-of-range", &value);
  return int64_t(std::trunc(d));
}

// A number converted to the element type's domain; any other value raises script/invalid-type.
Num convert(const Cell& value, uint8_t element_type) {
  Num n;
  uint8_t type = cell::type_of(value);
  bool is_float = type == TYPE_FLOAT || type == TYPE_PERCENT;
  if (type != TYPE_CHAR && type != TYPE_INTEGER && !is_float) {
    rt::fire_error("script", "invalid-type", datatype::push(type));
  }
  if (floating(element_type)) {
    n.f = is_float ? cell::get_double(value)
          : type == TYPE_CHAR ? double(char_::code_point_of(value))
                              : double(integer::get_value(value));
  } else {
    n.i = is_float ? truncated(value)
          : type == TYPE_CHAR ? int64_t(char_::code_point_of(value))
                              : int64_t(integer::get_value(value));
  }
  return n;
}

// Appends (or inserts at index `at`) raw elements; may allocate.
void splice(const Cell& v, int32_t at, const std::vector<Num>& values) {
  if (values.empty()) return;
  uint32_t node = cell::series_node(v);
  uint32_t unit = alloc::series_of(node)->unit();
  uint64_t bytes = uint64_t(values.size()) * unit;
  if (bytes + alloc::series_of(node)->used() > alloc::kMaxCapacity) {
    rt::fire_error("internal", "no-memory");
  }
  int32_t length = series::buffer_length(v);
  alloc::reserve_bytes(node, uint32_t(bytes));
  Series* s = alloc::series_of(node);
  std::memmove(element(s, at + int64_t(values.size())), element(s, at),
               size_t(length - at) * unit);
  uint8_t type = element_type_of(v);
  for (size_t k = 0; k < values.size(); k++) write_raw(element(s, at + int64_t(k)), unit, type, values[k]);
}

// --- make ---------------------------------------------------------------------------------------

[[noreturn]] void fire_bad_make(const Cell& spec) {
  rt::fire_error("script", "bad-make-arg", &kVectorType, &spec);
}

uint8_t type_named(const Cell& word) {
  const auto& s = runtime_words::symbols;
  uint32_t id = word::symbol_of(word);
  if (symbol::same_canonical(id, s.integer_type)) return TYPE_INTEGER;
  if (symbol::same_canonical(id, s.char_type)) return TYPE_CHAR;
  if (symbol::same_canonical(id, s.float_type)) return TYPE_FLOAT;
  if (symbol::same_canonical(id, s.percent_type)) return TYPE_PERCENT;
  return 0;
}

// The values of a block from its head, type-checked against the element type exactly.
std::vector<Num> typed_values(const Cell& block, uint8_t element_type) {
  std::vector<Num> values;
  const Cell* c = cell::block_head(block);
  const Cell* end = cell::block_tail(block);
  for (; c < end; c++) {
    if (cell::type_of(*c) != element_type) rt::fire_error("script", "invalid-arg", c);
    values.push_back(convert(*c, element_type));
  }
  return values;
}

Cell* make(Cell* proto, Cell* spec_in, uint8_t) {
  const Cell spec = *spec_in;
  gc::Guard keep(spec);
  switch (cell::type_of(spec)) {
    case TYPE_INTEGER:
    case TYPE_FLOAT: {
      int32_t n = cell::get_integer_arg(spec);
      if (n < 0) fire_bad_make(spec);
      bool is_float = cell::type_of(spec) == TYPE_FLOAT;
      make_at(proto, uint32_t(n), is_float ? TYPE_FLOAT : TYPE_INTEGER, is_float ? 8 : 4);
      splice(*proto, 0, std::vector<Num>(size_t(n)));
      return proto;
    }
    case TYPE_BLOCK: break;
    default: cell::fire_not_done();  // any other spec: the defined answer
  }
  const Cell* first = cell::block_head(spec);
  int64_t count = cell::block_tail(spec) - first;
  uint8_t element_type;
  uint32_t unit;
  std::vector<Num> values;
  int64_t capacity = 0;
  if (count > 0 && cell::type_of(first[0]) == TYPE_WORD) {
    element_type = type_named(first[0]);
    if (!element_type || count < 2) fire_bad_make(spec);
    int64_t at = 1;
    if (element_type == TYPE_PERCENT) {
      unit = 8;
      if (cell::type_of(first[1]) == TYPE_INTEGER) at = 2;  // a width is ignored
    } else {
      if (cell::type_of(first[1]) != TYPE_INTEGER) {
        rt::fire_error("script", "invalid-spec-field", &spec);
      }
      int32_t bits = integer::get_value(first[1]);
      bool ok = floating(element_type) ? bits == 32 || bits == 64
                                       : bits == 8 || bits == 16 || bits == 32;
      if (!ok) fire_bad_make(spec);
      unit = uint32_t(bits / 8);
      at = 2;
    }
    if (at < count) {
      const Cell& next = first[at];
      if (cell::type_of(next) == TYPE_INTEGER) {
        capacity = std::max(integer::get_value(next), 0);
      } else if (cell::type_of(next) == TYPE_BLOCK) {
        values = typed_values(next, element_type);
      } else {
        rt::fire_error("script", "invalid-spec-field", &spec);
      }
    }
  } else {
    // Plain values: the first one's type decides; an empty block makes an empty integer vector.
    element_type = count > 0 ? cell::type_of(first[0]) : uint8_t(TYPE_INTEGER);
    switch (element_type) {
      case TYPE_CHAR: case TYPE_INTEGER: unit = 4; break;
      case TYPE_FLOAT: case TYPE_PERCENT: unit = 8; break;
      default: rt::fire_error("script", "invalid-type", datatype::push(element_type));
    }
    values = typed_values(spec, element_type);
  }
  if (uint64_t(capacity) * unit > 0xFFFFFFFFu) rt::fire_error("internal", "no-memory");
  make_at(proto, uint32_t(std::max<int64_t>(capacity, int64_t(values.size()))), element_type, unit);
  if (values.empty()) values.resize(size_t(capacity));
  splice(*proto, 0, values);
  return proto;
}

// --- form and mold ------------------------------------------------------------------------------

int32_t form_elements(Cell* value, Cell* out, int32_t part, bool molding) {
  uint8_t type = element_type_of(*value);
  uint32_t unit = cell::series_of(*value)->unit();
  int32_t length = length_of(*value);
  for (int32_t i = head_of(*value); i < length && part > 0; i++) {
    if (i > head_of(*value)) part = cell::append_text(out, " ", part);
    Num n = read_at(*value, i);
    switch (type) {
      case TYPE_CHAR: {
        Cell c = char_::make(uint32_t(n.i));
        part = molding ? datatype::call_mold(&c, out, {}, nullptr, part, 0)
                       : datatype::call_form(&c, out, nullptr, part);
        break;
      }
      case TYPE_INTEGER:
        part = cell::append_text(out, integer::to_decimal_text(int32_t(n.i)), part);
        break;
      default: {
        char text[float_::kTextSize];
        float_::TextMode mode = type == TYPE_PERCENT ? float_::kPercent
                                : unit == 4         ? float_::kSingle
                                                    : float_::kDouble;
        float_::to_text(type == TYPE_PERCENT ? n.f * 100.0 : n.f, mode, text);
        part = cell::append_text(out, text, part);
      }
    }
  }
  return part;
}

const char* type_name(uint8_t type) {
  switch (type) {
    case TYPE_CHAR: return "char!";
    case TYPE_INTEGER: return "integer!";
    case TYPE_FLOAT: return "float!";
    default: return "percent!";
  }
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  return form_elements(value, out, part, false);
}

// The short form "make vector! [1 2 3]" for non-empty vectors of the default widths, the long
// form "make vector! [integer! 16 [1 2 3]]" for the others; /only leaves out the outer
// "make vector! [" and its closing bracket together.
int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell*, int32_t part, int32_t) {
  uint8_t type = element_type_of(*value);
  uint32_t unit = cell::series_of(*value)->unit();
  bool default_width = floating(type) ? unit == 8 : unit == 4;
  bool short_form = default_width && length_of(*value) > head_of(*value);
  if (!options.only) part = cell::append_text(out, "make vector! [", part);
  if (!short_form) {
    std::string head = std::string(type_name(type)) + " " + std::to_string(unit * 8) + " [";
    part = cell::append_text(out, head.c_str(), part);
  }
  part = form_elements(value, out, part, true);
  if (!short_form) part = cell::append_text(out, "]", part);
  if (!options.only) part = cell::append_text(out, "]", part);
  return part;
}

// --- compare ------------------------------------------------------------------------------------

int32_t order_of(uint8_t type, const Num& a, const Num& b) {
  if (floating(type)) {
    bool na = std::isnan(a.f), nb = std::isnan(b.f);
    if (na || nb) return na && nb ? 0 : na ? 1 : -1;  // NaN counts as the greater
    return (a.f > b.f) - (a.f < b.f);
  }
  return (a.i > b.i) - (a.i < b.i);
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*b) != TYPE_VECTOR) return action::kNotComparable;
  if (op == action::SAME) {
    return cell::series_node(*a) == cell::series_node(*b) &&
                   cell::series_index(*a) == cell::series_index(*b)
               ? 0
               : 1;
  }
  uint8_t type = element_type_of(*a);
  if (type != element_type_of(*b)) rt::fire_error("script", "not-same-type");
  int32_t la = length_of(*a) - head_of(*a), lb = length_of(*b) - head_of(*b);
  bool equality = op == action::EQUAL || op == action::NOT_EQUAL || op == action::STRICT_EQUAL ||
                  op == action::FIND_EQUAL;
  if (equality && la != lb) return 1;
  int32_t ha = head_of(*a), hb = head_of(*b);
  for (int32_t i = 0; i < std::min(la, lb); i++) {
    int32_t r = order_of(type, read_at(*a, ha + i), read_at(*b, hb + i));
    if (r) return r;
  }
  return (la > lb) - (la < lb);
}

// --- arithmetic ---------------------------------------------------------------------------------

// Integer element arithmetic: wraps on overflow (the store truncates to the unit anyway).
int64_t int_op(integer::Op op, int64_t x, int64_t y) {
  switch (op) {
    case integer::ADD: return x + y;
    case integer::SUBTRACT: return x - y;
    case integer::MULTIPLY: return int64_t(uint64_t(x) * uint64_t(y));
    case integer::DIVIDE:
      if (y == 0) rt::fire_error("math", "zero-divide");
      return x / y;
    case integer::REMAINDER:
      if (y == 0) rt::fire_error("math", "zero-divide");
      return x % y;
    case integer::OR: return x | y;
    case integer::AND: return x & y;
    default: return x ^ y;
  }
}

Num apply(uint8_t type, integer::Op op, const Num& x, const Num& y) {
  Num r;
  if (floating(type)) {
    r.f = float_::apply(op, x.f, y.f);
  } else {
    r.i = int_op(op, x.i, y.i);
  }
  return r;
}

template <integer::Op op>
void math() {
  Cell* left = stack::arg(0);
  Cell* right = stack::arg(1);
  uint8_t type = element_type_of(*left);
  if (floating(type) && op > integer::REMAINDER) {
    Cell name = upcall::interpreter.call_name();
    rt::fire_error("script", "cannot-use", &name, datatype::push(type));
  }
  if (cell::type_of(*right) == TYPE_VECTOR) {
    if (element_type_of(*right) != type) rt::fire_error("script", "not-same-type");
    int32_t ha = head_of(*left), hb = head_of(*right);
    int32_t n = std::min(length_of(*left) - ha, length_of(*right) - hb);
    uint32_t unit =
        std::max(cell::series_of(*left)->unit(), cell::series_of(*right)->unit());
    std::vector<Num> values(size_t(std::max(n, 0)));
    for (int32_t i = 0; i < n; i++) {
      values[size_t(i)] = apply(type, op, read_at(*left, ha + i), read_at(*right, hb + i));
    }
    Cell result;
    make_at(&result, uint32_t(values.size()), type, unit);
    gc::Guard keep(result);
    splice(result, 0, values);
    *left = result;
    return;
  }
  uint8_t scalar_type = cell::type_of(*right);
  Num y;
  if (floating(type)) {
    if (scalar_type != TYPE_INTEGER && scalar_type != TYPE_FLOAT && scalar_type != TYPE_PERCENT) {
      cell::fire_not_done();  // a float vector takes only those scalars: the defined answer
    }
    y = convert(*right, type);
    // Adding 0 or scaling by 1 changes nothing: the vector is left untouched.
    if (((op == integer::ADD || op == integer::SUBTRACT) && y.f == 0.0) ||
        ((op == integer::MULTIPLY || op == integer::DIVIDE) && y.f == 1.0)) {
      return;
    }
  } else {
    if (scalar_type != TYPE_INTEGER && scalar_type != TYPE_CHAR && scalar_type != TYPE_FLOAT &&
        scalar_type != TYPE_PERCENT) {
      rt::fire_error("script", "invalid-type", datatype::push(scalar_type));
    }
    y = convert(*right, type);
    if ((op == integer::DIVIDE || op == integer::REMAINDER) && y.i == 0) {
      rt::fire_error("math", "zero-divide");
    }
  }
  int32_t head = head_of(*left);
  int32_t count = length_of(*left) - head;
  bool notified = ownership::notify_owner(left, "change", right, head, count);
  count = std::max(length_of(*left) - head, 0);
  Series* s = cell::series_of(*left);
  for (int32_t i = head; i < head + count; i++) {
    write_raw(element(s, i), s->unit(), type, apply(type, op, read_raw(element(s, i), s->unit(), type), y));
  }
  if (notified) ownership::notify_owner(left, "changed", right, head, count);
}

// --- append, insert, change ---------------------------------------------------------------------

// The elements a value brings: one scalar of the element type, the values of a block, or the
// elements of a vector of the same element type; part limits how many are taken.
std::vector<Num> incoming(const Cell& target, const Cell& value, int32_t part, bool strict) {
  uint8_t type = element_type_of(target);
  std::vector<Num> values;
  switch (cell::type_of(value)) {
    case TYPE_BLOCK: {
      const Cell* c = cell::block_head(value);
      const Cell* end = cell::block_tail(value);
      for (; c < end; c++) {
        if (strict && cell::type_of(*c) != type) rt::fire_error("script", "invalid-arg", c);
        values.push_back(convert(*c, type));
      }
      break;
    }
    case TYPE_VECTOR: {
      if (element_type_of(value) != type) rt::fire_error("script", "invalid-arg", &value);
      for (int32_t i = head_of(value); i < length_of(value); i++) values.push_back(read_at(value, i));
      break;
    }
    default:
      if (strict && cell::type_of(value) != type) rt::fire_error("script", "invalid-arg", &value);
      values.push_back(convert(value, type));
  }
  if (part >= 0 && size_t(part) < values.size()) values.resize(size_t(part));
  return values;
}

std::vector<Num> repeated(const std::vector<Num>& values, int32_t dup) {
  std::vector<Num> all;
  if (uint64_t(values.size()) * uint64_t(dup) > alloc::kMaxCapacity) {
    rt::fire_error("internal", "no-memory");
  }
  for (int32_t k = 0; k < dup; k++) all.insert(all.end(), values.begin(), values.end());
  return all;
}

void insert(Cell* series, Cell* value, int32_t part, bool, int32_t dup, bool append) {
  std::vector<Num> values = repeated(incoming(*series, *value, part, true), dup);
  int32_t at = append ? length_of(*series) : head_of(*series);
  int32_t count = int32_t(values.size());
  bool notified = ownership::notify_owner(series, append ? "append" : "insert", value, at, count);
  at = append ? length_of(*series) : head_of(*series);
  splice(*series, at, values);
  if (notified) {
    ownership::notify_owner(series, append ? "appended" : "inserted", value, at, count);
  }
  if (append) {
    cell::set_series_index(*series, 0);
  } else {
    cell::set_series_index(*series, uint32_t(at + count));
  }
}

void change(Cell* series, Cell* value, int32_t part, bool, int32_t dup) {
  std::vector<Num> values = repeated(incoming(*series, *value, -1, false), dup);
  int32_t at = head_of(*series);
  int32_t count = int32_t(values.size());
  int32_t replaced = part >= 0 ? part : count;
  bool notified = ownership::notify_owner(series, "change", value, at, count);
  at = head_of(*series);
  int32_t length = length_of(*series);
  replaced = std::min(replaced, length - at);
  // Overwrite what fits, then insert or remove the difference.
  int32_t overwrite = std::min(replaced, count);
  Series* s = cell::series_of(*series);
  uint8_t type = element_type_of(*series);
  for (int32_t k = 0; k < overwrite; k++) write_raw(element(s, at + k), s->unit(), type, values[size_t(k)]);
  if (count > replaced) {
    splice(*series, at + replaced, std::vector<Num>(values.begin() + replaced, values.end()));
  } else if (replaced > count) {
    s = cell::series_of(*series);
    std::memmove(element(s, at + count), element(s, at + replaced),
                 size_t(length - at - replaced) * s->unit());
    s->tail -= uint32_t(replaced - count) * s->unit();
  }
  if (notified) ownership::notify_owner(series, "changed", value, at, count);
  cell::set_series_index(*series, uint32_t(at + count));
}

// --- find, select, take, the path step ----------------------------------------------------------

int64_t search(Cell* series, const Cell& value, const action::FindOptions& options) {
  uint8_t type = element_type_of(*series);
  uint8_t value_type = cell::type_of(value);
  if (value_type != TYPE_CHAR && value_type != TYPE_INTEGER && value_type != TYPE_FLOAT &&
      value_type != TYPE_PERCENT) {
    return -1;
  }
  Num key = floating(type) ? convert(value, type) : Num{};
  if (!floating(type)) {
    if (value_type == TYPE_FLOAT || value_type == TYPE_PERCENT) {
      double d = cell::get_double(value);
      if (d != std::trunc(d) || !(d >= -2147483648.0 && d <= 2147483647.0)) return -1;
    }
    key = convert(value, type);
  }
  int32_t skip = options.skip ? series::set_skip(options.skip) : 1;
  int32_t head = head_of(*series), length = length_of(*series);
  int32_t end = length;
  if (options.part) end = std::clamp(head + series::part_count(*series, *options.part), head, length);
  auto matches = [&](int32_t i) { return order_of(type, read_at(*series, i), key) == 0; };
  if (options.match) return head < end && matches(head) ? head : -1;
  if (options.last || options.reverse) {
    int32_t from = options.last ? end - 1 : head - 1;
    for (int32_t i = from; i >= 0; i -= skip) {
      if (matches(i)) return i;
    }
    return -1;
  }
  for (int32_t i = head; i < end; i += skip) {
    if (matches(i)) return i;
  }
  return -1;
}

Cell* find(Cell* series, Cell* value, const action::FindOptions& options) {
  int64_t at = search(series, *value, options);
  if (at < 0) {
    *series = constants::none;
  } else {
    cell::set_series_index(*series, uint32_t(options.tail || options.match ? at + 1 : at));
  }
  return series;
}

Cell* select(Cell* series, Cell* value, const action::FindOptions& options) {
  action::FindOptions o = options;
  o.tail = o.match = false;
  int64_t at = search(series, *value, o);
  if (at < 0 || at + 1 >= length_of(*series)) {
    *series = constants::none;
  } else {
    *series = make_value(element_type_of(*series), read_at(*series, at + 1));
  }
  return series;
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
  uint8_t type = element_type_of(*series);
  series::take(series, part, deep, last);
  if (part || cell::type_of(*series) == TYPE_NONE || length_of(*series) != 1) return series;
  *series = make_value(type, read_at(*series, 0));
  return series;
}

Cell* eval_path(Cell* parent, Cell* element_cell, const action::PathStep& step) {
  if (cell::type_of(*element_cell) != TYPE_INTEGER) {
    rt::fire_error("script", "invalid-path", step.path, element_cell);
  }
  int32_t n = integer::get_value(*element_cell);
  return step.value ? series::poke(parent, n, step.value, element_cell)
                    : series::pick(parent, n, element_cell);
}

// --- sort ---------------------------------------------------------------------------------------

struct NumSort {
  std::vector<Num> values;
  uint8_t type;
  int32_t skip;
  int32_t field;
  bool all;
  bool reverse;
  const Cell* function;
  const Num& at(uint32_t record, int32_t i) const {
    return values[size_t(record) * size_t(skip) + size_t(i)];
  }
};

int32_t compare_records(const void* pa, const void* pb, void* arg, void*) {
  const NumSort& run = *static_cast<const NumSort*>(arg);
  uint32_t a = *static_cast<const uint32_t*>(pa), b = *static_cast<const uint32_t*>(pb);
  if (run.reverse) std::swap(a, b);
  int32_t from = run.all ? 0 : run.field;
  int32_t to = run.all ? run.skip : run.field + 1;
  for (int32_t i = from; i < to; i++) {
    int32_t r = order_of(run.type, run.at(a, i), run.at(b, i));
    if (r) return r;
  }
  return 0;
}

// The function is asked about (b, a), as block! asks it: true means a belongs after b.
int32_t call_records(const void* pa, const void* pb, void* arg, void*) {
  const NumSort& run = *static_cast<const NumSort*>(arg);
  uint32_t a = *static_cast<const uint32_t*>(pa), b = *static_cast<const uint32_t*>(pb);
  if (!run.reverse) std::swap(a, b);
  return series::comparator_order(series::call_comparator(
      *run.function, make_value(run.type, run.at(a, 0)), make_value(run.type, run.at(b, 0))));
}

Cell* sort(Cell* series, const action::SortOptions& options) {
  const series::SortPlan plan = series::plan_sort(series, options);
  if (plan.count <= 0) return series;
  bool notified = ownership::notify_owner(series, "sort", nullptr, plan.head, 0);
  int32_t count = std::min(plan.count, std::max(length_of(*series) - plan.head, 0));
  int32_t records = count / plan.skip;
  if (records > 1) {
    NumSort run{.values = {}, .type = element_type_of(*series), .skip = plan.skip,
                .field = plan.field, .all = options.all, .reverse = options.reverse,
                .function = plan.function};
    int32_t length = length_of(*series);
    for (int32_t i = 0; i < records * plan.skip; i++) run.values.push_back(read_at(*series, plan.head + i));
    const std::vector<uint32_t> order = sort::sorted_order(
        size_t(records), &run, run.function ? call_records : compare_records, options.stable);
    // A comparator may have changed the vector: the sorted records only fit the same length.
    if (length_of(*series) != length) rt::fire_error("script", "invalid-arg", series);
    Series* s = cell::series_of(*series);
    int32_t position = plan.head;
    for (uint32_t record : order) {
      for (int32_t i = 0; i < plan.skip; i++) {
        write_raw(element(s, position++), s->unit(), run.type, run.at(record, i));
      }
    }
  }
  if (notified) ownership::notify_owner(series, "sorted", nullptr, plan.head, 0);
  return series;
}

// The node only: the third payload word is the element type, not a node.
void mark(const Cell& value) { gc::mark_node(cell::series_node(value)); }

}  // namespace

Cell* make_at(Cell* cell, uint32_t count, uint8_t element_type, uint32_t unit) {
  if (uint64_t(count) * unit > 0xFFFFFFFFu || uint64_t(count) * unit > alloc::kMaxCapacity) {
    rt::fire_error("internal", "no-memory");
  }
  uint32_t node = series::new_buffer(count, unit);
  *cell = Cell{TYPE_VECTOR, 0, node, element_type};
  return cell;
}

void append_int32(const Cell& vector, int32_t value) {
  Num n;
  n.i = value;
  splice(vector, length_of(vector), {n});
}

void truncate_at_head(const Cell& vector) {
  Series* s = cell::series_of(vector);
  s->tail = s->head + uint32_t(head_of(vector)) * s->unit();
}

Cell* push_element(const Cell& vector, int32_t i, Cell* out) {
  *out = make_value(element_type_of(vector), read_at(vector, i));
  return out;
}

void store_element(const Cell& vector, int32_t i, const Cell& value) {
  uint8_t type = element_type_of(vector);
  Num n = convert(value, type);
  Series* s = cell::series_of(vector);
  write_raw(element(s, i), s->unit(), type, n);
}

void register_datatype() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  datatype::register_type(
      TYPE_VECTOR,
      {act<MAKE>(make), inherit<RANDOM>(), inherit<REFLECT>(), act<FORM>(form), act<MOLD>(mold),
       act<EVAL_PATH>(eval_path), act<COMPARE>(compare), act<ADD>(math<integer::ADD>),
       act<DIVIDE>(math<integer::DIVIDE>), act<MULTIPLY>(math<integer::MULTIPLY>),
       act<REMAINDER>(math<integer::REMAINDER>), act<SUBTRACT>(math<integer::SUBTRACT>),
       act<AND_T>(math<integer::AND>), act<OR_T>(math<integer::OR>),
       act<XOR_T>(math<integer::XOR>), act<APPEND>(insert), inherit<AT>(), inherit<BACK>(),
       act<CHANGE>(change), inherit<CLEAR>(), inherit<COPY>(), act<FIND>(find), inherit<HEAD>(),
       inherit<HEAD_Q>(), inherit<INDEX_Q>(), act<INSERT>(insert), inherit<LENGTH_Q>(),
       inherit<MOVE>(), inherit<NEXT>(), inherit<PICK>(), inherit<POKE>(), inherit<REMOVE>(),
       inherit<REVERSE>(), act<SELECT>(select), act<SORT>(sort), inherit<SKIP>(),
       inherit<TAIL>(), inherit<TAIL_Q>(), act<TAKE>(take), inherit<MODIFY>()});
  gc::set_type_marker(TYPE_VECTOR, mark);
}

}  // namespace vector
