// The datatype list: every datatype's id, name, parent and the families it belongs to, written
// once. The TypeId enum, the registry's names and parents (datatypes/datatype.h) and the family
// tests below are all made from it. The ids are fixed: the binary value format relies on them,
// so a row is never moved or removed, and a new datatype takes the next free id.
#pragma once
#include <array>
#include <cstdint>

// X(ENUM, id, name, parent, families). A null name reserves an id for a datatype not built
// yet: it is not registered and has no word. A parent of NONE_ID means none.
#define ZEL_DATATYPES(X)                                                                 \
  X(DATATYPE,   1,  "datatype!",   NONE_ID,  0)                                          \
  X(UNSET,      2,  "unset!",      NONE_ID,  0)                                          \
  X(NONE,       3,  "none!",       NONE_ID,  0)                                          \
  X(LOGIC,      4,  "logic!",      NONE_ID,  0)                                          \
  X(BLOCK,      5,  "block!",      SERIES,   ANY_LIST | ANY_BLOCK | ANY_SERIES)          \
  X(PAREN,      6,  "paren!",      BLOCK,    ANY_LIST | ANY_BLOCK | ANY_SERIES)          \
  X(STRING,     7,  "string!",     SERIES,   ANY_STRING | ANY_SERIES)                    \
  X(FILE,       8,  "file!",       URL,      ANY_STRING | ANY_SERIES)                    \
  X(URL,        9,  "url!",        STRING,   ANY_STRING | ANY_SERIES)                    \
  X(CHAR,       10, "char!",       INTEGER,  0)                                          \
  X(INTEGER,    11, "integer!",    NONE_ID,  NUMBER)                                     \
  X(FLOAT,      12, "float!",      NONE_ID,  NUMBER)                                     \
  X(SYMBOL,     13, "symbol!",     NONE_ID,  0)                                          \
  X(CONTEXT,    14, "context!",    NONE_ID,  0)                                          \
  X(WORD,       15, "word!",       SYMBOL,   ANY_WORD | ALL_WORD)                        \
  X(SET_WORD,   16, "set-word!",   WORD,     ANY_WORD | ALL_WORD)                        \
  X(LIT_WORD,   17, "lit-word!",   WORD,     ANY_WORD | ALL_WORD)                        \
  X(GET_WORD,   18, "get-word!",   WORD,     ANY_WORD | ALL_WORD)                        \
  X(REFINEMENT, 19, "refinement!", WORD,     ALL_WORD)                                   \
  X(ISSUE,      20, "issue!",      WORD,     ALL_WORD)                                   \
  X(NATIVE,     21, "native!",     NONE_ID,  ANY_FUNCTION)                               \
  X(ACTION,     22, "action!",     NATIVE,   ANY_FUNCTION)                               \
  X(OP,         23, "op!",         NATIVE,   ANY_FUNCTION)                               \
  X(FUNCTION,   24, "function!",   CONTEXT,  ANY_FUNCTION)                               \
  X(PATH,       25, "path!",       BLOCK,    ANY_PATH | ANY_BLOCK | ANY_SERIES)          \
  X(LIT_PATH,   26, "lit-path!",   PATH,     ANY_PATH | ANY_BLOCK | ANY_SERIES)          \
  X(SET_PATH,   27, "set-path!",   PATH,     ANY_PATH | ANY_BLOCK | ANY_SERIES)          \
  X(GET_PATH,   28, "get-path!",   PATH,     ANY_PATH | ANY_BLOCK | ANY_SERIES)          \
  X(ROUTINE,    29, "routine!",    FUNCTION, ANY_FUNCTION)                               \
  X(BITSET,     30, "bitset!",     NONE_ID,  0)                                          \
  X(TRIPLE,     31, "triple!",     NONE_ID,  0)                                          \
  X(OBJECT,     32, "object!",     NONE_ID,  0)                                          \
  X(TYPESET,    33, "typeset!",    NONE_ID,  0)                                          \
  X(ERROR,      34, "error!",      OBJECT,   0)                                          \
  X(VECTOR,     35, "vector!",     STRING,   ANY_SERIES)                                 \
  X(HASH,       36, "hash!",       BLOCK,    ANY_LIST | ANY_BLOCK | ANY_SERIES)          \
  X(PAIR,       37, "pair!",       NONE_ID,  HELD_IN_CELL)                               \
  X(PERCENT,    38, "percent!",    FLOAT,    NUMBER)                                     \
  X(TUPLE,      39, "tuple!",      NONE_ID,  HELD_IN_CELL)                               \
  X(MAP,        40, "map!",        NONE_ID,  0)                                          \
  X(BINARY,     41, "binary!",     STRING,   ANY_SERIES)                                 \
  X(SERIES,     42, "series!",     NONE_ID,  0)                                          \
  X(TIME,       43, "time!",       FLOAT,    HELD_IN_CELL)                               \
  X(TAG,        44, "tag!",        STRING,   ANY_STRING | ANY_SERIES)                    \
  X(EMAIL,      45, "email!",      STRING,   ANY_STRING | ANY_SERIES)                    \
  X(HANDLE,     46, "handle!",     INTEGER,  0)                                          \
  X(DATE,       47, "date!",       NONE_ID,  HELD_IN_CELL)                               \
  X(PORT,       48, "port!",       OBJECT,   0)                                          \
  X(MONEY,      49, "money!",      NONE_ID,  HELD_IN_CELL)                               \
  X(REF,        50, "ref!",        STRING,   ANY_STRING | ANY_SERIES)                    \
  X(POINT2D,    51, "point2D!",    NONE_ID,  HELD_IN_CELL)                               \
  X(POINT3D,    52, "point3D!",    NONE_ID,  HELD_IN_CELL)                               \
  X(IMAGE,      53, "image!",      SERIES,   ANY_SERIES)                                 \
  X(EVENT,      54, nullptr,       NONE_ID,  0) /* comes with the GUI */

