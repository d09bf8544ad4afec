// integer!: its action entries, conversions, decimal text and the 32-bit arithmetic core.
// Mixed arithmetic and comparison with other numeric types go to those types' own entries
// through the action table, so this file needs none of their internals; text is read by the
// integer scanner of runtime/number_text.h. Operands live in the current frame's cells
// (rooted); nothing here keeps a buffer address across an allocation.
#include "datatypes/integer.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/upcall.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/fatal.h"
#include "runtime/number_text.h"
#include "runtime/rng.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace integer {

// --- Cell operations -------------------------------------------------------------------------

Cell* push(int32_t value) {
  Cell* c = stack::push_new();
  *c = make(value);
  return c;
}

void set_result(int32_t value) { *stack::arg(0) = make(value); }

Cell* set_cell(Cell* cell, int32_t value) {
  cell::set_type(*cell, TYPE_INTEGER);
  set_value(*cell, value);
  return cell;
}

Cell* append_to_block(const Cell* block, int32_t value) {
  Cell* c = cell::append_new_cell(block);
  *c = make(value);
  return c;
}

int32_t last_value() { return get_value(*stack::arg(0)); }

int32_t last_value_or_zero() {
  return cell::type_of(*stack::arg(0)) == TYPE_INTEGER ? last_value() : 0;
}

int32_t sign(int32_t value) { return (value > 0) - (value < 0); }

int32_t abs_checked(int32_t value) {
  if (value == INT32_MIN) rt::fire_error("math", "overflow");
  return value < 0 ? -value : value;
}

namespace {
// Written as "not inside" so that NaN is out of range too.
bool double_out_of_range(double d) { return !(d >= -2147483648.0 && d <= 2147483647.0); }
}  // namespace

bool float_out_of_range(const Cell& value) { return double_out_of_range(cell::get_double(value)); }

namespace {
// Writes the decimal text so that it ends just before `end`; returns its first character.
// Two digits a step, from a table of the pairs 00-99 (form of integers, the maps benchmark).
char* write_decimal(int32_t value, char* end) {
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char* p = end;
  // The magnitude as unsigned, so -2147483648 needs no special case.
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  while (magnitude >= 100) {
    const char* pair = kPairs + 2 * (magnitude % 100);
    magnitude /= 100;
    *--p = pair[1];
    *--p = pair[0];
  }
  if (magnitude >= 10) {
    *--p = kPairs[2 * magnitude + 1];
    *--p = kPairs[2 * magnitude];
  } else {
    *--p = static_cast<char>('0' + magnitude);
  }
  if (value < 0) *--p = '-';
  return p;
}
}  // namespace

const char* to_decimal_text(int32_t value) {
  static char text[12];
  text[sizeof text - 1] = '\0';
  return write_decimal(value, text + sizeof text - 1);
}

// --- Arithmetic core -------------------------------------------------------------------------

namespace {

// A result past the 32-bit range: the result cell becomes a float! of the exact operation.
int32_t overflowed_to_float(Cell* result, double exact) {
  if (!result) rt::fire_error("math", "overflow");
  result->header = TYPE_FLOAT;
  cell::set_double(*result, exact);
  return 0;
}

void check_divisor(int32_t left, int32_t right) {
  if (right == 0) rt::fire_error("math", "zero-divide");
  if (left == INT32_MIN && right == -1) rt::fire_error("math", "overflow");
}

}  // namespace

int32_t do_math(int32_t left, int32_t right, Op op, Cell* result) {
  int32_t r;
  const double l = left, rr = right;
  switch (op) {
    case ADD:
      if (__builtin_add_overflow(left, right, &r)) return overflowed_to_float(result, l + rr);
      break;
    case SUBTRACT:
      if (__builtin_sub_overflow(left, right, &r)) return overflowed_to_float(result, l - rr);
      break;
    case MULTIPLY:
      if (__builtin_mul_overflow(left, right, &r)) return overflowed_to_float(result, l * rr);
      break;
    case DIVIDE:
      check_divisor(left, right);
      if (result && left % right != 0) return overflowed_to_float(result, l / rr);
      r = left / right;
      break;
    case REMAINDER:
      check_divisor(left, right);
      r = left % right;
      break;
    case OR: r = left | right; break;
    case AND: r = left & right; break;
    case XOR: r = left ^ right; break;
    default:
      rt::runtime_error(rt::kFatalNoSwitchMatch, __builtin_return_address(0));
  }
  if (result) set_value(*result, r);
  return r;
}

action::Slot slot_of(Op op) {
  constexpr action::Slot kSlots[] = {action::ADD,    action::SUBTRACT,  action::MULTIPLY,
                                     action::DIVIDE, action::REMAINDER, action::OR_T,
                                     action::AND_T,  action::XOR_T};
  return kSlots[op];
}

