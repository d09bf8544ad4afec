// The lexer's scanner: the token loop over the automaton, the structure tokens (brackets,
// braces, paths, construction syntax, comments), the output buffer and its collector hook, the
// syntax errors, and the entry points scan and scan_string. Relies on the rooting rule of
// runtime/gc.h: output cells live in C++ memory marked by this module while a scan runs, so a
// Cell* into the output stays valid across allocation until the next output_cell call.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/upcall.h"
#include "lexer/lexer.h"
#include "lexer/state.h"
#include "lexer/tables.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace lexer {

Cell* output = nullptr;

namespace {

uint32_t output_capacity = 0;
State* active = nullptr;  // the innermost running scan

constexpr uint32_t kOutputCells = 1000;
constexpr uint32_t kScratchBytes = 100000;
uint8_t* scratch = nullptr;  // UTF-8 copies of the strings being scanned, stacked
uint32_t scratch_used = 0;

void mark_states() {
  for (State* s = active; s; s = s->previous) {
    for (uint32_t i = s->base; i < s->tail; i++) {
      if (cell::type_of(output[i]) != kOpenMarker) gc::mark_value(output[i]);
    }
    if (s->trace) {
      gc::mark_value(s->trace->function);
      gc::mark_value(s->trace->source);
    }
  }
}

// --- The automaton -------------------------------------------------------------------------------

struct Token {
  const uint8_t* end;  // the byte that made the state final (not consumed)
  uint32_t flags;      // class flags gathered over the bytes read, that byte included
  uint32_t skip;       // bytes before the token's text
  uint8_t final_state;
  uint8_t previous_state;
};

// Two table reads a byte (plus the skip count) and no call: bench/lexer.cpp's scanning figure
// rests on this loop.
inline Token next_token(uint8_t state, const uint8_t* p, const uint8_t* end) {
  Token t{p, 0, 0, 0, state};
  for (;;) {
    uint8_t next;
    if (p == end) {
      next = transitions[state][C_END];
    } else {
      uint32_t entry = class_table[*p];
      t.flags |= entry;
      next = transitions[state][static_cast<uint8_t>(entry)];
      if (next < kInnerStates) {
        t.skip += skip_table[next];
        p++;
        state = next;
        continue;
      }
    }
    t.end = p;
    t.final_state = next;
    t.previous_state = state;
    t.flags &= ~0xFFu;
    return t;
  }
}

// --- Output and nesting --------------------------------------------------------------------------

// An open marker's fields (lexer/state.h): the cells back to the enclosing series start, the
// series datatype, the byte offset of the opening character.
inline uint32_t marker_back(const Cell& marker) { return marker.w1; }
inline uint32_t marker_type(const Cell& marker) { return marker.w2; }
inline uint32_t marker_offset(const Cell& marker) { return marker.w3; }
inline void set_marker(Cell& marker, uint32_t back, uint32_t type, uint32_t offset) {
  marker.w1 = back;
  marker.w2 = type;
  marker.w3 = offset;
}

Cell* innermost_marker(State& s) {
  return s.series_start > s.base ? &output[s.series_start - 1] : nullptr;
}

void open_series(State& s, uint8_t type, const uint8_t* at) {
  if (s.trace && !fire_event(s, kEvOpen, type, nullptr, at, at + 1)) stop_quietly(s);
  uint32_t index = s.tail;
  Cell* marker = output_cell(s);
  marker->header = (marker->header & cell::kNewLine) | kOpenMarker;
  set_marker(*marker, index - s.series_start, type, static_cast<uint32_t>(at - s.input_start));
  s.series_start = index + 1;
  s.start_state = S_TOKEN;
  s.new_line = false;  // the marker carries it
}

// A new block buffer holding a copy of count output cells from first; the node is not rooted
// yet. May allocate.
uint32_t block_of_output(uint32_t first, uint32_t count) {
  uint32_t node = alloc::new_cell_series(count ? count : 1);
  alloc::Series* series = alloc::series_of(node);
  if (count) std::memcpy(series->data(), &output[first], count * sizeof(Cell));
  series->tail = series->head + count * sizeof(Cell);
  return node;
}

// A check-only scan builds no values: an open map's marker keeps in these header bits what
// check_map_pairs finds when loading (an odd value count so far, a key of a refused type).
constexpr uint32_t kMapOddCount = 1u << 8, kMapBadKey = 1u << 9;

// Notes a value that a check-only scan completed inside an open map.
void note_map_value(State& s) {
  Cell* marker = innermost_marker(s);
  if (!marker || marker_type(*marker) != TYPE_MAP) return;
  const bool key = (marker->header & kMapOddCount) == 0;
  if (key && !map::valid_key_type_q(s.token_type)) marker->header |= kMapBadKey;
  marker->header ^= kMapOddCount;
}

// A map literal holds pairs whose keys are of types maps accept.
void check_map_pairs(State& s, uint32_t first, uint32_t count) {
  bool valid = count % 2 == 0;
  for (uint32_t i = first; valid && i < first + count; i += 2) {
    valid = map::valid_key_type_q(cell::type_of(output[i]));
  }
  if (!valid) throw_error(s, nullptr, TYPE_MAP);
}

// The start state after a series or a point literal ends: a path's element state inside a path.
uint8_t resume_state(State& s) {
  Cell* enclosing = innermost_marker(s);
  return enclosing && types::any_path(uint8_t(marker_type(*enclosing))) ? S_PATH : S_TOKEN;
}

// Turns the cells after the innermost marker into one value of the type in the marker's place.
// A check-only scan drops them: nothing was built.
void close_series(State& s, uint8_t type) {
  if (s.trace) fire_event(s, kEvClose, type, nullptr, s.position, s.position + 1);
  uint32_t marker_index = s.series_start - 1;
  uint32_t count = s.tail - s.series_start;
  Cell marker = output[marker_index];
  if (s.loading) {
    if (type == TYPE_MAP) check_map_pairs(s, s.series_start, count);
    uint8_t built = type == TYPE_MAP ? uint8_t{TYPE_BLOCK} : type;
    output[marker_index] = cell::make_series(built, block_of_output(s.series_start, count));
    if (type == TYPE_MAP) {  // the pairs become a map in place
      const Cell pairs = output[marker_index];
      map::make_at(&output[marker_index], &pairs, count / 2);
    }
    output[marker_index].header |= marker.header & cell::kNewLine;
    s.tail = marker_index + 1;
  } else {
    if (type == TYPE_MAP && (marker.header & (kMapOddCount | kMapBadKey))) {
      throw_error(s, nullptr, TYPE_MAP);
    }
    s.tail = marker_index;
  }
  s.series_start = marker_index - marker_back(marker);
  s.token_type = type;
  s.start_state = resume_state(s);
}

// A closing ] or ) at the position.
void close_bracket(State& s, uint8_t type) {
  Cell* marker = innermost_marker(s);
  if (!marker || marker_type(*marker) != type) throw_error(s, s.position, kErrMissingOpen);
  close_series(s, type);
  s.position++;
}

// After a path element: a delimiter ends the path (a ':' makes it a set-path!), a '/' leads to
// the next element.
void continue_path(State& s) {
  const uint8_t* p = s.position;
  uint8_t cls = p < s.input_end ? class_of(*p) : uint8_t{C_END};
  Cell* marker = innermost_marker(s);
  uint8_t type = static_cast<uint8_t>(marker_type(*marker));
  switch (cls) {
    case C_COLON:
      if (p + 1 < s.input_end && p[1] == '/') throw_error(s, nullptr, TYPE_PATH);
      if (type != TYPE_PATH) throw_error(s, nullptr, static_cast<int32_t>(type));
      s.position++;
      close_series(s, TYPE_SET_PATH);
      return;
    case C_BLANK: case C_LF: case C_BLOCK_OPEN: case C_BLOCK_CLOSE: case C_PAREN_OPEN:
    case C_PAREN_CLOSE: case C_BRACE_OPEN: case C_DQUOTE: case C_LESS: case C_SEMICOLON:
    case C_OTHER: case C_INVALID: case C_END:
      close_series(s, type);
      return;
    case C_SLASH:
      if (p + 1 == s.input_end) throw_error(s, nullptr, TYPE_PATH);
      s.position++;
      return;
    default:
      throw_error(s, nullptr, TYPE_PATH);
  }
}

// Whether the bytes after a '(' make a point literal: number characters up to a ','.
bool point_follows(const uint8_t* p, const uint8_t* end) {
  if (end - p < 4) return false;
  for (; p < end; p++) {
    if (*p == ',') return true;
    if (!std::strchr(" \t0123456789#+-.AEFINaefin", *p) || *p == 0) return false;
  }
  return false;
}

// Construction syntax #(name): a constant by its name, or the first datatype whose name the
// text begins (ignoring case).
void load_construct(State& s, const uint8_t* text, const uint8_t* end, bool load) {
  const uint8_t* name = text + 2;
  size_t length = static_cast<size_t>(end - name);
  struct Constant {
    const char* name;
    Cell value;
  };
  static const Constant constants[] = {{"true", Cell{TYPE_LOGIC, 1, 0, 0}},
                                       {"false", Cell{TYPE_LOGIC, 0, 0, 0}},
                                       {"none", Cell{TYPE_NONE, 0, 0, 0}},
                                       {"unset", Cell{TYPE_UNSET, 0, 0, 0}}};
  auto begins = [&](const char* full, size_t n) {
    return n <= std::strlen(full) && strncasecmp(reinterpret_cast<const char*>(name), full, n) == 0;
  };
  Cell value{};
  bool found = false;
  for (const Constant& c : constants) {
    size_t n = std::strlen(c.name);
    if (length >= n && begins(c.name, n)) {
      if (length != n) throw_error(s, text, kErrMalconstruct);
      value = c.value;
      found = true;
      break;
    }
  }
  for (uint32_t type = 1; !found && length && type <= datatype::highest_type(); type++) {
    const char* full = datatype::name_of(static_cast<uint8_t>(type));
    if (full && begins(full, length)) {
      value = cell::make_datatype(static_cast<uint8_t>(type));
      found = true;
    }
  }
  if (!found) throw_error(s, text, kErrMalconstruct);
  s.token_type = cell::type_of(value);
  s.position = end + 1;
  if (load) *output_cell(s) = value;
}

bool is_unicode_blank(int32_t c) {
  switch (c) {
    case 0x85: case 0xA0: case 0x1680: case 0x180E: case 0x2028: case 0x2029: case 0x202F:
    case 0x205F: case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200B;
  }
}

// A word token may hold Unicode blanks: leading ones are skipped, the first inner one ends the
// token (the rest is scanned again). Returns false when the whole token was blank.
bool trim_unicode_blanks(State& s, const uint8_t*& text, const uint8_t*& end) {
  const uint8_t* p = text;
  bool leading = true;
  while (p < end) {
    if (*p < 0x80) {
      leading = false;
      p++;
      continue;
    }
    int32_t c;
    const uint8_t* next = unicode::decode_utf8_dfa(p, end, c);
    if (c < 0) throw_error(s, text, TYPE_WORD);
    if (is_unicode_blank(c)) {
      if (!leading) break;
      text = next;
    } else {
      leading = false;
    }
    p = next;
  }
  end = p;
  s.position = p;
  return text < end;
}

// --- The token loop ---------------------------------------------------------------------------

// A value while tracing: its syntax checked (the scan event may skip loading it), then loaded
// (the load event may drop the value). load(bool) runs its loader.
template <class Load>
void traced_value(State& s, const uint8_t* text, Load&& load) {
  if (!s.loading || wants(s, kEvScan)) {
    load(false);
    if (!fire_event(s, kEvScan, s.token_type, nullptr, text, s.position)) return;
  }
  if (!s.loading) return;
  const uint32_t before = s.tail;
  load(true);
  if (s.tail > before && wants(s, kEvLoad)) {
    const Cell value = output[s.tail - 1];
    if (!fire_event(s, kEvLoad, s.token_type, &value, text, s.position)) s.tail = before;
  }
}

// A token the prescan event skipped: the position moves past it.
void skip_token(State& s, uint8_t kind, const Token& t, const uint8_t* text, const uint8_t* end);
void traced_token(State& s, const Mode& mode, uint8_t kind, const Token& t, const uint8_t* text,
                  const uint8_t* end, bool& done);

void structure(State& s, uint8_t kind, const Token& t, const uint8_t* text, bool& done) {
  switch (kind) {
    case K_END:
      s.position = s.input_end;
      done = true;
      return;
    case K_ERROR: {
      int32_t type = state_types[t.previous_state] ? state_types[t.previous_state] : kErrBadChar;
      const uint8_t* near = text;
      if (type == TYPE_BLOCK || type == TYPE_PAREN || types::any_path(uint8_t(type))) {
        near = nullptr;
      } else if (t.previous_state == S_BRACES || t.previous_state == S_BRACES_CARET) {
        near = s.brace_start;
      }
      throw_error(s, near, type);
    }
    case K_BLOCK_OPEN:
      open_series(s, TYPE_BLOCK, t.end);
      s.position++;
      return;
    case K_BLOCK_CLOSE: {
      Cell* marker = innermost_marker(s);  // ] closes a map! too
      close_bracket(s, marker && marker_type(*marker) == TYPE_MAP ? TYPE_MAP : TYPE_BLOCK);
      return;
    }
    case K_PAREN_OPEN:
      if (point_follows(t.end + 1, s.input_end)) {
        s.start_state = S_POINT;
      } else {
        open_series(s, TYPE_PAREN, t.end);
      }
      s.position++;
      return;
    case K_PAREN_CLOSE:
      close_bracket(s, TYPE_PAREN);
      return;
    case K_BRACE_OPEN:
      if (s.brace_depth++ == 0) {
        if (s.trace && !fire_event(s, kEvOpen, TYPE_STRING, nullptr, t.end, t.end + 1)) {
          stop_quietly(s);
        }
        s.brace_start = t.end;
        s.brace_flags = t.flags | (s.new_line ? kBraceNewLine : 0);
        s.start_state = S_BRACES;
      }
      s.position++;
      return;
    case K_BRACE_CLOSE:
      s.position++;
      if (--s.brace_depth == 0) {
        s.start_state = S_TOKEN;
        s.new_line = (s.brace_flags & kBraceNewLine) != 0;
        if (s.trace) [[unlikely]] {
          fire_event(s, kEvClose, TYPE_STRING, nullptr, t.end, t.end + 1);
          const uint8_t* open = s.brace_start;
          s.token_type = TYPE_STRING;
          traced_value(s, open, [&](bool load) {
            load_text(s, open + 1, t.end, s.brace_flags, load, TYPE_STRING, true);
          });
        } else {
          load_text(s, s.brace_start + 1, t.end, s.brace_flags, s.loading, TYPE_STRING, true);
        }
      }
      return;
    case K_MAP_OPEN:
      open_series(s, TYPE_MAP, text);
      s.position = t.end + 1;
      return;
    case K_PATH_SLASH: {
      uint8_t type = *text == '\'' ? TYPE_LIT_PATH : *text == ':' ? TYPE_GET_PATH : TYPE_PATH;
      open_series(s, type, text);
      load_word(s, text + (type != TYPE_PATH), t.end, TYPE_WORD, s.loading);
      s.start_state = S_PATH;
      s.position++;
      return;
    }
    case K_CONSTRUCT:
      load_construct(s, text, t.end, s.loading);
      return;
    case K_COMMENT:
      if (s.trace) fire_event(s, kEvScan, -int32_t(K_COMMENT), nullptr, text, t.end);
      return;
    case K_COMMA:  // commas belong to point literals: no point is made of what a paren holds
      throw_error(s, text, TYPE_POINT2D);
    default:
      return;
  }
}

// A value token prescan does not load: its closing character, when it is part of the token, is
// passed over as the loader would. (Scanning on from that character would read the same token
// again and again.)
void pass_over(State& s, uint8_t kind, const uint8_t* text, const uint8_t* end) {
  bool closed = kind == K_CHAR || kind == K_BINARY || kind == K_PERCENT || kind == K_POINT ||
                kind == K_TAG || (kind == K_FILE && text[1] == '"');
  if (closed) s.position = end + 1;
}

void run(State& s, const Mode& mode) {
  for (;;) {
    const uint8_t* start = s.position;
    Token t = next_token(s.start_state, start, s.input_end);
    uint8_t kind = static_cast<uint8_t>(t.final_state - kFinalBase);
    const uint8_t* text = start + t.skip;
    const uint8_t* end = t.end;
    // A point literal's token starts after its '(', whose line start it keeps.
    if (s.start_state != S_POINT) s.new_line = t.skip && std::memchr(start, '\n', t.skip);
    s.position = end;
    s.token_type = state_types[t.final_state];
    if (s.start_state == S_BRACES) s.brace_flags |= t.flags;
    if (kind == K_WORD && (t.flags & (F_UTF8_2 | F_UTF8_4)) && !trim_unicode_blanks(s, text, end)) {
      continue;  // blank space after all
    }
    bool done = false;
    if (s.trace) [[unlikely]] {
      traced_token(s, mode, kind, t, text, end, done);
      if (done) return;
    } else if (kind <= K_COMMA) {
      structure(s, kind, t, text, done);
      if (done) return;
    } else if (!mode.prescan || kind == K_STRING) {
      loaders[kind - 1](s, text, end, t.flags, s.loading);
    } else {
      pass_over(s, kind, text, end);
    }
    if (kind == K_POINT) s.start_state = resume_state(s);
    if (s.start_state == S_PATH && kind != K_PATH_SLASH) continue_path(s);
    // A value of the innermost series has ended (not a path element or a brace string's part).
    const bool value_ended = s.token_type && s.start_state != S_PATH &&
                             s.start_state != S_BRACES && kind != K_PATH_SLASH;
    if (value_ended && !s.loading) note_map_value(s);
    if ((mode.one || mode.prescan) && value_ended) {
      uint32_t count = s.tail - s.base;
      if (count == 0 || (count == 1 && cell::type_of(output[s.base]) != kOpenMarker)) return;
    }
  }
}

void skip_token(State& s, uint8_t kind, const Token& t, const uint8_t* text, const uint8_t* end) {
  if (kind > K_COMMA) return pass_over(s, kind, text, end);  // as a prescan passes a value
  // A structure token ends with the byte that made its state final (a comment's line feed
  // excepted, which the next token skips).
  s.position = kind == K_COMMENT ? t.end : std::min(t.end + 1, s.input_end);
}

// A token while tracing: the prescan event decides whether it is handled (inside braces it
// always is); a value's syntax check and load have their events.
void traced_token(State& s, const Mode& mode, uint8_t kind, const Token& t, const uint8_t* text,
                  const uint8_t* end, bool& done) {
  // A structure token holds the byte that made its state final (a comment ends before its LF).
  const uint8_t* token_end =
      kind <= K_COMMA && kind != K_COMMENT ? std::min(t.end + 1, s.input_end) : end;
  if (kind != K_END && s.start_state != S_BRACES &&
      !fire_event(s, kEvPrescan, s.token_type ? s.token_type : -int32_t(kind), nullptr, text,
                  token_end)) {
    skip_token(s, kind, t, text, end);
  } else if (kind <= K_COMMA) {
    structure(s, kind, t, text, done);
    if (done) return;
  } else if (mode.prescan && kind != K_STRING) {
    pass_over(s, kind, text, end);
  } else {
    const Routine loader = loaders[kind - 1];
    traced_value(s, text, [&](bool load) { loader(s, text, end, t.flags, load); });
  }
  if (s.trace->resume) {  // the callback moved the input
    s.position = s.trace->resume;
    s.trace->resume = nullptr;
  }
}

// Links a scan into the active chain for its lifetime, whatever way it ends.
struct Link {
  explicit Link(State& s) : state(s) { active = &s; }
  ~Link() { active = state.previous; }
  State& state;
};

// Near text: from start to the first line feed, the input end, or 30 bytes; malformed UTF-8
// reads as U+FFFD so that the message never fails.
Cell* push_near_text(const uint8_t* start, const uint8_t* end) {
  const uint8_t* stop = start;
  while (stop < end && stop - start < 30 && *stop != '\n') stop++;
  uint8_t bytes[30 * 3];
  size_t n = 0;
  for (const uint8_t* p = start; p < stop;) {
    int32_t c;
    p = unicode::decode_utf8_dfa(p, stop, c);
    n += unicode::encode_utf8_char(c < 0 ? 0xFFFD : static_cast<uint32_t>(c), bytes + n);
  }
  return string::load_encoded_push(bytes, n, string::kUtf8);
}

}  // namespace

