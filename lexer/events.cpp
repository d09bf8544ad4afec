// The lexer's trace callback (transcode/trace, lexer/lexer.h): its event mask, the arguments it
// is called with, and reading back where it moved the input. The scanner fires the events.
#include <algorithm>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "datatypes/upcall.h"
#include "datatypes/word.h"
#include "lexer/state.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace lexer {

namespace {

const Cell& event_word(uint32_t event) {
  const auto& w = runtime_words::words;
  switch (event) {
    case kEvPrescan: return w.prescan;
    case kEvScan: return w.scan;
    case kEvLoad: return w.load;
    case kEvOpen: return w.open;
    case kEvClose: return w.close;
    default: return w.error;
  }
}

bool is_text_source(const Trace& t) { return cell::type_of(t.source) != TYPE_BINARY; }

// Code points (text source) or bytes from the input's start to p; counted on from the last
// place asked, as the scan moves forward.
uint32_t offset_of(State& s, const uint8_t* p) {
  Trace& t = *s.trace;
  if (!is_text_source(t)) return uint32_t(p - s.input_start);
  if (!t.counted || p < t.counted) {
    t.counted = s.input_start;
    t.chars = 0;
  }
  t.chars += uint32_t(unicode::count_utf8_chars(t.counted, p));
  t.counted = p;
  return t.chars;
}

// The line that p lies on (1 for the first).
int32_t line_of(State& s, const uint8_t* p) {
  Trace& t = *s.trace;
  if (!t.lined || p < t.lined) {
    t.lined = s.input_start;
    t.line = 1;
  }
  t.line += int32_t(std::count(t.lined, p, uint8_t('\n')));
  t.lined = p;
  return t.line;
}

// Where in the input the source position `index` lies (within the input).
const uint8_t* input_at(State& s, uint32_t index) {
  const Trace& t = *s.trace;
  const uint32_t base = cell::series_index(t.source);
  if (index <= base) return s.input_start;
  uint32_t wanted = index - base;
  if (!is_text_source(t)) {
    return s.input_start + std::min<size_t>(wanted, size_t(s.input_end - s.input_start));
  }
  const uint8_t* p = s.input_start;
  for (; p < s.input_end; p++) {
    if ((*p & 0xC0) == 0x80) continue;  // continuation bytes belong to the code point before
    if (wanted-- == 0) return p;
  }
  return s.input_end;
}

// A structure token's type: the k-th word of the token kind names that the library keeps in the
// third field of system/lexer (counted from the first cell of that block's buffer), else none.
Cell kind_name(int32_t kind) {
  static const uint32_t lexer_symbol = symbol::intern_c_string("lexer");
  const Cell object = object::system_field({lexer_symbol});
  if (cell::type_of(object) != TYPE_OBJECT) return constants::none;
  const uint32_t context = object::context_of(object);
  uint32_t field = 0;
  for (uint32_t i = 0; i < context::word_count(context); i++) {
    if (context::is_self(*context::word_at(context, i))) continue;
    if (++field < 3) continue;
    const Cell names = context::values_of(context)[i];
    if (cell::type_of(names) != TYPE_BLOCK) return constants::none;
    const uint32_t node = cell::series_node(names);
    if (kind < 1 || uint32_t(kind) > cell::cell_count(node)) return constants::none;
    return cell::cells_of(node)[kind - 1];
  }
  return constants::none;
}

}  // namespace

uint32_t trace_mask(const Cell& function) {
  constexpr uint32_t kEvery = kEvPrescan | kEvScan | kEvLoad | kEvOpen | kEvClose | kEvError;
  const Cell body = function::body_of(function);
  if (cell::type_of(body) != TYPE_BLOCK ||
      cell::series_index(body) >= cell::cell_count(cell::series_node(body))) {
    return kEvery;
  }
  const Cell first = cell::cells_of(cell::series_node(body))[cell::series_index(body)];
  if (cell::type_of(first) != TYPE_BLOCK) return kEvery;
  uint32_t mask = 0;
  const uint32_t node = cell::series_node(first);
  for (uint32_t i = cell::series_index(first); i < cell::cell_count(node); i++) {
    const Cell& item = cell::cells_of(node)[i];
    if (cell::type_of(item) != TYPE_WORD) continue;
    for (uint32_t event = kEvPrescan; event <= kEvError; event <<= 1) {
      if (symbol::same_canonical(word::symbol_of(item), word::symbol_of(event_word(event)))) {
        mask |= event;
      }
    }
  }
  return mask;
}

bool fire_event(State& s, uint32_t event, int32_t type, const Cell* value, const uint8_t* start,
                const uint8_t* end) {
  if (!wants(s, event)) return true;
  Trace& t = *s.trace;
  start = std::min(start, s.input_end);
  end = std::clamp(end, start, s.input_end);
  const bool at_start = event == kEvOpen || event == kEvError || (event == kEvPrescan && type <= 0);
  const uint32_t base = cell::series_index(t.source);
  const uint32_t first = base + offset_of(s, start);
  const uint32_t last = base + offset_of(s, end);
  // Nothing allocates before the call has them on the data stack.
  Cell arguments[5];
  arguments[0] = event_word(event);
  arguments[1] = t.source;
  cell::set_series_index(arguments[1], at_start ? first : last);
  arguments[2] = type > 0 ? cell::make_datatype(uint8_t(type))
                 : type == 0 ? constants::none
                             : kind_name(-type);
  arguments[3] = integer::make(line_of(s, start));
  arguments[4] = value ? *value : pair::make(int32_t(first + 1), int32_t(last + 1));
  const uint32_t given = cell::series_index(arguments[1]);
  const Cell function = t.function;
  const Cell answer = upcall::interpreter.call_back(runtime_words::words.frame_lexer_callback,
                                                    function, std::span<Cell>(arguments));
  const Cell& input = arguments[1];
  if (cell::type_of(input) == cell::type_of(t.source) &&
      cell::series_node(input) == cell::series_node(t.source) &&
      cell::series_index(input) != given) {
    t.resume = input_at(s, cell::series_index(input));
  }
  return !logic::falsy(answer);
}

void stop_quietly(State& s) {
  s.token_type = TYPE_ERROR;
  rt::throw_code(rt::kThrowLexer);
}

}  // namespace lexer
