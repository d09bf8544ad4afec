// Path evaluation: the head word's value, then each element applied to the value selected so far
// by the path step of that value's datatype. The walk keeps its parent, grandparent, element and
// previous element as data-stack cells, so a paren element may run the collector (or change the
// path's own block) without leaving a stale address behind.
#include <algorithm>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/word.h"
#include "interpreter/call.h"
#include "interpreter/dispatch.h"
#include "interpreter/eval.h"
#include "interpreter/plan.h"
#include "interpreter/trace.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"

namespace interp {

namespace {

// The owner of a series changed through the last element is told of it when it is an object
// with change handlers or a block-like series.
bool notifies(const Cell& grandparent) {
  uint8_t type = cell::type_of(grandparent);
  return (type == TYPE_OBJECT && object::handlers_of(grandparent) != 0) || types::any_block(type);
}

inline const Cell& element_at(const Cell& path, uint32_t offset) {
  return cell::cells_of(cell::series_node(path))[cell::series_index(path) + offset];
}

inline uint32_t tail_of(const Cell& path) { return cell::cell_count(cell::series_node(path)); }

// While tracing, the path's end: exit with its value (the newest cell).
template <bool kTraced>
inline void traced_exit(const Cell& path) {
  if constexpr (kTraced) {
    trace::fire_if(trace::kExit, &path, tail_of(path), nullptr, stack::top - 1);
  }
}

// Stores the changed value of step `level` (held in its cell) where it came from: the head
// word, or the field it was selected from; a holder held in its cell is stored back in turn. An
// object holder runs its on-change* as for any field set; a series holder was told by the step.
void store_back(const Cell& head, Cell* trail, uint32_t level, const Cell& changed, Cell* path,
                bool case_sensitive) {
  Cell* value = stack::push_copy(changed);
  for (uint32_t i = level; i > 1; i--) {
    Cell* holder = stack::push_copy(trail[2 * (i - 2)]);
    Cell* element = &trail[2 * (i - 2) + 1];
    Cell none = constants::none;
    absorb_exits([&] {
      dispatch::call_eval_path(holder, element,
                              {.value = value, .path = path, .grandparent = &none,
                               .previous = &none, .index = int32_t(i - 2),
                               .case_sensitive = case_sensitive, .last = true});
    });
    if (pending || !types::held_in_cell(cell::type_of(*holder))) return;
    *value = *holder;
  }
  Cell word = head;
  absorb_exits([&] { object::write_word(word, *value); });
}

}  // namespace

namespace {

// The path's walk; traced: with its events (enter, fetch and push for each element, exit).
template <bool kTraced>
void walk_path(const Cell& path_in, Feed* feed, const PathOptions& options) {
  if (options.set) plan::bump();  // the target may be a block's cell
  const bool set = options.set, get = options.get, push = options.push;
  Cell path = path_in;
  uint32_t length = tail_of(path);
  if (cell::series_index(path) >= length) rt::fire_error("script", "empty-path", &path);
  if constexpr (kTraced) {
    trace::fire_if(trace::kEnter, &path, cell::series_index(path), nullptr, nullptr);
    if (cell::series_index(path) < tail_of(path)) {
      trace::fire_if(trace::kFetch, &path, cell::series_index(path), nullptr, &element_at(path, 0));
    }
    length = tail_of(path);  // the callbacks may have changed the path
    if (cell::series_index(path) >= length) rt::fire_error("script", "empty-path", &path);
  }
  uint32_t count = length - cell::series_index(path);
  const Cell head = element_at(path, 0);
  if (cell::type_of(head) != TYPE_WORD) rt::fire_error("script", "word-first", &path);

  const Cell head_value = *context::word_value_cell(head);
  if (callable(cell::type_of(head_value))) {
    if (set) rt::fire_error("script", "invalid-path-set", &path);
    if (get) rt::fire_error("script", "invalid-path-get", &path);
    CallSite site;
    site.path = &path;
    site.first_refinement = 1;
    site.name = &head;
    site.push = push;
    call(head_value, *feed, site);
    if (!pending) traced_exit<kTraced>(path);
    return;
  }
  if (cell::type_of(head_value) == TYPE_UNSET) {
    rt::fire_error("script", "unset-path", &path, &head);
  }

  Cell* const start = stack::top;
  Cell* parent = stack::push_copy(head_value);
  Cell* grandparent = stack::push_copy(constants::none);
  Cell* element = stack::push_copy(constants::none);
  Cell* previous = stack::push_copy(constants::none);
  Cell* step = stack::push_copy(constants::none);
  // Set mode remembers each step's parent and element (cells [2i, 2i + 1] from here), so that a
  // field set on a value held in its cell can be stored back up the path.
  Cell* const trail = stack::top;
  if (word::context_of(head) && word::context_of(head) != context::global) {
    const Cell owner = *context::owner_cell(word::context_of(head));
    if (cell::type_of(owner) != TYPE_OBJECT) *grandparent = owner;
  }
  if constexpr (kTraced) {
    trace::fire_if(trace::kPush, &path, cell::series_index(path), nullptr, parent);
  }

  for (uint32_t i = 1; i < count; i++) {
    if constexpr (kTraced) {
      if (cell::series_index(path) + i >= tail_of(path)) break;  // a callback shortened it
      trace::fire_if(trace::kFetch, &path, cell::series_index(path) + i, nullptr,
                     &element_at(path, i));
      if (cell::series_index(path) + i >= tail_of(path)) break;
    }
    const Cell given = element_at(path, i);
    switch (cell::type_of(given)) {
      case TYPE_GET_WORD:
        *element = *context::word_value_cell(given);
        break;
      case TYPE_PAREN: {
        eval_block(given, false);
        if (pending) return;
        *element = *stack::top_cell();
        stack::pop_cells(1);
        // The paren may have shortened the path: its elements past the new tail are gone (this
        // one, already taken, is then the last).
        const int64_t now = int64_t(tail_of(path)) - cell::series_index(path);
        if (now < int64_t(count)) count = uint32_t(std::max<int64_t>(now, i + 1));
        break;
      }
      default:
        *element = given;
    }
    if (cell::type_of(*element) == TYPE_UNSET) {
      rt::fire_error("script", "invalid-path", &path, &given);
    }
    const bool last = i + 1 == count;
    const Cell* to_store = set && last ? options.value : nullptr;
    if (set) {
      stack::push_copy(*parent);
      stack::push_copy(*element);
    }
    // The step may write its result over the value it is given: it gets a copy of the parent.
    *step = *parent;
    // A field of a value held in its cell is stored back into an object's field below, which
    // runs the object's on-change* itself.
    const bool notify = set && last && notifies(*grandparent) &&
                        !(types::held_in_cell(cell::type_of(*parent)) &&
                          cell::type_of(*grandparent) == TYPE_OBJECT);
    Cell selected;
    // Setting a field may run its object's change handler, which throws its exits.
    absorb_exits([&] {
      selected = *dispatch::call_eval_path(
          step, element,
          {.value = const_cast<Cell*>(to_store), .path = &path, .grandparent = grandparent,
           .previous = previous, .index = int32_t(i - 1), .case_sensitive = options.case_sensitive,
           .get = get, .last = last, .notify = notify});
    });
    if (pending) return;
    if (!set && !get && callable(cell::type_of(selected))) {
      Cell name = cell::type_of(given) == TYPE_WORD ? given : runtime_words::words.frame_anon;
      CallSite site;
      site.path = &path;
      site.first_refinement = i + 1;
      site.name = &name;
      site.owner = parent;
      call(selected, *feed, site);
      if (pending) return;
      const Cell result = *stack::top_cell();
      stack::top = start;
      stack::deliver(result, push);
      traced_exit<kTraced>(path);
      return;
    }
    if (set && last && types::held_in_cell(cell::type_of(*parent))) {
      store_back(head, trail, i, *step, &path, options.case_sensitive);
      if (pending) return;
    }
    *previous = *element;
    *grandparent = *parent;
    *parent = selected;
    if constexpr (kTraced) {
      trace::fire_if(trace::kPush, &path, cell::series_index(path) + i, nullptr, parent);
    }
  }
  const Cell result = *parent;
  stack::top = start;
  stack::deliver(result, push);
  traced_exit<kTraced>(path);
}

}  // namespace

void eval_path(const Cell& path, Feed* feed, const PathOptions& options) {
  if (trace::events) [[unlikely]] return walk_path<true>(path, feed, options);
  walk_path<false>(path, feed, options);
}

void get_path(const Cell& path, bool case_flag) {
  eval_path(path, nullptr, {.get = true, .push = true, .case_sensitive = case_flag});
}

void set_path(const Cell& path, const Cell* value, bool case_flag) {
  eval_path(path, nullptr,
            {.set = true, .push = true, .value = value, .case_sensitive = case_flag});
}

}  // namespace interp
