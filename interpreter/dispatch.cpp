// Action dispatch: one dispatcher per action slot reads the frame's cells and refinement
// positions, looks the implementation up by the first argument's type and calls it with the
// operands its slot signature names, then places the result in stack::arg(0). Relies on the
// rooting rule (runtime/gc.h): operands live on the data stack, which never moves, and a cell an
// implementation returns is copied into the result before anything else can allocate.
#include "interpreter/dispatch.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <optional>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "interpreter/frames.h"
#include "runtime/throw.h"

namespace dispatch {

using namespace action;

Dispatcher dispatchers[kSlotCount];

namespace {

// Refinement positions as the dispatchers read them.
struct Refinements {
  const int32_t* positions;
  bool has(int i) const { return positions[i] >= 0; }
  Cell* arg(int i) const { return has(i) ? stack::arg(positions[i]) : nullptr; }
};

inline Cell* V() { return stack::arg(0); }

// The implementation of slot S for the frame's first argument.
template <Slot S>
Fn<S> lookup_by_result() {
  return datatype::resolve_for<S>(*stack::arg(0));
}
inline Cell* A() { return stack::arg(1); }

// A series position past its tail reads as the tail.
void clamp_to_tail(Cell& value) {
  value.w1 = std::min(value.w1, static_cast<uint32_t>(series::buffer_length(value)));
}

// --- Dispatchers, by kind of result placement ----------------------------------------------------

// The implementation works on the frame's cells and leaves its result there.
template <Slot S>
void on_frame(const int32_t*) {
  lookup_by_result<S>()();
}

// The implementation takes the value alone and returns the result.
template <Slot S>
void value_returns(const int32_t*) {
  stack::set_result(*lookup_by_result<S>()(V()));
}

// make and to: a datatype! as first argument stands for a value of the type it names.
template <Slot S>
void make_or_to(const int32_t*) {
  uint8_t type = cell::type_of(*V());
  if (type == TYPE_DATATYPE) type = static_cast<uint8_t>(V()->w1);
  auto fn = datatype::resolve<S>(type, *V());
  stack::set_result(*fn(V(), A(), type));
}

void do_random(const int32_t* r) {
  Refinements ref{r};
  lookup_by_result<RANDOM>()(V(), ref.has(0), ref.has(1), ref.has(2));
}

void do_reflect(const int32_t*) { lookup_by_result<REFLECT>()(V(), A()->w2); }

// form and mold write into a new string that becomes the only cell of the frame; a part limit
// of 0 or less gives the empty string without asking the value.
template <class Emit>
void emit_text(const Cell* part, Emit emit) {
  int32_t limit = part ? cell::get_integer_arg(*part) : INT32_MAX;
  Cell part_arg = part ? *part : Cell{};  // the cell itself is about to be reused
  stack::keep();
  Cell* out = stack::push_new();
  *out = constants::none;
  string::init_empty(out, 16);
  if (limit > 0) {
    emit(out, part ? &part_arg : nullptr, limit);
    if (part) string::truncate_units(out->w2, static_cast<uint32_t>(limit));
  }
  stack::set_only_result(*out);
}

void do_form(const int32_t* r) {
  emit_text(Refinements{r}.arg(0), [](Cell* out, Cell* part_arg, int32_t limit) {
    datatype::call_form(V(), out, part_arg, limit);
  });
}

void do_mold(const int32_t* r) {
  enum { ONLY, ALL, FLAT, PART };
  Refinements ref{r};
  emit_text(ref.arg(PART), [&](Cell* out, Cell* part_arg, int32_t limit) {
    datatype::call_mold(V(), out, ref.has(ONLY), ref.has(ALL), ref.has(FLAT), part_arg, limit, 0);
  });
}

// The path step with its `set` refinement: the value to store.
void do_eval_path(const int32_t* r) {
  Cell* value = Refinements{r}.arg(0);
  auto fn = lookup_for_path(*V(), nullptr, *A(), -1);
  stack::set_result(*fn(V(), A(), value, nullptr, nullptr, nullptr, -1, false, false, true, false));
}

// No type fills the set-path slot (paths are set through the path step): an action! made for it
// meets the empty entry, and its error, as any action a type does not support. Its spec is free,
// so the value looked at is unset! when the spec takes no argument.
void do_set_path(const int32_t*) {
  if (stack::top == stack::args) *stack::push_new() = constants::unset;
  lookup_by_result<SET_PATH>();
}

// compare has no word of its own; as an action it takes the operator code as third argument.
void do_compare(const int32_t*) { compare_op(cell::get_integer_arg(*stack::arg(2))); }

void do_round(const int32_t* r) {
  enum { TO, EVEN, DOWN, HALF_DOWN, FLOOR, CEILING, HALF_CEILING };
  Refinements ref{r};
  lookup_by_result<ROUND>()(V(), ref.arg(TO), ref.has(EVEN), ref.has(DOWN), ref.has(HALF_DOWN),
                            ref.has(FLOOR), ref.has(CEILING), ref.has(HALF_CEILING));
}

template <Slot S>
void parity(const int32_t*) {
  logic::set_result(lookup_by_result<S>()(V()));
}

// append, insert and change. The target is normalised (append works from the head; insert and
// change from an index no further than the tail), /part becomes a count, and the action ends
// at once, with the target unchanged, when /part or /dup leaves nothing to do.
template <Slot S>
void edit_series(const int32_t* r) {
  enum { PART, ONLY, DUP };
  constexpr bool kChange = S == CHANGE;
  Refinements ref{r};
  auto fn = lookup_by_result<S>();
  Cell* target = V();
  Cell* value = A();
  uint8_t type = cell::type_of(*target);
  if (series::series_like(type)) {
    if (S == APPEND) target->w1 = 0;
    else if (!kChange || type != TYPE_IMAGE) clamp_to_tail(*target);
  }

  int32_t part = -1;
  if (Cell* part_arg = ref.arg(PART)) {
    // append and insert limit the inserted value, change the changed stretch of the target.
    Cell* limited = kChange ? target : value;
    if (!kChange) {
      if (!series::series_like(cell::type_of(*value))) {
        rt::fire_error("script", "invalid-part", value);
      }
      clamp_to_tail(*value);
    }
    if (cell::type_of(*part_arg) == cell::type_of(*limited) && part_arg->w2 == limited->w2) {
      clamp_to_tail(*part_arg);
    }
    part = series::part_count(*limited, *part_arg);
    if (part == 0 || (part < 0 && limited->w1 == 0)) return;
    if (part < 0 && kChange && (type == TYPE_PORT || type == TYPE_IMAGE)) {
      part = 0;
    } else if (part < 0) {
      // A part position before the index: the stretch runs from there up to the index.
      // In 64 bits: the most negative count has no 32-bit negation.
      auto back = static_cast<int32_t>(std::min<int64_t>(-int64_t(part), limited->w1));
      limited->w1 -= static_cast<uint32_t>(back);
      part = back;
    }
  }
  int32_t dup = 1;
  if (Cell* dup_arg = ref.arg(DUP)) {
    dup = cell::get_integer_arg(*dup_arg);
    if (dup < 1) return;
  }
  if constexpr (kChange) {
    fn(target, value, part, ref.has(ONLY), dup);
  } else {
    fn(target, value, part, ref.has(ONLY), dup, S == APPEND);
  }
}

void do_clear(const int32_t*) { lookup_by_result<CLEAR>()(V()); }

void do_copy(const int32_t* r) {
  enum { PART, DEEP, TYPES };
  Refinements ref{r};
  datatype::call_copy(V(), V(), ref.arg(PART), ref.has(DEEP), ref.arg(TYPES));
}

void do_find(const int32_t* r) {
  enum { PART, ONLY, CASE, SAME, ANY, WITH, SKIP, LAST, REVERSE, TAIL, MATCH };
  Refinements ref{r};
  auto fn = lookup_by_result<FIND>();
  stack::set_result(*fn(V(), A(), ref.arg(PART), ref.has(ONLY), ref.has(CASE), ref.has(SAME),
                        ref.has(ANY), ref.arg(WITH), ref.arg(SKIP), ref.has(LAST),
                        ref.has(REVERSE), ref.has(TAIL), ref.has(MATCH)));
}

void do_length(const int32_t*) {
  int32_t length = lookup_by_result<LENGTH_Q>()(V());
  stack::set_result(length == -1 ? constants::none : integer::make(length));
}

void do_move(const int32_t* r) {
  stack::set_result(*lookup_by_result<MOVE>()(V(), A(), Refinements{r}.arg(0)));
}

void do_pick(const int32_t*) {
  auto fn = lookup_by_result<PICK>();
  stack::set_result(*fn(V(), index_arg(), A()));
}

void do_poke(const int32_t*) {
  auto fn = lookup_by_result<POKE>();
  fn(V(), index_arg(), stack::arg(2), A());
  stack::set_result(*stack::arg(2));
}

void do_put(const int32_t* r) {
  auto fn = lookup_by_result<PUT>();
  stack::set_result(*fn(V(), A(), stack::arg(2), Refinements{r}.has(0)));
}

void do_remove(const int32_t* r) {
  enum { PART, KEY };
  Refinements ref{r};
  lookup_by_result<REMOVE>()(V(), ref.arg(PART), ref.arg(KEY));
}

void do_reverse(const int32_t* r) {
  enum { PART, SKIP };
  Refinements ref{r};
  lookup_by_result<REVERSE>()(V(), ref.arg(PART), ref.arg(SKIP));
}

void do_select(const int32_t* r) {
  enum { PART, ONLY, CASE, SAME, ANY, WITH, SKIP, LAST, REVERSE };
  Refinements ref{r};
  auto fn = lookup_by_result<SELECT>();
  stack::set_result(*fn(V(), A(), ref.arg(PART), ref.has(ONLY), ref.has(CASE), ref.has(SAME),
                        ref.has(ANY), ref.arg(WITH), ref.arg(SKIP), ref.has(LAST),
                        ref.has(REVERSE)));
}

void do_sort(const int32_t* r) {
  enum { CASE, SKIP, COMPARE_WITH, PART, ALL, REVERSE, STABLE };
  Refinements ref{r};
  auto fn = lookup_by_result<SORT>();
  stack::set_result(*fn(V(), ref.has(CASE), ref.arg(SKIP), ref.arg(COMPARE_WITH), ref.arg(PART),
                        ref.has(ALL), ref.has(REVERSE), ref.has(STABLE)));
}

void do_swap(const int32_t*) { lookup_by_result<SWAP>()(V(), A()); }

void do_take(const int32_t* r) {
  enum { PART, DEEP, LAST };
  Refinements ref{r};
  auto fn = lookup_by_result<TAKE>();
  stack::set_result(*fn(V(), ref.arg(PART), ref.has(DEEP), ref.has(LAST)));
}

void do_trim(const int32_t* r) {
  enum { HEAD, TAIL, AUTO, LINES, ALL, WITH };
  Refinements ref{r};
  lookup_by_result<TRIM>()(V(), ref.has(HEAD), ref.has(TAIL), ref.has(AUTO), ref.has(LINES),
                           ref.has(ALL), ref.arg(WITH));
}

// modify's result is its target, whatever the implementation returns.
void do_modify(const int32_t* r) {
  lookup_by_result<MODIFY>()(V(), A(), stack::arg(2), Refinements{r}.has(0));
}

void do_open(const int32_t* r) {
  enum { NEW, READ, WRITE, SEEK, ALLOW };
  Refinements ref{r};
  auto fn = lookup_by_result<OPEN>();
  stack::set_result(*fn(V(), ref.has(NEW), ref.has(READ), ref.has(WRITE), ref.has(SEEK),
                        ref.arg(ALLOW)));
}

void do_read(const int32_t* r) {
  enum { PART, SEEK, BINARY, LINES, INFO, AS };
  Refinements ref{r};
  auto fn = lookup_by_result<READ>();
  stack::set_result(*fn(V(), ref.arg(PART), ref.arg(SEEK), ref.has(BINARY), ref.has(LINES),
                        ref.has(INFO), ref.arg(AS)));
}

void do_rename(const int32_t*) { stack::set_result(*lookup_by_result<RENAME>()(V(), A())); }

void do_write(const int32_t* r) {
  enum { BINARY, LINES, INFO, APPEND_TO, PART, SEEK, ALLOW, AS };
  Refinements ref{r};
  auto fn = lookup_by_result<WRITE>();
  stack::set_result(*fn(V(), A(), ref.has(BINARY), ref.has(LINES), ref.has(INFO),
                        ref.has(APPEND_TO), ref.arg(PART), ref.arg(SEEK), ref.arg(ALLOW),
                        ref.arg(AS)));
}

// --- Fast-path helpers ---------------------------------------------------------------------------

// Runs the slot's dispatcher in a native frame named by `word` on copies of the operands; the
// result becomes the newest cell. The one refinement position given is the path step's `set`,
// absent; the other slots called here have no refinements.
Cell* call_in_frame(const Cell& word, Slot slot, std::initializer_list<Cell> operands) {
  static constexpr int32_t kNoSet[] = {-1};
  frames::mark_native(word);
  for (const Cell& operand : operands) stack::push_copy(operand);
  dispatcher(slot)(kNoSet);
  frames::unwind();
  return stack::top_cell();
}

bool both_integers(const Cell& a, const Cell& b) {
  return cell::type_of(a) == TYPE_INTEGER && cell::type_of(b) == TYPE_INTEGER;
}

// The arithmetic compiled code does without the action: add, subtract and multiply of two
// integer!s (overflowing to float!) or two float!s, and the bitwise operations of two integer!s.
std::optional<Cell> fast_math(int32_t op, const Cell& first, const Cell& second) {
  if (both_integers(first, second)) return integer_math(op, first, second);
  if (cell::type_of(first) != TYPE_FLOAT || cell::type_of(second) != TYPE_FLOAT) {
    return std::nullopt;
  }
  double a = float_::get(first), b = float_::get(second);
  switch (op) {
    case integer::ADD: return float_::make(a + b);
    case integer::SUBTRACT: return float_::make(a - b);
    case integer::MULTIPLY: return float_::make(a * b);
    default: return std::nullopt;
  }
}

bool compare_truth(int32_t op, const Cell& word, const Cell& first, const Cell& second) {
  if (both_integers(first, second)) {
    auto truth = integer_compare(op, integer::get_value(first), integer::get_value(second));
    if (truth) return *truth;
  }
  frames::mark_native(word);
  stack::push_copy(first);
  stack::push_copy(second);
  compare_op(op);
  bool truth = logic::value_of(*stack::arg(0)) != 0;
  frames::unwind();
  stack::pop_cells(1);
  return truth;
}

}  // namespace

// --- Lookup --------------------------------------------------------------------------------------

action::Fn<EVAL_PATH> lookup_for_path(const Cell& value, const Cell* path, const Cell& element,
                                      int32_t index) {
  if (auto fn = datatype::lookup<EVAL_PATH>(cell::type_of(value))) return fn;
  Cell type{TYPE_DATATYPE, cell::type_of(value), 0, 0};
  if (!path) rt::fire_error("script", "bad-path-type2", &element, &type);
  Cell whole = *path;  // the path cell may lie in a buffer that the copy moves
  Cell* reached = block::push_clone(whole, false, false);
  block::set_tail_index(*reached, std::clamp(index + 1, 0, block::rest_length(*reached)));
  rt::fire_error("script", "bad-path-type", &whole, &type, reached);
}

int32_t index_arg() {
  const Cell& index = *stack::arg(1);
  switch (cell::type_of(index)) {
    case TYPE_INTEGER: case TYPE_CHAR: return static_cast<int32_t>(index.w2);
    case TYPE_LOGIC: return logic::value_of(index) ? 1 : 2;
    default: return 0;
  }
}

// --- Comparison ----------------------------------------------------------------------------------

void compare_op(int32_t op) { logic::set_result(datatype::compare(V(), A(), op)); }

// --- Integer operations without a call -----------------------------------------------------------

std::optional<Cell> integer_math(int32_t op, const Cell& first, const Cell& second) {
  const int32_t a = integer::get_value(first), b = integer::get_value(second);
  // Division and remainder by 0, and of -2147483648 by -1, raise their errors in the action.
  if ((op == integer::DIVIDE || op == integer::REMAINDER) &&
      (b == 0 || (b == -1 && a == INT32_MIN))) {
    return std::nullopt;
  }
  Cell result = integer::make(0);
  integer::do_math(a, b, integer::Op(op), &result);
  return result;
}

std::optional<bool> integer_compare(int32_t op, int32_t a, int32_t b) {
  switch (op) {
    case EQUAL: case STRICT_EQUAL: return a == b;
    case NOT_EQUAL: return a != b;
    case LESSER: return a < b;
    case LESSER_OR_EQUAL: return a <= b;
    case GREATER: return a > b;
    case GREATER_OR_EQUAL: return a >= b;
    default: return std::nullopt;
  }
}

// --- Direct calls --------------------------------------------------------------------------------

Cell* call_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grandparent,
                     Cell* previous, int32_t index, bool case_flag, bool get, bool last,
                     bool notify) {
  auto fn = lookup_for_path(*parent, path, *element, index);
  return fn(parent, element, value, path, grandparent, previous, index, case_flag, get, last,
            notify);
}