// A slot a type leaves empty cannot take the operation: internal/not-done is the answer (every
// operand type integer arithmetic meets has its slots now; the guard stays for event!, with the
// GUI).
void run_slot(uint8_t type, action::Slot slot) {
  auto fn = reinterpret_cast<action::OnFrame>(datatype::table[type][slot - 1]);
  if (!fn) rt::fire_error("internal", "not-done");
  fn();
}

namespace {

constexpr const char* kOpName[] = {"add", "subtract", "multiply", "divide",
                                   "remainder", "or~", "and~", "xor~"};

[[noreturn]] void fire_with_type(const char* category, const char* id, uint8_t type) {
  rt::fire_error(category, id, datatype::push(type));
}

[[noreturn]] void fire_not_related(Op op) {
  Cell* word = word::push_global(symbol::intern_c_string(kOpName[op]));
  rt::fire_error("script", "not-related", word, datatype::push(TYPE_INTEGER));
}

void become_float(Cell* value) {
  double d = get_value(*value);
  cell::set_type(*value, TYPE_FLOAT);
  cell::set_double(*value, d);
}

}  // namespace

Cell* do_math_args(Op op) {
  Cell* left = stack::arg(0);
  Cell* right = stack::arg(1);
  uint8_t type = cell::type_of(*right);
  switch (type) {
    case TYPE_INTEGER:
    case TYPE_CHAR:
      do_math(get_value(*left), get_value(*right), op, left);
      break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
      // Float arithmetic has no bitwise operations.
      if (op >= OR) {
        Cell name = upcall::interpreter.call_name();
        rt::fire_error("script", "cannot-use", stack::push_copy(name), datatype::push(TYPE_FLOAT));
      }
      become_float(left);
      run_slot(TYPE_FLOAT, slot_of(op));
      break;
    case TYPE_MONEY:
      run_slot(TYPE_MONEY, slot_of(op));
      break;
    // The compound types compute compound op integer: the operands are swapped first.
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D:
      if (op == DIVIDE) fire_not_related(op);
      std::swap(*left, *right);
      if (op == SUBTRACT) {
        run_slot(type, action::NEGATE);
        op = ADD;
      }
      run_slot(type, slot_of(op));
      break;
    case TYPE_TUPLE:
      if (op == SUBTRACT || op == DIVIDE) fire_not_related(op);
      std::swap(*left, *right);
      run_slot(type, slot_of(op));
      break;
    case TYPE_VECTOR:
      std::swap(*left, *right);
      run_slot(type, slot_of(op));
      break;
    case TYPE_DATE:  // an integer counts days
      if (op != ADD) fire_not_related(op);
      std::swap(*left, *right);
      run_slot(type, action::ADD);
      break;
    default:
      fire_with_type("script", "invalid-type", type);
  }
  return stack::arg(0);
}

// --- Conversions -----------------------------------------------------------------------------

