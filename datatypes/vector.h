// vector!: a series of fixed-width numbers of one element type (char!, integer!, float! or
// percent!) packed in a byte buffer whose unit is the element width. The cell's third payload
// word holds the element type's id. Most series actions come from string! and series!; this
// module owns the element model, construction, text, comparison, arithmetic and the actions
// whose string! forms would read the elements as text.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vector {

inline uint8_t element_type_of(const Cell& value) { return static_cast<uint8_t>(value.w3); }

// Makes an empty vector in the cell with room for count elements of the type and unit (bytes);
// count x unit beyond 32 bits raises internal/no-memory. May allocate.
Cell* make_at(Cell* cell, uint32_t count, uint8_t element_type, uint32_t unit);
// Appends a 32-bit integer to a vector of 32-bit integers. May allocate.
void append_int32(const Cell& vector, int32_t value);
// Drops every element from the vector's position on.
void truncate_at_head(const Cell& vector);

// The element at index i of the buffer (from its first element) as a value written to out.
Cell* push_element(const Cell& vector, int32_t i, Cell* out);
// Stores a value into element i: numbers are converted to the element type (a float into an
// integer vector is truncated to an integer first, then to the unit); any other value raises
// script/invalid-type with its datatype.
void store_element(const Cell& vector, int32_t i, const Cell& value);

void register_datatype();  // after string!

}  // namespace vector
