// string!'s editing and searching actions: append, insert and change (with /part and /dup),
// find and select, swap, take and trim. They serve every text type that inherits string!'s row.
// Text taken from another value is first built into a string on the data stack (rooted), so the
// edit itself never reads a buffer that an allocation could move; owner notifications run user
// code, so positions are read again after them.
#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/char.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "runtime/casefold.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace string {

using alloc::Series;

namespace {

[[noreturn]] void no_memory() { rt::fire_error("internal", "no-memory"); }

inline int64_t head_index(const Cell& value) {
  return std::clamp<int64_t>(cell::series_index_signed(value), 0, whole_length(value));
}

// Code points of a text from a unit position, read afresh from the buffer each time.
struct Reader {
  const uint8_t* start;
  uint32_t unit;
  uint32_t operator[](int64_t i) const { return unicode::read_unit(start + i * unit, unit); }
};

Reader reader_of(const Cell& value) {
  Series* s = cell::series_of(value);
  return Reader{s->head_ptr(), s->unit()};
}

// The text types whose own text is what they put in (a tag! brings its angle brackets).
bool plain_text(uint8_t type) { return types::any_string(type) && type != TYPE_TAG; }

// The text that append, insert and change put in for the value, pushed as a new string: a text's
// code points, a char!'s one, a tag! in angle brackets (its form), a block's elements formed one after the
// other, the form of anything else. part limits the units (the elements of a block, unless
// only); dup repeats the whole. May allocate.
Cell* push_source_text(const Cell& value, int32_t part, bool only, int32_t dup) {
  Cell* text = stack::push_copy(constants::none);
  init_empty(text, 16);
  uint8_t type = cell::type_of(value);
  Cell* source = stack::push_copy(value);
  if (plain_text(type)) {
    concatenate(*text, *source, part, 0, true, kAppend);
  } else if (type == TYPE_CHAR) {
    append_char(cell::series_node(*text), char_::code_point_of(*source));
  } else if (types::any_block(type)) {
    int64_t first = head_index(*source);
    int64_t end = series::buffer_length(*source);
    if (part >= 0 && !only) end = std::min<int64_t>(end, first + part);
    Cell* element = stack::push_copy(constants::none);
    for (int64_t i = first; i < end && i < series::buffer_length(*source); i++) {
      *element = *block::cell_at(*source, static_cast<int32_t>(i));
      datatype::call_form(element, text, nullptr, INT32_MAX);
    }
    stack::pop_cells(1);
    if (part >= 0 && only) truncate_units(cell::series_node(*text), uint32_t(part));
  } else {
    datatype::call_form(source, text, nullptr, INT32_MAX);  // a tag's form has its brackets
    if (part >= 0) truncate_units(cell::series_node(*text), uint32_t(part));
  }
  stack::pop_cells(1);
  if (dup > 1) {
    uint32_t node = cell::series_node(*text);
    Series* s = alloc::series_of(node);
    uint64_t once = s->used();
    uint64_t total = once * uint64_t(dup);
    if (total > alloc::kMaxCapacity) no_memory();
    if (once) {
      alloc::reserve_bytes(node, static_cast<uint32_t>(total - once));
      cell::replicate_bytes(alloc::series_of(node)->head_ptr(), static_cast<uint32_t>(once),
                            static_cast<uint32_t>(dup));
    }
  }
  return text;
}

// How many units of the series change replaces without /part: the value's length (a text's
// units, a block's elements), 1 for any other value, times dup.
int64_t change_count(const Cell& value, int32_t dup) {
  uint8_t type = cell::type_of(value);
  int64_t length = 1;
  if (types::any_string(type) || types::any_block(type)) {
    Cell copy = value;
    length = series::rest_length(copy, false);
  }
  return length * dup;
}

// Text of the same unit appended to a string that no owner watches and that has room for it (the
// appends that build the parse benchmark's text): one copy, nothing else. False when any of that
// does not hold, and nothing was done.
bool append_in_place(const Cell& series, const Cell& value, int32_t part) {
  if (!plain_text(cell::type_of(value))) return false;
  alloc::Series* d = alloc::series_of(cell::series_node(series));
  alloc::Series* s = alloc::series_of(cell::series_node(value));
  uint32_t unit = d->unit();
  if (d == s || s->unit() != unit || (d->flags & alloc::kOwned) ||
      (unit != 1 && unit != 2 && unit != 4)) {
    return false;
  }
  int64_t head = cell::series_index_signed(value);
  uint32_t shift = unit >> 1;  // 1, 2, 4 -> 0, 1, 2
  int64_t count = int64_t(s->used() >> shift) - head;
  if (head < 0 || count <= 0) return false;
  if (part >= 0 && part < count) count = part;
  uint64_t bytes = uint64_t(count) << shift;
  if (d->tail + bytes > d->capacity) return false;
  std::memcpy(d->tail_ptr(), s->head_ptr() + (uint64_t(head) << shift), bytes);
  d->tail += uint32_t(bytes);
  return true;
}

// Every insert but the append in place: kept out of line, so that the append (the strings
// benchmark) does not pay this path's set-up.
[[gnu::noinline]] void insert_general(Cell* series, Cell* value, int32_t part, bool only,
                                      int32_t dup, bool append) {
  Cell* base = stack::top;
  // One block copy for a text into a text; anything else (and every repetition) through a
  // string built aside.
  bool direct = plain_text(cell::type_of(*value)) && dup == 1;
  // Text onto the tail of a string no owner watches (the strings benchmark): one copy.
  if (direct && append && part != 0 && !ownership::maybe_owned(*series) &&
      cell::series_index_signed(*value) < int64_t(whole_length(*value))) {
    concatenate(*series, *value, part, 0, true, kAppend);
    cell::set_series_index(*series, 0);
    return;
  }
  Cell* source = direct ? stack::push_copy(*value) : push_source_text(*value, part, only, dup);
  if (!direct) part = -1;  // the text built aside is already cut
  Cell copy = *source;
  int64_t count = series::rest_length(copy, false);
  if (part >= 0) count = std::min<int64_t>(count, part);
  int64_t at = append ? whole_length(*series) : head_index(*series);
  bool notified = ownership::notify_owner(series, append ? "append" : "insert", value,
                                          int32_t(at), int32_t(count));
  at = append ? whole_length(*series) : head_index(*series);
  if (count > 0) {
    Cell target = *series;
    cell::set_series_index(target, static_cast<uint32_t>(at));
    concatenate(target, *source, part, 0, true, append ? kAppend : kInsert);
  }
  if (notified) {
    ownership::notify_owner(series, append ? "appended" : "inserted", value, int32_t(at),
                            int32_t(count));
  }
  stack::top = base;
  cell::set_series_index(
      *series, append ? 0 : static_cast<uint32_t>(std::min<int64_t>(at + count,
                                                                    whole_length(*series))));
}

}  // namespace

