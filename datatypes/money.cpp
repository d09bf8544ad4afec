// money!: the action entries (make/to, form/mold, path steps, compare, arithmetic, round, parity)
// and the conversions other types call. The digits are worked as one 128-bit number (the amount
// x 10^5), which holds every amount and every product that can still fit; the cell keeps BCD.
// Currency codes are read from system/locale/currencies/list when needed: nothing keeps an
// address into that block across an allocation (runtime/gc.h).
#include "datatypes/money.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/hashtable.h"
#include "datatypes/object.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/upcall.h"
#include "datatypes/word.h"
#include "runtime/dtoa.h"
#include "runtime/rng.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace money {

namespace {

using Amount = unsigned __int128;  // a magnitude: the amount x 10^5
using Value = __int128;            // a signed amount x 10^5

constexpr Amount power_of_ten(int n) {
  Amount r = 1;
  while (n-- > 0) r *= 10;
  return r;
}
constexpr Amount kLimit = power_of_ten(kDigits);       // every magnitude stays below this
constexpr Amount kUnit = power_of_ten(kFractionDigits);  // one whole unit
constexpr Cell kMoneyType{TYPE_DATATYPE, TYPE_MONEY, 0, 0};

// --- The cell --------------------------------------------------------------------------------

// Byte 0 the currency index, bytes 1-11 the 22 BCD digits, most significant first.
uint8_t* bytes_of(Cell& c) { return reinterpret_cast<uint8_t*>(&c.w1); }
const uint8_t* bytes_of(const Cell& c) { return reinterpret_cast<const uint8_t*>(&c.w1); }

uint8_t currency_of(const Cell& c) { return bytes_of(c)[0]; }
bool negative(const Cell& c) { return (c.header & kSignFlag) != 0; }

Amount amount_of(const Cell& c) {
  const uint8_t* p = bytes_of(c) + 1;
  Amount a = 0;
  for (int i = 0; i < kDigits / 2; i++) a = a * 100 + (p[i] >> 4) * 10 + (p[i] & 0xF);
  return a;
}

Value value_of(const Cell& c) {
  Value v = static_cast<Value>(amount_of(c));
  return negative(c) ? -v : v;
}

[[noreturn]] void fire_type_limit(uint8_t type) {
  rt::fire_error("script", "type-limit", datatype::push(type));
}

// The money of a magnitude (below kLimit) and sign; a zero never carries the sign.
Cell make_cell(Amount amount, bool is_negative, uint8_t currency) {
  Cell c{TYPE_MONEY, 0, 0, 0};
  if (is_negative && amount != 0) c.header |= kSignFlag;
  uint8_t* p = bytes_of(c);
  p[0] = currency;
  for (int i = kDigits / 2; i-- > 0;) {
    uint8_t low = static_cast<uint8_t>(amount % 10);
    amount /= 10;
    uint8_t high = static_cast<uint8_t>(amount % 10);
    amount /= 10;
    p[1 + i] = static_cast<uint8_t>(high << 4 | low);
  }
  return c;
}

// A result of the arithmetic: past 17 integer digits raises script/type-limit.
Cell make_checked(Value value, uint8_t currency) {
  Amount magnitude = static_cast<Amount>(value < 0 ? -value : value);
  if (magnitude >= kLimit) fire_type_limit(TYPE_MONEY);
  return make_cell(magnitude, value < 0, currency);
}

// Decimal digits of a magnitude, no leading zeros ("0" for zero).
std::string decimal(Amount a) {
  char digits[40];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + static_cast<int>(a % 10));
    a /= 10;
  } while (a);
  std::string text;
  while (n > 0) text += digits[--n];
  return text;
}

double parse(const std::string& text, int32_t exponent_adjust) {
  int32_t unconsumed;
  return dtoa::parse_float(text.data(), text.data() + text.size(), exponent_adjust, &unconsumed);
}

// --- The currency list -----------------------------------------------------------------------

struct Names {
  uint32_t locale, currencies, list, options, money_digits;
};

// Interned on first use, before any caller takes an address into a series.
const Names& names() {
  static const Names n{symbol::intern_c_string("locale"), symbol::intern_c_string("currencies"),
                       symbol::intern_c_string("list"), symbol::intern_c_string("options"),
                       symbol::intern_c_string("money-digits")};
  return n;
}

