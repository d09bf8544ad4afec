// The parse dialect engine (interpreter/parse.h).
//
// Rules are walked as ranges of a rule block: a sub-rule block is the whole block, and the rule
// a command applies to (`any some "a"`, `copy x to "b"`...) is the range of items it spans in its
// own block, so every sub-rule, whatever its shape, runs as a sequence entry. A sequence entry
// fetches items one by one; a simple item matches at once, a sub-rule or a command pushes
// entries, and a finished entry hands its result to the entry below it.
#include "interpreter/parse.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <cstddef>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/char.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "interpreter/call.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
#include "interpreter/plan.h"
#include "lexer/lexer.h"
#include "runtime/casefold.h"
#include "runtime/gc.h"

namespace parse {

namespace {

using cell::type_of;

enum class Key : uint8_t {
  kNone, kAny, kBreak, kCopy, kEnd, kFail, kInto, kOpt, kNot, kQuote, kCase, kReject, kSet,
  kSkip, kSome, kThru, kTo, kNoneWord, kBar, kIf, kRemove, kWhile, kInsert, kOnly, kCollect,
  kKeep, kPick, kAhead, kAfter, kChange,
};

std::unordered_map<uint32_t, Key> keywords;  // by canonical symbol

// The keyword of each symbol id met so far (ids never change, nor their canonical spelling), so
// a rule word costs one index instead of a canonical lookup and a hash probe.
constexpr uint8_t kUnknown = 0xFF;
std::vector<uint8_t> key_by_symbol;

[[gnu::noinline]] Key learn_keyword(uint32_t id) {
  auto found = keywords.find(symbol::resolve_alias(id));
  Key key = found == keywords.end() ? Key::kNone : found->second;
  if (id >= key_by_symbol.size()) key_by_symbol.resize(size_t(id) * 2 + 64, kUnknown);
  key_by_symbol[id] = uint8_t(key);
  return key;
}

[[gnu::always_inline]] inline Key keyword_of(const Cell& item) {
  if (type_of(item) != TYPE_WORD) return Key::kNone;
  uint32_t id = word::symbol_of(item);
  if (id < key_by_symbol.size() && key_by_symbol[id] != kUnknown) return Key(key_by_symbol[id]);
  return learn_keyword(id);
}

enum class Kind : uint8_t {
  kBase,     // a run's start: `a` holds the result of a top-level collect
  kSeq,      // a sub-rule: items [index, end) of `rules`
  kRepeat,   // any, some, opt, while, counts
  kTo, kThru, kCopy, kSet, kNot, kAhead, kInto, kRemove, kChange, kCollect, kKeep, kCase,
};

constexpr uint32_t kToTail = 0xFFFFFFFF;

struct Entry {
  Kind kind;
  bool flag = false;        // repeat: while (no progress stop off); change/keep: only/pick
  Cell rules{};             // the block holding the items
  uint32_t index = 0;       // seq: next item; command: first item of its sub-rule
  uint32_t end = kToTail;   // seq: end of its range; command: end of its sub-rule
  uint32_t start = 0;       // input index at entry (the iteration's, the try's)
  uint32_t remaining = 0;   // input left at that moment
  int32_t min = 0, max = 0, count = 0;
  int32_t saved = 0;        // case: the mode before; collect: the enclosing collect entry
  Cell a{};                 // set/copy word; change value item; collect block or target
  Cell b{};                 // collect set: the word
  // The greatest input position a sequence began at, over this entry and those below it down to
  // the run's base or the last `into` (-1: none): a sequence pushed beyond it repeats none of them.
  int64_t reach = -1;
};

struct Level {
  Cell input;      // its index is the current position
  int64_t limit;   // kNoLimit or an absolute index
};

std::vector<Entry> rule_stack;
std::vector<Level> input_stack;
bool fast_paths = true;

// A traced run's events wait here while a step runs, and reach the callback between steps,
// when the engine holds no reference into its stacks: the event, the match result, and as they
// were when it happened the rule block at the rule position, the input at its position and the
// sub-rules running (each at its rule position, outermost first).
enum class Event : uint8_t { kPush, kPop, kFetch, kMatch, kIterate, kParen, kEnd };
struct Note {
  Event event;
  bool match;
  Cell rule;
  Cell input;
  std::vector<Cell> stack;
};
std::vector<Note> notes;

void mark_stacks() {
  for (const Entry& e : rule_stack) {
    gc::mark_value(e.rules);
    gc::mark_value(e.a);
    gc::mark_value(e.b);
  }
  for (const Level& l : input_stack) gc::mark_value(l.input);
  for (const Note& n : notes) {
    gc::mark_value(n.rule);
    gc::mark_value(n.input);
    for (const Cell& rule : n.stack) gc::mark_value(rule);
  }
}

[[noreturn]] void rule_error(const char* id, const Cell& arg) {
  Cell copy = arg;
  rt::fire_error("script", id, &copy);
}

// --- The input -----------------------------------------------------------------------------

enum class Family : uint8_t { kBlock, kString, kBinary };

Family family_of(uint8_t type) {
  if (types::any_block(type)) return Family::kBlock;
  if (type == TYPE_BINARY) return Family::kBinary;
  return Family::kString;
}

// One run's state: the comparison mode, the innermost collect, where its stacks begin; with a
// trace callback, where its notes begin and the last match result.
struct Run {
  size_t rule_base;
  size_t input_base;
  int32_t op;           // action::EQUAL or STRICT_EQUAL
  int32_t collect = -1;  // rule-stack index of the innermost collect entry, or -1
  const Cell* callback = nullptr;  // a stack cell
  size_t notes_base = 0;
  bool matched = false;
};
Run* traced_run = nullptr;  // the innermost run when it has a trace callback, else null

// The rule block at the position of the run's innermost sub-rule; the sub-rules running, each
// at its position, outermost first.
Cell current_rule(const Run& run);
std::vector<Cell> running_rules(const Run& run);

// In a traced run, an event to report after the current step; match and pop carry a match
// result, the others the last one.
[[gnu::noinline]] void note_traced(Event event, bool match) {
  Run* run = traced_run;
  if (event == Event::kMatch || event == Event::kPop) {
    run->matched = match;
  } else {
    match = run->matched;
  }
  notes.push_back(
      Note{event, match, current_rule(*run), input_stack.back().input, running_rules(*run)});
}
inline void note(Event event, bool match = false) {
  if (traced_run) [[unlikely]] note_traced(event, match);
}
// A match attempt's result, noted.
inline bool noted_match(bool ok) {
  note(Event::kMatch, ok);
  return ok;
}

// The small helpers every step uses are inlined: a call would cost more than their work.
[[gnu::always_inline]] inline Level& level() { return input_stack.back(); }
[[gnu::always_inline]] inline Cell& input() { return input_stack.back().input; }
[[gnu::always_inline]] inline uint32_t length_of(const Cell& series) {
  const alloc::Series* s = alloc::series_of(cell::series_node(series));
  return s->used() >> std::countr_zero(s->unit());
}
// The end of matching: the tail, or the /part limit before it.
[[gnu::always_inline]] inline uint32_t tail() {
  uint32_t length = length_of(input());
  int64_t limit = level().limit;
  return limit >= 0 && limit < length ? uint32_t(limit) : length;
}
[[gnu::always_inline]] inline uint32_t pos() { return cell::series_index(input()); }
[[gnu::always_inline]] inline void set_pos(uint32_t p) {
  cell::set_series_index(input(), std::min(p, length_of(input())));
}
// After code ran or the input changed: the position within the tail.
void clamp_pos() { set_pos(pos()); }

uint8_t byte_at(const Cell& series, uint32_t i) {
  return alloc::series_of(cell::series_node(series))->head_ptr()[i];
}
uint32_t unit_at(const Cell& series, uint32_t i) {
  return family_of(type_of(series)) == Family::kBinary ? byte_at(series, i)
                                                          : string::char_at(series, i);
}
Cell block_item(const Cell& series, uint32_t i) {
  return cell::cells_of(cell::series_node(series))[i];
}

bool in_bitset(const Cell& bits, uint32_t c) { return bitset::test_bit(bits, c); }

uint32_t fold(uint32_t c) { return casefold::fold_char(c, true); }

bool same_char(uint32_t a, uint32_t b, int32_t op) {
  return a == b || (op != action::STRICT_EQUAL && fold(a) == fold(b));
}

// UTF-8 bytes of a text value's code points from its head (binary input matches them).
std::string utf8_of(const Cell& text) {
  std::string bytes;
  uint32_t length = length_of(text);
  for (uint32_t i = cell::series_index(text); i < length; i++) {
    uint32_t c = string::char_at(text, i);
    if (c < 0x80) {
      bytes += char(c);
    } else if (c < 0x800) {
      bytes += char(0xC0 | (c >> 6));
      bytes += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      bytes += char(0xE0 | (c >> 12));
      bytes += char(0x80 | ((c >> 6) & 0x3F));
      bytes += char(0x80 | (c & 0x3F));
    } else {
      bytes += char(0xF0 | (c >> 18));
      bytes += char(0x80 | ((c >> 12) & 0x3F));
      bytes += char(0x80 | ((c >> 6) & 0x3F));
      bytes += char(0x80 | (c & 0x3F));
    }
  }
  return bytes;
}

bool rule_is_text(uint8_t type) { return types::any_string(type); }

// One value loaded from binary input at p by the lexer; its length in bytes, or -1 when the
// bytes hold no value of an accepted type.
int64_t match_loaded(uint32_t p, uint32_t end, const Cell& rule) {
  std::vector<uint8_t> bytes(end - p);
  for (uint32_t i = p; i < end; i++) bytes[i - p] = byte_at(input(), i);
  size_t consumed = 0;
  uint8_t loaded = 0;
  Cell* base = stack::top;
  uint32_t code = frames::try_catch(runtime_words::words.try_, [&] {
    Cell* out = stack::push_copy(constants::none);
    lexer::Mode mode;
    mode.one = true;
    lexer::scan(out, bytes.data(), bytes.size(), mode, &consumed, nullptr, nullptr);
    loaded = type_of(*out);
  });
  stack::top = base;
  if (code != 0 || consumed == 0) return -1;
  bool fits = type_of(rule) == TYPE_DATATYPE ? cell::datatype_id(rule) == loaded
                                              : typeset::find(rule, cell::make_datatype(loaded));
  return fits ? int64_t(consumed) : -1;
}

// Matches one value at input position p (before `end`): the length it spans, or -1.
// literal: `quote`'s match, where datatypes and typesets are values like any other.
int64_t match_at(uint32_t p, uint32_t end, const Cell& rule, int32_t op, bool literal) {
  const Cell& in = input();
  uint8_t rt = type_of(rule);
  switch (family_of(type_of(in))) {
    case Family::kBlock: {
      if (p >= end) return -1;
      Cell item = block_item(in, p);
      if (!literal && rt == TYPE_DATATYPE) return type_of(item) == cell::datatype_id(rule) ? 1 : -1;
      if (!literal && rt == TYPE_TYPESET) {
        return typeset::find(rule, cell::make_datatype(type_of(item))) ? 1 : -1;
      }
      Cell value = rule;
      int32_t cmp = op;
      if (rt == TYPE_LIT_WORD || rt == TYPE_LIT_PATH || types::all_word(type_of(item))) {
        cmp = op == action::STRICT_EQUAL ? action::WORD_LIT_STRICT : action::WORD_LIT_EQUAL;
      }
      return datatype::compare(&item, &value, cmp) ? 1 : -1;
    }
    case Family::kString: {
      if (!literal && (rt == TYPE_DATATYPE || rt == TYPE_TYPESET)) {
        rule_error("parse-unsupported", rule);
      }
      if (p >= end) return -1;
      if (rt == TYPE_CHAR) {
        return same_char(string::char_at(in, p), char_::code_point_of(rule), op) ? 1 : -1;
      }
      if (rt == TYPE_BITSET) return in_bitset(rule, string::char_at(in, p)) ? 1 : -1;
      if (rule_is_text(rt)) {
        Cell text = rule;
        uint32_t n = length_of(text) - std::min(cell::series_index(text), length_of(text));
        int64_t span = n + (rt == TYPE_TAG ? 2 : 0);
        if (p + span > end) return -1;
        Cell at = in;
        cell::set_series_index(at, p);
        return string::match_at_head(at, text, op) ? span : -1;
      }
      if (rt == TYPE_BINARY) {
        std::string bytes;
        for (uint32_t i = cell::series_index(rule); i < length_of(rule); i++) {
          bytes += char(byte_at(rule, i));
        }
        if (p + bytes.size() > end) return -1;
        for (size_t i = 0; i < bytes.size(); i++) {
          if (string::char_at(in, p + uint32_t(i)) != uint8_t(bytes[i])) return -1;
        }
        return int64_t(bytes.size());
      }
      rule_error("parse-rule", rule);
    }
    case Family::kBinary: {
      if (!literal && (rt == TYPE_DATATYPE || rt == TYPE_TYPESET)) {
        return p >= end ? -1 : match_loaded(p, end, rule);
      }
      if (p >= end) return -1;
      if (rt == TYPE_CHAR) return byte_at(in, p) == char_::code_point_of(rule) ? 1 : -1;
      if (rt == TYPE_INTEGER) {
        return int64_t(byte_at(in, p)) == int64_t(integer::get_value(rule)) ? 1 : -1;
      }
      if (rt == TYPE_BITSET) return in_bitset(rule, byte_at(in, p)) ? 1 : -1;
      if (rt == TYPE_BINARY || rule_is_text(rt)) {
        std::string bytes;
        if (rt == TYPE_BINARY) {
          for (uint32_t i = cell::series_index(rule); i < length_of(rule); i++) {
            bytes += char(byte_at(rule, i));
          }
        } else {
          bytes = utf8_of(rule);
          if (rt == TYPE_TAG) bytes = "<" + bytes + ">";
        }
        if (p + bytes.size() > end) return -1;
        for (size_t i = 0; i < bytes.size(); i++) {
          if (byte_at(in, p + uint32_t(i)) != uint8_t(bytes[i])) return -1;
        }
        return int64_t(bytes.size());
      }
      rule_error("parse-rule", rule);
    }
  }
  return -1;
}

// The byte a to or thru looks for when one memchr over a string of 1-byte units finds it exactly
// as a comparison at each position would: a char! or a one-unit string! below 128 that has no
// case variants or is looked for case-sensitively. -1 otherwise.
[[gnu::always_inline]] inline int32_t lone_byte(const Cell& target, int32_t op) {
  uint32_t c;
  uint8_t tt = type_of(target);
  if (tt == TYPE_CHAR) {
    c = char_::code_point_of(target);
  } else if (tt == TYPE_STRING) {
    alloc::Series* s = alloc::series_of(cell::series_node(target));
    uint32_t head = cell::series_index(target);
    if (s->unit() != 1 || s->used() != head + 1) return -1;
    c = s->head_ptr()[head];
  } else {
    return -1;
  }
  bool caseless = !((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
  return c < 0x80 && (caseless || op == action::STRICT_EQUAL) ? int32_t(c) : -1;
}

// Whether a single value can be repeated in one pass (the fast path) on this input.
bool fast_value(const Cell& rule) {
  uint8_t rt = type_of(rule);
  switch (family_of(type_of(input()))) {
    case Family::kBlock:
      return !types::any_word(rt) && !types::any_block(rt) && rt != TYPE_UNSET;
    case Family::kString:
      return rt == TYPE_CHAR || rt == TYPE_BITSET || (rule_is_text(rt) && length_of(rule) >
                                                      cell::series_index(rule));
    case Family::kBinary:
      return rt == TYPE_CHAR || rt == TYPE_BITSET || rt == TYPE_INTEGER ||
             ((rt == TYPE_BINARY || rule_is_text(rt)) && length_of(rule) >
              cell::series_index(rule));
  }
  return false;
}

// A repetition of a single value counted in one pass; the input moves past the matches.
bool repeat_fast(const Cell& rule, int32_t min, int32_t max, int32_t op) {
  Level& at = level();
  alloc::Series* in = alloc::series_of(cell::series_node(at.input));
  if (type_of(rule) == TYPE_BITSET && in->unit() == 1 && !types::any_block(type_of(at.input))) {
    // A run of bytes in a bitset (`some digits`), as string::bitset_run
    // counts it, without the calls.
    uint32_t length = in->used();
    uint32_t p = cell::series_index(at.input);
    uint64_t stop = at.limit >= 0 && at.limit < length ? uint32_t(at.limit) : length;
    if (max >= 0) stop = std::min<uint64_t>(stop, uint64_t(p) + uint64_t(max));
    alloc::Series* bits = alloc::series_of(cell::series_node(rule));
    const uint8_t* set = bits->head_ptr();
    const uint32_t stored = bits->used();
    const bool complemented = bits->flags & bitset::kComplemented;
    const uint8_t* text = in->head_ptr();
    uint64_t q = p;
    for (; q < stop; q++) {
      uint32_t c = text[q];
      if (!(c >> 3 < stored ? set[c >> 3] & (0x80 >> (c & 7)) : complemented)) break;
    }
    if (int64_t(q - std::min<uint64_t>(p, q)) < min) return false;
    cell::set_series_index(at.input, uint32_t(std::min<uint64_t>(q, length)));
    return true;
  }
  uint32_t end = tail();
  uint32_t p = pos();
  int64_t count = 0;
  Family family = family_of(type_of(input()));
  uint8_t rt = type_of(rule);
  if (family != Family::kBlock && rt == TYPE_CHAR) {  // a run of equal code units
    uint32_t c = char_::code_point_of(rule);
    bool binary = family == Family::kBinary;
    while (p < end && (max < 0 || count < max)) {
      uint32_t u = unit_at(input(), p);
      if (binary ? u != c : !same_char(u, c, op)) break;
      p++;
      count++;
    }
  } else if (family != Family::kBlock && rt == TYPE_BITSET) {
    count = string::bitset_run(input(), p, end, rule, max);
    p += uint32_t(count);
  } else {
    while (max < 0 || count < max) {
      int64_t n = match_at(p, end, rule, op, false);
      if (n <= 0) break;
      p += uint32_t(n);
      count++;
    }
  }
  if (count < min) return false;
  set_pos(p);
  return true;
}

// --- Rule items ------------------------------------------------------------------------------

// The item at i of the block, or null past `end` or its tail. Every rule step reads items: the
// buffer is looked up once.
[[gnu::always_inline]] inline bool item_at(const Cell& rules, uint32_t i, uint32_t end, Cell* out) {
  alloc::Series* s = alloc::series_of(cell::series_node(rules));
  if (i >= std::min<uint32_t>(end, s->used() / sizeof(Cell))) return false;
  *out = reinterpret_cast<const Cell*>(s->head_ptr())[i];
  return true;
}

// The value a word names as a rule; unset raises.
Cell word_rule_value(const Cell& word) {
  Cell value = *interp::word_value(word);
  if (type_of(value) == TYPE_UNSET) rule_error("parse-rule", word);
  return value;
}

Cell argument_value(const Cell& word) {
  Cell value = *interp::word_value(word);
  if (type_of(value) == TYPE_UNSET) rule_error("no-value", word);
  return value;
}

// Whether a word refers to a position in the current input (same buffer).
// A word that holds an integer stands for it as a repetition count, as a literal count does.
bool is_count(const Cell& item) {
  if (type_of(item) == TYPE_INTEGER) return true;
  return type_of(item) == TYPE_WORD && keyword_of(item) == Key::kNone &&
         type_of(*interp::word_value(item)) == TYPE_INTEGER;
}

bool refers_to_input(const Cell& item) {
  if (type_of(item) != TYPE_WORD || keyword_of(item) != Key::kNone) return false;
  Cell value = *interp::word_value(item);
  return types::any_series(type_of(value)) &&
         cell::series_node(value) == cell::series_node(input());
}

// The end of the one rule starting at i: a keyword with its arguments and the rule it applies to,
// counts with their rule, or a single item. Walks forward without recursion: a `change` leaves
// its value to step over once its rule ends. Raises parse-end when the block ends too early.
[[gnu::noinline]] uint32_t rule_end_walk(const Cell& rules, uint32_t i, uint32_t end, const Cell& after) {
  uint32_t trailing = 0;
  Cell item;
  Cell last = after;
  auto need = [&](uint32_t at) {
    if (!item_at(rules, at, end, &item)) rule_error("parse-end", last);
  };
  for (;;) {
    need(i);
    last = item;
    Key key = keyword_of(item);
    if (is_count(item)) {
      i++;
      Cell next;
      if (item_at(rules, i, end, &next) && is_count(next)) i++;
      if (!item_at(rules, i, end, &next)) rule_error("parse-rule", item);
      continue;
    }
    switch (key) {
      case Key::kAny: case Key::kSome: case Key::kOpt: case Key::kWhile: case Key::kNot:
      case Key::kAhead: case Key::kInto:
        i++;
        continue;
      case Key::kTo: case Key::kThru: case Key::kQuote: case Key::kIf:
        need(i + 1);
        i += 2;
        break;
      case Key::kSet: case Key::kCopy: case Key::kCase:
        need(i + 1);
        i += 2;
        continue;
      case Key::kCollect: {
        Cell next;
        if (item_at(rules, i + 1, end, &next)) {
          Key k = keyword_of(next);
          if (k == Key::kSet || k == Key::kInto || k == Key::kAfter) {
            need(i + 2);
            i += 3;
            continue;
          }
        }
        i++;
        continue;
      }
      case Key::kKeep: {
        Cell next;
        i++;
        if (item_at(rules, i, end, &next) && keyword_of(next) == Key::kPick) i++;
        continue;
      }
      case Key::kRemove: {
        need(i + 1);
        if (refers_to_input(item)) {
          i += 2;
          break;
        }
        i++;
        continue;
      }
      case Key::kInsert: {
        i++;
        need(i);
        if (keyword_of(item) == Key::kOnly) need(++i);
        Cell next;
        if (refers_to_input(item) && item_at(rules, i + 1, end, &next)) i++;
        i++;
        break;
      }
      case Key::kChange: {
        i++;
        need(i);
        if (keyword_of(item) == Key::kOnly) need(++i);
        Cell next;
        if (refers_to_input(item) && item_at(rules, i + 1, end, &next)) {
          i += 2;
          break;
        }
        trailing++;
        continue;
      }
      default:
        i++;
        break;
    }
    break;
  }
  while (trailing-- > 0) {
    need(i);
    i++;
  }
  return i;
}

// rule_end, the common shapes answered at once: a single item, a repetition of one, a to or
// thru (`thru ","`, `some digits`); the rest walked.
[[gnu::always_inline]] inline uint32_t rule_end(const Cell& rules, uint32_t i, uint32_t end, const Cell& after) {
  alloc::Series* s = alloc::series_of(cell::series_node(rules));
  uint32_t count = std::min<uint32_t>(end, s->used() / sizeof(Cell));
  const Cell* cells = reinterpret_cast<const Cell*>(s->head_ptr());
  if (i < count && type_of(cells[i]) != TYPE_INTEGER) {
    switch (keyword_of(cells[i])) {
      case Key::kNone:
        if (type_of(cells[i]) == TYPE_WORD && is_count(cells[i])) break;
        return i + 1;
      case Key::kTo: case Key::kThru: case Key::kQuote: case Key::kIf:
        if (i + 1 < count) return i + 2;
        break;
      case Key::kAny: case Key::kSome: case Key::kOpt: case Key::kWhile:
        if (i + 1 < count && keyword_of(cells[i + 1]) == Key::kNone && !is_count(cells[i + 1])) {
          return i + 2;
        }
        break;
      default:
        break;
    }
  }
  return rule_end_walk(rules, i, end, after);
}

// --- The stacks --------------------------------------------------------------------------------

void check_rule_room() {
  if ((rule_stack.size() + 1) * kCellsPerEntry > kStackCells) {
    Cell none = constants::none;
    rt::fire_error("script", "parse-stack", &none);
  }
}

Entry& top() { return rule_stack.back(); }

// Pushes a sequence over [index, end) of the block after the infinite-recursion check: the same
// block at the same position entered at the same input position is already running.
// Whether a sequence over [index, end) of the block entered at input position p would repeat one
// of the entries below `depth` of the run.
[[gnu::noinline]] bool recursing_walk(const Cell& rules, uint32_t index, uint32_t end, uint32_t p,
                                     size_t depth, const Run& run) {
  uint32_t node = cell::series_node(rules);
  // Entries above the last `into` of this run see the same input.
  for (size_t k = depth; k-- > run.rule_base;) {
    const Entry& e = rule_stack[k];
    if (e.kind == Kind::kInto) break;
    if (e.kind == Kind::kSeq && e.start == p && cell::series_node(e.rules) == node &&
        e.end == end && e.count == int32_t(index)) {
      return true;
    }
  }
  return false;
}
[[gnu::always_inline]] inline bool recursing(const Cell& rules, uint32_t index, uint32_t end,
                                             uint32_t p, size_t depth, const Run& run) {
  // Most pushes happen past every sequence's start: no walk (it would make deep nesting
  // quadratic).
  if (depth <= run.rule_base || int64_t(p) > rule_stack[depth - 1].reach) return false;
  return recursing_walk(rules, index, end, p, depth, run);
}

void push_seq(const Cell& rules, uint32_t index, uint32_t end, const Run& run) {
  uint32_t p = pos();
  if (recursing(rules, index, end, p, rule_stack.size(), run)) {
    Cell block = rules;
    cell::set_series_index(block, index);
    rule_stack.resize(run.rule_base);
    rt::fire_error("script", "parse-infinite", &block);
  }
  check_rule_room();
  Entry e{Kind::kSeq};
  e.rules = rules;
  e.index = index;
  e.end = end;
  e.start = p;
  e.count = int32_t(index);  // where the sequence began, for the recursion check
  e.reach = std::max<int64_t>(rule_stack.back().reach, p);
  rule_stack.push_back(e);
  note(Event::kPush);
}

void push_block(const Cell& block, const Run& run) {
  push_seq(block, cell::series_index(block), kToTail, run);
}

// The sub-rule of a command, as a sequence's block and range: a lone block item runs as that
// block.
struct SubRule {
  Cell rules;
  uint32_t index;
  uint32_t end;
};
[[gnu::always_inline]] inline SubRule sub_rule_of(const Entry& command) {
  Cell item;
  if (command.end == command.index + 1 &&
      item_at(command.rules, command.index, command.end, &item) && type_of(item) == TYPE_BLOCK) {
    return SubRule{item, cell::series_index(item), kToTail};
  }
  return SubRule{command.rules, command.index, command.end};
}

void push_sub(const Entry& command, const Run& run) {
  SubRule sub = sub_rule_of(command);
  push_seq(sub.rules, sub.index, sub.end, run);
}

void push_command(Entry e) {
  check_rule_room();
  e.start = pos();
  e.remaining = tail() - std::min(pos(), tail());
  // An into's sub-rules see another input: the recursion check starts over above it.
  e.reach = e.kind == Kind::kInto ? -1 : rule_stack.back().reach;
  rule_stack.push_back(e);
}

void push_input(const Cell& series, int64_t limit) {
  if (input_stack.size() + 1 > kStackCells) {
    Cell none = constants::none;
    rt::fire_error("script", "parse-stack", &none);
  }
  input_stack.push_back(Level{series, limit});
}

// --- Editing the input -------------------------------------------------------------------------

// Evaluates a paren; its value is pushed. Check interp::pending afterwards.
void eval_paren(const Cell& paren) {
  interp::eval_block(paren, false);
  if (!interp::pending) {
    // The paren may have changed the input or the rules.
    clamp_pos();
    note(Event::kParen);
  }
}

// Shifts the /part limit of the current level by an edit of `delta` units at `at`.
void shift_limit(uint32_t at, int64_t delta) {
  int64_t& limit = level().limit;
  if (limit >= 0 && at <= limit) limit = std::max<int64_t>(at, limit + delta);
}

// Removes [from, to) of the input.
void remove_range(uint32_t from, uint32_t to) {
  if (to <= from) return;
  Cell* base = stack::top;
  Cell* series = stack::push_copy(input());
  cell::set_series_index(*series, from);
  Cell* part = stack::push_copy(integer::make(int32_t(to - from)));
  datatype::resolve_for<action::REMOVE>(*series)(series, part, nullptr);
  stack::top = base;
  plan::bump();
  shift_limit(from, -int64_t(to - from));
}

// Inserts the value at `at`; the units inserted.
uint32_t insert_value(uint32_t at, const Cell& value, bool only) {
  Cell* base = stack::top;
  uint32_t before = length_of(input());
  Cell* series = stack::push_copy(input());
  cell::set_series_index(*series, std::min(at, before));
  Cell* v = stack::push_copy(value);
  datatype::resolve_for<action::INSERT>(*series)(series, v, -1, only, 1, false);
  stack::top = base;
  plan::bump();
  uint32_t added = length_of(input()) - std::min(before, length_of(input()));
  shift_limit(at, added);
  return added;
}

// Replaces [from, to) with the value; the units it now spans.
uint32_t change_range(uint32_t from, uint32_t to, const Cell& value, bool only) {
  remove_range(from, to);
  return insert_value(from, value, only);
}

// The value of an insert/change argument: a paren's value, a word's value, or the item.
Cell edit_value(const Cell& item, bool* exited) {
  *exited = false;
  uint8_t t = type_of(item);
  if (t == TYPE_PAREN) {
    eval_paren(item);
    if (interp::pending) {
      *exited = true;
      return constants::none;
    }
    Cell value = *stack::top_cell();
    stack::pop_cells(1);
    return value;
  }
  if (t == TYPE_WORD) return argument_value(item);
  if (types::any_path(t) && t != TYPE_LIT_PATH) rule_error("parse-rule", item);
  return item;
}

// A copy of the input's [from, to), pushed.
Cell* push_copy_part(uint32_t from, uint32_t to) {
  Cell* series = stack::push_copy(input());
  cell::set_series_index(*series, from);
  Cell* part = stack::push_copy(integer::make(int32_t(to - from)));
  Cell* result = stack::push_copy(constants::none);
  datatype::call_copy(series, result, part, false, nullptr);
  Cell copied = *result;
  stack::pop_cells(3);
  return stack::push_copy(copied);
}

// The one value at p: a block item, a char! of text, an integer! byte.
Cell value_at(uint32_t p) {
  const Cell& in = input();
  switch (family_of(type_of(in))) {
    case Family::kBlock: return block_item(in, p);
    case Family::kString: return char_::make(string::char_at(in, p));
    case Family::kBinary: return integer::make(byte_at(in, p));
  }
  return constants::none;
}

// Adds a kept value to the collect entry's target.
void keep_value(Entry& collect, const Cell& value) {
  Cell* base = stack::top;
  Cell* v = stack::push_copy(value);
  if (collect.flag) {  // after: at the target's tail
    Cell* target = stack::push_copy(collect.a);
    datatype::resolve_for<action::INSERT>(*target)(target, v, -1, true, 1, true);
  } else if (collect.min == 0) {  // a new block
    block::append_cell(collect.a, *v);
  } else {  // into: at the target's position, which advances
    Cell* target = stack::push_copy(collect.a);
    datatype::resolve_for<action::INSERT>(*target)(target, v, -1, true, 1, false);
    collect.a = *target;
  }
  stack::top = base;
  plan::bump();
}

}  // namespace

// What copy (a copy of the input matched since start) or set (the value at start, none when
// nothing was matched) gives the word.
void store_match(bool copy, const Cell& item, uint32_t start) {
  uint32_t from = std::min(start, pos());
  Cell word = item;
  if (copy && fast_paths && family_of(type_of(input())) != Family::kBlock &&
      datatype::resolve_for<action::COPY>(input()) == &series::copy) {
    // Text or bytes: the copy made at once (`copy d some digits`).
    Cell* base = stack::top;
    Cell* copied = stack::push_copy(series::copy_span(input(), from, pos() - from));
    interp::write_word(word, *copied);  // may add the word: the copy stays rooted
    stack::top = base;
  } else if (copy) {
    Cell* base = stack::top;
    Cell* copied = push_copy_part(from, pos());
    context::write_word(word, *copied);
    stack::top = base;
  } else {
    context::write_word(word, pos() > from ? value_at(from) : constants::none);
  }
}

// --- The run -----------------------------------------------------------------------------------

namespace {

// Leaves the stacks as a run found them, whichever way it ends.
struct StackScope {
  size_t rules;
  size_t inputs;
  size_t notes_size;
  Run* traced;
  ~StackScope() {
    rule_stack.resize(rules);
    input_stack.resize(inputs);
    notes.resize(notes_size);
    traced_run = traced;
  }
};

enum class Loop { kFetch, kDeliver };

class Engine {
 public:
  Engine(Run& run) : run_(run) {}
  Cell go();
  bool stopped() const { return stopped_; }

 private:
  Run& run_;
  Loop step_ = Loop::kFetch;
  bool ok_ = false;
  bool done_ = false;
  bool result_ = false;
  bool stopped_ = false;  // the trace callback asked to stop

  void deliver(bool ok) {
    step_ = Loop::kDeliver;
    ok_ = ok;
    if (traced_run) [[unlikely]] run_.matched = ok;  // the last match result a trace reports
  }
  void pop_deliver(bool ok) {
    if (traced_run && top().kind == Kind::kSeq) [[unlikely]] note(Event::kPop, ok);
    rule_stack.pop_back();
    deliver(ok);
  }
  void fail_alternative();
  void noted_fail() {
    note(Event::kMatch, false);
    fail_alternative();
  }
  [[gnu::always_inline]] inline void fetch();
  [[gnu::noinline]] void word_item(const Cell& item, Entry& seq);
  [[gnu::noinline]] void other_item(const Cell& item, Entry& seq);
  [[gnu::noinline]] bool iterate_in_place();
  void complete();
  [[gnu::noinline]] void keyword(Key key, Entry& seq, const Cell& item);
  void stop_repetition(bool reject);
  void counted(const Cell& first, Entry& seq);
  void start_command(Entry command, uint32_t sub_end, Entry& seq);
  bool to_value(const Cell& target, bool thru);
  int repeat_at_once(Key key, const Cell& item);
  int scan_at_once(bool thru, const Cell& item);
  int step_at_once(const Cell& rules, uint32_t sub, uint32_t sub_end);
  [[gnu::noinline]] bool repeat_stored(Entry& seq, bool copy, const Cell& word);
  bool in_collect() const { return run_.collect >= 0; }
  bool report(const Note& note);
  bool report_notes();
  void stop() {
    stopped_ = done_ = true;
    result_ = run_.matched;
  }
};

// The current alternative failed: on to the item after the next `|` of the sequence, the input
// back where the sequence began; with no `|` left the sequence fails.
void Engine::fail_alternative() {
  Entry& seq = top();
  Cell item;
  uint32_t i = seq.index;
  while (item_at(seq.rules, i, seq.end, &item)) {
    i++;
    if (keyword_of(item) == Key::kBar) {
      Cell next;
      if (!item_at(seq.rules, i, seq.end, &next)) rule_error("parse-end", item);
      seq.index = i;
      set_pos(seq.start);
      step_ = Loop::kFetch;
      return;
    }
  }
  set_pos(seq.start);
  pop_deliver(false);
}

Cell Engine::go() {
  const bool traced = run_.callback != nullptr;
  if (!traced) {
    do {
      if (step_ == Loop::kFetch) {
        fetch();
      } else {
        complete();
      }
    } while (!interp::pending && !done_);
    return logic::make(result_);
  }
  if (!report_notes()) {  // the push of the rule block
    stop();
    return logic::make(result_);
  }
  for (;;) {
    if (step_ == Loop::kFetch) {
      if (traced) [[unlikely]] {
        const Entry& seq = top();
        Cell item;
        if (item_at(seq.rules, seq.index, seq.end, &item) &&
            !report(Note{Event::kFetch, run_.matched, current_rule(run_), input(),
                         running_rules(run_)})) {
          stop();
          break;
        }
      }
      fetch();
    } else {
      complete();
    }
    if (interp::pending) break;
    if (traced && !report_notes()) [[unlikely]] {
      stop();
      break;
    }
    if (done_) break;
  }
  if (traced && !interp::pending && !stopped_) {
    report(Note{Event::kEnd, result_, current_rule(run_), input(), running_rules(run_)});
  }
  return logic::make(result_);
}

// Calls the trace callback with the note (its cells marked, as a note's or the engine's);
// false when it answers none or false.
bool Engine::report(const Note& note) {
  static const Cell* const words[] = {
      &runtime_words::words.push,  &runtime_words::words.pop,     &runtime_words::words.fetch,
      &runtime_words::words.match, &runtime_words::words.iterate, &runtime_words::words.paren,
  };
  Cell* base = stack::top;
  Cell* arguments = stack::push_copy(note.event == Event::kEnd
                                         ? context::intern_global_word(runtime_words::symbols.end)
                                         : *words[int(note.event)]);
  stack::push_copy(logic::make(note.match));
  stack::push_copy(note.rule);
  stack::push_copy(note.input);
  Cell* stack_block = stack::push_copy(constants::none);
  block::init_empty(stack_block, int32_t(note.stack.size()));
  for (const Cell& rule : note.stack) block::append_cell(*stack_block, rule);
  const Cell callback = *run_.callback;
  const Cell answer = interp::call_function(runtime_words::words.frame_parse_callback, callback,
                                             std::span<const Cell>(arguments, 5));
  stack::top = base;
  return !logic::falsy(answer);
}

// The notes of the steps just done, oldest first; false when the callback asked to stop (the
// rest are dropped).
bool Engine::report_notes() {
  while (notes.size() > run_.notes_base) {
    Note n = std::move(notes[run_.notes_base]);
    notes.erase(notes.begin() + std::ptrdiff_t(run_.notes_base));
    // Its cells on the data stack while it is reported: the vector may drop them.
    Cell* held = stack::push_copy(n.rule);
    stack::push_copy(n.input);
    for (const Cell& rule : n.stack) stack::push_copy(rule);
    const bool go_on = report(n);
    stack::top = held;
    if (!go_on) {
      notes.resize(run_.notes_base);
      return false;
    }
  }
  return true;
}

std::vector<Cell> running_rules(const Run& run) {
  std::vector<Cell> rules;
  for (size_t k = run.rule_base; k < rule_stack.size(); k++) {
    const Entry& e = rule_stack[k];
    if (e.kind != Kind::kSeq) continue;
    Cell position = e.rules;
    cell::set_series_index(position, std::min(e.index, length_of(position)));
    rules.push_back(position);
  }
  return rules;
}

Cell current_rule(const Run& run) {
  for (size_t k = rule_stack.size(); k-- > run.rule_base;) {
    const Entry& e = rule_stack[k];
    if (e.kind != Kind::kSeq) continue;
    Cell position = e.rules;
    cell::set_series_index(position, std::min(e.index, length_of(position)));
    return position;
  }
  return constants::none;
}

void Engine::start_command(Entry command, uint32_t sub_end, Entry& seq) {
  command.rules = seq.rules;
  command.end = sub_end;
  push_command(command);
  push_sub(top(), run_);
}

// The sequence on top matched to its end under a repetition that goes round again with the same
// sub-rule (`some [...]`): the sequence's entry starts over in place of a
// pop, the repetition's step and a push, with the same outcome. False, with nothing done, in any
// other case (a traced run, whose callback is told of each of those steps, among them).
bool Engine::iterate_in_place() {
  size_t depth = rule_stack.size();
  if (!fast_paths || traced_run || depth < run_.rule_base + 2) return false;
  Entry& repeat = rule_stack[depth - 2];
  if (repeat.kind != Kind::kRepeat) return false;
  int32_t count = repeat.count + 1;
  uint32_t p = pos();
  uint32_t end = tail();
  uint32_t left = end - std::min(p, end);
  bool progress = p != repeat.start || left < repeat.remaining;
  if ((repeat.max >= 0 && count >= repeat.max) || (!repeat.flag && !progress)) return false;
  SubRule sub = sub_rule_of(repeat);
  Entry& seq = rule_stack[depth - 1];
  if (cell::series_node(sub.rules) != cell::series_node(seq.rules) || sub.end != seq.end ||
      int32_t(sub.index) != seq.count || recursing(sub.rules, sub.index, sub.end, p, depth - 1,
                                                    run_)) {
    return false;
  }
  repeat.count = count;
  repeat.start = p;
  repeat.remaining = left;
  seq.rules = sub.rules;
  seq.index = sub.index;
  seq.start = p;
  seq.reach = std::max<int64_t>(repeat.reach, p);
  return true;
}

// A finished entry hands its result to the entry below it.
void Engine::complete() {
  bool ok = ok_;
  Entry& e = top();
  switch (e.kind) {
    case Kind::kBase:
      done_ = true;
      result_ = ok && pos() >= tail();
      return;
    case Kind::kSeq:
      if (ok) {
        step_ = Loop::kFetch;
      } else {
        fail_alternative();
      }
      return;
    case Kind::kRepeat: {
      if (!ok) return pop_deliver(e.count >= e.min);
      e.count++;
      uint32_t p = pos();
      uint32_t left = tail() - std::min(p, tail());
      bool progress = p != e.start || left < e.remaining;
      if ((e.max >= 0 && e.count >= e.max) || (!e.flag && !progress)) {
        return pop_deliver(e.count >= e.min);
      }
      e.start = p;
      e.remaining = left;
      note(Event::kIterate);
      push_sub(e, run_);
      step_ = Loop::kFetch;
      return;
    }
    case Kind::kTo: case Kind::kThru: {
      if (ok) {
        if (e.kind == Kind::kTo) set_pos(e.start);
        return pop_deliver(true);
      }
      if (e.start >= tail()) return pop_deliver(false);
      e.start++;
      set_pos(e.start);
      note(Event::kIterate);
      push_sub(e, run_);
      step_ = Loop::kFetch;
      return;
    }
    case Kind::kNot:
      set_pos(e.start);
      return pop_deliver(!ok);
    case Kind::kAhead:
      set_pos(e.start);
      return pop_deliver(ok);
    case Kind::kCopy: case Kind::kSet: {
      if (ok) store_match(e.kind == Kind::kCopy, e.a, e.start);
      return pop_deliver(ok);
    }
    case Kind::kInto: {
      bool whole = ok && pos() >= tail();
      input_stack.pop_back();
      set_pos(e.start + (whole ? 1 : 0));
      return pop_deliver(whole);
    }
    case Kind::kRemove:
      if (ok) {
        uint32_t from = std::min(e.start, pos());
        remove_range(from, pos());
        set_pos(from);
      }
      return pop_deliver(ok);
    case Kind::kChange: {
      if (!ok) return pop_deliver(false);
      bool exited;
      Cell value = edit_value(e.a, &exited);
      if (exited) return;
      Entry& again = top();
      uint32_t from = std::min(again.start, pos());
      uint32_t added = change_range(from, pos(), value, again.flag);
      set_pos(from + added);
      return pop_deliver(true);
    }
    case Kind::kCollect: {
      run_.collect = e.saved;
      Cell collected = e.a;
      Key target = Key(e.max);
      if (target == Key::kSet) {
        Cell word = e.b;
        context::write_word(word, collected);
      } else if (target == Key::kNone) {
        if (in_collect()) {
          keep_value(rule_stack[size_t(run_.collect)], collected);
        } else {
          rule_stack[run_.rule_base].a = collected;
        }
      }
      return pop_deliver(ok);
    }
    case Kind::kKeep: {
      if (ok && pos() > e.start) {
        uint32_t from = e.start, to = pos();
        Entry& collect = rule_stack[size_t(run_.collect)];
        if (e.flag) {
          for (uint32_t p = from; p < to && p < length_of(input()); p++) {
            keep_value(rule_stack[size_t(run_.collect)], value_at(p));
          }
        } else if (to - from == 1) {
          keep_value(collect, value_at(from));
        } else {
          Cell* base = stack::top;
          Cell* copied = push_copy_part(from, to);
          keep_value(rule_stack[size_t(run_.collect)], *copied);
          stack::top = base;
        }
      }
      return pop_deliver(ok);
    }
    case Kind::kCase:
      run_.op = e.saved;
      return pop_deliver(ok);
  }
}

// break and reject end the innermost repetition of this run: break with its count so far,
// reject failing; with none, they end the current sequence the same way.
void Engine::stop_repetition(bool reject) {
  size_t k = rule_stack.size();
  bool found = false;
  while (!found && k > run_.rule_base + 1) found = rule_stack[--k].kind == Kind::kRepeat;
  if (!found) {
    if (reject) return fail_alternative();
    return pop_deliver(true);
  }
  // Unwind the entries above the repetition, undoing what they hold.
  while (rule_stack.size() > k + 1) {
    Entry& e = top();
    if (e.kind == Kind::kInto) input_stack.pop_back();
    if (e.kind == Kind::kCase) run_.op = e.saved;
    if (e.kind == Kind::kCollect) run_.collect = e.saved;
    if (e.kind == Kind::kSeq) note(Event::kPop, !reject);
    rule_stack.pop_back();
  }
  Entry& repeat = top();
  if (reject) set_pos(repeat.start);
  pop_deliver(!reject && repeat.count >= repeat.min);
}

// A string of bytes searched for one byte (`thru ","`): one memchr. 1 found
// (the input moved), 0 not found, -1 when the search is not of that kind.
[[gnu::always_inline]] inline int to_byte(const Cell& target, bool thru, int32_t op) {
  if (!fast_paths) return -1;
  Level& at = level();
  if (type_of(at.input) != TYPE_STRING) return -1;
  alloc::Series* in = alloc::series_of(cell::series_node(at.input));
  int32_t c = in->unit() == 1 ? lone_byte(target, op) : -1;
  if (c < 0) return -1;
  uint32_t length = in->used();
  uint32_t end = at.limit >= 0 && at.limit < length ? uint32_t(at.limit) : length;
  uint32_t p = cell::series_index(at.input);
  if (p >= end) return 0;
  const uint8_t* text = in->head_ptr();
  const void* found = std::memchr(text + p, c, end - p);
  if (!found) return 0;
  uint32_t i = uint32_t(static_cast<const uint8_t*>(found) - text);
  cell::set_series_index(at.input, thru ? i + 1 : i);
  return 1;
}

// Searches forward for a single value: the input stops before it (to) or after it (thru).
bool Engine::to_value(const Cell& target, bool thru) {
  if (int found = to_byte(target, thru, run_.op); found >= 0) return found;
  uint32_t end = tail();
  Family family = family_of(type_of(input()));
  uint8_t tt = type_of(target);
  if (fast_paths && family == Family::kString && rule_is_text(tt) && tt != TYPE_TAG &&
      length_of(target) > cell::series_index(target)) {
    // One scan of the buffer (`thru ","`).
    int64_t at = string::find_units(input(), pos(), end, target, run_.op == action::STRICT_EQUAL);
    if (at < 0) return false;
    uint32_t n = length_of(target) - cell::series_index(target);
    set_pos(thru ? uint32_t(at) + n : uint32_t(at));
    return true;
  }
  for (uint32_t p = pos(); p < end; p++) {
    int64_t n;
    if (family != Family::kBlock && type_of(target) == TYPE_CHAR) {
      uint32_t u = unit_at(input(), p);
      uint32_t c = char_::code_point_of(target);
      n = (family == Family::kBinary ? u == c : same_char(u, c, run_.op)) ? 1 : -1;
    } else {
      n = match_at(p, end, target, run_.op, false);
    }
    if (n >= 0) {
      set_pos(thru ? p + uint32_t(n) : p);
      return true;
    }
  }
  return false;
}

// A count (and maybe a second count) before a rule.
void Engine::counted(const Cell& first, Entry& seq) {
  int32_t min = integer::get_value(first);
  if (min < 0) rt::fire_error("script", "out-of-range", &first);
  int32_t max = min;
  Cell next;
  if (item_at(seq.rules, seq.index, seq.end, &next)) {
    Cell count = next;
    if (type_of(count) == TYPE_WORD && keyword_of(count) == Key::kNone) {
      Cell value = *interp::word_value(count);
      if (type_of(value) == TYPE_INTEGER) count = value;
    }
    if (type_of(count) == TYPE_INTEGER) {
      max = integer::get_value(count);
      if (max < 0) rt::fire_error("script", "out-of-range", &count);
      if (max < min) rule_error("parse-rule", next);
      seq.index++;
    }
  }
  Cell rule;
  if (!item_at(seq.rules, seq.index, seq.end, &rule)) rule_error("parse-rule", first);
  uint32_t sub_end = rule_end(seq.rules, seq.index, seq.end, first);
  uint32_t sub = seq.index;
  seq.index = sub_end;
  if (max == 0) return;  // skipped: matches without consuming
  Cell single = rule;
  if (type_of(single) == TYPE_WORD && keyword_of(single) == Key::kNone) {
    single = word_rule_value(single);
  }
  if (fast_paths && sub_end == sub + 1 && type_of(single) != TYPE_WORD && fast_value(single)) {
    if (!noted_match(repeat_fast(single, min, max, run_.op))) fail_alternative();
    return;
  }
  Entry e{Kind::kRepeat};
  e.index = sub;
  e.min = min;
  e.max = max;
  start_command(e, sub_end, seq);
}

// A repetition (any, some, opt, while) of one rule item matched at once when the fast path
// counts its value: 1 matched, 0 failed, -1 when it does not (the general path runs it).
int Engine::repeat_at_once(Key key, const Cell& item) {
  Cell single = item;
  if (type_of(single) == TYPE_WORD && keyword_of(single) == Key::kNone) {
    single = word_rule_value(single);
  }
  if (!fast_paths || type_of(single) == TYPE_WORD || !fast_value(single)) return -1;
  int32_t min = key == Key::kSome ? 1 : 0;
  int32_t max = key == Key::kOpt ? 1 : -1;
  return repeat_fast(single, min, max, run_.op) ? 1 : 0;
}

// to or thru one rule item that is a value to search for: 1 found (the input moved), 0 not
// found, -1 when the item is a sub-rule.
int Engine::scan_at_once(bool thru, const Cell& item) {
  Cell target = item;
  if (type_of(target) == TYPE_WORD && keyword_of(target) == Key::kNone) {
    target = word_rule_value(target);
    if (type_of(target) == TYPE_WORD) rule_error("parse-rule", item);
  }
  uint8_t tt = type_of(target);
  if (tt == TYPE_BLOCK || tt == TYPE_WORD || tt == TYPE_PAREN || tt == TYPE_INTEGER ||
      types::any_path(tt) || tt == TYPE_SET_WORD || tt == TYPE_GET_WORD) {
    return -1;
  }
  return to_value(target, thru) ? 1 : 0;
}

// The rule [sub, sub_end) matched at once when it is a repetition the fast path counts or a to or
// thru a value: 1 matched, 0 failed, -1 when it is anything else.
int Engine::step_at_once(const Cell& rules, uint32_t sub, uint32_t sub_end) {
  Cell first, second;
  if (sub_end != sub + 2 || !item_at(rules, sub, sub_end, &first) ||
      !item_at(rules, sub + 1, sub_end, &second)) {
    return -1;
  }
  switch (Key key = keyword_of(first)) {
    case Key::kAny: case Key::kSome: case Key::kOpt: case Key::kWhile:
      return repeat_at_once(key, second);
    case Key::kTo: case Key::kThru:
      if (keyword_of(second) == Key::kEnd) {
        set_pos(tail());
        return 1;
      }
      return scan_at_once(key == Key::kThru, second);
    default:
      return -1;
  }
}

// A copy or set of a repetition of one value the fast path counts (`copy d some digits`),
// run at once as the general steps below would run it: the two items read once,
// the value's word looked up once. False, with nothing done, for any other shape.
bool Engine::repeat_stored(Entry& seq, bool copy, const Cell& word) {
  if (!fast_paths || run_.callback) return false;
  alloc::Series* s = alloc::series_of(cell::series_node(seq.rules));
  uint32_t count = std::min<uint32_t>(seq.end, s->used() / sizeof(Cell));
  uint32_t sub = seq.index;
  if (sub + 1 >= count) return false;
  const Cell* cells = reinterpret_cast<const Cell*>(s->head_ptr());
  Key key = keyword_of(cells[sub]);
  if (key != Key::kAny && key != Key::kSome && key != Key::kOpt && key != Key::kWhile) {
    return false;
  }
  Cell single = cells[sub + 1];
  uint8_t st = type_of(single);
  if (st == TYPE_WORD) {
    if (keyword_of(single) != Key::kNone) return false;
    single = *interp::word_value(single);
    st = type_of(single);
    if (st == TYPE_UNSET || st == TYPE_WORD) return false;  // the general path raises or refuses
  }
  if (st == TYPE_INTEGER || !fast_value(single)) return false;
  seq.index = sub + 2;
  uint32_t start = pos();
  int32_t min = key == Key::kSome ? 1 : 0;
  int32_t max = key == Key::kOpt ? 1 : -1;
  if (!repeat_fast(single, min, max, run_.op)) {
    fail_alternative();
  } else {
    store_match(copy, word, start);
  }
  return true;
}

// The steps every rule block takes most are taken here; the rest are calls, so that this stays
// small (a rule step costs tens of instructions).
inline void Engine::fetch() {
  Entry& seq = top();
  alloc::Series* s = alloc::series_of(cell::series_node(seq.rules));
  uint32_t count = std::min<uint32_t>(seq.end, s->used() / sizeof(Cell));
  if (seq.index >= count) {
    if (!iterate_in_place()) pop_deliver(true);
    return;
  }
  const Cell* cells = reinterpret_cast<const Cell*>(s->head_ptr());
  const Cell item = cells[seq.index++];
  uint8_t t = type_of(item);
  if (t == TYPE_WORD) {
    Key key = keyword_of(item);
    if (key == Key::kNone) return word_item(item, seq);
    if ((key == Key::kThru || key == Key::kTo) && seq.index < count) {
      // to or thru a literal byte (`thru ","`): the search keyword() would make, at once.
      uint8_t nt = type_of(cells[seq.index]);
      if (nt == TYPE_STRING || nt == TYPE_CHAR) {
        int found = to_byte(cells[seq.index], key == Key::kThru, run_.op);
        if (found >= 0) {
          seq.index++;
          if (!noted_match(found)) fail_alternative();
          return;
        }
      }
    }
    if ((key == Key::kCopy || key == Key::kSet) && seq.index < count &&
        type_of(cells[seq.index]) == TYPE_WORD) {
      // copy or set of a counted repetition (`copy d some digits`): as keyword() runs it.
      const Cell word = cells[seq.index];
      seq.index++;
      if (repeat_stored(seq, key == Key::kCopy, word)) return;
      seq.index--;
    }
    return keyword(key, seq, item);
  }
  if (t == TYPE_PAREN) {
    eval_paren(item);
    if (interp::pending) return;
    stack::pop_cells(1);
    return;
  }
  other_item(item, seq);
}

// A rule word that is no keyword: its value as a rule.
void Engine::word_item(const Cell& item, Entry& seq) {
  Cell value = word_rule_value(item);
  uint8_t vt = type_of(value);
  if (vt == TYPE_BLOCK) return push_block(value, run_);
  if (vt == TYPE_INTEGER) return counted(value, seq);
  if (types::any_word(vt) && vt != TYPE_LIT_WORD) rule_error("parse-rule", item);
  int64_t n = match_at(pos(), tail(), value, run_.op, false);
  if (n < 0) return noted_fail();
  set_pos(pos() + uint32_t(n));
  note(Event::kMatch, true);
}

void Engine::other_item(const Cell& item, Entry& seq) {
  switch (type_of(item)) {
    case TYPE_BLOCK:
      return push_block(item, run_);
    case TYPE_PATH: case TYPE_GET_PATH: case TYPE_SET_PATH:
      rule_error("parse-rule", item);
    case TYPE_INTEGER:
      return counted(item, seq);
    case TYPE_SET_WORD: {
      Cell word = item;
      context::write_word(word, input());
      return;
    }
    case TYPE_GET_WORD: {
      Cell value = argument_value(item);
      if (type_of(value) != type_of(input()) ||
          cell::series_node(value) != cell::series_node(input())) {
        rule_error("parse-invalid-ref", item);
      }
      set_pos(cell::series_index(value));
      return;
    }
    default: {
      int64_t n = match_at(pos(), tail(), item, run_.op, false);
      if (n < 0) return noted_fail();
      set_pos(pos() + uint32_t(n));
      note(Event::kMatch, true);
      return;
    }
  }
}

void Engine::keyword(Key key, Entry& seq, const Cell& item) {
  Cell next;
  bool has_next = item_at(seq.rules, seq.index, seq.end, &next);
  switch (key) {
    case Key::kBar:
      if (!has_next) rule_error("parse-end", item);
      return pop_deliver(true);
    case Key::kSkip:
      if (pos() >= tail()) return noted_fail();
      set_pos(pos() + 1);
      note(Event::kMatch, true);
      return;
    case Key::kEnd:
      if (!noted_match(pos() >= tail())) return fail_alternative();
      return;
    case Key::kNoneWord:
      return;
    case Key::kFail:
      return fail_alternative();
    case Key::kReject:
      return stop_repetition(true);
    case Key::kBreak:
      return stop_repetition(false);
    case Key::kOnly: case Key::kPick: case Key::kAfter:
      rule_error("parse-rule", item);
    default:
      break;
  }
  if (!has_next) rule_error("parse-end", item);
  switch (key) {
    case Key::kAny: case Key::kSome: case Key::kOpt: case Key::kWhile: {
      uint32_t sub = seq.index;
      uint32_t sub_end = rule_end(seq.rules, sub, seq.end, item);
      seq.index = sub_end;
      int matched = sub_end == sub + 1 ? repeat_at_once(key, next) : -1;
      if (matched >= 0) {
        if (!noted_match(matched)) fail_alternative();
        return;
      }
      Entry e{Kind::kRepeat};
      e.flag = key == Key::kWhile;
      e.index = sub;
      e.min = key == Key::kSome ? 1 : 0;
      e.max = key == Key::kOpt ? 1 : -1;
      return start_command(e, sub_end, seq);
    }
    case Key::kTo: case Key::kThru: {
      bool thru = key == Key::kThru;
      uint32_t sub = seq.index;
      if (uint8_t nt = type_of(next); nt == TYPE_STRING || nt == TYPE_CHAR) {
        // A literal text or char is a rule of one item, searched at once (`thru ","`):
        // what the general steps below come to for it, without them.
        seq.index = sub + 1;
        if (!noted_match(to_value(next, thru))) fail_alternative();  // one memchr where it can
        return;
      }
      if (keyword_of(next) == Key::kEnd) {
        seq.index++;
        set_pos(tail());
        return;
      }
      uint32_t sub_end = rule_end(seq.rules, sub, seq.end, item);
      seq.index = sub_end;
      int found = sub_end == sub + 1 ? scan_at_once(thru, next) : -1;
      if (found >= 0) {
        if (!noted_match(found)) fail_alternative();
        return;
      }
      Entry e{thru ? Kind::kThru : Kind::kTo};
      e.index = sub;
      return start_command(e, sub_end, seq);
    }
    case Key::kAhead: case Key::kNot: {
      Entry e{key == Key::kNot ? Kind::kNot : Kind::kAhead};
      e.index = seq.index;
      uint32_t sub_end = rule_end(seq.rules, seq.index, seq.end, item);
      seq.index = sub_end;
      return start_command(e, sub_end, seq);
    }
    case Key::kQuote: {
      seq.index++;
      int64_t n = match_at(pos(), tail(), next, run_.op, true);
      if (n < 0) return noted_fail();
      set_pos(pos() + uint32_t(n));
      note(Event::kMatch, true);
      return;
    }
    case Key::kIf: {
      seq.index++;
      if (type_of(next) != TYPE_PAREN) rule_error("parse-rule", next);
      eval_paren(next);
      if (interp::pending) return;
      Cell value = *stack::top_cell();
      stack::pop_cells(1);
      if (!!logic::falsy(value)) fail_alternative();
      return;
    }
    case Key::kInto: {
      if (family_of(type_of(input())) != Family::kBlock) rule_error("parse-block", input());
      uint32_t sub = seq.index;
      uint32_t sub_end = rule_end(seq.rules, sub, seq.end, item);
      seq.index = sub_end;
      if (pos() >= tail()) return fail_alternative();
      Cell inner = value_at(pos());
      uint8_t it = type_of(inner);
      if (!types::any_block(it) && !types::any_string(it) && it != TYPE_BINARY) {
        return fail_alternative();
      }
      Entry e{Kind::kInto};
      e.index = sub;
      e.rules = seq.rules;
      e.end = sub_end;
      push_command(e);
      push_input(inner, kNoLimit);
      set_pos(cell::series_index(inner));
      push_sub(rule_stack[rule_stack.size() - 1], run_);
      return;
    }
    case Key::kSet: case Key::kCopy: case Key::kCase: {
      if (type_of(next) != TYPE_WORD) rule_error("parse-rule", next);
      seq.index++;
      if (key != Key::kCase && repeat_stored(seq, key == Key::kCopy, next)) return;
      Cell rule;
      if (!item_at(seq.rules, seq.index, seq.end, &rule)) rule_error("parse-end", next);
      uint32_t sub = seq.index;
      uint32_t sub_end = rule_end(seq.rules, sub, seq.end, next);
      seq.index = sub_end;
      if (key != Key::kCase && fast_paths && !run_.callback) {
        // A copy or set of one step run at once (`copy d some digits`);
        // a traced run walks its entries, whose steps the callback is told of.
        uint32_t start = pos();
        int matched = step_at_once(seq.rules, sub, sub_end);
        if (matched == 0) return fail_alternative();
        if (matched > 0) return store_match(key == Key::kCopy, next, start);
      }
      Entry e{key == Key::kSet ? Kind::kSet : key == Key::kCopy ? Kind::kCopy : Kind::kCase};
      e.index = sub;
      e.a = next;
      if (key == Key::kCase) {
        e.saved = run_.op;
        run_.op = !logic::falsy(argument_value(next)) ? action::STRICT_EQUAL : action::EQUAL;
      }
      return start_command(e, sub_end, seq);
    }
    case Key::kRemove: {
      if (types::any_path(type_of(next))) rule_error("parse-rule", next);
      if (refers_to_input(next)) {
        seq.index++;
        uint32_t there = std::min(cell::series_index(*interp::word_value(next)),
                                  length_of(input()));
        uint32_t from = std::min(pos(), there), to = std::max(pos(), there);
        remove_range(from, to);
        set_pos(from);
        return;
      }
      Entry e{Kind::kRemove};
      e.index = seq.index;
      uint32_t sub_end = rule_end(seq.rules, seq.index, seq.end, item);
      seq.index = sub_end;
      return start_command(e, sub_end, seq);
    }
    case Key::kInsert: case Key::kChange: {
      bool only = false;
      Cell arg = next;
      if (keyword_of(arg) == Key::kOnly) {
        only = true;
        seq.index++;
        if (!item_at(seq.rules, seq.index, seq.end, &arg)) rule_error("parse-end", next);
      }
      if (types::any_path(type_of(arg)) && type_of(arg) != TYPE_LIT_PATH) {
        rule_error("parse-rule", arg);
      }
      Cell value_item;
      bool positioned = refers_to_input(arg) &&
                        item_at(seq.rules, seq.index + 1, seq.end, &value_item);
      if (key == Key::kInsert || positioned) {
        uint32_t at = pos();
        if (positioned) {
          at = std::min(cell::series_index(*interp::word_value(arg)), length_of(input()));
          seq.index++;
        } else {
          value_item = arg;
        }
        seq.index++;
        bool exited;
        Cell value = edit_value(value_item, &exited);
        if (exited) return;
        if (key == Key::kInsert) {
          uint32_t p = pos();
          uint32_t added = insert_value(at, value, only);
          set_pos(at <= p ? p + added : p);
        } else {
          uint32_t from = std::min(pos(), at), to = std::max(pos(), at);
          uint32_t added = change_range(from, to, value, only);
          set_pos(from + added);
        }
        return;
      }
      // change rule value
      uint32_t sub = seq.index;
      uint32_t sub_end = rule_end(seq.rules, sub, seq.end, item);
      Cell value;
      if (!item_at(seq.rules, sub_end, seq.end, &value)) rule_error("parse-end", item);
      seq.index = sub_end + 1;
      Entry e{Kind::kChange};
      e.flag = only;
      e.index = sub;
      e.a = value;
      return start_command(e, sub_end, seq);
    }
    case Key::kCollect: {
      Entry e{Kind::kCollect};
      Key target = keyword_of(next);
      if (target == Key::kSet || target == Key::kInto || target == Key::kAfter) {
        Cell word;
        if (!item_at(seq.rules, seq.index + 1, seq.end, &word)) rule_error("parse-end", next);
        if (type_of(word) != TYPE_WORD) rule_error("parse-rule", word);
        seq.index += 2;
        Cell rule;
        if (!item_at(seq.rules, seq.index, seq.end, &rule)) rule_error("parse-end", word);
        e.max = int32_t(target);
        if (target == Key::kSet) {
          e.b = word;
        } else {
          Cell series = argument_value(word);
          uint8_t st = type_of(series);
          bool block_input = family_of(type_of(input())) == Family::kBlock;
          bool fits = block_input ? types::any_block(st)
                                  : types::any_string(st) || st == TYPE_BINARY;
          if (!fits) rt::fire_error("script", "parse-into-type");
          if (cell::series_node(series) == cell::series_node(input())) {
            rt::fire_error("script", "parse-into-bad");
          }
          e.a = series;
          e.min = 1;
          e.flag = target == Key::kAfter;
        }
      }
      uint32_t sub = seq.index;
      uint32_t sub_end = rule_end(seq.rules, sub, seq.end, item);
      seq.index = sub_end;
      if (e.min == 0) {
        // A new block, rooted by the entry from its push on (nothing allocates in between).
        Cell* held = stack::push_copy(constants::none);
        block::init_empty(held, 8);
        e.a = *held;
        stack::pop_cells(1);
      }
      e.saved = run_.collect;
      e.index = sub;
      e.rules = seq.rules;
      push_command(e);
      run_.collect = int32_t(rule_stack.size() - 1);
      top().end = sub_end;
      push_sub(top(), run_);
      return;
    }
    case Key::kKeep: {
      if (!in_collect()) rt::fire_error("script", "parse-keep");
      bool pick = keyword_of(next) == Key::kPick;
      Cell rule = next;
      if (pick) {
        seq.index++;
        if (!item_at(seq.rules, seq.index, seq.end, &rule)) rule_error("parse-end", next);
      }
      if (type_of(rule) == TYPE_PAREN) {
        seq.index++;
        eval_paren(rule);
        if (interp::pending) return;
        Cell value = *stack::top_cell();
        if (pick && type_of(value) == TYPE_BLOCK) {
          for (uint32_t i = cell::series_index(value); i < length_of(value); i++) {
            keep_value(rule_stack[size_t(run_.collect)], block_item(value, i));
          }
        } else {
          keep_value(rule_stack[size_t(run_.collect)], value);
        }
        stack::pop_cells(1);
        return;
      }
      Entry e{Kind::kKeep};
      e.flag = pick;
      e.index = seq.index;
      uint32_t sub_end = rule_end(seq.rules, seq.index, seq.end, item);
      seq.index = sub_end;
      return start_command(e, sub_end, seq);
    }
    default:
      rule_error("parse-rule", item);
  }
}

}  // namespace

Cell run(const Cell& input_series, const Cell& rules, bool case_sensitive, int64_t limit,
         const Cell* callback) {
  StackScope scope{rule_stack.size(), input_stack.size(), notes.size(), traced_run};
  Run run{rule_stack.size(), input_stack.size(),
          case_sensitive ? action::STRICT_EQUAL : action::EQUAL};
  run.callback = callback;
  run.notes_base = notes.size();
  traced_run = callback ? &run : nullptr;
  push_input(input_series, limit);
  clamp_pos();
  check_rule_room();
  Entry base{Kind::kBase};
  base.a = constants::none;
  rule_stack.push_back(base);
  push_block(rules, run);
  Engine engine(run);
  Cell result = engine.go();
  if (interp::pending) return constants::none;
  if (engine.stopped()) return result;
  const Cell& collected = rule_stack[run.rule_base].a;
  if (type_of(collected) == TYPE_BLOCK) return collected;
  return result;
}

uint32_t rule_depth() { return uint32_t(rule_stack.size()); }
uint32_t input_depth() { return uint32_t(input_stack.size()); }
void set_fast_paths(bool on) { fast_paths = on; }

void init() {
  struct Pair {
    uint32_t symbol;
    Key key;
  };
  const auto& s = runtime_words::symbols;
  const Pair pairs[] = {
      {s.any, Key::kAny},     {s.break_, Key::kBreak},  {s.copy, Key::kCopy},
      {s.end, Key::kEnd},     {s.fail, Key::kFail},     {s.into, Key::kInto},
      {s.opt, Key::kOpt},     {s.not_, Key::kNot},      {s.quote, Key::kQuote},
      {s.case_, Key::kCase},  {s.reject, Key::kReject}, {s.set, Key::kSet},
      {s.skip, Key::kSkip},   {s.some, Key::kSome},     {s.thru, Key::kThru},
      {s.to, Key::kTo},       {s.none, Key::kNoneWord}, {s.if_, Key::kIf},
      {s.remove, Key::kRemove}, {s.while_, Key::kWhile}, {s.insert, Key::kInsert},
      {s.only, Key::kOnly},   {s.collect, Key::kCollect}, {s.keep, Key::kKeep},
      {s.pick, Key::kPick},   {s.ahead, Key::kAhead},   {s.after, Key::kAfter},
      {symbol::intern_c_string("|"), Key::kBar},
      {word::symbol_of(runtime_words::words.change), Key::kChange},
  };
  keywords.clear();
  key_by_symbol.clear();
  for (const Pair& p : pairs) keywords[symbol::resolve_alias(p.symbol)] = p.key;
  rule_stack.reserve(64);
  input_stack.reserve(8);
  gc::add_marker(mark_stacks);
}

}  // namespace parse
