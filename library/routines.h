// The library's routines: routine! values whose bodies are C++ functions, one table of them by
// name (library/routines.cpp). Each row gives the routine's word, its spec (the text of a Zel
// spec block) and its body, which reads the frame's argument cells and leaves its result in
// arguments[0] (interpreter/routine.h). A routine's code entry is its row number from 1.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "interpreter/routine.h"
#include "runtime/cell.h"

namespace routines {

struct Row {
  const char* name;  // the global word, or the routine's name in the table of fields
  const char* spec;
  routine::Body body;
  bool global;       // defined as a global word by the boot image (definitions())
};

// The row of that name and its code entry (row number from 1), or 0 when there is none.
int32_t entry_of(std::string_view name);
const Row& row(int32_t entry);
int32_t count();

// Pushes the routine! of the row: its spec scanned from the text, no body, its code entry.
// May allocate.
Cell* make_value(int32_t entry);

// The definitions of the global routines as library source (`word: routine spec []` each), which
// zelboot puts in the boot image after its first source: start-up makes them as it makes the
// library's own routines.
std::string definitions();

// Hands the bodies to the evaluator. Once, at start-up, before the image's plan runs.
void define();

// Sets the system object's fields that hold routines (the collector's counters, the codecs'
// encode and decode). Once, at start-up, after the code that makes the system object.
void bind_fields();

}  // namespace routines
