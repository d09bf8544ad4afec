// string!: text values, and the primitives that read, write, widen, copy, compare and mold text
// kept in series buffers of 1-, 2- or 4-byte code units (Latin-1, UCS-2, UCS-4). Every text
// value, form and mold output, the lexer and the natives go through them. The string! datatype's
// entries (make, to, form, mold, compare) close the file.
// Relies on the memory manager and the rooting rule (runtime/gc.h), the widening and UTF
// conversions of runtime/unicode.h and the case folding of runtime/casefold.h.
#pragma once
#include <cstddef>
#include <cstdint>

#include "datatypes/action.h"
#include "runtime/alloc.h"
#include "runtime/cell.h"

// Buffers move. A buffer only ever widens (1 -> 2 -> 4, through the widening of
// runtime/unicode.h) and grows, and both may move it. So:
//  - the writing primitives take the buffer's node, or a string cell (which names its node),
//    never an address of the buffer, and those that can move it return its current address
//    (alloc::Series*): valid until the next allocation; the node stays the stable reference;
//  - addresses passed in (poke_char) or returned (head_address, tail_address) are valid only
//    until the next allocation;
//  - a function marked "May allocate" needs the nodes it is given rooted by the caller; a node it
//    returns is not rooted yet. Cells it is given are read before it allocates, and the cells it
//    writes afterwards (init_empty, load_encoded) must stay put: a data-stack cell or a C++
//    local, not a cell in a series buffer.
// Positions ("unit position") count code units from the buffer's first element; a cell's head
// index counts the same way. A head index past the tail reads as the tail, a negative one as 0.
// A unit other than 1, 2 or 4 met in a buffer is fatal (kFatalNoSwitchMatch).
// A symbol! given where text is read is read through its decoded name, from position 0: such a
// cell comes from the symbol table with its decoded string made (word 2 names it).