// system/locale/currencies/list, or none.
Cell currency_list() {
  const Names& n = names();
  Cell list = object::system_field({n.locale, n.currencies, n.list});
  return cell::type_of(list) == TYPE_BLOCK ? list : constants::none;
}

int32_t list_length(const Cell& list) {
  return cell::type_of(list) == TYPE_BLOCK
             ? std::max(series::buffer_length(list) - cell::series_index_signed(list), 0)
             : 0;
}

// The list's word at the 1-based index; none when the list has none there (it was cut short).
Cell currency_word(uint8_t index) {
  Cell list = currency_list();
  if (index == 0 || index > list_length(list)) return constants::none;
  Cell word = cell::block_head(list)[index - 1];
  return cell::type_of(word) == TYPE_WORD ? word : constants::none;
}

// The code's text ("" when the list no longer names it).
std::string currency_text(uint8_t index) {
  Cell word = currency_word(index);
  if (cell::type_of(word) != TYPE_WORD) return {};
  // May allocate: read the node first.
  uint32_t node = symbol::utf8_node_of(*symbol::get_cell(word::symbol_of(word)));
  alloc::Series* name = alloc::series_of(node);
  return std::string(reinterpret_cast<const char*>(name->head_ptr()), name->used());
}

// The currency byte of a code; -1 when the list lacks it. A code past what the byte holds is
// refused rather than wrapped to "no currency".
int32_t checked_currency(uint32_t symbol) {
  int32_t index = currency_index(symbol);
  if (index > kMaxCurrency) rt::fire_error("script", "size-limit", word::push_global(symbol));
  return index;
}

// system/options/money-digits when it is an integer!, else 2.
int32_t money_digits() {
  const Names& n = names();
  Cell digits = object::system_field({n.options, n.money_digits});
  return cell::type_of(digits) == TYPE_INTEGER ? integer::get_value(digits) : 2;
}

// --- Text ------------------------------------------------------------------------------------

// Form groups the integer digits and shows money-digits fraction digits (at most 5), truncated.
// Mold never groups and shows at least as many fraction digits as it takes to read the same
// amount back; /all shows all five.
int32_t print(const Cell& value, Cell* out, bool form, bool all, int32_t part) {
  Amount a = amount_of(value);
  std::string text = sign(value) < 0 ? "-" : "";
  if (currency_of(value)) text += currency_text(currency_of(value));
  text += '$';
  std::string whole = decimal(a / kUnit);
  for (size_t i = 0; i < whole.size(); i++) {
    if (form && i > 0 && (whole.size() - i) % 3 == 0) text += '\'';
    text += whole[i];
  }
  std::string fraction = decimal(a % kUnit + kUnit).substr(1);  // 5 digits, leading zeros kept
  int32_t shown = money_digits();
  if (all || shown > kFractionDigits) shown = kFractionDigits;
  if (!form) {
    int32_t needed = static_cast<int32_t>(fraction.find_last_not_of('0') + 1);  // npos + 1 = 0
    shown = std::max(shown, needed);
  }
  if (shown > 0) text += '.' + fraction.substr(0, static_cast<size_t>(shown));
  return part - cell::append_text(out, text.c_str());
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  const Cell v = *value;
  return print(v, out, true, false, part);
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell*, int32_t part, int32_t) {
  const Cell v = *value;
  return print(v, out, false, options.all, part);
}

// --- Conversions -----------------------------------------------------------------------------

[[noreturn]] void fire_bad_make_arg(const Cell& spec) {
  rt::fire_error("script", "bad-make-arg", &kMoneyType, &spec);
}

// The currency byte named by a word; an unknown code cannot make money.
uint8_t currency_for_make(const Cell& word, const Cell& spec) {
  int32_t index = checked_currency(word::symbol_of(word));
  if (index < 0) fire_bad_make_arg(spec);
  return static_cast<uint8_t>(index);
}

