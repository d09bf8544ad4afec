// The library's routines: routine! values whose bodies are C++ functions, one table of them by
// name (library/routines.cpp). Each row gives the routine's word, its spec (the text of a Zel
// spec block) and its body, which reads the frame's argument cells and leaves its result in
// arguments[0] (interpreter/routine.h). A routine's code entry is its row number from 1.
#pragma once
#include <cstdint>
#include <string_view>

#include "interpreter/routine.h"
#include "runtime/cell.h"

namespace routines {

struct Row {
  const char* name;  // the global word, or the field that holds it (GC counters, unescape)
  const char* spec;
  routine::Body body;
  bool global;       // bound to its global word by define()
};

// The row of that name and its code entry (row number from 1), or 0 when there is none.
int32_t entry_of(std::string_view name);
const Row& row(int32_t entry);
int32_t count();

// Pushes the routine! of the row: its spec scanned from the text, no body, its code entry.
// May allocate.
Cell* make_value(int32_t entry);

// Hands the bodies to the evaluator and sets every global routine's word to its value. Once,
// at start-up, before the sources that call them are evaluated.
void define();

}  // namespace routines
