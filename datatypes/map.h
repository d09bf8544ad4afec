// map!: the key/value dictionary. Its entries sit in a block, pairs of key and value in insertion
// order, beside a map-kind hash table (datatypes/hashtable.h) that finds keys; a removed entry
// stays in the block with a value header of 0 until its key is put again. Relies on the rooting
// rule of runtime/gc.h: entries are reached by index and re-derived after anything that can
// allocate.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace map {

// A map! cell is a series cell (runtime/cell.h) over the entry block, whose word 3 is the node
// of its map-kind hash table.
inline uint32_t table_node_of(const Cell& map) { return map.w3; }

// Whether values of the type can be map keys (the lexer checks literal keys with it).
bool valid_key_type_q(uint8_t type);

// Turns the cell into a map! holding the key/value pairs of the block cell from its head (or an
// empty map when block is null), with room for `size` entries. Keys are put as by extend: a
// later key equal to an earlier one, letter case ignored, replaces its value. The cell must stay
// put (a data-stack cell, or an output cell of the lexer). May allocate.
void make_at(Cell* target, const Cell* block, uint32_t size);

// Adds or replaces the pairs of the block (from its head) in the map; keys are compared with
// their letter case when case_flag is set. A block of odd length raises script/invalid-arg, a
// refused key type script/invalid-path. May allocate.
void extend(const Cell& map, const Cell& block, bool case_flag);

// The walk of foreach over a map: the first live entry at or after the map's position (a cell
// index into its entries, counting key and value). The position moves to that entry's key cell
// and key and value receive the pair as scripts get it (a word key as a word, a text key as a
// copy of its own); false when no live entry is left. key and value must stay put while a text
// key is copied (a data-stack cell, or a local under a gc::Guard). May allocate.
bool next_entry(Cell* position, Cell* key, Cell* value);

void register_datatypes();  // map!, then hash! (after block!, its parent)

}  // namespace map