// [currency amount fraction]: an optional currency word, an integer! or float! amount, and for
// an integer amount an optional integer! of up to 5 fraction digits (placed from the first
// fraction digit on: [1 5] is $1.5).
Cell from_block(const Cell& spec) {
  int32_t count = list_length(spec);
  if (count < 1 || count > 3) fire_bad_make_arg(spec);
  Cell items[3];
  for (int32_t i = 0; i < count; i++) items[i] = cell::block_head(spec)[i];
  int32_t i = 0;
  uint8_t currency = 0;
  if (cell::type_of(items[0]) == TYPE_WORD) currency = currency_for_make(items[i++], spec);
  if (i == count) fire_bad_make_arg(spec);
  const Cell& amount = items[i++];
  Cell result;
  if (cell::type_of(amount) == TYPE_INTEGER) result = from_int(integer::get_value(amount));
  else if (cell::type_of(amount) == TYPE_FLOAT) result = from_float(cell::get_double(amount));
  else fire_bad_make_arg(spec);
  if (i < count) {
    // A float amount has fraction digits of its own: adding more would be guesswork.
    const Cell& fraction = items[i++];
    int32_t digits = integer::get_value(fraction);
    if (cell::type_of(amount) != TYPE_INTEGER || cell::type_of(fraction) != TYPE_INTEGER ||
        digits < 0 || digits >= static_cast<int32_t>(kUnit)) {
      fire_bad_make_arg(spec);
    }
    int32_t width = 0;
    for (int32_t n = digits; n > 0; n /= 10) width++;
    Amount placed = static_cast<Amount>(digits) * power_of_ten(kFractionDigits - width);
    result = make_cell(amount_of(result) + placed, negative(result), 0);
  }
  bytes_of(result)[0] = currency;
  return result;
}

bool letter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool digit(uint8_t c) { return c >= '0' && c <= '9'; }

// An amount read from text of any unit width, with the literal's rules for separators: an
// optional sign, an optional 3-letter code followed by "$" ("$" optional without a code), digits
// with "'" separators and at most one ".". The whole text must be used. False for bad text,
// which never raises: the caller words its own conversion error. May allocate (the code's
// symbol); text may lie in series memory: it is copied first.
bool scan_text(const uint8_t* text, uint32_t length, uint32_t unit, Cell* out) {
  std::string copy;
  for (uint32_t i = 0; i < length; i++) {
    uint32_t c = unicode::read_unit(text + i * unit, unit);
    if (c > 0x7F) return false;  // nothing beyond ASCII belongs in an amount
    copy += static_cast<char>(c);
  }
  const uint8_t* p = reinterpret_cast<const uint8_t*>(copy.data());
  const uint8_t* end = p + copy.size();
  if (p == end) return false;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  const uint8_t* currency = nullptr;
  if (p < end && letter(*p)) {
    if (end - p < 5 || !letter(p[1]) || !letter(p[2]) || p[3] != '$') return false;
    currency = p;
    p += 4;
  } else if (p < end && *p == '$') {
    p++;
  }
  if (p == end) return false;
  const uint8_t* point = nullptr;
  for (const uint8_t* q = p; q < end; q++) {
    if (*q == '\'' || *q == '.') {
      if (q == p || q[-1] == '\'' || q + 1 == end || point) return false;
      if (*q == '.') point = q;
    } else if (!digit(*q)) {
      return false;
    }
  }
  Cell value{};
  if (!make_at_digits(&value, negative, currency, p, point, end)) return false;
  *out = value;
  return true;
}

// The text from the series position to its tail.
Cell from_text(const Cell& spec) {
  Cell text = spec;
  uint32_t length = string::rest_length(text);
  uint32_t unit = alloc::series_of(cell::series_node(text))->unit();
  Cell result{};
  if (!scan_text(string::head_address(text), length, unit, &result)) {
    rt::fire_error("script", "bad-to-arg", &kMoneyType, &spec);
  }
  return result;
}

Cell* to(Cell* proto, Cell* spec, uint8_t) {
  uint8_t type = cell::type_of(*spec);
  switch (type) {
    case TYPE_MONEY:
      return spec;
    case TYPE_INTEGER:
      *proto = from_int(integer::get_value(*spec));
      return proto;
    case TYPE_FLOAT:
      *proto = from_float(cell::get_double(*spec));
      return proto;
    default:
      if (!types::any_string(type)) rt::fire_error("script", "bad-to-arg", &kMoneyType, spec);
      *proto = from_text(*spec);
      return proto;
  }
}

Cell* make(Cell* proto, Cell* spec, uint8_t type) {
  switch (cell::type_of(*spec)) {
    case TYPE_WORD: {
      const Cell word = *spec;
      *proto = make_cell(0, false, currency_for_make(word, word));
      return proto;
    }
    case TYPE_BLOCK:
      *proto = from_block(*spec);
      return proto;
    default:
      return to(proto, spec, type);
  }
}

