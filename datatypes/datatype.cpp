// The datatype registry: the per-type action table and the name table. Registration copies a
// type's entries into its row, taking the parent's entry wherever the type inherits, so dispatch
// is one table read.
#include "datatypes/datatype.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "interpreter/stack.h"
#include "runtime/print.h"

namespace datatype {

AnyFn table[TYPE_COUNT][action::kSlotCount];

namespace {

struct NameRecord {
  const char* name;
  uint32_t length_less_one;
  uint8_t parent;
  Cell word;  // header 0 until the words are made
};

NameRecord names[TYPE_COUNT];
uint8_t highest = 0;

[[noreturn]] void misordered(uint8_t id, int found) {
  rt::print_line({"*** Datatype Error: invalid actions table for type: ", int32_t(id)});
  rt::print_line({"*** Found: ", int32_t(found)});
  rt::print_line({"*** Expected: ascending slots 1 to ", int32_t(action::kSlotCount)});
  std::exit(1);
}

}  // namespace

void register_type(uint8_t id, uint8_t parent, const char* name,
                   std::initializer_list<Entry> entries) {
  if (id > highest) highest = id;
  names[id] = NameRecord{name, uint32_t(std::strlen(name) - 1), parent, Cell{}};
  AnyFn* row = table[id];
  for (int s = 0; s < action::kSlotCount; s++) row[s] = nullptr;
  int previous = 0;
  for (const Entry& e : entries) {
    if (e.slot <= previous || e.slot > action::kSlotCount) misordered(id, e.slot);
    previous = e.slot;
    row[e.slot - 1] = e.inherit ? (parent ? table[parent][e.slot - 1] : nullptr) : e.fn;
  }
}

uint8_t highest_type() { return highest; }
uint8_t parent_of(uint8_t type) { return names[type].parent; }
const char* name_of(uint8_t type) { return names[type].name; }
uint32_t name_length_less_one(uint8_t type) { return names[type].length_less_one; }
const Cell* name_word(uint8_t type) { return &names[type].word; }

void set_name_word(uint8_t type, const Cell& word) { names[type].word = word; }

Cell* push(uint8_t type) {
  Cell* c = stack::push_new();
  *c = Cell{TYPE_DATATYPE, type, 0, 0};
  return c;
}

}  // namespace datatype