// --- append, insert, change ------------------------------------------------------------------

void insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
  if (dup < 1) return;
  if (append && dup == 1 && part != 0 && append_in_place(*series, *value, part)) {
    cell::set_series_index(*series, 0);
    return;
  }
  insert_general(series, value, part, only, dup, append);
}

void change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
  if (dup < 1) return;
  int64_t at = head_index(*series);
  cell::set_series_index(*series, static_cast<uint32_t>(at));
  if (at >= whole_length(*series)) {
    insert(series, value, -1, only, dup, true);
    cell::set_series_index(*series, static_cast<uint32_t>(whole_length(*series)));
    return;
  }
  Cell* base = stack::top;
  int64_t replaced = part >= 0 ? part : change_count(*value, dup);
  Cell* text = push_source_text(*value, -1, only, dup);
  Cell copy = *text;
  int64_t count = series::rest_length(copy, false);
  bool notified = ownership::notify_owner(series, "change", value, int32_t(at),
                                          int32_t(std::min(replaced, whole_length(*series) - at)));
  at = head_index(*series);
  replaced = std::min(replaced, whole_length(*series) - at);
  if (whole_length(*series) - replaced + count > alloc::kMaxCapacity) no_memory();
  remove_at(*series, static_cast<uint32_t>(at), static_cast<uint32_t>(replaced));
  Cell target = *series;
  cell::set_series_index(target, static_cast<uint32_t>(at));
  concatenate(target, *text, -1, 0, false, kInsert);
  if (notified) ownership::notify_owner(series, "changed", value, int32_t(at), int32_t(count));
  stack::top = base;
  cell::set_series_index(*series, static_cast<uint32_t>(std::min<int64_t>(at + count,
                                                                         whole_length(*series))));
}