// --- Path steps ------------------------------------------------------------------------------

// 1 for code, 2 for amount (by word or index), 0 for anything else.
int32_t field_of(const Cell& element) {
  uint8_t type = cell::type_of(element);
  if (type == TYPE_INTEGER) {
    int32_t index = integer::get_value(element);
    return index == 1 || index == 2 ? index : 0;
  }
  if (!types::any_word(type)) return 0;
  uint32_t symbol = symbol::resolve_alias(word::symbol_of(element));
  if (symbol == symbol::resolve_alias(runtime_words::symbols.code)) return 1;
  if (symbol == symbol::resolve_alias(runtime_words::symbols.amount)) return 2;
  return 0;
}

Cell field_value(const Cell& value, int32_t field_index) {
  if (field_index == 1) return currency_word(currency_of(value));
  Cell amount = value;
  bytes_of(amount)[0] = 0;
  return amount;
}

Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step) {
  const Cell* shown = step.path ? step.path : parent;
  if (step.value) rt::fire_error("script", "bad-path-set", shown, element);
  int32_t field_index = field_of(*element);
  if (!field_index) rt::fire_error("script", "invalid-path", shown, element);
  *parent = field_value(*parent, field_index);
  return parent;
}

Cell* pick(Cell* value, int32_t index, Cell* index_value) {
  Cell given = index_value ? *index_value : integer::make(index);
  int32_t field_index = field_of(given);
  if (!field_index) rt::fire_error("script", "out-of-range", &given);
  *value = field_value(*value, field_index);
  return value;
}

// --- Comparison ------------------------------------------------------------------------------

int32_t order(Value a, Value b) { return (a > b) - (a < b); }

// The amount against the float's shortest decimal digits, exactly: converting the float first
// would drop its digits past the fifth fraction digit and make 1.000001 equal to $1. The float
// lies below 10^17 in magnitude.
int32_t order_with_float(Value a, double d) {
  int32_t point, count, is_negative;
  const char* digits = dtoa::float_to_digits(d, 0, &point, &count, &is_negative, false);
  if (point == dtoa::kZeroPoint) return order(a, 0);
  Value mantissa = 0;  // d = mantissa x 10^(point - count)
  for (int32_t i = 0; i < count; i++) mantissa = mantissa * 10 + (digits[i] - '0');
  if (is_negative) mantissa = -mantissa;
  const int32_t shift = point - count + kFractionDigits;  // a against mantissa x 10^shift
  if (shift >= 0) return order(a, mantissa * static_cast<Value>(power_of_ten(shift)));
  // A mantissa has at most 17 digits: past that shift any non-zero amount outweighs it.
  if (-shift > kIntegerDigits) return a != 0 ? order(a, 0) : order(0, mantissa);
  return order(a * static_cast<Value>(power_of_ten(-shift)), mantissa);
}

// Sort order of currencies: none first, then by code.
int32_t order_currencies(uint8_t a, uint8_t b) {
  if (!a || !b) return order(a, b);
  std::string x = currency_text(a), y = currency_text(b);
  int32_t by_code = x.compare(y);
  return by_code ? (by_code > 0) - (by_code < 0) : order(a, b);
}

// --- Arithmetic ------------------------------------------------------------------------------

// An operand as money: integers and floats (percents as their fraction) are converted.
Cell as_money(const Cell& operand) {
  switch (cell::type_of(operand)) {
    case TYPE_MONEY: return operand;
    case TYPE_INTEGER: return from_int(integer::get_value(operand));
    case TYPE_FLOAT:
    case TYPE_PERCENT: return from_float(cell::get_double(operand));
    default: rt::fire_error("script", "invalid-type", datatype::push(cell::type_of(operand)));
  }
}

// The nearest double to a / b (b not 0): the quotient's digits far enough that a midpoint
// between doubles is either reached exactly or left on the right side, then one correctly
// rounded reading. A remainder left over shows as a last digit 1 so it still counts.
double ratio(Amount a, Amount b, bool is_negative) {
  std::string text = is_negative ? "-" : "";
  text += decimal(a / b) + '.';
  Amount r = a % b;
  for (int i = 0; i < 160 && r; i++) {
    r *= 10;
    text += static_cast<char>('0' + static_cast<int>(r / b));
    r %= b;
  }
  if (r) text += '1';
  return parse(text, 0);
}

