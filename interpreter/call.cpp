// Call dispatch and argument gathering. Each callable's spec is read once into an argument cache
// (a block kept in cell 1 of the callable's internal block), in spec order:
//   - a typeset! per parameter, its kind in header bits 20-21 (normal, get-word, lit-word);
//   - a copy of each refinement! but /local (for natives and actions, word 3 holds its ordinal);
//   - last, an integer!: for functions with /local the number of local slots (/local included),
//     for natives and actions with refinements their number.
// `return:` adds nothing, so cache entry #i is word #i of the callable's context, which is how
// a refinement named in a path finds its entry. Relies on datatypes/function.h and native.h for
// the callables' layouts and on interpreter/natives.h for the native table.
#include "interpreter/call.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "interpreter/dispatch.h"
#include "interpreter/frames.h"
#include "interpreter/natives.h"
#include "interpreter/plan.h"
#include "interpreter/routine.h"
#include "interpreter/trace.h"
#include "runtime/alloc.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"
#include "runtime/zero_table.h"

namespace interp {

namespace {

constexpr uint32_t kKindShift = 20;
constexpr uint32_t kKindMask = 0x300000;
enum ParamKind : uint32_t { kNormal = 0, kGet = 1, kLiteral = 2 };
constexpr int32_t kMaxRefinements = 32;
// In word 3 of the cache's block cell: the callable takes only plain arguments, their number;
// and whether a made native's or action's arguments must be brought to its slot's signature.
constexpr uint32_t kPlain = 0x80000000;
constexpr uint32_t kConform = 0x40000000;
constexpr uint32_t kArityMask = 0x3FFFFFFF;
constexpr uint32_t kNotPlain = 0xFFFFFFFF;

using cell::cell_count;
using cell::cells_of;
inline bool is_native_like(uint8_t type) { return type == TYPE_NATIVE || type == TYPE_ACTION; }

// Every callable keeps its spec in word 2 and its internal block in word 3, whose cell 1 holds
// the argument cache (datatypes/function.h, native.h).
static_assert(uint32_t(function::kArgCache) == uint32_t(native::kArgCache));
inline uint32_t spec_of(const Cell& callable) { return native::spec_of(callable); }
inline Cell& cache_cell(const Cell& callable) {
  return cells_of(native::internals_of(callable))[native::kArgCache];
}

// The cache's block cell keeps in word 3 kPlain with the arity, and kConform.
inline uint32_t cache_flags(const Cell& cache) { return cache.w3; }
inline void set_cache_flags(Cell& cache, uint32_t flags) { cache.w3 = flags; }
// A native's or action's refinement entry keeps its ordinal in word 3.
inline uint32_t refinement_ordinal(const Cell& entry) { return entry.w3; }
inline void set_refinement_ordinal(Cell& entry, uint32_t ordinal) { entry.w3 = ordinal; }
// The cache's last entry, an integer!: the local slots (functions) or the refinements (natives
// and actions).
inline uint32_t count_entry_value(const Cell& entry) { return cell::value_word(entry); }

// The context whose words name the callable's parameters.
uint32_t parameter_context(const Cell& callable) {
  return is_native_like(cell::type_of(callable)) ? native::arg_context(callable)
                                                 : function::context_of(callable);
}

// --- Signatures ----------------------------------------------------------------------------------
//
// A native's or action's code reads the arguments and refinement positions that its start-up
// definition declares, and trusts their types. Those definitions are recorded as their slots'
// signatures. A native! or action! made later for a slot may have any spec: its argument types
// are limited to what the slot accepts at the same place, and when its arguments are laid out
// otherwise, each call brings them to the slot's layout (conform_to_signature), or raises no-arg
// naming the slot's argument that the spec does not provide.

enum class SignaturePhase { kOff, kRecording, kSealed };
SignaturePhase signature_phase = SignaturePhase::kOff;

// A copy of the definition's argument cache, and for each entry the symbol of its word. Only
// the kinds of the entries and the typesets' bits are read, so the copy needs no rooting.
struct Signature {
  bool known = false;
  std::vector<Cell> entries;
  std::vector<uint32_t> symbols;
};
Signature native_signatures[native::kNativeSlots];
Signature action_signatures[action::kSlotCount];

Signature& signature_of(const Cell& callable) {
  const uint32_t slot = native::index_of(callable);
  return cell::type_of(callable) == TYPE_ACTION ? action_signatures[slot - 1]
                                                : native_signatures[slot - 1];
}

// Whether the slot runs code: the set-path action slot and the natives not built have none.
bool has_code(const Cell& callable) {
  if (cell::type_of(callable) == TYPE_ACTION) {
    return native::index_of(callable) != uint32_t(action::SET_PATH);
  }
  return natives::entry(int32_t(native::index_of(callable))) != nullptr;
}

// A cache's arguments by group, as ranges of entries: group 0 the mandatory arguments, group k
// those of the k-th refinement.
struct ArgGroup {
  uint32_t first;
  uint32_t count;
};
std::vector<ArgGroup> groups_of(const Cell* entries, uint32_t length) {
  std::vector<ArgGroup> groups{{0, 0}};
  for (uint32_t i = 0; i < length; i++) {
    if (cell::type_of(entries[i]) == TYPE_TYPESET) groups.back().count++;
    if (cell::type_of(entries[i]) == TYPE_REFINEMENT) groups.push_back({i + 1, 0});
  }
  return groups;
}

// Limits each argument of a made native's or action's new cache to the types the slot takes at
// the same place. True when the calls must conform: the spec lays its arguments out otherwise
// than the slot (leaving trailing refinements out is the same layout), or the slot has code but
// no signature.
bool fit_to_signature(const Cell& callable, Cell* entries, uint32_t length) {
  const Signature& signature = signature_of(callable);
  if (!signature.known) return signature_phase == SignaturePhase::kSealed && has_code(callable);
  const auto own = groups_of(entries, length);
  const auto slot = groups_of(signature.entries.data(), uint32_t(signature.entries.size()));
  bool conform = own.size() > slot.size();
  for (size_t k = 0; k < std::min(own.size(), slot.size()); k++) {
    for (uint32_t j = 0; j < std::min(own[k].count, slot[k].count); j++) {
      Cell& typeset = entries[own[k].first + j];
      const Cell& accepted = signature.entries[slot[k].first + j];
      typeset::intersect(typeset, accepted);
    }
    conform |= own[k].count != slot[k].count;
  }
  return conform;
}

void make_arg_cache(const Cell& callable) {
  const uint32_t spec = spec_of(callable);
  const bool native_like = is_native_like(cell::type_of(callable));
  // Not on the data stack: the frame being gathered owns its newest cells.
  const uint32_t cache_node = alloc::new_cell_series(cell_count(spec) + 1);
  gc::Guard guard(cache_node);
  const Cell cache_block = cell::make_series(TYPE_BLOCK, cache_node);
  uint32_t entries = 0;
  uint32_t ordinal = 0;
  bool local_seen = false;
  for (uint32_t i = 0; i < cell_count(spec) && !local_seen; i++) {
    const Cell entry = cells_of(spec)[i];
    switch (cell::type_of(entry)) {
      case TYPE_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: {
        const Cell* next = i + 1 < cell_count(spec) ? &cells_of(spec)[i + 1] : nullptr;
        Cell* typeset = next && cell::type_of(*next) == TYPE_BLOCK && block::rest_length(*next)
                            ? typeset::append_from_spec(cache_block, Cell(*next))
                            : typeset::append_all_but_unset(cache_block);
        uint32_t kind = cell::type_of(entry) == TYPE_GET_WORD   ? kGet
                        : cell::type_of(entry) == TYPE_LIT_WORD ? kLiteral
                                                                 : kNormal;
        typeset->header |= kind << kKindShift;
        entries++;
        break;
      }
      case TYPE_REFINEMENT:
        if (symbol::same_canonical(word::symbol_of(entry),
                                   word::symbol_of(runtime_words::refinements.local))) {
          local_seen = true;
          break;
        }
        {
          Cell* copy = cell::append_new_cell(&cache_block);
          *copy = entry;
          if (native_like) set_refinement_ordinal(*copy, ++ordinal);
        }
        entries++;
        break;
      case TYPE_SET_WORD:
        if (!symbol::same_canonical(word::symbol_of(entry),
                                    word::symbol_of(runtime_words::words.return_))) {
          rt::fire_error("script", "bad-func-def", &entry);
        }
        break;
      default:
        break;
    }
  }
  bool plain = !local_seen && !ordinal;
  if (local_seen) {
    uint32_t slots = context::word_count(parameter_context(callable)) - entries;
    *cell::append_new_cell(&cache_block) = Cell{TYPE_INTEGER, 0, slots, 0};
  } else if (native_like && ordinal) {
    *cell::append_new_cell(&cache_block) = Cell{TYPE_INTEGER, 0, ordinal, 0};
  }
  for (uint32_t i = 0; plain && i < cell_count(cache_node); i++) {
    const Cell& entry = cells_of(cache_node)[i];
    plain = cell::type_of(entry) == TYPE_TYPESET && !(entry.header & kKindMask);
  }
  Cell cached = cache_block;
  if (plain) set_cache_flags(cached, kPlain | entries);
  if (native_like && signature_phase != SignaturePhase::kOff &&
      fit_to_signature(callable, cells_of(cache_node), cell_count(cache_node))) {
    set_cache_flags(cached, cache_flags(cached) | kConform);
  }
  cache_cell(callable) = cached;
}

// The cache's block cell, built on first use.
Cell arg_cache(const Cell& callable) {
  const Cell& cached = cache_cell(callable);
  if (cell::type_of(cached) == TYPE_BLOCK) return cached;
  make_arg_cache(callable);
  return cache_cell(callable);
}

// Whether the callable takes only plain evaluated arguments (no refinements, locals, get-word or
// lit-word parameters), and how many, as the cache's cell records it.
uint32_t plain_arity(const Cell& cache) {
  return cache_flags(cache) & kPlain ? cache_flags(cache) & kArityMask : kNotPlain;
}

// The state of one call's gathering.
struct Gathering {
  const Cell& callable;
  Feed& feed;
  const CallSite& site;
  const Cell& name;
  uint32_t cache;
  bool native_like;
  uint32_t count = 0;  // argument cells gathered (natives and actions)
  int32_t* positions;  // natives and actions: one per refinement
};

Cell parameter_word(const Gathering& g, uint32_t index) {
  return *context::word_at(parameter_context(g.callable), index);
}

[[noreturn, gnu::noinline]] void fire_expect_arg(const Gathering& g, uint32_t index, uint8_t type) {
  Cell datatype = cell::make_datatype(type);
  Cell word = parameter_word(g, index);
  Cell name = g.name;
  rt::fire_error("script", "expect-arg", &name, &datatype, &word);
}

inline void check_newest(const Gathering& g, uint32_t index) {
  const Cell& typeset = cells_of(g.cache)[index];
  uint8_t type = cell::type_of(*stack::top_cell());
  if (!cell::typeset_has(typeset, type)) fire_expect_arg(g, index, type);
}

bool literal_accepts_unset(const Cell& typeset) {
  return ((typeset.header & kKindMask) >> kKindShift) == kLiteral &&
         cell::typeset_has(typeset, TYPE_UNSET);
}

// Pushes the next argument for parameter #index from the feed.
void fetch_argument(Gathering& g, uint32_t index) {
  const Cell typeset = cells_of(g.cache)[index];
  Feed& feed = g.feed;
  const Cell* at = feed_cell(feed);
  if (!at) {
    if (g.site.mode & (kApplyAll | kApply)) {
      stack::push_copy(constants::none);
      return;
    }
    if (literal_accepts_unset(typeset)) {
      stack::push_copy(constants::unset);
      return;
    }
    Cell name = g.name;
    Cell word = parameter_word(g, index);
    rt::fire_error("script", "no-arg", &name, &word);
  }
  switch ((typeset.header & kKindMask) >> kKindShift) {
    case kGet:
      stack::push_copy(*at);
      feed.index++;
      return;
    case kLiteral:
      switch (cell::type_of(*at)) {
        case TYPE_PAREN: {
          Cell paren = *at;
          feed.index++;
          frames::mark_interp_native(runtime_words::words.frame_anon);
          eval_block(paren, true);
          if (pending) return;
          frames::unwind();
          return;
        }
        case TYPE_GET_WORD:
          stack::push_copy(*context::word_value_cell(*at));
          feed.index++;
          return;
        case TYPE_GET_PATH: {
          Cell path = *at;
          feed.index++;
          gc::Guard guard(path);
          get_path(path, false);
          return;
        }
        default:
          stack::push_copy(*at);
          feed.index++;
          return;
      }
    default:
      if (g.site.mode & kSafer) {
        Feed single{feed.block, feed.index, feed.index + 1};
        eval_expression(single, {.no_infix = true, .push = true});
        feed.index = single.index;
      } else if (trace::events || !quick_expression(feed, g.site.infix)) {
        eval_expression(feed, {.no_infix = g.site.infix, .push = true});
      }
  }
}

// The same; while tracing, a literal or get-word parameter's argument, which no expression
// delivers, fires fetch and push around its push.
void fetch(Gathering& g, uint32_t index) {
  if (!(trace::events & (trace::kFetch | trace::kPush)) ||
      !(cells_of(g.cache)[index].header & kKindMask)) [[likely]] {
    return fetch_argument(g, index);
  }
  const uint32_t position = g.feed.index;
  trace::fire_if(trace::kFetch, &g.feed.block, position, nullptr, feed_cell(g.feed));
  fetch_argument(g, index);
  if (pending) return;
  trace::fire_if(trace::kPush, &g.feed.block, position, nullptr, stack::top - 1);
}

// Skips an unused refinement's argument: evaluated and dropped, or with /safer not evaluated.
void skip_argument(Gathering& g, uint32_t index) {
  if (g.site.mode & kSafer) {
    if (feed_cell(g.feed)) g.feed.index++;
    return;
  }
  fetch(g, index);
  if (pending) return;
  stack::pop_cells(1);
}

bool is_parameter(const Cell& entry) { return cell::type_of(entry) == TYPE_TYPESET; }

// The arguments of the refinement at cache entry #index, when it is used.
void gather_refinement_args(Gathering& g, uint32_t index, bool used) {
  for (uint32_t j = index + 1; j < cell_count(g.cache) && is_parameter(cells_of(g.cache)[j]);
       j++) {
    if (!used) {
      skip_argument(g, j);
      if (pending) return;
      continue;
    }
    fetch(g, j);
    if (pending) return;
    check_newest(g, j);
    if (g.native_like) {
      g.count++;
    } else {
      *stack::arg(j) = *stack::top_cell();
      stack::pop_cells(1);
    }
  }
}

// A native's or action's refinement is used: its position is the number of argument cells
// gathered before its own. Only slots without code (whose specs are not checked) can name more
// refinements than the positions hold.
void record_position(Gathering& g, uint32_t ordinal) {
  if (ordinal <= uint32_t(kMaxRefinements)) g.positions[ordinal - 1] = int32_t(g.count);
}

// Cache entry of the refinement an element names, or -1.
int32_t find_refinement(const Gathering& g, Cell* element) {
  uint32_t context = parameter_context(g.callable);
  int32_t index;
  if (cell::type_of(*element) == TYPE_WORD) {
    if (word::context_of(*element) == context && word::index_of(*element) != context::kUnresolved) {
      index = int32_t(word::index_of(*element));
    } else {
      index = context::find_symbol(context, word::symbol_of(*element), true);
      if (index >= 0) {  // bound for the next call through this path
        word::bind_to(*element, context, uint32_t(index));
      }
    }
  } else {
    index = context::find_symbol(context, word::symbol_of(*element), false);
  }
  if (index < 0 || uint32_t(index) >= cell_count(g.cache) ||
      cell::type_of(cells_of(g.cache)[index]) != TYPE_REFINEMENT) {
    return -1;
  }
  return index;
}

bool is_refinement_source(uint8_t type, uint32_t mode) {
  if (type == TYPE_GET_WORD) return true;
  return (mode & kApply) ? type == TYPE_REFINEMENT : type == TYPE_WORD;
}

// The refinements given by name: the path's elements, or in apply mode the refinement! values of
// the argument block, each followed by an expression for its truth.
void gather_named_refinements(Gathering& g, bool from_feed);

void gather_named_refinements(Gathering& g) {
  if (g.site.path) gather_named_refinements(g, false);
  if (pending) return;
  if (g.site.mode & kApply) gather_named_refinements(g, true);
}

void gather_named_refinements(Gathering& g, bool from_feed) {
  const Cell path = g.site.path ? *g.site.path : Cell{};
  uint32_t element_index = g.site.path ? cell::series_index(path) + g.site.first_refinement : 0;
  uint32_t seen[kMaxRefinements];
  int32_t seen_count = 0;
  const bool has_refinements = [&] {
    for (uint32_t i = 0; i < cell_count(g.cache); i++) {
      if (cell::type_of(cells_of(g.cache)[i]) == TYPE_REFINEMENT) return true;
    }
    return false;
  }();
  for (;;) {
    Cell* element;
    if (from_feed) {
      element = const_cast<Cell*>(feed_cell(g.feed));
    } else {
      element = element_index < cell_count(cell::series_node(path))
                    ? &cells_of(cell::series_node(path))[element_index]
                    : nullptr;
    }
    if (!element) return;
    if (!is_refinement_source(cell::type_of(*element), from_feed ? kApply : kOrdinary)) {
      if ((g.site.mode & (kApply | kApplyAll)) && !has_refinements) return;
      rt::fire_error("script", "bad-refine", element);
    }
    Cell given = *element;
    int32_t index = find_refinement(g, element);
    if (index < 0) {
      Cell name = g.name;
      rt::fire_error("script", "no-refine", &name, &given);
    }
    for (int32_t i = 0; i < seen_count; i++) {
      if (seen[i] == uint32_t(index)) rt::fire_error("script", "dup-refine", &path);
    }
    if (seen_count < kMaxRefinements) seen[seen_count++] = uint32_t(index);
    bool used = true;
    if (from_feed) {
      g.feed.index++;
      if (!feed_cell(g.feed)) {
        used = false;
      } else {
        Feed truth = g.feed;
        if (g.site.mode & kSafer) truth.limit = truth.index + 1;
        eval_expression(truth, {.push = true});
        if (pending) return;
        g.feed.index = truth.index;
        used = !logic::falsy(*stack::top_cell());
        stack::pop_cells(1);
      }
    } else {
      element_index++;
      if (cell::type_of(given) == TYPE_GET_WORD) {
        const Cell* value = context::word_value_cell(given);
        if (cell::type_of(*value) == TYPE_UNSET) rt::fire_error("script", "no-value", &given);
        used = !logic::falsy(*value);
      }
    }
    if (g.native_like) {
      if (used) record_position(g, refinement_ordinal(cells_of(g.cache)[index]));
    } else {
      *stack::arg(index) = logic::make(used);
    }
    gather_refinement_args(g, uint32_t(index), used);
    if (pending) return;
  }
}

void gather_args(Gathering& g) {
  const uint32_t mode = g.site.mode;
  uint32_t first = 0;
  if (g.site.infix) {  // the left operand is already the frame's first cell
    check_newest(g, 0);
    g.count = 1;
    first = 1;
  }
  bool active = true;
  const uint32_t entries = cell_count(g.cache);
  for (uint32_t i = first; i < entries; i++) {
    const Cell entry = cells_of(g.cache)[i];
    switch (cell::type_of(entry)) {
      case TYPE_TYPESET:
        if (active) {
          fetch(g, i);
          if (pending) return;
          check_newest(g, i);
          g.count++;
        } else {
          if (!g.native_like) stack::push_copy(constants::none);
          if (mode & kApplyAll) {
            skip_argument(g, i);
            if (pending) return;
          }
        }
        break;
      case TYPE_REFINEMENT:
        if (mode & kApplyAll) {
          const Cell* at = feed_cell(g.feed);
          if (at) {
            Feed truth = g.feed;
            if (mode & kSafer) truth.limit = truth.index + 1;
            eval_expression(truth, {.push = true});
            if (pending) return;
            g.feed.index = truth.index;
          } else {
            stack::push_copy(constants::none);
          }
          uint8_t type = cell::type_of(*stack::top_cell());
          if (type != TYPE_LOGIC && type != TYPE_NONE) fire_expect_arg(g, i, type);
          active = logic::value_of(*stack::top_cell()) != 0 && type == TYPE_LOGIC;
          if (g.native_like) {
            stack::pop_cells(1);
            if (active) record_position(g, refinement_ordinal(entry));
          } else {
            *stack::top_cell() = logic::make(active);
          }
        } else {
          if (!g.native_like) stack::push_copy(logic::make(false));
          active = false;
        }
        break;
      case TYPE_INTEGER:
        if (!g.native_like) {
          if (!(mode & kApplyAll)) gather_named_refinements(g);
          if (pending) return;
          stack::push_copy(logic::make(false));
          for (uint32_t k = 1; k < count_entry_value(entry); k++) stack::push_copy(constants::none);
          return;
        }
        break;
      default:
        break;
    }
  }
  if (!(mode & kApplyAll)) gather_named_refinements(g);
}

// The frame of a made native or action whose spec lays its arguments out otherwise than its
// slot: brought to the layout of the same call through the slot's own definition. The slot's
// arguments come first, then those of each used refinement in the order given; arguments and
// refinements the slot does not take are dropped. An argument the slot reads but the spec does
// not provide raises no-arg with the slot's name for it.
void conform_to_signature(Gathering& g) {
  const Signature& signature = signature_of(g.callable);
  // Unreached: every native with code has its start-up definition (the build checks the lists),
  // and the library defines no natives of its own.
  if (!signature.known) cell::fire_not_done();
  const auto own = groups_of(cells_of(g.cache), cell_count(g.cache));
  const auto slot = groups_of(signature.entries.data(), uint32_t(signature.entries.size()));
  auto fire_missing = [&](size_t group, uint32_t present) {
    Cell name = g.name;
    Cell* word = word::push_global(signature.symbols[slot[group].first + present]);
    rt::fire_error("script", "no-arg", &name, word);
  };
  if (own[0].count < slot[0].count) fire_missing(0, own[0].count);
  struct Used {
    int32_t position;
    size_t group;
  };
  std::vector<Used> used;
  for (size_t k = 1; k < own.size() && k <= size_t(kMaxRefinements); k++) {
    const int32_t position = g.positions[k - 1];
    if (position < 0) continue;
    if (k >= slot.size()) {
      g.positions[k - 1] = -1;
      continue;
    }
    if (own[k].count < slot[k].count) fire_missing(k, own[k].count);
    used.push_back({position, k});
  }
  std::stable_sort(used.begin(), used.end(),
                   [](const Used& a, const Used& b) { return a.position < b.position; });
  // Nothing here allocates from the collected heap while the cells are out of the frame.
  std::vector<Cell> cells(stack::args, stack::args + slot[0].count);
  for (const Used& u : used) {
    g.positions[u.group - 1] = int32_t(cells.size());
    cells.insert(cells.end(), stack::args + u.position,
                 stack::args + u.position + slot[u.group].count);
  }
  std::copy(cells.begin(), cells.end(), stack::args);
  stack::top = stack::args + cells.size();
  g.count = uint32_t(cells.size());
}

// The natives and actions that never change the cells of a block themselves (the code some of
// them run does so through calls of its own, which count): running them keeps every plan valid.
// (reduce/into writes its target: reduce counts that itself.)
struct PlanKeepers {
  bool natives[native::kNativeSlots + 1] = {};
  bool actions[action::kSlotCount + 1] = {};
  PlanKeepers() {
    for (int32_t index : {natives::IF, natives::UNLESS, natives::EITHER, natives::ANY,
                          natives::ALL, natives::WHILE, natives::UNTIL, natives::LOOP,
                          natives::REPEAT, natives::FOREVER, natives::FOREACH,
                          natives::FORALL, natives::EQUAL_Q,
                          natives::NOT_EQUAL_Q, natives::STRICT_EQUAL_Q, natives::LESSER_Q,
                          natives::GREATER_Q, natives::LESSER_OR_EQUAL_Q,
                          natives::GREATER_OR_EQUAL_Q, natives::SAME_Q, natives::NOT,
                          natives::TYPE_Q, natives::PRINT, natives::PRIN,
                          natives::REDUCE, natives::BREAK, natives::CONTINUE, natives::EXIT,
                          natives::RETURN, natives::THROW, natives::CATCH, natives::TRY,
                          natives::SWITCH, natives::CASE, natives::NEGATIVE_Q,
                          natives::POSITIVE_Q, natives::SIGN_Q, natives::MAX, natives::MIN,
                          natives::SHIFT, natives::SINE, natives::COSINE, natives::TANGENT,
                          natives::ARCSINE, natives::ARCCOSINE, natives::ARCTANGENT,
                          natives::NAN_Q, natives::LOG_E, natives::EXP,
                          natives::SQUARE_ROOT, natives::VALUE_Q}) {
      natives[index] = true;
    }
    for (int32_t slot : {action::ADD, action::SUBTRACT, action::MULTIPLY, action::DIVIDE,
                         action::REMAINDER, action::NEGATE, action::ABSOLUTE, action::POWER,
                         action::EVEN_Q, action::ODD_Q, action::LENGTH_Q, action::INDEX_Q,
                         action::HEAD_Q, action::TAIL_Q, action::FORM, action::MOLD,
                         action::SELECT, action::FIND, action::PICK, action::COPY, action::AT,
                         action::SKIP, action::NEXT, action::BACK, action::HEAD, action::TAIL}) {
      actions[slot] = true;
    }
  }
};
const PlanKeepers plan_keepers;

// An action changes at most the series it is given: of those, only a block-like one can be code
// (blocks and parens; a map!, a string or a number is not), and only its node is counted as
// written.
void note_action_writes(const Cell* from, const Cell* to) {
  for (; from < to; ++from) {
    if (types::any_block(cell::type_of(*from))) plan::bump_node(cell::series_node(*from));
  }
}

void run_native_entry(const Cell& callable, const int32_t* positions) {
  const uint32_t slot = native::index_of(callable);
  if (cell::type_of(callable) == TYPE_ACTION) {
    if (!plan_keepers.actions[slot]) note_action_writes(stack::args, stack::top);
  } else if (!plan_keepers.natives[slot]) {
    plan::bump();
  }
  int32_t index = int32_t(native::index_of(callable));
  // An action may run a change handler, which throws its exits.
  absorb_exits([&] {
    if (cell::type_of(callable) == TYPE_ACTION) {
      dispatch::dispatchers[index - 1](positions);
    } else {
      natives::Native entry = natives::entry(index);
      // Every native of the list is built; only a native! made for a slot past the list's last
      // one reaches an empty entry: not-done is its defined answer.
      if (!entry) cell::fire_not_done();
      entry(positions);
    }
  });
}

void run_native(const Cell& callable, const Gathering& g) { run_native_entry(callable, g.positions); }

// --- The lean call ----------------------------------------------------------------------------
//
// Most calls take plain evaluated arguments only. For those, what the argument cache says is
// copied once per callable into a CallInfo (the arity, one type mask per argument, a function's
// local slots), kept in a side table by the callable's internal block and dropped by the
// collector with it. The call then needs no gathering state: one frame (which holds the
// callable), the arguments evaluated straight into it and checked by one bit test each.

// The entries' memory is never given back, only reused for other callables (a dropped entry's
// callable is cleared): a plan may keep an entry's address and check it still describes its
// callable.
std::deque<CallInfo> info_pool;
std::vector<CallInfo*> free_infos;
rt::ZeroTable<CallInfo*> call_infos;  // by the callable's internal block node
std::vector<uint32_t> info_nodes;   // the nodes that have one

void drop_dead_infos() {
  gc::keep_marked(info_nodes, [](uint32_t node) {
    *call_infos[node] = CallInfo{};
    free_infos.push_back(call_infos[node]);
    call_infos[node] = nullptr;
  });
}

const CallInfo kNotLean{};

uint64_t type_mask(const Cell& typeset) {
  uint64_t mask = 0;
  for (uint32_t type = 0; type < TYPE_COUNT; type++) {
    if (cell::typeset_has(typeset, uint8_t(type))) mask |= uint64_t(1) << type;
  }
  return mask;
}

// May allocate (the argument cache is built on first use); the callable is rooted by the caller.
[[gnu::noinline]] const CallInfo& build_call_info(const Cell& callable) {
  const Cell cache = arg_cache(callable);
  const uint32_t node = native::internals_of(callable);
  call_infos.grow_to(node + 1);
  // An entry is never replaced while its node lives (a running call reads it): another value
  // with the same internal block, which nothing makes, would take the general call.
  if (call_infos[node]) return kNotLean;
  if (info_nodes.empty()) gc::add_sweep_hook(drop_dead_infos);
  info_nodes.push_back(node);
  if (free_infos.empty()) {
    call_infos[node] = &info_pool.emplace_back();
  } else {
    call_infos[node] = free_infos.back();
    free_infos.pop_back();
  }
  CallInfo& info = *call_infos[node];
  info.callable = callable;
  const uint8_t type = cell::type_of(callable);
  const bool native_like = is_native_like(type);
  bool lean = type != TYPE_ROUTINE && !(native_like && (cache_flags(cache) & kConform));
  const uint32_t entries = cell_count(cell::series_node(cache));
  // The mandatory arguments, then what a call that names no refinement leaves after them: nothing
  // for a native or action; for a function, false for each refinement and for /local, none for
  // each of their arguments and for each other local.
  bool mandatory = true;
  for (uint32_t i = 0; lean && i < entries; i++) {
    const Cell& entry = cells_of(cell::series_node(cache))[i];
    const uint8_t entry_type = cell::type_of(entry);
    if (mandatory && entry_type == TYPE_TYPESET) {
      if ((entry.header & kKindMask) || info.arity == kLeanArgs) lean = false;
      else info.masks[info.arity++] = type_mask(entry);
      continue;
    }
    mandatory = false;
    if (native_like) continue;
    const uint32_t cells = entry_type == TYPE_INTEGER ? count_entry_value(entry) : 1;
    if (info.tail + cells > 64) {
      lean = false;
      break;
    }
    if (entry_type != TYPE_TYPESET) info.tail_false |= uint64_t(1) << info.tail;
    info.tail += cells;
  }
  info.lean = lean;
  return info;
}

const int32_t kNoRefinements[kMaxRefinements] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                 -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                 -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

}  // namespace

const CallInfo& call_info(const Cell& callable) {
  const uint32_t node = native::internals_of(callable);
  if (node < call_infos.size() && call_infos[node]) {
    return same_callable(call_infos[node]->callable, callable) ? *call_infos[node] : kNotLean;
  }
  return build_call_info(callable);
}

void fire_lean_arg(const Cell& callable, const Cell& name, uint32_t index, const Cell* got) {
  Cell caller = name;
  Cell word = *context::word_at(parameter_context(callable), index);
  if (!got) rt::fire_error("script", "no-arg", &caller, &word);
  Cell datatype = cell::make_datatype(cell::type_of(*got));
  rt::fire_error("script", "expect-arg", &caller, &datatype, &word);
}

void lean_finish(const CallInfo& info, const Cell& callable, bool push, bool infix) {
  if (cell::type_of(callable) != TYPE_FUNCTION) {
    Cell* left = stack::args;
    if (!(infix && info.arity == 2 && number_operator(callable, left[0], left[1], left))) {
      run_native_entry(callable, kNoRefinements);
      if (pending) return;
    }
    if (push) {
      frames::unwind();
    } else {
      frames::unwind_last();
    }
  } else {
    push_tail(info);
    run_function(callable);
    if (pending) return;
    if (push) {
      frames::unwind_call();
    } else {
      frames::unwind_call_last();
    }
  }
}

bool call_lean(const Cell& callable_in, Feed& feed, const Cell& name, bool push, bool infix) {
  const CallInfo& info = call_info(callable_in);
  if (!info.lean) return false;
  const Cell callable = callable_in;
  lean_enter(callable, name, infix);
  uint32_t i = 0;
  if (infix) {
    check_lean_arg(info, callable, name, 0, stack::args);
    i = 1;
  }
  for (; i < info.arity; i++) {
    if (!feed_cell(feed)) fire_lean_arg(callable, name, i, nullptr);
    if (!quick_expression(feed, infix)) eval_expression(feed, {.no_infix = infix, .push = true});
    if (pending) return true;
    check_lean_arg(info, callable, name, i, stack::top - 1);
  }
  lean_finish(info, callable, push, infix);
  return true;
}

void start_signatures() { signature_phase = SignaturePhase::kRecording; }
void seal_signatures() { signature_phase = SignaturePhase::kSealed; }

void make_native_cache(const Cell& callable) {
  make_arg_cache(callable);
  if (signature_phase != SignaturePhase::kRecording) return;
  Signature& signature = signature_of(callable);
  if (signature.known) return;
  const uint32_t cache = cell::series_node(cache_cell(callable));
  const uint32_t context = parameter_context(callable);
  for (uint32_t i = 0; i < cell_count(cache); i++) {
    const Cell entry = cells_of(cache)[i];
    signature.entries.push_back(entry);
    signature.symbols.push_back(cell::type_of(entry) == TYPE_INTEGER
                                    ? 0
                                    : word::symbol_of(*context::word_at(context, i)));
  }
  signature.known = true;
}

IntegerOp integer_op_of(const Cell& callable) {
  const uint32_t index = native::index_of(callable);
  if (cell::type_of(callable) == TYPE_ACTION) {
    switch (index) {
      case action::ADD: return IntegerOp::kAdd;
      case action::SUBTRACT: return IntegerOp::kSubtract;
      case action::MULTIPLY: return IntegerOp::kMultiply;
      case action::REMAINDER: return IntegerOp::kRemainder;
      default: return IntegerOp::kNone;
    }
  }
  if (cell::type_of(callable) != TYPE_NATIVE) return IntegerOp::kNone;
  switch (index) {  // the comparison natives, as integer_compare answers
    case natives::EQUAL_Q: case natives::STRICT_EQUAL_Q: return IntegerOp::kEqual;
    case natives::NOT_EQUAL_Q: return IntegerOp::kNotEqual;
    case natives::LESSER_Q: return IntegerOp::kLesser;
    case natives::GREATER_Q: return IntegerOp::kGreater;
    case natives::LESSER_OR_EQUAL_Q: return IntegerOp::kLesserOrEqual;
    case natives::GREATER_OR_EQUAL_Q: return IntegerOp::kGreaterOrEqual;
    default: return IntegerOp::kNone;
  }
}

// The float action's IEEE arithmetic (an infinity or NaN, never an error), computed here.
bool float_operator(const Cell& callable, const Cell& left, const Cell& right, Cell* result) {
  const uint8_t right_type = cell::type_of(right);
  if (right_type != TYPE_FLOAT && right_type != TYPE_INTEGER) return false;
  if (cell::type_of(callable) != TYPE_ACTION) return false;
  const double x = float_::get(left);
  const double y = right_type == TYPE_FLOAT ? float_::get(right) : integer::get_value(right);
  switch (native::index_of(callable)) {
    case action::ADD: *result = float_::make(x + y); return true;
    case action::SUBTRACT: *result = float_::make(x - y); return true;
    case action::MULTIPLY: *result = float_::make(x * y); return true;
    case action::DIVIDE: *result = float_::make(x / y); return true;
    default: return false;
  }
}

bool integer_operator(const Cell& callable, const Cell& left, const Cell& right, Cell* result) {
  if (cell::type_of(callable) == TYPE_ACTION) {
    // The common cases computed here; overflow (to float), division by zero and the rest go
    // through the action's own arithmetic.
    const int32_t a = integer::get_value(left), b = integer::get_value(right);
    int32_t r;
    bool done;
    switch (native::index_of(callable)) {
      case action::ADD: done = !__builtin_add_overflow(a, b, &r); break;
      case action::SUBTRACT: done = !__builtin_sub_overflow(a, b, &r); break;
      case action::MULTIPLY: done = !__builtin_mul_overflow(a, b, &r); break;
      case action::REMAINDER:
        done = b != 0 && !(b == -1 && a == INT32_MIN);
        if (done) r = a % b;
        break;
      default: done = false; break;
    }
    if (done) {
      *result = integer::make(r);
      return true;
    }
    int32_t op;
    switch (native::index_of(callable)) {
      case action::ADD: op = integer::ADD; break;
      case action::SUBTRACT: op = integer::SUBTRACT; break;
      case action::MULTIPLY: op = integer::MULTIPLY; break;
      case action::REMAINDER: op = integer::REMAINDER; break;
      default: return false;
    }
    std::optional<Cell> value = dispatch::integer_math(op, left, right);
    if (value) *result = *value;
    return value.has_value();
  }
  if (cell::type_of(callable) != TYPE_NATIVE || native::index_of(callable) < natives::EQUAL_Q ||
      native::index_of(callable) > natives::GREATER_OR_EQUAL_Q) {
    return false;
  }
  const int32_t a = integer::get_value(left), b = integer::get_value(right);
  bool truth;
  switch (native::index_of(callable)) {  // the comparison natives, as integer_compare answers
    case natives::EQUAL_Q: case natives::STRICT_EQUAL_Q: truth = a == b; break;
    case natives::NOT_EQUAL_Q: truth = a != b; break;
    case natives::LESSER_Q: truth = a < b; break;
    case natives::GREATER_Q: truth = a > b; break;
    case natives::LESSER_OR_EQUAL_Q: truth = a <= b; break;
    default: truth = a >= b; break;
  }
  *result = logic::make(truth);
  return true;
}

void run_function(const Cell& function) {
  // Attributes and events matter only while a session runs.
  if (trace::session) [[unlikely]] return trace::run_function(function);
  run_function_body(function);
}

void run_function_body(const Cell& function) {
  const uint32_t context = function::context_of(function);
  context::set_values_position(context, stack::cell_index(stack::args));
  frames::set_body_flag(true);
  const Cell body = function::body_of(function);
  if (cell::type_of(body) == TYPE_BLOCK) {
    eval_block_in_frame(body);  // above the arguments and locals; the function holds the body
  } else {
    stack::set_only_result(constants::unset);
  }
  if (pending == rt::kThrowReturn || pending == rt::kThrowExit) {
    pending = 0;  // the function's frame is innermost again, the value in its arguments[0]
  } else if (pending) {
    return;
  }
  frames::set_body_flag(false);
}

namespace {

// after: cells to receive what the function left in its argument cells (the first excepted).
Cell handler_call(const Cell& name, const Cell& function, std::span<const Cell> arguments,
                  uint32_t params, int32_t locals, std::span<Cell> after = {}) {
  Cell* caller_top = stack::top;
  frames::mark_call(name, function::context_of(function));
  uint32_t pushed = 0;
  for (const Cell& argument : arguments) {
    if (pushed++ < params) stack::push_copy(argument);
  }
  for (; pushed < params; pushed++) stack::push_copy(constants::none);
  function::push_locals(locals);
  run_function(function);
  if (exiting()) raise_pending();
  const Cell result = *stack::arg(0);
  for (uint32_t i = 1; i < after.size() && i < params; i++) after[i] = *stack::arg(int32_t(i));
  frames::unwind_call_drop();
  stack::top = caller_top;
  return result;
}

}  // namespace

Cell call_handler(const Cell& name, const Cell& function, uint32_t,
                  std::span<const Cell> arguments, uint32_t params, int32_t locals) {
  if (trace::events) [[unlikely]] {
    return trace::runtime_call(name, function, [&] {
      return handler_call(name, function, arguments, params, locals);
    });
  }
  return handler_call(name, function, arguments, params, locals);
}

Cell call_function(const Cell& name, const Cell& function, std::span<const Cell> arguments) {
  const uint32_t params = function::parameter_count(function);
  const uint32_t slots = context::word_count(function::context_of(function));
  return call_handler(name, function, 0, arguments, params, int32_t(slots - params));
}

Cell call_back(const Cell& name, const Cell& function, std::span<Cell> arguments) {
  const uint32_t params = function::parameter_count(function);
  const int32_t locals = int32_t(context::word_count(function::context_of(function)) - params);
  auto run = [&] { return handler_call(name, function, arguments, params, locals, arguments); };
  if (trace::events) [[unlikely]] return trace::runtime_call(name, function, run);
  return run();
}

void call(const Cell& callable_in, Feed& feed, const CallSite& site) {
  rt::check_stack();
  const Cell callable = callable_in;
  // Held while it runs: an infix call has no stack cell of its own for it, and the arguments'
  // code may take it from every word that named it.
  gc::Guard keep_callable(callable);
  const Cell name = site.name && cell::type_of(*site.name) == TYPE_WORD
                        ? *site.name
                        : runtime_words::words.frame_anon;
  Cell* slot = site.infix ? nullptr : stack::push_copy(callable);
  const uint8_t type = cell::type_of(callable);
  const bool is_function = type == TYPE_FUNCTION;
  // An infix call's left operand, the caller's newest cell, becomes the frame's first cell. It
  // leaves the live stack only between these lines, where nothing allocates: from here on the
  // collector sees it, also while the argument cache is built.
  if (site.infix) --stack::top;
  if (is_function) {
    frames::mark_interp_call(name, function::context_of(callable));
  } else {
    frames::mark_interp_native(name);
  }
  if (site.infix) ++stack::top;
  // Fired once the frame holds the name (its context) and the callable.
  trace::fire_if(trace::kOpen, &feed.block, feed.index, nullptr, &name);
  // Every position the native's code may read starts absent, also those of refinements that a
  // made value's spec leaves out.
  int32_t positions[kMaxRefinements];
  if (is_native_like(type)) std::fill_n(positions, kMaxRefinements, -1);
  const Cell cache = arg_cache(callable);
  Gathering g{callable, feed, site, name, cell::series_node(cache), is_native_like(type), 0,
              positions};
  const uint32_t arity = plain_arity(cache);
  if (arity != kNotPlain && !site.path && site.mode == kOrdinary) {
    uint32_t i = 0;
    if (site.infix) {  // the left operand is already the frame's first cell
      check_newest(g, 0);
      i = 1;
    }
    for (; i < arity; i++) {
      fetch(g, i);
      if (pending) return;
      check_newest(g, i);
    }
  } else {
    gather_args(g);
    if (pending) return;
  }
  // An apply's arguments come from a block that is no position of the code.
  trace::fire_if(trace::kCall, &feed.block,
                 site.mode == kOrdinary ? feed.index : trace::kNoPosition, &name, &callable);
  if (g.native_like) {
    if (cache_flags(cache) & kConform) conform_to_signature(g);
    Cell* left = stack::arg(0);
    if (!(site.infix && number_operator(callable, left[0], left[1], left))) {
      run_native(callable, g);
    }
    if (pending) return;
    if (site.push) {
      frames::unwind();
    } else {
      frames::unwind_last();
    }
  } else if (!is_function) {
    // A routine's C++ body may change any series: no plan is taken on trust after it.
    plan::bump();
    absorb_exits([&] { routine::run(callable); });
    if (pending) return;
    if (site.push) {
      frames::unwind();
    } else {
      frames::unwind_last();
    }
  } else {
    run_function(callable);
    if (pending) return;
    if (site.push) {
      frames::unwind_call();
    } else {
      frames::unwind_call_last();
    }
  }
  if (slot) {
    --stack::top;
    *slot = *stack::top;
  }
  trace::fire_if(trace::kReturn, &feed.block, feed.index, &name, stack::top - 1);
}

}  // namespace interp