// --- find, select ----------------------------------------------------------------------------

namespace {

// What find looks for: one code point (a byte in a binary!), the code points of a bitset, or a
// text pattern held on the data stack.
struct Pattern {
  enum Kind { kCodePoint, kBitset, kText } kind = kCodePoint;
  uint32_t code_point = 0;
  const Cell* set = nullptr;  // the bitset! (kBitset) or the pattern's text (kText)
  int64_t length = 1;         // units a match spans
};

// The pattern of the value; a text pattern is pushed (the caller pops it). May allocate.
Pattern pattern_of(const Cell& series, const Cell& value) {
  uint8_t type = cell::type_of(value);
  bool bytes = cell::type_of(series) == TYPE_BINARY;
  Pattern p;
  if (type == TYPE_CHAR) {
    p.code_point = char_::code_point_of(value);
  } else if (bytes && type == TYPE_INTEGER) {
    p.code_point = uint32_t(integer::get_value(value)) & 0xFF;
  } else if (type == TYPE_BITSET) {
    p.kind = Pattern::kBitset;
    p.set = &value;
  } else {
    if (type == TYPE_BINARY && !bytes) rt::fire_error("script", "invalid-arg", &value);
    Cell* text;
    if (plain_text(type) || type == TYPE_BINARY) {
      text = stack::push_copy(value);
    } else {
      text = stack::push_copy(constants::none);
      init_empty(text, 16);
      Cell* source = stack::push_copy(value);
      datatype::call_form(source, text, nullptr, INT32_MAX);
      stack::pop_cells(1);
    }
    p.kind = Pattern::kText;
    p.set = text;
    Cell copy = *text;
    p.length = series::rest_length(copy, false);
  }
  return p;
}

// Whether the pattern matches the series' units from position at (which leave room for it).
bool matches_at(const Cell& series, const Pattern& p, int64_t at, bool folded) {
  Reader text = reader_of(series);
  auto same = [&](uint32_t a, uint32_t b) {
    return a == b || (folded && casefold::fold_char(a, true) == casefold::fold_char(b, true));
  };
  switch (p.kind) {
    case Pattern::kCodePoint:
      return same(text[at], p.code_point);
    case Pattern::kBitset: {
      Cell probe = series;
      cell::set_series_index(probe, static_cast<uint32_t>(at));
      return head_char_in_bitset(probe, *p.set);
    }
    case Pattern::kText: {
      Reader pattern = reader_of(*p.set);
      int64_t first = head_index(*p.set);
      for (int64_t i = 0; i < p.length; i++) {
        if (!same(text[at + i], pattern[first + i])) return false;
      }
      return true;
    }
  }
  return false;
}

// The position of the first unit of the match, or -1. Candidate matches start at the head and
// every skip units after it (before it, for reverse), and lie wholly in the searched range.
int64_t search(const Cell& series, const Cell& value, const action::FindOptions& o,
               Pattern& p) {
  if (o.any || o.with) cell::fire_not_done();  // no wildcards on text: the defined answer
  int64_t skip = 1;
  if (o.skip) {
    skip = cell::get_integer_arg(*o.skip);
    if (skip < 1) rt::fire_error("script", "out-of-range", o.skip);
  }
  int64_t length = whole_length(series);
  int64_t head = head_index(series);
  if (length == 0 || (!o.reverse && head >= length)) return -1;
  if (o.reverse && (head == 0 || o.match)) return -1;
  int64_t room = o.reverse ? head : length - head;
  if (o.part) {
    int64_t count;
    if (cell::type_of(*o.part) == TYPE_INTEGER) {
      count = integer::get_value(*o.part);
    } else {
      count = series::part_count(series, *o.part);
      if (o.reverse) count = -count;  // a position before the head
    }
    if (count < 1) return -1;
    room = std::min(room, count);
  }
  p = pattern_of(series, value);
  if (p.kind == Pattern::kText && p.length == 0) return -1;
  bool folded = !o.case_sensitive && !o.same && cell::type_of(series) != TYPE_BINARY &&
                p.kind != Pattern::kBitset;
  // The range [low, high) a match must lie in, and the candidate starts head + k * step.
  int64_t low = o.reverse ? head - room : head;
  int64_t high = o.reverse ? head : head + room;
  int64_t step = o.reverse ? -skip : skip;
  int64_t first = o.reverse ? head - skip : head;
  if (first + p.length > high) {
    if (!o.reverse) return -1;
    first -= ((first + p.length - high) + skip - 1) / skip * skip;  // back into the range
  }
  if (first < low) return -1;
  if (o.last) {
    step = -skip;
    first = head + (high - p.length - head) / skip * skip;
    if (first < head) return -1;
  }
  for (int64_t at = first; at >= low && at + p.length <= high; at += step) {
    if (matches_at(series, p, at, folded)) return at;
    if (o.match) break;
  }
  return -1;
}

}  // namespace