// --- Services for the loaders --------------------------------------------------------------------

Cell* output_cell(State& s) {
  if (s.tail == output_capacity) {
    uint32_t capacity = output_capacity * 2;
    auto* grown = static_cast<Cell*>(std::realloc(output, capacity * sizeof(Cell)));
    if (!grown) rt::fire_error("internal", "no-memory");
    output = grown;
    output_capacity = capacity;
  }
  Cell* c = &output[s.tail++];
  *c = Cell{TYPE_UNSET | (s.new_line ? cell::kNewLine : 0), 0, 0, 0};
  return c;
}

void throw_error(State& s, const uint8_t* start, int32_t type) {
  if (!s.loading) {
    s.token_type = TYPE_ERROR;
    rt::throw_code(rt::kThrowLexer);
  }
  if (wants(s, kEvError)) {
    // The type being scanned: the one given, else that of the innermost open series.
    const Cell* open = innermost_marker(s);
    const int32_t reported = type > 0 ? type
                             : open   ? int32_t(marker_type(*open))
                             : s.token_type ? s.token_type
                                            : int32_t(TYPE_ERROR);
    const uint8_t* from = start ? start : s.input_start + (open ? marker_offset(*open) : 0);
    if (!fire_event(s, kEvError, reported, nullptr, from, s.position)) stop_quietly(s);
  }
  Cell* marker = innermost_marker(s);
  if (!start) start = s.input_start + (marker ? marker_offset(*marker) : 0);
  // The line of the near text, so that the two always agree.
  int32_t line = 1;
  for (const uint8_t* p = s.input_start; p < start; p++) line += *p == '\n';
  char line_text[32];
  std::snprintf(line_text, sizeof line_text, "(line %d)", line);
  Cell* line_cell = string::load_encoded_push(reinterpret_cast<const uint8_t*>(line_text),
                                              std::strlen(line_text), string::kUtf8);
  Cell* near = push_near_text(start, s.input_end);
  switch (type) {
    case kErrBadChar:
      rt::fire_error("syntax", "bad-char", line_cell, near);
    case kErrMalconstruct:
      rt::fire_error("syntax", "malconstruct", line_cell, near);
    case kErrMissingOpen:
    case kErrMissingClose: {
      uint8_t at = type == kErrMissingClose || start >= s.input_end ? '_' : *start;
      uint32_t open = marker ? marker_type(*marker) : 0;
      uint32_t missing = open == TYPE_PAREN ? (at == ')' ? '(' : ')')
                         : open ? (at == ']' ? '[' : ']')
                         : at == ')' ? '(' : '[';
      Cell character{TYPE_CHAR, 0, missing, 0};
      rt::fire_error("syntax", "missing", line_cell, &character, near);
    }
    default: {
      Cell datatype = cell::make_datatype(static_cast<uint8_t>(type));
      rt::fire_error("syntax", "invalid", line_cell, &datatype, near);
    }
  }
}

