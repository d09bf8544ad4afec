// Hash tables: one open-addressing design (power-of-two bucket counts, 2 flag bits a bucket,
// probing whose step grows by one each try, load limit 0.77) behind hash! blocks, map!, the
// symbol table, context word tables and the record tables keyed by series nodes. Relies on the
// memory manager and the rooting rule of runtime/gc.h (tables move when they grow; every Cell*
// returned here is valid until the next allocation).
#pragma once
#include <cstdint>

#include "runtime/alloc.h"
#include "runtime/cell.h"

// A table is a small series (the Table record below) whose node is what values hold; its flags,
// keys and the block of cells it indexes are further series named by node. A bucket's key is a
// cell index of the block (hash!: or minus the number of a duplicate list), a symbol or word
// index, or a record's byte offset in the block; cell indexes count from the block's first
// element. A map! keeps each key's full hash beside it, so that a probe compares only keys of
// the same hash and growing hashes nothing again. Functions marked "May allocate" need the table rooted by the caller, through the
// value or root that holds it (the collector reaches it with hashtable::mark).

namespace hashtable {

enum Kind : uint32_t {
  kHash = 0,     // hash! blocks: duplicate values kept in lists
  kMap = 1,      // map!: key/value pairs, one entry per key
  kSymbols = 2,  // the symbol table (symbol! cells) and context word tables (word! cells)
  kRecords = 3,  // records keyed by a series node; the keys are kept alive
  kOwners = 4,   // records of series ownership: keys and owners are not kept alive (sweep)
};

struct Table {
  uint32_t size;      // live keys
  uint32_t reverse;   // hash!: node of the reverse index (cell index -> bucket)
  uint32_t dups;      // hash!: node of the duplicate lists (list n at position n)
  uint32_t flags;     // node: 2 bits a bucket, 16 buckets a word (2 empty, 1 deleted)
  uint32_t keys;      // node: one 32-bit key a bucket (map!: the key, then its hash)
  uint32_t block;     // node of the cells the table indexes (records, for record tables)
  uint32_t occupied;  // live + deleted buckets
  uint32_t buckets;   // a power of two, at least 4
  uint32_t upper;     // buckets * 0.77, truncated: the load limit
  uint32_t kind;
  uint32_t record_bytes;  // record tables: 16 + 16 * cells per record
};

// The record; valid until the next allocation.
inline Table* table_of(uint32_t node) {
  return reinterpret_cast<Table*>(alloc::series_of(node)->head_ptr());
}

// --- Hashing -----------------------------------------------------------------------------------

// Seed of every MurmurHash3 here; the random generator's start-up sets it, once, before any
// table exists.
extern uint32_t seed;

uint32_t murmur3(const uint8_t* bytes, uint32_t length);
uint32_t hash_int(uint32_t word);  // the MurmurHash3 final mix of the word
// By datatype; texts hash with their letters folded to upper case, words by canonical symbol.
uint32_t hash_value(const Cell& value);

// money! keys hash over a normalised copy of the cell, so that equal amounts hash alike; the
// money datatype installs its normaliser here (until then the cell hashes as it is).
using MoneyNormalizer = void (*)(Cell& copy);
extern MoneyNormalizer normalize_money;

// --- Symbols and words -------------------------------------------------------------------------

// The global symbol table, set by the symbol module when it makes the table. Case-insensitive
// word lookups and word hashes resolve symbol aliases through its block.
extern uint32_t symbol_table;
// The symbol's alias when it has one (a case variant of an earlier symbol), else the id itself.
uint32_t canonical_symbol(uint32_t id);

// 1-based id of the name. Exact: the symbol with these bytes; when only a case variant exists
// (ASCII letters), a new symbol aliasing the variant's canonical symbol. Any case: the canonical
// symbol of any case variant. An unknown name becomes a new symbol! cell appended to the table's
// block: alias -1 (or the variant's id), no decoded string, a new byte buffer holding the name
// with a NUL past its tail. The text may lie anywhere, series memory included: it is read
// before the first allocation. May allocate.
uint32_t intern_symbol(uint32_t table, const uint8_t* text, uint32_t length, bool any_case);

// Index of the word with the symbol in a context's word table (any case: any word whose
// canonical symbol is the symbol's), or -1. With a context node given, a missing word is
// appended to the word block as word! {context, symbol, index}, out_index receives its index
// and the result is still -1. May allocate (with a context).
int32_t find_word(uint32_t table, uint32_t symbol, bool any_case, uint32_t context,
                  int32_t* out_index);

// --- Map keys ----------------------------------------------------------------------------------

// Whether a map! accepts keys of the type: texts, binaries, words, and the scalars
// char! integer! float! refinement! issue! pair! percent! tuple! time! date! money! point2D!
// point3D!.
bool map_key_accepted(uint8_t type);
// A key of a type maps refuse raises script/invalid-path with its datatype and the key.
void check_map_key(const Cell& key);

// --- Tables over blocks ----------------------------------------------------------------------

// A new table for about `size` keys (below 4 counts as 4; the symbol kind doubles 4000 and
// more). With a block (kinds 0-2), the block is indexed at once; without one, and for record
// tables, a new block is made. Kind kSymbols with 2 cells per record takes a context node as
// `block` and gives a copy of that context's word table (record, flags, keys and word block;
// the copied words still name the source context, for the caller to rebind). Returns the
// table's node, not yet rooted. May allocate; a map! block with a key of a type maps refuse
// raises script/invalid-path.
uint32_t make(uint32_t size, uint32_t block, uint32_t kind, uint32_t cells_per_record);
// Rebuilds the table for `size` keys from its block. May allocate.
void rehash(uint32_t table, uint32_t size);
// Indexes the block's cells from `first` to the tail, one every `step` cells (map!: 2, the
// pairs: a key already present takes the pair's value and the pair leaves the block; a new key
// is normalised: a string-family or binary! key becomes a copy of its series, any word a
// set-word!; another unaccepted type raises script/invalid-path before anything changes).
// May allocate.
void index_cells(uint32_t table, uint32_t first, uint32_t step);
// Enters a cell of the table's block. put returns the cell; put_with_status returns 2 when a
// hash! table was rebuilt from its whole block while growing (every cell is then indexed), else
// 0. A map! key is expected to be absent (index_cells looks it up first). May allocate.
Cell* put(uint32_t table, const Cell* cell);
int32_t put_with_status(uint32_t table, const Cell* cell);
// The block cell matching the key under the comparison operator (action::CompareOp: EQUAL
// ignores letter case, STRICT_EQUAL does not, SAME compares identity), or null. hash!: the first
// match at or after head (the last one with `last`, the last one before head with `reverse`)
// whose distance from head is a multiple of skip. map!: the key cell (any word is looked up as
// a set-word!; removed entries are found too). The compare implementations may allocate.
Cell* find(uint32_t table, const Cell* key, uint32_t head, uint32_t skip, int32_t op, bool last,
           bool reverse);
// Walks a map!'s probe sequence for keys equal to the key ignoring case (EQUAL): start with a
// fresh Probe, call again for the next one; null at the end.
struct Probe {
  int32_t bucket = -1;
  uint32_t start = 0;
  uint32_t count = 0;
};
Cell* find_next_equal(uint32_t table, const Cell* key, Probe& probe);

// What a map! lookup learnt for an insert: the key's hash, and the bucket the key would take when
// it was not found (0xFFFFFFFF: none known).
struct MapSlot {
  uint32_t hash = 0;
  uint32_t free = 0xFFFFFFFF;
};
// map!: the key cell a lookup under the operator settles on, or null. Under STRICT_EQUAL and SAME
// the matching key; under EQUAL a live key strict-equal to the key, else the first live key
// equal to it along the probe sequence, else the first such removed key (so that a key put again
// takes its old place). Any word is looked up as a set-word; removed entries are found too.
// slot, when given, receives the key's hash and free bucket. The compare implementations may
// allocate.
Cell* find_map_key(uint32_t table, const Cell* key, int32_t op, MapSlot* slot);
// map!: enters the key cell at `index` of the block, of an accepted type and known to be absent,
// under the slot its lookup gave (find_map_key; nothing in between may have entered another
// key), and stores it in its own form as index_cells does. May allocate.
void add_map_key(uint32_t table, uint32_t index, const MapSlot& slot);

// Dropping entries (call these before the block itself changes). hash!: the cell leaves its
// duplicate list, or its bucket when it was alone, and its reverse-index entry is emptied; map!:
// the value cell's header becomes 0 (a hole the map skips) and the size drops, once.
void remove_cell(uint32_t table, const Cell* cell);
// hash!: drops count cells from `first` (cut at the tail); all of them resets the table.
void remove_range(uint32_t table, uint32_t first, uint32_t count);
// hash!: the cells that were at [first, first + count) now sit `delta` further on: their stored
// indexes and reverse-index entries follow. Returns 1 without changing anything when more than
// 30,000 cells are concerned (rebuild with rehash instead), else 0. May allocate.
int32_t shift_indexes(uint32_t table, uint32_t first, uint32_t count, int32_t delta);
// hash!: renumbers after `move` moved count cells from source: towards the tail they now end at
// target, towards the head they start at it; the cells in between moved the other way. Nothing
// when target lies inside the moved run. May allocate (a rebuild beyond 30,000 cells).
void move_range(uint32_t table, uint32_t target, uint32_t source, uint32_t count);
// Empties the index (record tables: the records too).
void clear(uint32_t table);
// A copy of the table over `block`, a copy of its block made by the caller; the copy shares no
// buffer (duplicate lists included) with the source. May allocate.
uint32_t copy(uint32_t table, uint32_t block);

// --- Record tables -----------------------------------------------------------------------------
// A record is a key cell (header unset!, word 1 the key node) and the record's cells after it.
inline uint32_t record_key_of(const Cell& key_cell) { return key_cell.w1; }

// The cells after the key cell of the key's record, new or existing; every cell of the record
// is then unset!. May allocate.
Cell* put_record(uint32_t table, uint32_t key);
// The cells after the key's key cell, or null.
Cell* get_record(uint32_t table, uint32_t key);
// As get_record, and the record leaves the table (its key cell's header becomes 0).
Cell* remove_record(uint32_t table, uint32_t key);

// --- Collector -----------------------------------------------------------------------------------

// Marks the table and what it keeps alive: its buffers, the cells of its block (hash!, map!,
// symbols, words, kRecords with each live record's key series) or, for kOwners, only the block
// buffer: its records refer to series and owners without keeping them.
void mark(uint32_t table);
// After marking, before compaction: drops every record whose key series is unmarked, and in a
// kOwners table also every record whose owner (the context node in word 1 of the record's
// second cell) is unmarked. Never allocates.
void sweep(uint32_t table);

}  // namespace hashtable