Cell* find(Cell* series, Cell* value, const action::FindOptions& options) {
  Cell* base = stack::top;
  Pattern p;
  int64_t at = search(*series, *value, options, p);
  stack::top = base;
  if (at < 0) {
    *series = constants::none;
  } else {
    cell::set_series_index(*series, static_cast<uint32_t>(options.tail ? at + p.length : at));
  }
  return series;
}

Cell* select(Cell* series, Cell* value, const action::FindOptions& options) {
  Cell* base = stack::top;
  Pattern p;
  action::FindOptions o = options;
  o.tail = o.match = false;
  int64_t at = search(*series, *value, o, p);
  stack::top = base;
  int64_t after = at + p.length;
  if (at < 0 || after >= whole_length(*series)) {
    *series = constants::none;
  } else {
    uint32_t code_point = reader_of(*series)[after];
    *series = cell::type_of(*series) == TYPE_BINARY ? integer::make(int32_t(code_point))
                                                    : char_::make(code_point);
  }
  return series;
}


// --- take, swap ------------------------------------------------------------------------------

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
  uint8_t type = cell::type_of(*series);
  series::take(series, part, deep, last);
  if (part || cell::type_of(*series) == TYPE_NONE || whole_length(*series) != 1) return series;
  uint32_t code_point = reader_of(*series)[0];
  *series = type == TYPE_BINARY ? integer::make(int32_t(code_point)) : char_::make(code_point);
  return series;
}

void swap(Cell* a, Cell* b) {
  uint8_t type = cell::type_of(*b);
  if (!types::any_string(type) && type != TYPE_BINARY) rt::fire_error("script", "invalid-arg", b);
  if (series::at_tail(*a) || series::at_tail(*b)) return;
  bool notified_a = ownership::notify_owner(a, "swap", b, int32_t(head_index(*a)), 1);
  bool notified_b = ownership::notify_owner(b, "swap", a, int32_t(head_index(*b)), 1);
  if (!series::at_tail(*a) && !series::at_tail(*b)) {
    int64_t at_a = head_index(*a);
    int64_t at_b = head_index(*b);
    uint32_t x = reader_of(*a)[at_a];
    uint32_t y = reader_of(*b)[at_b];
    // Each store may widen (and move) its buffer: the address is taken just before it.
    auto store = [](const Cell& target, int64_t at, uint32_t code_point) {
      Series* s = cell::series_of(target);
      uint8_t* address = s->head_ptr() + at * s->unit();
      if (cell::type_of(target) == TYPE_BINARY) {
        binary::store_byte(address, integer::make(int32_t(code_point)));
      } else {
        poke_char(cell::series_node(target), address, code_point);
      }
    };
    store(*a, at_a, y);
    store(*b, at_b, x);
  }
  if (notified_a) ownership::notify_owner(a, "swaped", b, int32_t(head_index(*a)), 1);
  if (notified_b) ownership::notify_owner(b, "swaped", a, int32_t(head_index(*b)), 1);
}

// --- trim ------------------------------------------------------------------------------------