namespace string {

// The type byte of a slice: no registered datatype, it marks a second comparison operand whose
// word 3, when 0 or more, is the length that takes part.
constexpr uint8_t kSliceMarker = 56;
inline int32_t slice_length_of(const Cell& slice) { return static_cast<int32_t>(slice.w3); }

// --- Reading and positions -------------------------------------------------------------------

// Address of the head unit; a head index past the tail is first set back to the tail.
uint8_t* head_address(Cell& value);
bool at_tail(const Cell& value);
uint8_t* tail_address(const Cell& value);
// Code point at a unit position from the buffer start (the head is ignored); it must lie before
// the tail.
uint32_t char_at(const Cell& value, uint32_t index);
// Units from the head to the tail; a head past the tail is set back to the tail (and gives 0).
uint32_t rest_length(Cell& value);
uint32_t whole_length(const Cell& value);  // units from the buffer start to the tail
// Moves the head by delta unless that would pass the tail (series::skip_head); returns whether
// the new position, moved to or not, is at or past the tail. next is skip by 1.
bool skip(Cell& value, int32_t delta);
bool next(Cell& value);
// Position of the first unit equal to the code point, relative to the head, or -1.
int32_t find_char(const Cell& value, uint32_t code_point);
// Whether the code point stands at the head or at a multiple of skip units after it (skip 0:
// the head only); both sides folded to upper case unless case_sensitive.
bool find_char_skip(const Cell& value, uint32_t code_point, uint32_t skip, bool case_sensitive);
// Whether the text from the head begins with the NUL-terminated bytes (each code point equal to
// its byte).
bool starts_with(const Cell& value, const char* text);

// --- Creation --------------------------------------------------------------------------------

// Makes the cell an empty string! (head 0) on a new unit-1 buffer of size units (0 means 1).
// May allocate. Returns the cell.
Cell* init_empty(Cell* cell, uint32_t size);
// The same with the given unit; size 0 gives 16 bytes' worth. May allocate.
Cell* init_empty_of_unit(Cell* cell, uint32_t size, uint32_t unit);
// Pushes a copy of the value on the data stack.
Cell* push(const Cell& value);
// Makes the cell (a new data-stack cell when null) a string! decoded from the bytes: encoding 0
// UTF-8, -1 UTF-16LE (length in bytes; an odd last byte is left out). Any other encoding prints
// "*** Loading Error: input encoding unsupported" and ends the process with status 1. May
// allocate: the bytes must not lie in series memory. Returns the cell.
enum Encoding : int32_t { kUtf8 = 0, kUtf16le = -1 };
Cell* load_encoded(const uint8_t* bytes, size_t length, Cell* cell, int32_t encoding);
// load_encoded into a new cell appended to the block (whose buffer must be rooted). Returns the
// cell, valid until the next allocation. May allocate.
Cell* load_encoded_to_block(const uint8_t* bytes, size_t length, const Cell& block,
                            int32_t encoding);
// load_encoded into a new data-stack cell. May allocate.
Cell* load_encoded_push(const uint8_t* bytes, size_t length, int32_t encoding);
// Pushes a new string! decoded from strict UTF-8; malformed bytes, or a sequence the end cuts
// short, raise access/invalid-utf8 (the latter with a binary! copy of the bytes left over).
// May allocate: the first form's bytes must not lie in series memory; the second reads them at
// `offset` bytes past the head of the rooted byte buffer `source`.
Cell* load_utf8_strict(const uint8_t* bytes, size_t length);
Cell* load_utf8_strict(uint32_t source, size_t offset, size_t length);

// --- Writing ---------------------------------------------------------------------------------
// The writers widen first when the code point does not fit: append_char keeps unit 1 for code
// points up to 127 only, the others up to 255. Each may allocate and returns the node's current
// buffer.

// One code point at the tail.
alloc::Series* append_char(uint32_t node, uint32_t code_point);
// Stores the code point at the address (inside the buffer; the unit position it names is kept
// across a widening).
alloc::Series* poke_char(uint32_t node, uint8_t* address, uint32_t code_point);
// Stores the code point at the unit position, growing the buffer as far as needed; a position at
// or past the tail moves the tail past it, and units between the old tail and the position
// become code point 0.
alloc::Series* poke_char_at(uint32_t node, uint32_t position, uint32_t code_point);
// Inserts the code point at the unit position (at most the tail), shifting the rest up one unit.
alloc::Series* insert_char_at(uint32_t node, uint32_t position, uint32_t code_point);
// Removes count units at the unit position (no more than there are); nothing when the position
// is at or past the tail.
void remove_at(const Cell& value, uint32_t position, uint32_t count);
void remove_one_at(const Cell& value, uint32_t position);
// Inserts the code points of the source's first byte_count bytes from its head, one by one, at
// the destination's head (in order), then removes them from the source. Source and destination
// are two different buffers. May allocate.
void move_chars(const Cell& source, const Cell& destination, uint32_t byte_count);
// Appends each byte as one code point (a byte 128-255 widens a unit-1 buffer). The bytes must not
// lie in series memory. May allocate.
void append_c_string(const Cell& value, const char* text);
void append_c_chars(const Cell& value, const char* bytes, size_t count);
// Moves the tail back to first element + count units when that lies before it.
void truncate_units(uint32_t node, uint32_t count);
// Empties the buffer and makes it unit 1; the head index becomes 0. Returns the cell.
Cell* clear_all(Cell& value);
// Widens in place to unit 2 from 1, or to 4 from 1 or 2 (the buffer's unit must be `from`);
// any other target is fatal (kFatalNoSwitchMatch). May allocate.
alloc::Series* widen(uint32_t node, uint32_t from, uint32_t to);
// Copies `length` code units (below 1: to the tail) from source_offset in the source into the
// destination (0: a new buffer of size units) at destination_offset, widening 1 -> 2, 1 -> 4 or
// 2 -> 4; any other pair of source and target unit is fatal (kFatalNoCaseMatch). The destination
// grows when short; units between its tail and the offset become 0. Unless keep_tail, its tail
// is set after the copy and its unit to the target unit. Returns the destination node (a new
// one unrooted). May allocate.
uint32_t copy_widened(uint32_t source, uint32_t destination, uint32_t size, uint32_t target_unit,
                      uint32_t source_offset, uint32_t destination_offset, int64_t length,
                      bool keep_tail);

// The copy core of form, append, insert and change: the source's units from its head (at most
// part of them when part is 0 or more) go into the destination at its tail (kAppend), inserted at
// head + offset (kInsert) or over the units from head + offset (kOverwrite); an offset past the
// tail counts from the tail. A destination narrower than the source is widened; a source
// narrower than the destination is widened in place unless keep_source, in which case its code
// points are converted on the way. Source and destination may share a buffer. May allocate.
enum ConcatMode : int { kAppend = 0, kInsert = 1, kOverwrite = 2 };
void concatenate(const Cell& destination, const Cell& source, int64_t part, uint32_t offset,
                 bool keep_source, ConcatMode mode);

// Exchanges two regions of one buffer, [first][gap][second] -> [second][gap][first], through a
// shared scratch area that keeps its standing size between calls (allocates no series memory).
void rotate_regions(uint8_t* first, size_t first_length, size_t second_length, size_t gap);

// --- Hex digits ------------------------------------------------------------------------------

// The value 0-15 of a hex digit (either case), or -1 for any other code point.
constexpr int32_t hex_digit(uint32_t c) {
  if (c >= '0' && c <= '9') return int32_t(c - '0');
  if (c >= 'A' && c <= 'F') return int32_t(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return int32_t(c - 'a' + 10);
  return -1;
}

// The texts below live in static buffers, NUL-terminated, valid until the next call.

// The two upper-case hex digits of the byte.
const char* byte_to_hex(uint8_t byte);
// With trim: the significant digits alone (0 gives "00"; a negative value loses its leading F
// digits, so -1 gives ""). Without: always 8 digits.
const char* int_to_hex(int32_t value, bool trim);

// --- Comparison and matching -----------------------------------------------------------------

// -1, 0 or 1 comparing the texts from their heads under a comparison operator (action::CompareOp):
// case-folded except for STRICT_EQUAL and SORT_CASE_ORDER; under the equality operators texts of
// different lengths are different at once; SAME compares positions only. With prefix, 0 when
// value2 begins value1 (1 when value1 is shorter; an empty value2 gives 1 under FIND_EQUAL, else
// 0).
int32_t compare_strings(const Cell& value1, const Cell& value2, int32_t op, bool prefix);
// Whether the value matches at the input's head: a string-family value as a prefix, a char!
// against the head code point (folded unless STRICT_EQUAL), a tag! as its text in angle brackets.
bool match_at_head(const Cell& input, const Cell& value, int32_t op);
// The first unit position in [from, end) (an end past the tail counts as the tail) at which the
// pattern's units from its head all stand before end, folded unless case_sensitive; -1 when there
// is none. The pattern is a string-family value with at least one unit from its head.
int64_t find_units(const Cell& value, uint32_t from, uint32_t end, const Cell& pattern,
                   bool case_sensitive);
// How many units from position `from` on (before end, the tail at most; no more than max when max
// is 0 or more) have their code points in the bitset (read as head_char_in_bitset reads it).
uint32_t bitset_run(const Cell& value, uint32_t from, uint32_t end, const Cell& bitset,
                    int64_t max);
// Whether the input has "<" at its head and ">" just after the length of the tag's text.
bool tag_delimiters_at_head(const Cell& input, const Cell& tag);
// Whether the head code point's bit is set in the bitset; a code point beyond the bitset's bits
// gives the bitset's complement flag. False at the tail.
bool head_char_in_bitset(const Cell& value, const Cell& bitset);

// --- Mold ------------------------------------------------------------------------------------

// Appends the code point as mold writes it inside double quotes: control characters, the double
// quote and the caret as ^ and a letter, 127 as ^~, 30, 128-159 and the surrogates D800-DFFF
// (and, with all, everything above 127) as ^(hex). May allocate.
void mold_char_escaped(const Cell& out, uint32_t code_point, bool all);
// Adds the double quotes and the line feeds in [start, end) to the counters.
void count_quotes_and_newlines(const uint8_t* start, const uint8_t* end, uint32_t unit,
                               uint32_t& quotes, uint32_t& newlines);
// Whether the brace at start is closed inside [start, end).
bool braces_balanced(const uint8_t* start, const uint8_t* end, uint32_t unit);
// Appends the molded text of the value's first `count` units from its head (at most to the
// tail): in double quotes, or in braces when the range holds a double quote or 3 or more line
// feeds or the whole rest is 50 units or longer. May allocate.
void mold_text(const Cell& out, const Cell& value, uint32_t count, bool all);

// The body of uppercase and lowercase: a char! is folded in place; a string-family value from
// its head for `part` units (null: to the tail; an integer!, or a position in the same series;
// anything else raises script/invalid-refine-arg; a negative count changes nothing, and the
// count never reaches past the tail). A string widens when a folded code point needs it; its
// owner, if any, is then told once (uppercase or lowercase, index 0, the count). Returns the
// value. May allocate: the value's buffer must be rooted, and the cell itself is only read
// before the first allocation.
Cell* change_case(Cell* value, const Cell* part, bool upper);


// --- string! -------------------------------------------------------------------------------------
// Its row is the parent row of url! (and through it file!), binary!, tag!, email! and ref!, so
// make and to serve every type id.

// make and to of a text type: the new value goes into proto (which must stay put: the
// dispatcher's frame cell) and the cell is returned. May allocate.
Cell* make(Cell* proto, Cell* spec, uint8_t type);
Cell* to(Cell* proto, Cell* spec, uint8_t type);

// The editing and searching actions (datatypes/string_actions.cpp), with the signatures of their
// action slots.
Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step);
void insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
void change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* find(Cell* series, Cell* value, const action::FindOptions& options);
Cell* select(Cell* series, Cell* value, const action::FindOptions& options);
void swap(Cell* a, Cell* b);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
void trim(Cell* series, const action::TrimOptions& options);
// sort of string! and the types that inherit it (datatypes/string_sort.cpp): code points, or
// bytes for binary!, sorted as records in place.
Cell* sort(Cell* series, const action::SortOptions& options);

void register_datatype();

// --- Set operations ----------------------------------------------------------------------------

// The set natives on string! (series::SetCode): records of skip units from the heads of the
// frame's first one or two cells, compared by their first code point (folded unless
// case_sensitive), distinct and in first-seen order. A new string! at head 0 replaces
// arguments[0]. May allocate.
void set_operation(int32_t code, bool case_sensitive, const Cell* skip);

}  // namespace string