// --- Entry points ----------------------------------------------------------------------------------

namespace {

// upcall::Lexer::scan_text: `to block!` and the text conversions of the datatypes.
uint8_t scan_text(Cell* out, const Cell& text, bool load) {
  Mode mode;
  mode.load = load;
  return scan_string(out, text, -1, mode, nullptr, nullptr);
}

}  // namespace

void init() {
  upcall::lexer.scan_text = scan_text;
  if (output) return;
  output = static_cast<Cell*>(std::malloc(kOutputCells * sizeof(Cell)));
  scratch = static_cast<uint8_t*>(std::malloc(kScratchBytes));
  if (!output || !scratch) rt::fire_error("internal", "no-memory");
  output_capacity = kOutputCells;
  gc::add_marker(mark_states);
}

uint8_t scan(Cell* out, const uint8_t* text, size_t length, const Mode& mode, size_t* consumed,
             const Cell* source, Cell* into) {
  init();
  State s;
  s.previous = active;
  s.base = s.series_start = s.tail = active ? active->tail : 0;
  s.input_start = s.position = text;
  s.input_end = text + length;
  s.loading = mode.load && !mode.prescan;
  Trace trace;
  if (mode.trace) {
    trace.function = *mode.trace;
    trace.mask = trace_mask(*mode.trace);
    trace.source = source ? *source : Cell{TYPE_NONE, 0, 0, 0};
    s.trace = &trace;
  }
  Link link(s);
  bool recorded = false;  // a check-only scan met an error
  try {
    run(s, mode);
    Cell* marker = innermost_marker(s);
    if (marker) throw_error(s, s.input_start + marker_offset(*marker), kErrMissingClose);
  } catch (const rt::Throw& t) {
    if (t.code != rt::kThrowLexer) throw;
    recorded = true;
  }
  if (recorded) {
    if (out) *out = Cell{TYPE_NONE, 0, 0, 0};
  } else if (s.loading) {
    uint32_t count = s.tail - s.base;
    if (mode.one && !mode.always_block && count) {
      if (into) block::append_cell(*into, output[s.base]);
      else *out = output[s.base];
    } else if (into) {
      for (uint32_t i = s.base; i < s.tail; i++) block::append_cell(*into, output[i]);
    } else {
      *out = cell::make_series(TYPE_BLOCK, block_of_output(s.base, count));
    }
  }
  if (consumed) {
    bool text_source = source && cell::type_of(*source) != TYPE_BINARY;
    *consumed = text_source ? unicode::count_utf8_chars(text, s.position)
                            : static_cast<size_t>(s.position - text);
  }
  return s.token_type;
}

