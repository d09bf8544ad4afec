// block!: the series of value cells, and paren!, the block the evaluator runs in place. The
// low-level operations build and walk blocks for the whole runtime; the actions make, convert,
// print, compare, copy and edit them. Relies on the rooting rule (runtime/gc.h): a Cell* into a
// block is valid until the next allocation; cells given to operations that allocate sit on the
// data stack, or in a C++ local whose referents are rooted elsewhere.
#pragma once
#include <cstdint>

#include "datatypes/datatype.h"
#include "runtime/cell.h"

namespace block {

// --- Low-level operations --------------------------------------------------------------------

int32_t rest_length(const Cell& block);  // cells from the head to the tail, not clamped
// Advances the head by one unless it is at the tail; whether the (new) head is at the tail.
bool next_head(Cell& block);
Cell* head_cell(Cell& block);  // a head past the tail is first brought back to the tail
Cell* tail_cell(const Cell& block);
bool at_tail(const Cell& block);
Cell* cell_at(const Cell& block, int32_t index);  // counted from the buffer start
void set_tail_index(const Cell& block, int32_t index);
void clear_from_head(const Cell& block);

// Appending and inserting copies. A full buffer grows; may allocate. The value may be a cell of
// the block itself.
Cell* append_cell(const Cell& block, const Cell& value);  // the new cell
Cell* append_all(Cell* target, const Cell& source);       // the source's cells from its head
// A copy of the value at the head (at the buffer start with at_start); with advance the head
// moves past it. Returns the new cell.
Cell* insert_value(Cell& block, const Cell& value, bool advance, bool at_start);
// The source's cells at the target's head, which ends up past them.
Cell* insert_all(Cell& target, const Cell& source);

// The cell after the first cell equal to value (search equality, from the head), or the shared
// none! when none is equal or the equal one is last.
const Cell* select_value(const Cell& block, const Cell& value);
// Removes the first cell equal to value (from the head, or the buffer start); whether one was.
bool remove_value(const Cell& block, const Cell& value, bool from_start);

// Makes the cell an empty block! with room for capacity cells (below 1 counts as 1), keeping the
// cell's flags and extra word; outside_heap puts the buffer on the tracked heap, where it never
// moves (the caller keeps it alive). May allocate: the cell must stay put.
Cell* init_empty(Cell* cell, int32_t capacity);
Cell* init_empty_ex(Cell* cell, int32_t capacity, bool outside_heap);
// A new empty block appended to the parent (to the runtime's root block when null); the second
// form's buffer on the tracked heap. Returns the new cell.
Cell* append_to_block(const Cell* parent, int32_t capacity);
Cell* append_c_heap_to_block(const Cell* parent, int32_t capacity);
Cell* push(const Cell& block);
Cell* push_new(int32_t capacity);
// Pushes a new block of the source's type holding copies of its cells from the head; deep
// clones nested block! cells too (with all_blocks paren! and paths as well), keeping their
// headers. A block inside itself raises internal/no-cycle.
Cell* push_clone(const Cell& block, bool deep, bool all_blocks);
// Replaces, in the block's cells [first, end) every step, each cell whose type the types cell
// selects (a typeset! or a datatype!) and that can be copied (series-like, bitset!, object!,
// error!, map!) by its copy (deep, with the same types when deep).
void copy_nested(uint32_t node, int32_t first, int32_t end, int32_t step, bool deep,
                 const Cell* types);

// --- Actions ---------------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint8_t type);
Cell* to(Cell* proto, Cell* spec, uint8_t type);
int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step);
int32_t compare(Cell* a, Cell* b, int32_t op);
// append and insert: part -1 when absent, dup at least 1.
void insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
void change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
void copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_flag);
void swap(Cell* a, Cell* b);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
void trim(Cell* series, const action::TrimOptions& options);

// The set natives on block! and hash! (series::SetCode): records of skip cells from the heads
// of the frame's first one or two cells, compared by their first cell (strictly with
// case_sensitive), distinct and in first-seen order. The new series replaces arguments[0]: a
// hash! when either input is one, else a block!. May allocate.
void set_operation(int32_t code, bool case_sensitive, const Cell* skip);

// Registers block! and paren! (series! must be registered first) and their collector marking.
void init();

}  // namespace block

namespace paren {
// A paren! molds as its cells in parentheses (only: the cells alone).
int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent);
}  // namespace paren