// --- Compiled fast paths -------------------------------------------------------------------------

Cell* math_push(int32_t op, const Cell& word, const Cell& first, const Cell& second) {
  if (auto fast = fast_math(op, first, second)) return stack::push_copy(*fast);
  return call_in_frame(word, integer::slot_of(integer::Op(op)), {first, second});
}

Cell* math_int_push(int32_t op, const Cell& word, const Cell& first, int32_t k) {
  return math_push(op, word, first, integer::make(k));
}

Cell* math_top(int32_t op, const Cell& word, const Cell& second) {
  const Cell first = *stack::top_cell();
  const Cell operand = second;  // may be the cell about to be reused
  stack::pop_cells(1);
  return math_push(op, word, first, operand);
}

Cell* math_top_int(int32_t op, const Cell& word, int32_t k) {
  return math_top(op, word, integer::make(k));
}

Cell* compare_push(int32_t op, const Cell& word, const Cell& first, const Cell& second) {
  return logic::push(compare_truth(op, word, first, second));
}

Cell* compare_int_push(int32_t op, const Cell& word, const Cell& first, int32_t k) {
  return compare_push(op, word, first, integer::make(k));
}

Cell* compare_top(int32_t op, const Cell& word, const Cell& second) {
  Cell* newest = stack::top_cell();
  *newest = compare_truth(op, word, *newest, second) ? constants::true_value
                                                      : constants::false_value;
  return newest;
}