Amount magnitude(Value v) { return static_cast<Amount>(v < 0 ? -v : v); }

template <integer::Op op>
void math() {
  do_math(op);
}

// --- Single-value actions --------------------------------------------------------------------

void absolute() { stack::arg(0)->header &= ~kSignFlag; }

void negate() { stack::arg(0)->header ^= kSignFlag; }

bool odd_q(Cell* value) { return (amount_of(*value) / kUnit) % 2 == 1; }
bool even_q(Cell* value) { return !odd_q(value); }

// A magnitude drawn uniformly from 0 to the amount, digit by digit from the most significant:
// a draw whose digits pass the amount's is started again.
Amount random_amount(Amount amount, bool secure) {
  uint8_t digits[kDigits];
  int count = 0;
  for (Amount a = amount; a; a /= 10) digits[count++] = static_cast<uint8_t>(a % 10);
  for (;;) {
    Amount drawn = 0;
    bool tight = true;  // the digits so far equal the amount's
    int i = count;
    for (; i-- > 0;) {
      const auto digit = static_cast<uint8_t>(rng::int_range(secure, 10) - 1);
      if (tight && digit > digits[i]) break;
      tight = tight && digit == digits[i];
      drawn = drawn * 10 + digit;
    }
    if (i < 0) return drawn;
  }
}

// random $n: an amount between zero and the value, with its sign and currency; /seed restarts
// the generator from the hash of the amount's digits and sign.
void random(Cell* value, const action::RandomOptions& options) {
  const Cell v = *value;
  if (options.seed) {
    uint8_t amount[kDigits / 2 + 1];
    std::memcpy(amount, bytes_of(v) + 1, kDigits / 2);
    amount[kDigits / 2] = negative(v) ? 1 : 0;
    rng::seed(hashtable::murmur3(amount, sizeof amount));
    *value = constants::unset;
    return;
  }
  *value = make_cell(random_amount(amount_of(v), options.secure), negative(v), currency_of(v));
}

// Rounds to a multiple of the scale (money, or a number converted); the tie is judged by twice
// the remainder against the scale, exact for an odd scale too.
void round(Cell* value, Cell* scale, const action::RoundOptions& options) {
  const Cell v = *value;
  if (zero_q(v)) return;
  Amount s = kUnit;
  if (scale) {
    uint8_t type = cell::type_of(*scale);
    if (type != TYPE_MONEY && type != TYPE_INTEGER && type != TYPE_FLOAT) {
      Cell name = upcall::interpreter.call_name();
      rt::fire_error("script", "not-related", &name, datatype::push(type));
    }
    const Cell by = as_money(*scale);
    if (currency_of(v) && currency_of(by) && currency_of(v) != currency_of(by)) {
      rt::fire_error("script", "wrong-denom", value, scale);
    }
    s = amount_of(by);
  }
  if (s == 0) return;
  const Amount a = amount_of(v);
  const Amount q = a / s, r = a % s;
  const bool neg = negative(v);
  bool away;
  if (r == 0 || options.down) away = false;
  else if (options.floor) away = neg;
  else if (options.ceiling) away = !neg;
  else if (2 * r != s) away = 2 * r > s;
  else if (options.even) away = q % 2 == 1;
  else if (options.half_down) away = false;
  else if (options.half_ceiling) away = !neg;
  else away = true;
  Amount rounded;
  if (__builtin_mul_overflow(q + (away ? 1 : 0), s, &rounded) || rounded >= kLimit) {
    fire_type_limit(TYPE_MONEY);
  }
  *value = make_cell(rounded, neg, currency_of(v));
}

// Equal amounts hash alike: the currency and the sign of a zero take no part (a plain amount
// equals the same amount in any currency).
void normalize_for_hash(Cell& copy) {
  bytes_of(copy)[0] = 0;
  if (amount_of(copy) == 0) copy.header &= ~kSignFlag;
}

}  // namespace

// --- Exported conversions --------------------------------------------------------------------