namespace {

[[noreturn]] void fire_bad_to_arg(const Cell* spec) {
  rt::fire_error("script", "bad-to-arg", datatype::push(TYPE_INTEGER), spec);
}

// The issue's text as 1 to 8 hexadecimal digits; 8 digits may set the sign bit.
int32_t from_issue(const Cell& issue) {
  const uint32_t utf8 = symbol::utf8_node_of(*symbol::get_cell(word::symbol_of(issue)));
  alloc::Series* name = alloc::series_of(utf8);
  const uint8_t* p = name->head_ptr();
  uint32_t length = name->used();
  if (length == 0 || length > 8) rt::fire_error("script", "invalid-data", &issue);
  uint32_t value = 0;
  for (uint32_t i = 0; i < length; i++) {
    int32_t digit = string::hex_digit(p[i]);
    if (digit < 0) rt::fire_error("script", "invalid-data", &issue);
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  return static_cast<int32_t>(value);
}

// The first up to four bytes from the binary's position, big-endian.
int32_t from_binary(const Cell& binary) {
  Cell copy = binary;
  const uint8_t* p = string::head_address(copy);
  const uint8_t* end = string::tail_address(copy);
  uint32_t value = 0;
  for (int i = 0; i < 4 && p < end; i++) value = value << 8 | *p++;
  return static_cast<int32_t>(value);
}

// The text from the position to the tail through the integer scanner (runtime/number_text.h); a
// text without a digit ("", "-") is refused like any other scan failure rather than read as 0.
int32_t from_text(const Cell& text) {
  Cell copy = text;
  uint32_t length = string::rest_length(copy);
  uint32_t unit = alloc::series_of(cell::series_node(copy))->unit();
  const uint8_t* p = string::head_address(copy);
  bool has_digit = false;
  for (uint32_t i = 0; i < length && !has_digit; i++) {
    uint32_t c = unicode::read_unit(p + i * unit, unit);
    has_digit = c >= '0' && c <= '9';
  }
  int32_t error = 0;
  int32_t value = number_text::scan_integer(p, length, unit, error);
  if (!has_digit || error) fire_bad_to_arg(&text);
  return value;
}

Cell* to(Cell* proto, Cell* spec, uint8_t) {
  int32_t value;
  switch (cell::type_of(*spec)) {
    case TYPE_INTEGER:
      return spec;
    case TYPE_CHAR:
      value = get_value(*spec);
      break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
      if (float_out_of_range(*spec)) fire_with_type("script", "type-limit", TYPE_INTEGER);
      value = static_cast<int32_t>(std::trunc(cell::get_double(*spec)));
      break;
    case TYPE_TIME: {
      double seconds = cell::get_double(*spec) + 0.5;
      if (double_out_of_range(seconds)) fire_with_type("script", "type-limit", TYPE_INTEGER);
      value = static_cast<int32_t>(std::trunc(seconds));
      break;
    }
    case TYPE_BINARY:
      value = from_binary(*spec);
      break;
    case TYPE_ISSUE:
      value = from_issue(*spec);
      break;
    case TYPE_MONEY:
      value = money::to_int(*spec);
      break;
    case TYPE_DATE: {  // epoch seconds are 64-bit: most dates lie beyond the 32-bit range
      int64_t seconds = date::to_epoch_seconds(*spec);
      if (seconds < INT32_MIN || seconds > INT32_MAX) {
        fire_with_type("script", "type-limit", TYPE_INTEGER);
      }
      value = static_cast<int32_t>(seconds);
      break;
    }
    default:
      if (!types::any_string(cell::type_of(*spec))) fire_bad_to_arg(spec);
      value = from_text(*spec);
  }
  *proto = make(value);
  return proto;
}

Cell* make_entry(Cell* proto, Cell* spec, uint8_t type) {
  if (cell::type_of(*spec) != TYPE_LOGIC) return to(proto, spec, type);
  *proto = make(logic::value_of(*spec) ? 1 : 0);
  return proto;
}

// --- Text ------------------------------------------------------------------------------------

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  // The length comes from the writing, not from scanning the text again (the maps benchmark).
  char text[11];
  char* end = text + sizeof text;
  char* first = write_decimal(get_value(*value), end);
  string::append_c_chars(*out, first, static_cast<size_t>(end - first));
  return part - static_cast<int32_t>(end - first);
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  return form(value, out, nullptr, part);
}

// --- Comparison ------------------------------------------------------------------------------

int32_t compare(Cell* a, Cell* b, int32_t op) {
  uint8_t type = cell::type_of(*b);
  if ((op == action::STRICT_EQUAL || op == action::FIND_EQUAL) && type != TYPE_INTEGER) return 1;
  switch (type) {
    case TYPE_INTEGER:
    case TYPE_CHAR:
      return (get_value(*a) > get_value(*b)) - (get_value(*a) < get_value(*b));
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: {
      auto float_compare = datatype::implemented<action::COMPARE>(TYPE_FLOAT);
      Cell as_float = *a;
      become_float(&as_float);
      return float_compare(&as_float, b, op);
    }
    case TYPE_MONEY: {  // through money's comparison; same? never holds across types
      if (op == action::SAME) return 1;
      Cell as_money = money::from_int(get_value(*a));
      return money::compare(&as_money, b, op);
    }
    default:
      return action::kNotComparable;
  }
}

// --- Single-value actions --------------------------------------------------------------------

void absolute() {
  Cell* v = stack::arg(0);
  set_value(*v, abs_checked(get_value(*v)));
}

void negate() {
  Cell* v = stack::arg(0);
  int32_t n = get_value(*v);
  if (n == INT32_MIN) rt::fire_error("math", "overflow");
  set_value(*v, -n);
}

bool even_q(Cell* value) { return (get_value(*value) & 1) == 0; }
bool odd_q(Cell* value) { return (get_value(*value) & 1) != 0; }

Cell* complement(Cell* value) {
  set_value(*value, ~get_value(*value));
  return value;
}

template <Op op>
void math() {
  do_math_args(op);
}

// --- Power -----------------------------------------------------------------------------------

// base ** exponent by squaring; false when a product leaves the 32-bit range (the base only
// matters while exponent bits remain).
bool power_by_squaring(int32_t base, uint32_t exponent, int32_t& result) {
  int32_t r = 1;
  while (exponent) {
    if ((exponent & 1) && __builtin_mul_overflow(r, base, &r)) return false;
    exponent >>= 1;
    if (exponent && __builtin_mul_overflow(base, base, &base)) return false;
  }
  result = r;
  return true;
}

void power() {
  Cell* base = stack::arg(0);
  Cell* exponent = stack::arg(1);
  uint8_t type = cell::type_of(*exponent);
  if (type != TYPE_INTEGER && type != TYPE_FLOAT) cell::fire_expect_arg(*exponent, 1);
  int32_t result;
  if (type == TYPE_INTEGER && get_value(*exponent) >= 0 &&
      power_by_squaring(get_value(*base), static_cast<uint32_t>(get_value(*exponent)), result)) {
    set_value(*base, result);
    return;
  }
  become_float(base);
  run_slot(TYPE_FLOAT, action::POWER);
}

// --- Round -----------------------------------------------------------------------------------

// Rounds to a multiple of the scale. Worked in 64 bits, so -2147483648 and a -2147483648 scale
// round like any other value, and only a result that really leaves the range overflows.
void round(Cell* value, Cell* scale, const action::RoundOptions& options) {
  if (scale && cell::type_of(*scale) == TYPE_MONEY) {
    Cell name = upcall::interpreter.call_name();
    rt::fire_error("script", "not-related", stack::push_copy(name), datatype::push(TYPE_MONEY));
  }
  if (scale && cell::type_of(*scale) != TYPE_INTEGER) {
    auto float_round = datatype::implemented<action::ROUND>(TYPE_FLOAT);
    become_float(value);
    float_round(value, scale, options);
    return;
  }
  const int64_t n = get_value(*value);
  const int64_t s = scale ? std::llabs(get_value(*scale)) : 1;
  if (s == 0) return;
  const int64_t a = n < 0 ? -n : n;
  const int64_t r = a % s;
  if (r == 0) return;
  const int64_t d = s - r;
  const int64_t toward = a - r, away = a + d;
  int64_t magnitude;
  if (options.down) magnitude = toward;
  else if (options.floor) magnitude = n > 0 ? toward : away;
  else if (options.ceiling) magnitude = n < 0 ? toward : away;
  else if (r < d) magnitude = toward;
  else if (r > d) magnitude = away;
  else if (options.even) magnitude = (a / s) % 2 == 0 ? toward : away;
  else if (options.half_down) magnitude = toward;
  else if (options.half_ceiling) magnitude = n < 0 ? toward : away;
  else magnitude = away;
  const int64_t rounded = n < 0 ? -magnitude : magnitude;
  if (rounded < INT32_MIN || rounded > INT32_MAX) rt::fire_error("math", "overflow");
  set_value(*value, static_cast<int32_t>(rounded));
}

// random n: 1..n (-1..n below 0, 0 for 0), kept in the value's own type (char! inherits it);
// /seed n restarts the generator from n.
void random(Cell* value, const action::RandomOptions& options) {
  if (options.seed) {
    rng::seed(static_cast<uint32_t>(get_value(*value)));
    *value = constants::unset;
    return;
  }
  set_value(*value, rng::int_range(options.secure, get_value(*value)));
}

}  // namespace