Cell* compare_top_int(int32_t op, const Cell& word, int32_t k) {
  return compare_top(op, word, integer::make(k));
}

bool compare_test(int32_t op, const Cell& word, const Cell& first, const Cell& second,
                  bool negate) {
  return compare_truth(op, word, first, second) != negate;
}

bool compare_int_test(int32_t op, const Cell& word, const Cell& first, int32_t k, bool negate) {
  return compare_test(op, word, first, integer::make(k), negate);
}

void compare_set_result(int32_t op, const Cell& word, const Cell& first, const Cell& second) {
  logic::set_result(compare_truth(op, word, first, second));
}

void compare_int_set_result(int32_t op, const Cell& word, const Cell& first, int32_t k) {
  compare_set_result(op, word, first, integer::make(k));
}

Cell* pick_int_push(const Cell& value, int32_t index, const Cell& word) {
  if (cell::type_of(value) != TYPE_BLOCK) {
    return call_in_frame(word, EVAL_PATH, {value, integer::make(index)});
  }
  int32_t head = std::max(static_cast<int32_t>(value.w1), 0);  // before the start: the start
  if (index < 1 || index > series::buffer_length(value) - head) return none::push();
  return stack::push_copy(*block::cell_at(value, head + index - 1));
}

Cell* navigate_push(const Cell& value, int32_t op, const Cell& word) {
  static constexpr Slot kSlots[] = {LENGTH_Q, INDEX_Q, HEAD_Q, TAIL_Q, NEXT, BACK, HEAD, TAIL};
  Slot slot = kSlots[op - NAV_LENGTH_Q];
  if (cell::type_of(value) != TYPE_BLOCK) return call_in_frame(word, slot, {value});
  // A block's navigation cannot fail, so it needs no frame record: only the arguments base
  // moves to the pushed copy for the time of the call.
  Cell* result = stack::push_copy(value);
  Cell* saved_args = stack::args;
  stack::args = result;
  dispatcher(slot)(nullptr);
  stack::args = saved_args;
  stack::top = result + 1;
  return result;
}

