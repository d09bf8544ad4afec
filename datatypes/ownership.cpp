// Series ownership: the owner table and the walks that set and remove owners. Walks keep node
// indexes and re-derive cell addresses after each step, since recording an
// owner may allocate; the shared cycle stack stops them at containers met again.
#include "datatypes/ownership.h"

#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/hashtable.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"

namespace ownership {

namespace {

constexpr uint32_t kTableSize = 1000;
constexpr uint32_t kRecordCells = 3;  // owned value, owner object, owner word
constexpr uint32_t kUnsetHeader = TYPE_UNSET;

uint32_t owner_table = 0;

// The record's cells after its key cell.
enum RecordCell { kValue = 0, kOwner = 1, kWord = 2 };

bool is_owner_object(uint32_t context_node) {
  return context::context_cell(context_node)->header & kOwnerObject;
}

// Takes a container off the cycle stack when its walk ends, also when an error ends it.
struct CycleExit {
  ~CycleExit() { cycles::pop(); }
};

// Calls visit on every cell of the block from the value's head to the tail, under cycle
// protection. Each cell is copied out first: visit may allocate and move the buffer.
template <class Visit>
void for_each_cell(uint32_t node, uint32_t head, Visit visit) {
  if (cycles::find(node)) return;
  cycles::push(node);
  CycleExit exit;
  for (uint32_t i = head; i < cell::cell_count(node); i++) {
    Cell element = cell::cells_of(node)[i];
    visit(element);
  }
}

// An object's fields, skipping the owner itself; nothing for an owner object.
template <class Visit>
void for_each_field(const Cell& object, Visit visit) {
  if (is_owner_object(object::context_of(object))) return;
  for_each_cell(context::values_position(object::context_of(object)), 0, visit);
}

void own(const Cell& value, const Cell& owner, const Cell& word) {
  uint8_t type = cell::type_of(value);
  if (is_ownable_series(type)) {
    alloc::Series* s = alloc::series_of(cell::series_node(value));
    if (!(s->flags & alloc::kOwned)) {
      gc::Guard guard(value);
      Cell* record = hashtable::put_record(owner_table, cell::series_node(value));
      // put_record may have moved the buffer: the flag goes on afterwards.
      alloc::series_of(cell::series_node(value))->flags |= alloc::kOwned;
      record[kValue] = value;
      record[kOwner] = owner;
      record[kWord] = word;
    }
    if (types::any_block(type)) {
      for_each_cell(cell::series_node(value), cell::series_index(value),
                    [&](const Cell& c) { own(c, owner, word); });
    }
  } else if (type == TYPE_OBJECT) {
    for_each_field(value, [&](const Cell& c) {
      bool is_owner = cell::type_of(c) == TYPE_OBJECT &&
                      object::context_of(c) == object::context_of(owner);
      if (!is_owner) own(c, owner, word);
    });
  }
}

void disown(const Cell& value) {
  uint8_t type = cell::type_of(value);
  if (is_ownable_series(type)) {
    alloc::Series* s = alloc::series_of(cell::series_node(value));
    if (s->flags & alloc::kOwned) {
      s->flags &= ~alloc::kOwned;
      if (Cell* record = hashtable::remove_record(owner_table, cell::series_node(value))) {
        for (uint32_t i = 0; i < kRecordCells; i++) record[i].header = kUnsetHeader;
      }
    }
    if (types::any_block(type)) {
      for_each_cell(cell::series_node(value), cell::series_index(value), disown);
    }
  } else if (type == TYPE_OBJECT) {
    for_each_field(value, disown);
  }
}

// The record of the value's series or object context, or null.
Cell* record_of(const Cell& value) {
  uint8_t type = cell::type_of(value);
  if (type == TYPE_OBJECT) return hashtable::get_record(owner_table, object::context_of(value));
  uint32_t node = cell::series_node(value);
  if (!is_ownable_series(type) || !(alloc::series_of(node)->flags & alloc::kOwned)) {
    return nullptr;
  }
  return hashtable::get_record(owner_table, node);
}

bool marked(uint32_t node) {
  return alloc::node_in_use(node) && (alloc::series_of(node)->flags & alloc::kMark);
}

void mark_table() { hashtable::mark(owner_table); }

}  // namespace

void init() {
  owner_table = hashtable::make(kTableSize, 0, hashtable::kOwners, kRecordCells);
  gc::add_marker(mark_table);
  gc::set_owner_pass({.mark = mark_owners, .sweep = sweep});
}

void set_owner(const Cell& value, const Cell& owner, const Cell& word) {
  // Copies on the C++ stack: the arguments may lie in buffers that move while records are made.
  Cell v = value, o = owner, w = word;
  gc::Guard guard_value(v), guard_owner(o), guard_word(w);
  own(v, o, w);
}

void own_value(const Cell& value, const Cell& owner, const Cell& word) {
  uint32_t context_node = object::context_of(owner);
  set_owner(value, owner, word);
  context::context_cell(context_node)->header |= kOwnerObject;
}

void unset_owner(const Cell& value) {
  Cell v = value;
  disown(v);
}

void unset_owner_range(const Cell& block, uint32_t index, uint32_t count) {
  const uint32_t node = cell::series_node(block);
  for (uint32_t i = index; i - index < count && i < cell::cell_count(node); i++) {
    Cell element = cell::cells_of(node)[i];
    disown(element);
  }
}

Cell* owner_of(uint32_t node) {
  Cell* record = hashtable::get_record(owner_table, node);
  return record ? &record[kOwner] : nullptr;
}

namespace {
DeepChangeHandler deep_change_handler = nullptr;
}

DeepChangeHandler set_deep_change_handler(DeepChangeHandler handler) {
  DeepChangeHandler previous = deep_change_handler;
  deep_change_handler = handler;
  return previous;
}

bool notify_recorded_owner(const Cell* value, const char* action_word, const Cell* new_value,
                           int32_t index, int32_t count) {
  const Cell* record = record_of(*value);
  if (!record || object::handlers_of(record[kOwner]) == 0) return false;
  if (!deep_change_handler) return true;
  // Copied out: making the action word allocates, and the handler runs user code.
  Cell owner = record[kOwner], word = record[kWord], changed = *value;
  Cell fresh = new_value ? *new_value : constants::unset;
  gc::Guard guard_owner(owner), guard_word(word), guard_changed(changed), guard_fresh(fresh);
  Cell action = word::from_c_string(action_word);
  deep_change_handler(owner, word, changed, action, new_value ? &fresh : nullptr, index, count);
  return true;
}

bool mark_owners() {
  bool reached = false;
  const hashtable::Table* t = hashtable::table_of(owner_table);
  alloc::Series* records = alloc::series_of(t->block);
  for (uint32_t at = 0; at + t->record_bytes <= records->used(); at += t->record_bytes) {
    auto* key = reinterpret_cast<const Cell*>(records->head_ptr() + at);
    if (key->header != kUnsetHeader || !marked(hashtable::record_key_of(*key))) continue;
    const Cell* cells = key + 1;
    const Cell& owner = cells[kOwner];
    if (cell::type_of(owner) == TYPE_OBJECT && !marked(object::context_of(owner))) {
      reached = true;
      // Marked as its context record and handler record, not through the type table, so the
      // owner lives whether or not its type's marker is there.
      gc::mark_block(object::context_of(owner));
      if (object::handlers_of(owner)) gc::mark_block(object::handlers_of(owner));
    }
    gc::mark_value(cells[kWord]);
  }
  return reached;
}

void sweep() { hashtable::sweep(owner_table); }

}  // namespace ownership
