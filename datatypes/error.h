// error!: the value every failure reports to a script, an object of ten fixed fields naming a
// category and an id of the error catalog; the catalog itself (one context of the ten category
// words, each category a context of code, type and its ids' message templates); and the errors
// that rt::fire_error raises. Relies on datatypes/context.h and the rooting rule of runtime/gc.h:
// errors are made on the data stack, and cells handed in are copied before anything allocates.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace error {

// error! cell (an object's layout): word 1 the node of the context holding the fields, word 2
// the class id, word 3 the node of the change-handler record (0 when none).
inline uint32_t context_of(const Cell& error) { return error.w1; }
inline uint32_t handlers_of(const Cell& error) { return error.w3; }

// The fields, by position (the runtime reaches them by position).
enum Field : uint32_t {
  kCode = 0, kType, kId, kArg1, kArg2, kArg3, kNear, kWhere, kStack, kFiles,
  kFieldCount,
};

// --- The catalog's content (error_catalog.cpp) -------------------------------------------------

struct CatalogId {
  const char* name;
  const char* message;  // the template, in the language's notation
};
struct CatalogCategory {
  const char* name;
  const char* title;
  const CatalogId* ids;
  uint32_t id_count;
};
constexpr uint32_t kCategoryCount = 10;
extern const CatalogCategory catalog_content[kCategoryCount];

// --- Start-up ----------------------------------------------------------------------------------

// Registers error! and its collector entry.
void register_datatype();
// Builds the catalog contexts from the content; once the global context and the runtime's words
// exist. May allocate.
void init();

// The catalog context and the context of category number c; nodes kept alive for the whole run.
uint32_t catalog();
uint32_t category(uint32_t c);

// --- Errors --------------------------------------------------------------------------------------

// A new error! on the data stack for the category and id words (as make error! [category id]
// makes it), with the arguments given (null: none!) in arg1-arg3. May allocate.
Cell* create(const Cell& category, const Cell& id, const Cell* arg1, const Cell* arg2,
             const Cell* arg3);
// The same from the catalog's names ("math", "zero-divide"). Names the catalog lacks give
// internal/invalid-error with the id's word as arg1. May allocate.
Cell* create_from_names(const char* category, const char* id, const Cell* arg1,
                        const Cell* arg2, const Cell* arg3);

// Field #index of the error; valid until the next allocation.
Cell* field(const Cell& error, uint32_t index);
// Copies the value into where unless where already holds something other than none!.
void set_where_if_none(const Cell& error, const Cell& value);
// Symbol ids of the type and id words (0 when the field holds no word).
uint32_t type_symbol(const Cell& error);
uint32_t id_symbol(const Cell& error);
constexpr uint32_t stack_field_index() { return kStack; }

}  // namespace error
