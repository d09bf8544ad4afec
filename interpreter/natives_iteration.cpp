// Iteration natives: foreach, forall and remove-each walk a series (foreach also a map) and run
// a body for each element or position, in a loop frame as the control loops do
// (natives_control.cpp). The loop words are set where they are bound: no context is made.
//
// The body may change the series it walks. The walk keeps its position as an index in a private
// copy of the series cell on the data stack (which also keeps the series alive) and re-reads the
// series' length before every step, so a shortened series ends the walk at its new tail. The
// copies sit below the loop frame: the body's cells never reach them.
#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/stack.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
#include "interpreter/natives.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"

namespace natives {

using stack::arg;

namespace {

// --- Steps ---------------------------------------------------------------------------------------

// Whether an element remains at the series' position: its index below the length in units
// (cells for blocks and maps, bytes or code units for the others, pixels for images).
bool series_more(const Cell& series) {
  return cell::series_index(series) < alloc::series_of(cell::series_node(series))->length();
}

void move_index(Cell* series, int32_t by) {
  cell::set_series_index(*series, uint32_t(cell::series_index_signed(*series) + by));
}

// One word: it takes the element at the position.
bool next_single(Cell* word, Cell* series) {
  Cell value;
  if (cell::type_of(*series) == TYPE_BLOCK) {
    // A block's cell read straight from its buffer (the blocks benchmark).
    uint32_t node = cell::series_node(*series);
    uint32_t index = cell::series_index(*series);
    if (index >= cell::cell_count(node)) return false;
    value = cell::cells_of(node)[index];
  } else {
    if (!series_more(*series)) return false;
    value = pick_element(*series, 1);
  }
  // A word bound to its context learns its index in the stack cell, once.
  interp::write_word(*word, value);
  move_index(series, 1);
  return true;
}

// Words 1..n take elements 1..n from the position (none past the tail). Elements of texts,
// binaries and vectors are scalars: nothing to keep alive while the words are set.
void set_words_by_pick(const Cell& words, const Cell& series, int32_t n) {
  // Every word is checked before the first is set, as for a block of values.
  for (int32_t i = 1; i <= n; i++) settable_word(words, i);
  for (int32_t i = 1; i <= n; i++) {
    Cell word = pick_element(words, i);
    context::write_word(word, pick_element(series, i));
  }
}

// The map's next live pair goes to the two words; false when none is left.
bool set_words_from_map(const Cell& words, Cell* map) {
  Cell key_word = settable_word(words, 1);
  Cell value_word = settable_word(words, 2);
  Cell key = constants::none, value = constants::none;  // guarded before they are filled
  gc::Guard keep_key(key);
  gc::Guard keep_value(value);
  if (!map::next_entry(map, &key, &value)) return false;
  context::write_word(key_word, key);
  context::write_word(value_word, value);
  return true;
}

// A block of n words: they take the next n elements (a map's next key and value).
bool next_many(const Cell& words, Cell* series, int32_t n) {
  if (n <= 0 || !series_more(*series)) return false;
  const uint8_t type = cell::type_of(*series);
  if (type == TYPE_MAP) {
    if (n != 2) rt::fire_error("script", "invalid-arg", &words);
    if (!set_words_from_map(words, series)) return false;
  } else if (types::any_block(type)) {
    set_words_from(words, *series, n, {.any = true});
  } else {
    set_words_by_pick(words, *series, n);
  }
  move_index(series, n);
  return true;
}

// The walk of foreach and remove-each: the words cell (a word, or a block of n words) and the
// series copy, both on the data stack below the loop frame.
struct Walk {
  Cell* words;
  Cell* series;
  int32_t n;  // 0 for a single word
  bool next() const { return n ? next_many(*words, series, n) : next_single(words, series); }
};

// The number of words of foreach's and remove-each's first argument, 0 for a single word.
int32_t word_count(const Cell& words, const Cell& series) {
  if (cell::type_of(words) != TYPE_BLOCK) {
    if (cell::type_of(series) == TYPE_MAP) rt::fire_error("script", "invalid-arg", &words);
    return 0;
  }
  const int32_t n = block::rest_length(words);
  if (n <= 0) rt::fire_error("script", "invalid-arg", &words);
  return n;
}

// The series copy and the words go on the stack (in that order), then the loop frame, whose
// result starts as unset.
Walk open_walk(const Cell& words, const Cell& series) {
  const int32_t n = word_count(words, series);
  Cell* series_copy = stack::push_copy(series);
  Cell* words_copy = stack::push_copy(words);
  frames::mark_loop(body_word());
  stack::push_copy(constants::unset);
  return {words_copy, series_copy, n};
}

// After a body run whose value is true: the elements it was given are removed. Removal may run
// a change handler of the series' owner; an exit it raises is taken as the body's own.
void remove_step(const Walk& walk) {
  move_index(walk.series, -(walk.n ? walk.n : 1));
  Cell target = *walk.series;
  Cell part = integer::make(walk.n);
  interp::absorb_exits([&] {
    datatype::resolve<action::REMOVE>(cell::type_of(target), target)(
        &target, walk.n > 1 ? &part : nullptr, nullptr);
  });
  cell::set_series_index(*walk.series, cell::series_index(target));
}

// Types forall walks: every series but map!.
bool forall_series(uint8_t type) {
  return types::any_block(type) || types::any_string(type) || type == TYPE_BINARY ||
         type == TYPE_VECTOR || type == TYPE_IMAGE;
}

}  // namespace

// --- Natives -------------------------------------------------------------------------------------

// foreach 'word series body
void foreach(const int32_t*) {
  const Cell body = *arg(2);
  const Walk walk = open_walk(*arg(0), *arg(1));
  while (walk.next()) {
    LoopExit exit = run_body(body);
    if (exit == LoopExit::kBreak) break;
    if (exit == LoopExit::kOther) return;
  }
  end_loop(*arg(0));
}

// forall 'word body: the word's own series moves; after a normal end it is back at its start.
void forall(const int32_t*) {
  const Cell body = *arg(1);
  Cell* word = arg(0);
  const Cell* held = context::word_value_cell(*word);
  if (cell::type_of(*held) == TYPE_UNSET) rt::fire_error("script", "no-value", word);
  if (!forall_series(cell::type_of(*held))) cell::fire_expect_arg(*held, 0);
  const Cell* start = stack::push_copy(*held);
  frames::mark_loop(body_word());
  stack::push_copy(constants::unset);
  bool broken = false;
  if (series_more(*start)) {
    for (;;) {
      LoopExit exit = run_body(body);
      if (exit == LoopExit::kBreak) {
        broken = true;
        break;
      }
      if (exit == LoopExit::kOther) return;
      Cell* current = context::word_value_cell(*word);
      if (!forall_series(cell::type_of(*current)) ||
          cell::series_node(*current) != cell::series_node(*start)) {
        const Cell changed = *current;
        rt::fire_error("script", "bad-loop-series", &changed);
      }
      move_index(current, 1);
      if (!series_more(*current)) break;
    }
  }
  if (!broken) context::write_word(*word, *start);
  end_loop(*arg(0));
}

// remove-each 'word series body: the elements for which the body is true go; the result is the
// series at its position.
void remove_each(const int32_t*) {
  const Cell body = *arg(2);
  const Cell series = *arg(1);
  const Walk walk = open_walk(*arg(0), *arg(1));
  while (walk.next()) {
    LoopExit exit = run_body(body);
    if (exit == LoopExit::kBreak) break;
    if (exit == LoopExit::kOther) return;
    if (exit == LoopExit::kContinue || logic::falsy(*arg(0))) continue;
    remove_step(walk);
    exit = take_loop_exit();
    if (exit == LoopExit::kBreak) break;
    if (exit == LoopExit::kOther) return;
  }
  end_loop(series);
}

}  // namespace natives