Cell* make_at_digits(Cell* cell, bool is_negative, const uint8_t* currency, const uint8_t* digits,
                     const uint8_t* point, const uint8_t* end) {
  Amount whole = 0;
  int32_t significant = 0;
  for (const uint8_t* p = digits; p < (point ? point : end); p++) {
    if (*p == '\'') continue;
    if (*p < '0' || *p > '9') return nullptr;
    if (significant || *p != '0') significant++;
    if (significant > kIntegerDigits) return nullptr;
    whole = whole * 10 + (*p - '0');
  }
  Amount fraction = 0;
  int32_t places = 0;
  for (const uint8_t* p = point ? point + 1 : end; p < end; p++) {
    if (*p == '\'') continue;
    if (*p < '0' || *p > '9' || ++places > kFractionDigits) return nullptr;
    fraction = fraction * 10 + (*p - '0');
  }
  int32_t index = 0;
  if (currency) {
    index = checked_currency(symbol::intern_bytes(currency, 3));
    if (index < 0) return nullptr;
  }
  Amount amount = whole * kUnit + fraction * power_of_ten(kFractionDigits - places);
  *cell = make_cell(amount, is_negative, static_cast<uint8_t>(index));
  return cell;
}

Cell from_int(int32_t value) {
  int64_t wide = value;
  return make_cell(static_cast<Amount>(wide < 0 ? -wide : wide) * kUnit, wide < 0, 0);
}

Cell from_float(double value) {
  if (!std::isfinite(value)) {
    Cell f = float_::make(value);
    fire_bad_make_arg(f);
  }
  int32_t point, count, is_negative;
  const char* digits = dtoa::float_to_digits(value, 0, &point, &count, &is_negative, false);
  if (point == dtoa::kZeroPoint) return make_cell(0, false, 0);
  if (point > kIntegerDigits) fire_type_limit(TYPE_MONEY);
  // Digit i stands for 10^(point - 1 - i); in units of 10^-5 that is point - 1 - i + 5.
  Amount amount = 0;
  for (int32_t i = 0; i < count && point - 1 - i + kFractionDigits >= 0; i++) {
    amount += static_cast<Amount>(digits[i] - '0') *
              power_of_ten(point - 1 - i + kFractionDigits);
  }
  return make_cell(amount, is_negative != 0, 0);
}

Cell in_currency(const Cell& currency, const Cell& amount) {
  int32_t index = checked_currency(word::symbol_of(currency));
  if (index < 0) rt::fire_error("script", "bad-denom", &currency);
  Cell result = cell::type_of(amount) == TYPE_INTEGER ? from_int(integer::get_value(amount))
                                                      : from_float(cell::get_double(amount));
  bytes_of(result)[0] = static_cast<uint8_t>(index);
  return result;
}

int32_t to_int(const Cell& value) {
  Value whole = value_of(value) / static_cast<Value>(kUnit);  // truncated toward zero
  if (whole > INT32_MAX || whole < INT32_MIN) fire_type_limit(TYPE_INTEGER);
  return static_cast<int32_t>(whole);
}

double to_float(const Cell& value) {
  return parse((negative(value) ? "-" : "") + decimal(amount_of(value)), -kFractionDigits);
}

int32_t sign(const Cell& value) {
  if (zero_q(value)) return 0;
  return negative(value) ? -1 : 1;
}

bool zero_q(const Cell& value) { return amount_of(value) == 0; }

int32_t currency_index(uint32_t symbol) {
  Cell list = currency_list();
  const uint32_t wanted = symbol::resolve_alias(symbol);
  const int32_t length = list_length(list);
  const Cell* words = length ? cell::block_head(list) : nullptr;
  for (int32_t i = 0; i < length; i++) {
    if (cell::type_of(words[i]) == TYPE_WORD &&
        symbol::resolve_alias(word::symbol_of(words[i])) == wanted) {
      return i + 1;
    }
  }
  return -1;
}