// --- Registration --------------------------------------------------------------------------------

void register_dispatchers(std::span<const Dispatcher> entries) {
  std::copy(entries.begin(), entries.end(), dispatchers);
}

void init() {
  static constexpr Dispatcher kEntries[] = {
      make_or_to<MAKE>, do_random, do_reflect, make_or_to<TO>, do_form, do_mold, do_eval_path,
      do_set_path, do_compare, on_frame<ABSOLUTE>, on_frame<ADD>, on_frame<DIVIDE>,
      on_frame<MULTIPLY>, on_frame<NEGATE>, on_frame<POWER>, on_frame<REMAINDER>, do_round,
      on_frame<SUBTRACT>, parity<EVEN_Q>, parity<ODD_Q>, on_frame<AND_T>, value_returns<COMPLEMENT>,
      on_frame<OR_T>, on_frame<XOR_T>, edit_series<APPEND>, on_frame<AT>, on_frame<BACK>,
      edit_series<CHANGE>, do_clear, do_copy, do_find, on_frame<HEAD>, on_frame<HEAD_Q>,
      on_frame<INDEX_Q>, edit_series<INSERT>, do_length, do_move, on_frame<NEXT>, do_pick, do_poke,
      do_put, do_remove, do_reverse, do_select, do_sort, on_frame<SKIP>, do_swap, on_frame<TAIL>,
      on_frame<TAIL_Q>, do_take, do_trim, value_returns<CREATE>, value_returns<CLOSE>,
      value_returns<DELETE>, do_modify, do_open, value_returns<OPEN_Q>, value_returns<QUERY>,
      do_read, do_rename, value_returns<UPDATE>, do_write,
  };
  static_assert(std::size(kEntries) == action::kSlotCount);
  register_dispatchers(kEntries);
}

}  // namespace dispatch
