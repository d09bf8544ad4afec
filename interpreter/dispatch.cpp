// Action dispatch: one dispatcher per action slot reads the frame's cells and refinement
// positions, looks the implementation up by the first argument's type and calls it with the
// operands its slot signature names, then places the result in stack::arg(0). Relies on the
// rooting rule (runtime/gc.h): operands live on the data stack, which never moves, and a cell an
// implementation returns is copied into the result before anything else can allocate.
#include "interpreter/dispatch.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/integer.h"
#include "datatypes/port.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "interpreter/call.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
#include "runtime/throw.h"

namespace dispatch {

using namespace action;

namespace {

// Refinement positions as the dispatchers read them.
struct Refinements {
  const int32_t* positions;
  bool has(int i) const { return positions[i] >= 0; }
  Cell* arg(int i) const { return has(i) ? stack::arg(positions[i]) : nullptr; }
};

inline Cell* V() { return stack::arg(0); }
inline Cell* A() { return stack::arg(1); }

// A series position past its tail reads as the tail.
void clamp_to_tail(Cell& value) {
  cell::set_series_index(value, std::min(cell::series_index(value),
                                         static_cast<uint32_t>(series::buffer_length(value))));
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
  if (type == TYPE_DATATYPE) type = cell::datatype_id(*V());
  auto fn = datatype::resolve<S>(type, *V());
  stack::set_result(*fn(V(), A(), type));
}

void do_random(const int32_t* r) {
  enum { SEED, SECURE, ONLY };
  Refinements ref{r};
  lookup_by_result<RANDOM>()(
      V(), {.seed = ref.has(SEED), .secure = ref.has(SECURE), .only = ref.has(ONLY)});
}

void do_reflect(const int32_t*) { lookup_by_result<REFLECT>()(V(), word::symbol_of(*A())); }

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
    if (part) string::truncate_units(cell::series_node(*out), static_cast<uint32_t>(limit));
  }
  stack::set_only_result(*out);
}

void do_form(const int32_t* r) {
  Cell* part = Refinements{r}.arg(0);
  if (!part && cell::type_of(*V()) == TYPE_INTEGER) {  // the common case: digits written at once
    stack::set_only_result(integer::form_new_string(integer::get_value(*V())));
    return;
  }
  emit_text(part, [](Cell* out, Cell* part_arg, int32_t limit) {
    datatype::call_form(V(), out, part_arg, limit);
  });
}

void do_mold(const int32_t* r) {
  enum { ONLY, ALL, FLAT, PART };
  Refinements ref{r};
  emit_text(ref.arg(PART), [&](Cell* out, Cell* part_arg, int32_t limit) {
    MoldOptions options{.only = ref.has(ONLY), .all = ref.has(ALL), .flat = ref.has(FLAT)};
    datatype::call_mold(V(), out, options, part_arg, limit, 0);
  });
}