Cell* do_math(integer::Op op) {
  Cell* left = stack::arg(0);
  Cell* right = stack::arg(1);
  const bool left_money = cell::type_of(*left) == TYPE_MONEY;
  const bool right_money = cell::type_of(*right) == TYPE_MONEY;
  if ((op == integer::MULTIPLY && left_money && right_money) ||
      ((op == integer::DIVIDE || op == integer::REMAINDER) && !left_money)) {
    rt::fire_error("script", "invalid-type", &kMoneyType);
  }
  const Cell x = as_money(*left), y = as_money(*right);
  const uint8_t cx = currency_of(x), cy = currency_of(y);
  if (cx && cy && cx != cy) rt::fire_error("script", "wrong-denom", left, right);
  const uint8_t currency = cx ? cx : cy;
  const Value a = value_of(x), b = value_of(y);
  const bool differ = (a < 0) != (b < 0);
  Value result;
  switch (op) {
    case integer::ADD:
      result = a + b;
      break;
    case integer::SUBTRACT:
      result = a - b;
      break;
    case integer::MULTIPLY: {
      Amount product;
      if (__builtin_mul_overflow(magnitude(a), magnitude(b), &product)) {
        fire_type_limit(TYPE_MONEY);
      }
      product /= kUnit;  // digits past the fifth fraction digit are dropped
      if (product >= kLimit) fire_type_limit(TYPE_MONEY);
      result = differ ? -static_cast<Value>(product) : static_cast<Value>(product);
      break;
    }
    case integer::DIVIDE: {
      if (b == 0) rt::fire_error("math", "zero-divide");
      if (right_money) {
        *left = float_::make(ratio(magnitude(a), magnitude(b), differ));
        return left;
      }
      Amount quotient = magnitude(a) * kUnit / magnitude(b);  // below 10^27: no overflow
      if (quotient >= kLimit) fire_type_limit(TYPE_MONEY);
      result = differ ? -static_cast<Value>(quotient) : static_cast<Value>(quotient);
      break;
    }
    default: {  // remainder: what the truncated whole quotient leaves, with the dividend's sign
      if (b == 0) rt::fire_error("math", "zero-divide");
      Value rest = static_cast<Value>(magnitude(a) % magnitude(b));
      result = a < 0 ? -rest : rest;
    }
  }
  *left = make_checked(result, currency);
  return left;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  const uint8_t other = cell::type_of(*b);
  const bool strict =
      op == action::STRICT_EQUAL || op == action::SAME || op == action::FIND_EQUAL;
  if (strict && other != TYPE_MONEY) return 1;
  Cell x = *a, y;
  switch (other) {
    case TYPE_MONEY:
      y = *b;
      break;
    case TYPE_INTEGER:
      y = from_int(integer::get_value(*b));
      break;
    case TYPE_FLOAT: {
      double d = cell::get_double(*b);
      if (std::isnan(d)) return action::kNotComparable;
      // Past every amount: the money lies below a large positive float, above a large negative.
      if (std::fabs(d) >= 1e17) return d > 0 ? -1 : 1;
      return order_with_float(value_of(x), d);
    }
    default:
      return action::kNotComparable;
  }
  const uint8_t cx = currency_of(x), cy = currency_of(y);
  const bool foreign = cx && cy && cx != cy;
  switch (op) {
    case action::STRICT_EQUAL:
    case action::SAME:
    case action::FIND_EQUAL:
      return cx != cy || value_of(x) != value_of(y);
    case action::SORT_ORDER:
    case action::SORT_CASE_ORDER:
      if (cx != cy) return order_currencies(cx, cy);
      return order(value_of(x), value_of(y));
    case action::LESSER:
    case action::LESSER_OR_EQUAL:
    case action::GREATER:
    case action::GREATER_OR_EQUAL:
      if (foreign) rt::fire_error("script", "wrong-denom", &x, &y);
      return order(value_of(x), value_of(y));
    default:  // the equality operators: two currencies are simply unequal
      return foreign ? 1 : value_of(x) != value_of(y);
  }
}

void register_datatype() {
  using namespace action;
  using datatype::act;
  datatype::register_type(
      TYPE_MONEY,
      {act<MAKE>(make), act<RANDOM>(random), act<TO>(to), act<FORM>(form), act<MOLD>(mold),
       act<EVAL_PATH>(eval_path), act<COMPARE>(compare), act<ABSOLUTE>(absolute),
       act<ADD>(math<integer::ADD>), act<DIVIDE>(math<integer::DIVIDE>),
       act<MULTIPLY>(math<integer::MULTIPLY>), act<NEGATE>(negate),
       act<REMAINDER>(math<integer::REMAINDER>), act<ROUND>(round),
       act<SUBTRACT>(math<integer::SUBTRACT>), act<EVEN_Q>(even_q), act<ODD_Q>(odd_q),
       act<PICK>(pick)});
  hashtable::normalize_money = normalize_for_hash;
}

}  // namespace money
