// hash!: a block that keeps a hash index of its values (datatypes/hashtable.h) so that find and
// select look values up instead of walking the block. block!'s and series!'s own edits keep the
// index in step; this module makes, prints, copies and reorders hashes and answers find and
// select through the index.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace hash {

// A hash! cell is a series cell (runtime/cell.h) whose word 3 is the node of its hash table.
inline uint32_t table_node_of(const Cell& hash) { return hash.w3; }
inline void set_table_node(Cell& hash, uint32_t node) { hash.w3 = node; }

void register_datatype();  // after block!, its parent

}  // namespace hash