namespace {

// White space for head, tail and lines trimming.
bool white(uint32_t c) {
  return (c >= 1 && c <= 32) || c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

// The spaces plain trim removes at the start and the end of every line: white space less the
// control characters other than tab (line feed and carriage return stay).
bool line_space(uint32_t c) { return c == '\t' || (c >= 32 && white(c)); }

using Text = std::vector<uint32_t>;

// The code points trim/with removes: a text's (or a binary's bytes), one char! or integer!.
Text trim_set(const Cell* with) {
  if (!with) return Text{'\t', '\n', '\r', ' '};
  uint8_t type = cell::type_of(*with);
  if (type == TYPE_CHAR) return Text{char_::code_point_of(*with)};
  if (type == TYPE_INTEGER) return Text{uint32_t(integer::get_value(*with))};
  if (!types::any_string(type) && type != TYPE_BINARY) {
    series::fire_invalid_refine(runtime_words::refinements.with, *with);
  }
  Text set;
  Reader text = reader_of(*with);
  for (int64_t i = head_index(*with); i < whole_length(*with); i++) set.push_back(text[i]);
  return set;
}

Text trim_lines(const Text& text) {
  Text out;
  bool pending = false;
  for (uint32_t c : text) {
    if (white(c)) {
      pending = !out.empty();
      continue;
    }
    if (pending) out.push_back(' ');
    pending = false;
    out.push_back(c);
  }
  return out;
}

Text trim_ends(const Text& text, bool head, bool tail, bool per_line) {
  size_t first = 0;
  size_t end = text.size();
  if (head) {
    while (first < end && white(text[first])) first++;
  }
  if (tail) {
    while (end > first && white(text[end - 1])) end--;
  }
  if (per_line) {
    // Plain trim: every line loses its leading and trailing spaces too, and a text whose
    // trailing white space held a line feed ends with one.
    bool line_feed_after = std::find(text.begin() + end, text.end(), '\n') != text.end();
    Text out;
    size_t line = first;
    while (line < end) {
      size_t stop = line;
      while (stop < end && text[stop] != '\n') stop++;
      size_t a = line;
      size_t b = stop;
      while (a < b && line_space(text[a])) a++;
      while (b > a && line_space(text[b - 1])) b--;
      out.insert(out.end(), text.begin() + a, text.begin() + b);
      if (stop < end) out.push_back('\n');
      line = stop + 1;
    }
    if (line_feed_after) out.push_back('\n');
    return out;
  }
  return Text(text.begin() + first, text.begin() + end);
}

}  // namespace

void trim(Cell* series, const action::TrimOptions& options) {
  // trim/auto: internal/not-done is the defined answer, not a gap.
  if (options.auto_ && !options.all && !options.with) cell::fire_not_done();
  int64_t head = head_index(*series);
  bool notified = ownership::notify_owner(series, "trim", nullptr, int32_t(head), 0);
  head = head_index(*series);
  int64_t length = whole_length(*series);
  Text text;
  Reader in = reader_of(*series);
  for (int64_t i = head; i < length; i++) text.push_back(in[i]);

  Text out;
  if (options.all || options.with) {
    Text set = trim_set(options.with);
    for (uint32_t c : text) {
      if (std::find(set.begin(), set.end(), c) == set.end()) out.push_back(c);
    }
  } else if (options.lines) {
    out = trim_lines(text);
  } else {
    bool plain = !options.head && !options.tail;
    out = trim_ends(text, plain || options.head, plain || options.tail, plain);
  }
  // Trimming only removes: what is left fits the buffer's unit, in place.
  Series* s = cell::series_of(*series);
  uint32_t unit = s->unit();
  for (size_t i = 0; i < out.size(); i++) {
    unicode::write_unit(s->head_ptr() + (head + int64_t(i)) * unit, unit, out[i]);
  }
  truncate_units(cell::series_node(*series), static_cast<uint32_t>(head + int64_t(out.size())));
  if (notified) ownership::notify_owner(series, "trimmed", nullptr, int32_t(head), 0);
}


// --- eval-path -------------------------------------------------------------------------------

// An integer picks or pokes by position; a word is refused; anything else selects the code point
// after its first match, or, when set, pokes the one after it.
Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step) {
  uint8_t type = cell::type_of(*element);
  if (type == TYPE_INTEGER) {
    int32_t n = integer::get_value(*element);
    return step.value ? series::poke(parent, n, step.value, element)
                      : series::pick(parent, n, element);
  }
  if (type == TYPE_WORD) rt::fire_error("script", "invalid-path", step.path, element);
  if (!step.value) return select(parent, element, {.case_sensitive = step.case_sensitive});
  Cell* found = stack::push_copy(*parent);
  find(found, element, {.case_sensitive = step.case_sensitive});
  if (cell::type_of(*found) == TYPE_NONE) {
    rt::fire_error("script", "bad-path-set", step.path, element);
  }
  Cell at = *found;
  stack::pop_cells(1);
  series::poke(&at, 2, step.value, element);
  return step.value;
}

}  // namespace string