// The path step with its `set` refinement: the value to store.
void do_eval_path(const int32_t* r) {
  Cell* value = Refinements{r}.arg(0);
  auto fn = lookup_for_path(*V(), nullptr, *A(), -1);
  stack::set_result(*fn(V(), A(), {.value = value, .last = true}));
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
  lookup_by_result<ROUND>()(V(), ref.arg(TO),
                            {.even = ref.has(EVEN), .down = ref.has(DOWN),
                             .half_down = ref.has(HALF_DOWN), .floor = ref.has(FLOOR),
                             .ceiling = ref.has(CEILING), .half_ceiling = ref.has(HALF_CEILING)});
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
  if (types::any_series(type)) {
    if (S == APPEND) cell::set_series_index(*target, 0);
    else if (!kChange || type != TYPE_IMAGE) clamp_to_tail(*target);
  }

  int32_t part = -1;
  if (Cell* part_arg = ref.arg(PART)) {
    // append and insert limit the inserted value, change the changed stretch of the target.
    Cell* limited = kChange ? target : value;
    if (!kChange) {
      if (!types::any_series(cell::type_of(*value))) {
        rt::fire_error("script", "invalid-part", value);
      }
      clamp_to_tail(*value);
    }
    if (cell::type_of(*part_arg) == cell::type_of(*limited) &&
        cell::series_node(*part_arg) == cell::series_node(*limited)) {
      clamp_to_tail(*part_arg);
    }
    part = series::part_count(*limited, *part_arg);
    if (part == 0 || (part < 0 && cell::series_index(*limited) == 0)) return;
    if (part < 0 && kChange && (type == TYPE_PORT || type == TYPE_IMAGE)) {
      part = 0;
    } else if (part < 0) {
      // A part position before the index: the stretch runs from there up to the index.
      // In 64 bits: the most negative count has no 32-bit negation.
      auto back =
          static_cast<int32_t>(std::min<int64_t>(-int64_t(part), cell::series_index(*limited)));
      cell::set_series_index(*limited,
                             cell::series_index(*limited) - static_cast<uint32_t>(back));
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
  stack::set_result(*fn(V(), A(),
                        {.part = ref.arg(PART), .only = ref.has(ONLY),
                         .case_sensitive = ref.has(CASE), .same = ref.has(SAME),
                         .any = ref.has(ANY), .with = ref.arg(WITH), .skip = ref.arg(SKIP),
                         .last = ref.has(LAST), .reverse = ref.has(REVERSE),
                         .tail = ref.has(TAIL), .match = ref.has(MATCH)}));
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
  stack::set_result(*fn(V(), A(),
                        {.part = ref.arg(PART), .only = ref.has(ONLY),
                         .case_sensitive = ref.has(CASE), .same = ref.has(SAME),
                         .any = ref.has(ANY), .with = ref.arg(WITH), .skip = ref.arg(SKIP),
                         .last = ref.has(LAST), .reverse = ref.has(REVERSE)}));
}

void do_sort(const int32_t* r) {
  enum { CASE, SKIP, COMPARE_WITH, PART, ALL, REVERSE, STABLE };
  Refinements ref{r};
  auto fn = lookup_by_result<SORT>();
  stack::set_result(*fn(V(), {.case_sensitive = ref.has(CASE), .skip = ref.arg(SKIP),
                              .compare = ref.arg(COMPARE_WITH), .part = ref.arg(PART),
                              .all = ref.has(ALL), .reverse = ref.has(REVERSE),
                              .stable = ref.has(STABLE)}));
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
  lookup_by_result<TRIM>()(V(), {.head = ref.has(HEAD), .tail = ref.has(TAIL),
                                .auto_ = ref.has(AUTO), .lines = ref.has(LINES),
                                .all = ref.has(ALL), .with = ref.arg(WITH)});
}

// modify's result is its target, whatever the implementation returns.
void do_modify(const int32_t* r) {
  lookup_by_result<MODIFY>()(V(), A(), stack::arg(2), Refinements{r}.has(0));
}

void do_open(const int32_t* r) {
  enum { NEW, READ, WRITE, SEEK, ALLOW };
  Refinements ref{r};
  auto fn = lookup_by_result<OPEN>();
  stack::set_result(*fn(V(), {.new_ = ref.has(NEW), .read = ref.has(READ),
                              .write = ref.has(WRITE), .seek = ref.has(SEEK),
                              .allow = ref.arg(ALLOW)}));
}

void do_read(const int32_t* r) {
  enum { PART, SEEK, BINARY, LINES, INFO, AS };
  Refinements ref{r};
  auto fn = lookup_by_result<READ>();
  stack::set_result(*fn(V(), {.part = ref.arg(PART), .seek = ref.arg(SEEK),
                              .binary = ref.has(BINARY), .lines = ref.has(LINES),
                              .info = ref.has(INFO), .as = ref.arg(AS)}));
}

void do_rename(const int32_t*) { stack::set_result(*lookup_by_result<RENAME>()(V(), A())); }

void do_write(const int32_t* r) {
  enum { BINARY, LINES, INFO, APPEND_TO, PART, SEEK, ALLOW, AS };
  Refinements ref{r};
  auto fn = lookup_by_result<WRITE>();
  stack::set_result(*fn(V(), A(),
                        {.binary = ref.has(BINARY), .lines = ref.has(LINES),
                         .info = ref.has(INFO), .append = ref.has(APPEND_TO),
                         .part = ref.arg(PART), .seek = ref.arg(SEEK), .allow = ref.arg(ALLOW),
                         .as = ref.arg(AS)}));
}

}  // namespace

// --- Lookup --------------------------------------------------------------------------------------

action::Fn<EVAL_PATH> lookup_for_path(const Cell& value, const Cell* path, const Cell& element,
                                      int32_t index) {
  if (auto fn = datatype::lookup<EVAL_PATH>(cell::type_of(value))) return fn;
  Cell type = cell::make_datatype(cell::type_of(value));
  if (!path) rt::fire_error("script", "bad-path-type2", &element, &type);
  Cell whole = *path;  // the path cell may lie in a buffer that the copy moves
  Cell* reached = block::push_clone(whole, false, false);
  block::set_tail_index(*reached, std::clamp(index + 1, 0, block::rest_length(*reached)));
  rt::fire_error("script", "bad-path-type", &whole, &type, reached);
}

int32_t index_arg() {
  const Cell& index = *stack::arg(1);
  switch (cell::type_of(index)) {
    case TYPE_INTEGER: case TYPE_CHAR: return static_cast<int32_t>(cell::value_word(index));
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

Cell* call_eval_path(Cell* parent, Cell* element, const PathStep& step) {
  auto fn = lookup_for_path(*parent, step.path, *element, step.index);
  return fn(parent, element, step);
}

// --- The dispatcher table --------------------------------------------------------------------------

namespace {

// Each slot's dispatcher, by the slot's name.
struct Binding {
  Slot slot;
  Dispatcher dispatcher;
};
constexpr Binding kBindings[] = {
    {MAKE, make_or_to<MAKE>},        {RANDOM, do_random},
    {REFLECT, do_reflect},           {TO, make_or_to<TO>},
    {FORM, do_form},                 {MOLD, do_mold},
    {EVAL_PATH, do_eval_path},       {SET_PATH, do_set_path},
    {COMPARE, do_compare},           {ABSOLUTE, on_frame<ABSOLUTE>},
    {ADD, on_frame<ADD>},            {DIVIDE, on_frame<DIVIDE>},
    {MULTIPLY, on_frame<MULTIPLY>},  {NEGATE, on_frame<NEGATE>},
    {POWER, on_frame<POWER>},        {REMAINDER, on_frame<REMAINDER>},
    {ROUND, do_round},               {SUBTRACT, on_frame<SUBTRACT>},
    {EVEN_Q, parity<EVEN_Q>},        {ODD_Q, parity<ODD_Q>},
    {AND_T, on_frame<AND_T>},        {COMPLEMENT, value_returns<COMPLEMENT>},
    {OR_T, on_frame<OR_T>},          {XOR_T, on_frame<XOR_T>},
    {APPEND, edit_series<APPEND>},   {AT, on_frame<AT>},
    {BACK, on_frame<BACK>},          {CHANGE, edit_series<CHANGE>},
    {CLEAR, do_clear},               {COPY, do_copy},
    {FIND, do_find},                 {HEAD, on_frame<HEAD>},
    {HEAD_Q, on_frame<HEAD_Q>},      {INDEX_Q, on_frame<INDEX_Q>},
    {INSERT, edit_series<INSERT>},   {LENGTH_Q, do_length},
    {MOVE, do_move},                 {NEXT, on_frame<NEXT>},
    {PICK, do_pick},                 {POKE, do_poke},
    {PUT, do_put},                   {REMOVE, do_remove},
    {REVERSE, do_reverse},           {SELECT, do_select},
    {SORT, do_sort},                 {SKIP, on_frame<SKIP>},
    {SWAP, do_swap},                 {TAIL, on_frame<TAIL>},
    {TAIL_Q, on_frame<TAIL_Q>},      {TAKE, do_take},
    {TRIM, do_trim},                 {CREATE, value_returns<CREATE>},
    {CLOSE, value_returns<CLOSE>},   {DELETE, value_returns<DELETE>},
    {MODIFY, do_modify},             {OPEN, do_open},
    {OPEN_Q, value_returns<OPEN_Q>}, {QUERY, value_returns<QUERY>},
    {READ, do_read},                 {RENAME, do_rename},
    {UPDATE, value_returns<UPDATE>}, {WRITE, do_write},
};

// Every slot bound exactly once, whatever the order of the bindings.
constexpr bool binds_every_slot_once() {
  std::array<int, kSlotCount> seen{};
  for (const Binding& b : kBindings) {
    if (b.slot < 1 || b.slot > kSlotCount) return false;
    seen[b.slot - 1]++;
  }
  for (int count : seen) {
    if (count != 1) return false;
  }
  return true;
}
static_assert(binds_every_slot_once(), "each action slot needs exactly one dispatcher");

constexpr std::array<Dispatcher, kSlotCount> plain_dispatchers = [] {
  std::array<Dispatcher, kSlotCount> table{};
  for (const Binding& b : kBindings) table[b.slot - 1] = b.dispatcher;
  return table;
}();

// A port's series and I/O actions go to its scheme's actor with the frame's arguments as they
// were given, not to an implementation of the registry.
template <Slot S>
void port_or_plain(const int32_t* r) {
  if (cell::type_of(*V()) == TYPE_PORT) [[unlikely]] {
    port::forward_frame(S, r);
    return;
  }
  plain_dispatchers[S - 1](r);
}

template <size_t... I>
constexpr std::array<Dispatcher, kSlotCount> with_ports(std::index_sequence<I...>) {
  return {(port::forwarded(Slot(I + 1)) ? port_or_plain<Slot(I + 1)>
                                        : plain_dispatchers[I])...};
}

}  // namespace

constexpr std::array<Dispatcher, kSlotCount> dispatchers =
    with_ports(std::make_index_sequence<kSlotCount>());

}  // namespace dispatch