uint8_t scan_string(Cell* out, const Cell& string, int64_t length, const Mode& mode,
                    size_t* consumed, Cell* into) {
  init();
  Cell value = string;
  uint32_t units = string::rest_length(value);
  if (length >= 0 && length < units) units = static_cast<uint32_t>(length);
  uint32_t unit = alloc::series_of(cell::series_node(value))->unit();
  // Room for the UTF-8 copy and its terminating NUL.
  uint64_t room = static_cast<uint64_t>(units) * std::min<uint32_t>(unit + 1, 4) + 1;
  std::unique_ptr<uint8_t[]> own;
  uint8_t* copy;
  uint32_t saved = scratch_used;
  if (room <= kScratchBytes - scratch_used) {
    copy = scratch + scratch_used;
    scratch_used += static_cast<uint32_t>(room);
  } else {
    own.reset(new uint8_t[room]);
    copy = own.get();
  }
  struct Restore {
    uint32_t saved;
    ~Restore() { scratch_used = saved; }
  } restore{saved};
  uint64_t bytes = unicode::encode_utf8_into(value, units, copy, true);
  return scan(out, copy, bytes, mode, consumed, &string, into);
}

uint8_t run_automaton(uint8_t start_state, const uint8_t* text, size_t length) {
  return next_token(start_state, text, text + length).final_state;
}

}  // namespace lexer