Cell form_new_string(int32_t value) {
  char text[12];
  const char* first = write_decimal(value, text + sizeof text);
  const auto count = static_cast<uint32_t>(text + sizeof text - first);
  uint32_t node = alloc::new_series(16, 1);  // the capacity form's dispatcher gives its string
  alloc::Series* s = alloc::series_of(node);
  std::memcpy(s->head_ptr(), first, count);
  s->tail = s->head + count;
  return cell::make_series(TYPE_STRING, node);
}

void init() {
  namespace a = action;
  using datatype::act;
  datatype::register_type(
      TYPE_INTEGER,
      {act<a::MAKE>(make_entry), act<a::RANDOM>(random), act<a::TO>(to), act<a::FORM>(form),
       act<a::MOLD>(mold), act<a::COMPARE>(compare), act<a::ABSOLUTE>(absolute),
       act<a::ADD>(math<ADD>),
       act<a::DIVIDE>(math<DIVIDE>), act<a::MULTIPLY>(math<MULTIPLY>), act<a::NEGATE>(negate),
       act<a::POWER>(power), act<a::REMAINDER>(math<REMAINDER>), act<a::ROUND>(round),
       act<a::SUBTRACT>(math<SUBTRACT>), act<a::EVEN_Q>(even_q), act<a::ODD_Q>(odd_q),
       act<a::AND_T>(math<AND>), act<a::COMPLEMENT>(complement), act<a::OR_T>(math<OR>),
       act<a::XOR_T>(math<XOR>)});
}

}  // namespace integer