// Datatype ids.
enum TypeId : uint8_t {
  TYPE_NONE_ID = 0,  // "no parent"
#define ZEL_TYPE_ID(type, id, name, parent, families) TYPE_##type = id,
  ZEL_DATATYPES(ZEL_TYPE_ID)
#undef ZEL_TYPE_ID
  TYPE_COUNT = 57,  // rows of the per-type tables: ids 0-56 (the last two free for tests)
};

namespace types {

// Type families, as the language's typesets of the same names group the datatypes (all-word is
// any-word with refinement! and issue!; any-series is the series! typeset). held-in-cell: the
// values whose whole state is in their cell, so that changing a field changes a copy.
enum Family : uint16_t {
  ANY_WORD = 1u << 0, ALL_WORD = 1u << 1, ANY_PATH = 1u << 2, ANY_LIST = 1u << 3,
  ANY_BLOCK = 1u << 4, ANY_STRING = 1u << 5, ANY_SERIES = 1u << 6, ANY_FUNCTION = 1u << 7,
  NUMBER = 1u << 8, HELD_IN_CELL = 1u << 9,
};

struct Row {
  const char* name = nullptr;  // null: the id is reserved (or free)
  uint8_t parent = TYPE_NONE_ID;
};

inline constexpr std::array<Row, TYPE_COUNT> kRows = [] {
  std::array<Row, TYPE_COUNT> rows{};
#define ZEL_TYPE_ROW(type, id, name, parent, families) rows[id] = Row{name, TYPE_##parent};
  ZEL_DATATYPES(ZEL_TYPE_ROW)
#undef ZEL_TYPE_ROW
  return rows;
}();

// By any byte of a header's type field, so that a test needs no bounds check.
inline constexpr std::array<uint16_t, 256> kFamilies = [] {
  std::array<uint16_t, 256> families{};
#define ZEL_TYPE_FAMILIES(type, id, name, parent, families_) families[id] = families_;
  ZEL_DATATYPES(ZEL_TYPE_FAMILIES)
#undef ZEL_TYPE_FAMILIES
  return families;
}();

// The ids run 1, 2, 3... in the list's order, with no gap, below TYPE_COUNT.
static_assert([] {
  int expected = 1;
  bool ok = true;
#define ZEL_TYPE_CHECK(type, id, name, parent, families) ok = ok && id == expected++;
  ZEL_DATATYPES(ZEL_TYPE_CHECK)
#undef ZEL_TYPE_CHECK
  return ok && expected <= TYPE_COUNT;
}());

constexpr const char* name(uint8_t type) { return kRows[type].name; }
constexpr uint8_t parent(uint8_t type) { return kRows[type].parent; }

constexpr bool any_word(uint8_t type) { return kFamilies[type] & ANY_WORD; }
constexpr bool all_word(uint8_t type) { return kFamilies[type] & ALL_WORD; }
constexpr bool any_path(uint8_t type) { return kFamilies[type] & ANY_PATH; }
constexpr bool any_list(uint8_t type) { return kFamilies[type] & ANY_LIST; }
constexpr bool any_block(uint8_t type) { return kFamilies[type] & ANY_BLOCK; }
constexpr bool any_string(uint8_t type) { return kFamilies[type] & ANY_STRING; }
constexpr bool any_series(uint8_t type) { return kFamilies[type] & ANY_SERIES; }
constexpr bool any_function(uint8_t type) { return kFamilies[type] & ANY_FUNCTION; }
constexpr bool number(uint8_t type) { return kFamilies[type] & NUMBER; }
constexpr bool held_in_cell(uint8_t type) { return kFamilies[type] & HELD_IN_CELL; }

}  // namespace types
