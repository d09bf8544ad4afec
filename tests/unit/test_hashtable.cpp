// Hash tables: hashing, sizes and growth of every kind, hash! duplicate lists and renumbering,
// map! keys, symbols and context words, record tables and their sweep by the collector. Growth
// runs under ZEL_GC_STRESS too, where every allocation moves every buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "datatypes/cell_ops.h"
#include "datatypes/datatype.h"
#include "datatypes/hashtable.h"
#include "runtime/alloc.h"
#include "runtime/array.h"
#include "runtime/casefold.h"
#include "runtime/gc.h"
#include "runtime/throw.h"
#include "word_test_support.h"

namespace {

using hashtable::table_of;

// --- Values the tests build by hand ----------------------------------------------------------

Cell integer(int32_t v) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }

// A text buffer of the unit holding the ASCII text.
uint32_t text_series(const std::string& text, uint32_t unit = 1) {
  uint32_t node = alloc::new_unit_series(uint32_t(text.size()), unit);
  alloc::Series* s = alloc::series_of(node);
  for (size_t i = 0; i < text.size(); i++) {
    uint32_t cp = static_cast<uint8_t>(text[i]);
    std::memcpy(s->head_ptr() + i * unit, &cp, unit);  // little-endian code units
  }
  s->tail = s->head + uint32_t(text.size()) * unit;
  return node;
}

using cell::cell_count;
using cell::cells_of;

void append(uint32_t block, const Cell& value) {
  Cell copy = value;  // the block may move while it grows
  *cell::buffer_append_new_cell(block) = copy;
}

// Appends a string! over a new buffer (kept alive by the block once appended).
void append_text(uint32_t block, const std::string& text, uint32_t unit = 1) {
  uint32_t node = text_series(text, unit);
  gc::Guard guard(node);
  append(block, cell::make_series(TYPE_STRING, node));
}

std::string text_of(const Cell& value) {
  alloc::Series* s = alloc::series_of(value.w2);
  std::string out;
  for (uint32_t i = value.w1; i < s->used() / s->unit(); i++) {
    uint32_t cp = 0;
    std::memcpy(&cp, s->head_ptr() + i * s->unit(), s->unit());
    out += static_cast<char>(cp);
  }
  return out;
}

// --- Compare doubles, installed only where no datatype has registered one ----------------------

bool equality_op(int32_t op) {
  return op == action::EQUAL || op == action::NOT_EQUAL || op == action::STRICT_EQUAL ||
         op == action::SAME || op == action::FIND_EQUAL;
}

int32_t compare_integers(Cell* a, Cell* b, int32_t op) {
  auto x = static_cast<int32_t>(a->w2), y = static_cast<int32_t>(b->w2);
  if (equality_op(op)) return x == y ? 0 : 1;
  return x < y ? -1 : x > y;
}

int32_t compare_texts(Cell* a, Cell* b, int32_t op) {
  if (op == action::SAME) return a->w2 == b->w2 && a->w1 == b->w1 ? 0 : 1;
  std::string x = text_of(*a), y = text_of(*b);
  if (op != action::STRICT_EQUAL && op != action::SORT_CASE_ORDER) {
    for (char& c : x) c = char(std::toupper(static_cast<unsigned char>(c)));
    for (char& c : y) c = char(std::toupper(static_cast<unsigned char>(c)));
  }
  if (equality_op(op)) return x == y ? 0 : 1;
  return x < y ? -1 : x > y;
}

// --- Roots ---------------------------------------------------------------------------------------

std::vector<uint32_t> root_tables;  // marked as the values holding them would
uint32_t swept_table = 0;           // marked as a root, then swept once marking is done

void mark_roots() {
  for (uint32_t table : root_tables) hashtable::mark(table);
  if (swept_table) hashtable::mark(swept_table);
}

// A later marker: the collector finishes marking everything reachable before it calls the next.
void sweep_records() {
  if (swept_table) hashtable::sweep(swept_table);
}

uint32_t keep(uint32_t table) {
  root_tables.push_back(table);
  return table;
}

uint32_t block_of(uint32_t table) { return table_of(table)->block; }

// A table of the kind over a new empty block, rooted.
uint32_t make_over_block(uint32_t size, uint32_t kind) {
  uint32_t block = alloc::new_cell_series(4);
  gc::Guard guard(block);
  return keep(hashtable::make(size, block, kind, kind == hashtable::kMap ? 2 : 1));
}

// Appends the value to a hash! block and puts it.
void hash_append(uint32_t table, const Cell& value) {
  append(block_of(table), value);
  uint32_t block = block_of(table);
  hashtable::put(table, cells_of(block) + cell_count(block) - 1);
}

int64_t find_index(uint32_t table, const Cell& key, uint32_t head = 0, uint32_t skip = 1,
                   int32_t op = action::STRICT_EQUAL, bool last = false, bool reverse = false) {
  Cell* found = hashtable::find(table, &key, head, skip, op, last, reverse);
  return found ? found - cells_of(block_of(table)) : -1;
}

// Every cell of a hash! block is found at its own index when the search starts there.
void expect_consistent(uint32_t table) {
  uint32_t n = cell_count(block_of(table));
  for (uint32_t i = 0; i < n; i++) {
    Cell key = cells_of(block_of(table))[i];
    ASSERT_EQ(find_index(table, key, i), int64_t(i)) << "cell " << i;
  }
}

// The reverse index names each cell's bucket: dropping the cells one by one through it takes
// every one of them out of the index. Ends with an empty index.
void expect_reverse_consistent(uint32_t table) {
  uint32_t n = cell_count(block_of(table));
  for (uint32_t i = 0; i < n; i++) {
    hashtable::remove_cell(table, cells_of(block_of(table)) + i);
    Cell key = cells_of(block_of(table))[i];
    ASSERT_NE(find_index(table, key, i), int64_t(i)) << "cell " << i << " still indexed";
  }
  EXPECT_EQ(table_of(table)->size, 0u);
}

int32_t compare_symbol_ids(Cell* a, Cell* b, int32_t) { return a->w2 == b->w2 ? 0 : 1; }

class HashTables : public testing::Test {
 protected:
  void SetUp() override {
    static bool marker_added = false;
    if (!marker_added) {
      gc::add_marker(mark_roots);
      gc::add_marker(sweep_records);
      marker_added = true;
    }
    // The tests' own compare rules, whatever the datatypes registered.
    install(TYPE_INTEGER, compare_integers);
    install(TYPE_STRING, compare_texts);
    install(TYPE_SET_WORD, compare_symbol_ids);
    saved_symbol_table_ = hashtable::symbol_table;
    hashtable::symbol_table = 0;
    saved_enabled_ = gc::enabled;
    gc::enabled = true;
  }
  void TearDown() override {
    gc::enabled = saved_enabled_;
    root_tables.clear();
    swept_table = 0;
    hashtable::symbol_table = saved_symbol_table_;
    for (auto [type, fn] : saved_compares_) datatype::table[type][action::COMPARE - 1] = fn;
  }

  void install(uint8_t type, action::Fn<action::COMPARE> fn) {
    datatype::AnyFn& slot = datatype::table[type][action::COMPARE - 1];
    saved_compares_.push_back({type, slot});
    slot = reinterpret_cast<datatype::AnyFn>(fn);
  }

  uint32_t saved_symbol_table_ = 0;
  bool saved_enabled_ = true;
  std::vector<std::pair<uint8_t, datatype::AnyFn>> saved_compares_;
};

// --- Hashing -------------------------------------------------------------------------------------

TEST_F(HashTables, Murmur3MatchesTheReferenceVectors) {
  struct Case {
    const char* text;
    uint32_t seed, hash;
  };
  const std::vector<Case> cases = {
      {"", 0, 0},
      {"", 1, 0x514E28B7},
      {"", 0xFFFFFFFF, 0x81F16F39},
      {"a", 0x9747B28C, 0x7FA09EA6},
      {"ab", 0x9747B28C, 0x74875592},
      {"abc", 0x9747B28C, 0xC84A62DD},
      {"abcd", 0x9747B28C, 0xF0478627},
      {"aaaa", 0x9747B28C, 0x5A97808A},
      {"Hello, world!", 0x9747B28C, 0x24884CBA},
      {"The quick brown fox jumps over the lazy dog", 0x9747B28C, 0x2FA826CD},
  };
  uint32_t saved = hashtable::seed;
  for (const Case& c : cases) {
    hashtable::seed = c.seed;
    EXPECT_EQ(
        hashtable::murmur3(reinterpret_cast<const uint8_t*>(c.text), uint32_t(strlen(c.text))),
        c.hash)
        << '"' << c.text << "\" seed " << c.seed;
  }
  hashtable::seed = saved;
  EXPECT_EQ(hashtable::hash_int(1), 0x514E28B7u);  // the final mix alone
  EXPECT_EQ(hashtable::hash_int(0), 0u);
}

TEST_F(HashTables, TextHashFoldsCaseAndIgnoresTheUnitWidth) {
  uint32_t block = alloc::new_cell_series(4);
  gc::Guard guard(block);
  append_text(block, "Hello");
  append_text(block, "HELLO", 2);
  append_text(block, "hello", 4);
  append_text(block, "xxhello");
  cells_of(block)[3].w1 = 2;  // the value starts at its head
  append_text(block, "hellO!");
  Cell* c = cells_of(block);
  uint32_t folded[] = {'H', 'E', 'L', 'L', 'O'};
  uint32_t expected = hashtable::murmur3(reinterpret_cast<const uint8_t*>(folded), sizeof folded);
  for (int i = 0; i < 4; i++) EXPECT_EQ(hashtable::hash_value(c[i]), expected) << i;
  EXPECT_NE(hashtable::hash_value(c[4]), expected);
}

// One-byte texts hash byte by byte inline: longer texts, non-ASCII bytes (folded through the
// tables, past 255 for y diaeresis) and a head inside the text hash as the folded code points do.
TEST_F(HashTables, TextHashOfOneByteTextsByRuns) {
  const std::string texts[] = {"Map Keys Are Mostly Short Texts", "caf\xE9 na\xEFve \xFF!",
                               "xmap keys are mo", "0123456789abcdefG"};
  uint32_t block = alloc::new_cell_series(8);
  gc::Guard guard(block);
  for (const std::string& text : texts) append_text(block, text);
  cells_of(block)[2].w1 = 1;
  for (int i = 0; i < 4; i++) {
    std::vector<uint32_t> folded;
    for (size_t k = cells_of(block)[i].w1; k < texts[i].size(); k++) {
      folded.push_back(casefold::fold_char(static_cast<uint8_t>(texts[i][k]), true));
    }
    uint32_t expected = hashtable::murmur3(reinterpret_cast<const uint8_t*>(folded.data()),
                                           uint32_t(folded.size() * 4));
    EXPECT_EQ(hashtable::hash_value(cells_of(block)[i]), expected) << i;
  }
  append_text(block, "CAF\xC9 NA\xCFVE \xFF!", 2);
  EXPECT_EQ(hashtable::hash_value(cells_of(block)[4]), hashtable::hash_value(cells_of(block)[1]));
}

TEST_F(HashTables, HashValueFollowsTheDatatype) {
  Cell flt{TYPE_FLOAT, 7, 0, 0};
  cell::set_double(flt, 2.5);
  Cell other_word1 = flt;
  other_word1.w1 = 99;  // not part of a float's hash
  Cell tuple{TYPE_TUPLE | (3u << 19), 0x00030201, 0xDEAD, 0xBEEF};
  Cell tuple_other_tail{TYPE_TUPLE | (3u << 19), 0xFF030201, 1, 2};
  Cell flagged_integer{TYPE_INTEGER | cell::kNewLine, 0, 42, 0};
  EXPECT_EQ(hashtable::hash_value(Cell{TYPE_UNSET, 0, 0, 0}), 0xFFFFFFFEu);
  EXPECT_EQ(hashtable::hash_value(Cell{TYPE_NONE, 0, 0, 0}), 0xFFFFFFFFu);
  EXPECT_EQ(hashtable::hash_value(Cell{TYPE_LOGIC, 1, 5, 6}), hashtable::hash_int(1));
  EXPECT_EQ(hashtable::hash_value(integer(42)), hashtable::hash_int(42));
  EXPECT_EQ(hashtable::hash_value(flagged_integer), hashtable::hash_int(42));
  EXPECT_EQ(hashtable::hash_value(Cell{TYPE_NATIVE, 1, 2, 3}), hashtable::hash_int(3));
  EXPECT_EQ(hashtable::hash_value(flt), hashtable::hash_value(other_word1));
  EXPECT_EQ(hashtable::hash_value(tuple), hashtable::hash_value(tuple_other_tail));
  EXPECT_NE(hashtable::hash_value(Cell{TYPE_BLOCK, 0, 7, 0}),
            hashtable::hash_value(Cell{TYPE_BLOCK, 1, 7, 0}));
  EXPECT_EQ(hashtable::hash_value(Cell{TYPE_BITSET, 1, 2, 3}), 0u);
}

TEST_F(HashTables, WordsHashByTheirCanonicalSymbol) {
  uint32_t symbols = keep(hashtable::make(0, 0, hashtable::kSymbols, 1));
  hashtable::symbol_table = symbols;
  auto intern = [&](const char* name) {
    return hashtable::intern_symbol(symbols, reinterpret_cast<const uint8_t*>(name),
                                    uint32_t(strlen(name)), false);
  };
  uint32_t foo = intern("foo");
  uint32_t foo_upper = intern("FOO");
  uint32_t bar = intern("bar");
  uint32_t expected = hashtable::hash_int(foo);
  for (uint8_t type : {TYPE_WORD, TYPE_SET_WORD, TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE}) {
    EXPECT_EQ(hashtable::hash_value(Cell{type, 0, foo_upper, 0}), expected) << int(type);
    EXPECT_EQ(hashtable::hash_value(Cell{type, 9, foo, 3}), expected) << int(type);
  }
  EXPECT_EQ(hashtable::hash_value(Cell{TYPE_WORD, 0, bar, 0}), hashtable::hash_int(bar));
}

// --- Sizes and growth of every kind --------------------------------------------------------------

TEST_F(HashTables, BucketCountsFollowTheAskedSize) {
  struct Case {
    uint32_t size, kind, buckets, upper;
  };
  const std::vector<Case> cases = {
      {0, hashtable::kHash, 8, 6},  // 4 / 0.77 -> 5 -> 8
      {4, hashtable::kMap, 8, 6},
      {7, hashtable::kMap, 16, 12},  // 9.09 -> 9 -> 16
      {3999, hashtable::kSymbols, 8192, 6307},
      {4000, hashtable::kSymbols, 16384, 12615},  // the symbol kind doubles 4000 and more
      {4000, hashtable::kRecords, 8192, 6307},
  };
  for (const Case& c : cases) {
    uint32_t table = keep(hashtable::make(c.size, 0, c.kind, 1));
    EXPECT_EQ(table_of(table)->buckets, c.buckets) << c.size << " kind " << c.kind;
    EXPECT_EQ(table_of(table)->upper, c.upper) << c.size << " kind " << c.kind;
    EXPECT_EQ(table_of(table)->size, 0u);
  }
}

struct KindCase {
  const char* name;
  std::function<uint32_t()> make;
  std::function<void(uint32_t table, int n)> insert;
  std::function<bool(uint32_t table, int n)> has;
};

// Each kind's way of entering key n and of finding it again.
std::vector<KindCase> kind_cases(uint32_t context, uint32_t key_block) {
  auto record_key = [key_block](int n) { return cells_of(key_block)[n].w2; };
  auto records = [record_key](uint32_t kind) {
    return KindCase{kind == hashtable::kRecords ? "records" : "owners",
                    [kind] { return hashtable::make(0, 0, kind, 2); },
                    [record_key](uint32_t t, int n) {
                      hashtable::put_record(t, record_key(n))[0] = integer(n);
                    },
                    [record_key](uint32_t t, int n) {
                      Cell* r = hashtable::get_record(t, record_key(n));
                      return r && r[0].w2 == uint32_t(n);
                    }};
  };
  auto symbol_name = [](int n) { return "key-" + std::to_string(n); };
  return {
      {"hash!", [] { return make_over_block(0, hashtable::kHash); },
       [](uint32_t t, int n) { hash_append(t, integer(n)); },
       [](uint32_t t, int n) { return find_index(t, integer(n)) >= 0; }},
      {"map!", [] { return make_over_block(0, hashtable::kMap); },
       [](uint32_t t, int n) {
         uint32_t block = table_of(t)->block;
         append(block, integer(n));
         append(block, integer(-n));
         hashtable::index_cells(t, cell_count(block) - 2, 2);
       },
       [](uint32_t t, int n) {
         Cell key = integer(n);
         Cell* k = hashtable::find(t, &key, 0, 1, action::STRICT_EQUAL, false, false);
         return k && k[1].w2 == uint32_t(-n);
       }},
      {"symbols", [] { return hashtable::make(0, 0, hashtable::kSymbols, 1); },
       [symbol_name](uint32_t t, int n) {
         std::string name = symbol_name(n);
         hashtable::intern_symbol(t, reinterpret_cast<const uint8_t*>(name.data()),
                                  uint32_t(name.size()), false);
       },
       [symbol_name](uint32_t t, int n) {
         std::string name = symbol_name(n);
         uint32_t before = table_of(t)->size;
         uint32_t id = hashtable::intern_symbol(t, reinterpret_cast<const uint8_t*>(name.data()),
                                                uint32_t(name.size()), false);
         return table_of(t)->size == before && id == uint32_t(n + 1);
       }},
      {"words", [] { return hashtable::make(0, 0, hashtable::kSymbols, 1); },
       [context](uint32_t t, int n) {
         int32_t index = -2;
         EXPECT_EQ(hashtable::find_word(t, uint32_t(n + 1), false, context, &index), -1);
         EXPECT_EQ(index, n);
       },
       [](uint32_t t, int n) {
         return hashtable::find_word(t, uint32_t(n + 1), false, 0, nullptr) == n;
       }},
      records(hashtable::kRecords),
      records(hashtable::kOwners),
  };
}

TEST_F(HashTables, EveryKindStartsAtEightBucketsAndGrowsAtTheSeventhKey) {
  uint32_t context = alloc::new_cell_series(2);
  gc::Guard context_guard(context);
  uint32_t key_block = alloc::new_cell_series(8);  // record keys: live series
  gc::Guard keys_guard(key_block);
  for (int n = 0; n < 8; n++) append_text(key_block, "k");
  for (const KindCase& k : kind_cases(context, key_block)) {
    SCOPED_TRACE(k.name);
    uint32_t table = keep(k.make());
    EXPECT_EQ(table_of(table)->buckets, 8u);
    EXPECT_EQ(table_of(table)->upper, 6u);
    for (int n = 0; n < 6; n++) k.insert(table, n);
    EXPECT_EQ(table_of(table)->buckets, 8u);
    EXPECT_EQ(table_of(table)->occupied, 6u);
    k.insert(table, 6);
    EXPECT_EQ(table_of(table)->buckets, 16u);
    EXPECT_EQ(table_of(table)->size, 7u);
    for (int n = 0; n < 7; n++) EXPECT_TRUE(k.has(table, n)) << n;
    EXPECT_FALSE(k.has(table, 7));
  }
}

TEST_F(HashTables, GrowthKeepsEveryKeyFindable) {
  constexpr int kKeys = 600;
  uint32_t context = alloc::new_cell_series(2);
  gc::Guard context_guard(context);
  uint32_t key_block = alloc::new_cell_series(kKeys);
  gc::Guard keys_guard(key_block);
  for (int n = 0; n <= kKeys; n++) append_text(key_block, "k" + std::to_string(n));
  for (const KindCase& k : kind_cases(context, key_block)) {
    SCOPED_TRACE(k.name);
    uint32_t table = keep(k.make());
    for (int n = 0; n < kKeys; n++) k.insert(table, n);
    EXPECT_EQ(table_of(table)->size, uint32_t(kKeys));
    EXPECT_GE(table_of(table)->buckets, 1024u);
    EXPECT_LT(table_of(table)->occupied, table_of(table)->upper);
    for (int n = 0; n < kKeys; n++) ASSERT_TRUE(k.has(table, n)) << n;
    EXPECT_FALSE(k.has(table, kKeys));
  }
}

TEST_F(HashTables, StringKeysStayFindableWhileTheirTablesGrowAndMove) {
  constexpr int kKeys = 300;
  uint32_t hash = make_over_block(0, hashtable::kHash);
  uint32_t map = make_over_block(0, hashtable::kMap);
  for (int n = 0; n < kKeys; n++) {
    append_text(block_of(hash), "Key " + std::to_string(n));
    hashtable::put(hash, cells_of(block_of(hash)) + n);
    append_text(block_of(map), "key " + std::to_string(n));
    append(block_of(map), integer(n));
    hashtable::index_cells(map, 2 * n, 2);
  }
  uint32_t probes = alloc::new_cell_series(4);
  gc::Guard guard(probes);
  for (int n = 0; n < kKeys; n++) {
    alloc::series_of(probes)->tail = 0;
    append_text(probes, "KEY " + std::to_string(n));
    Cell key = cells_of(probes)[0];
    EXPECT_EQ(find_index(hash, key, 0, 1, action::EQUAL), n);
    EXPECT_EQ(find_index(hash, key, 0, 1, action::STRICT_EQUAL), -1);
    Cell* found = hashtable::find(map, &key, 0, 1, action::EQUAL, false, false);
    ASSERT_NE(found, nullptr) << n;
    EXPECT_EQ(found[1].w2, uint32_t(n));
  }
}

TEST_F(HashTables, AFullTableOfMostlyRemovedKeysDropsItsDeletedBucketsInsteadOfGrowing) {
  uint32_t table = keep(hashtable::make(40, 0, hashtable::kRecords, 1));
  uint32_t keys = alloc::new_cell_series(64);
  gc::Guard guard(keys);
  for (int n = 0; n < 64; n++) append_text(keys, "r");
  auto key = [&](int n) { return cells_of(keys)[n].w2; };
  uint32_t buckets = table_of(table)->buckets;  // 64, upper 49
  uint32_t upper = table_of(table)->upper;
  for (uint32_t n = 0; n < upper; n++) hashtable::put_record(table, key(int(n)));
  for (uint32_t n = 2; n < upper; n++)
    ASSERT_NE(hashtable::remove_record(table, key(int(n))), nullptr);
  EXPECT_EQ(table_of(table)->size, 2u);
  EXPECT_EQ(table_of(table)->occupied, upper);
  hashtable::put_record(table, key(60));
  EXPECT_EQ(table_of(table)->buckets, buckets);
  EXPECT_EQ(table_of(table)->size, 3u);
  EXPECT_EQ(table_of(table)->occupied, 3u);
  EXPECT_EQ(cell_count(block_of(table)), 3u * 2);  // only the live records were kept
  for (int n : {0, 1, 60}) EXPECT_NE(hashtable::get_record(table, key(n)), nullptr);
  for (int n : {2, 30, 48}) EXPECT_EQ(hashtable::get_record(table, key(n)), nullptr);
}

// --- hash! ---------------------------------------------------------------------------------------

TEST_F(HashTables, HashFindsAmongDuplicatesByHeadSkipLastAndReverse) {
  uint32_t table = make_over_block(0, hashtable::kHash);
  //                               0  1  2  3  4  5  6
  for (int v : std::vector<int>{7, 1, 7, 2, 7, 7, 3}) hash_append(table, integer(v));
  struct Case {
    int value;
    uint32_t head, skip;
    bool last, reverse;
    int64_t index;
  };
  const std::vector<Case> cases = {
      {7, 0, 1, false, false, 0},  {7, 1, 1, false, false, 2},  {7, 3, 1, false, false, 4},
      {7, 6, 1, false, false, -1}, {7, 0, 1, true, false, 5},   {7, 5, 1, true, false, 5},
      {7, 6, 1, true, false, -1},  {7, 4, 1, false, true, 2},   {7, 0, 1, false, true, -1},
      {7, 7, 1, false, true, 5},   {7, 1, 2, false, false, 5},  {7, 0, 2, false, false, 0},
      {7, 1, 3, false, false, 4},  {7, 0, 2, true, false, 4},   {7, 6, 2, false, true, 4},
      {3, 0, 1, false, false, 6},  {2, 4, 1, false, false, -1}, {9, 0, 1, false, false, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(find_index(table, integer(c.value), c.head, c.skip, action::STRICT_EQUAL, c.last,
                         c.reverse),
              c.index)
        << c.value << " head " << c.head << " skip " << c.skip << (c.last ? " last" : "")
        << (c.reverse ? " reverse" : "");
  }
  EXPECT_EQ(table_of(table)->size, 4u);  // one bucket per distinct value
  expect_consistent(table);
}

TEST_F(HashTables, RemovingFromADuplicateListFreesTheBucketOnlyWithItsLastIndex) {
  uint32_t table = make_over_block(0, hashtable::kHash);
  for (int v : std::vector<int>{7, 1, 7, 7}) hash_append(table, integer(v));
  auto remove = [&](uint32_t i) { hashtable::remove_cell(table, cells_of(block_of(table)) + i); };
  remove(2);
  EXPECT_EQ(find_index(table, integer(7), 1), 3);
  EXPECT_EQ(table_of(table)->size, 2u);
  remove(0);
  EXPECT_EQ(find_index(table, integer(7)), 3);
  EXPECT_EQ(table_of(table)->size, 2u);
  remove(3);
  EXPECT_EQ(find_index(table, integer(7)), -1);
  EXPECT_EQ(table_of(table)->size, 1u);
  remove(3);  // not indexed any more: nothing changes
  EXPECT_EQ(table_of(table)->size, 1u);
  EXPECT_EQ(find_index(table, integer(1)), 1);
}

TEST_F(HashTables, HashFindHonoursTheCompareOperator) {
  uint32_t table = make_over_block(0, hashtable::kHash);
  append_text(block_of(table), "abc");
  append_text(block_of(table), "ABC");
  append_text(block_of(table), "abc");
  for (uint32_t i = 0; i < 3; i++) hashtable::put(table, cells_of(block_of(table)) + i);
  Cell upper = cells_of(block_of(table))[1];
  Cell lower = cells_of(block_of(table))[2];
  EXPECT_EQ(find_index(table, upper, 0, 1, action::EQUAL), 0);
  EXPECT_EQ(find_index(table, upper, 0, 1, action::EQUAL, true), 2);
  EXPECT_EQ(find_index(table, upper, 0, 1, action::STRICT_EQUAL), 1);
  EXPECT_EQ(find_index(table, lower, 1, 1, action::STRICT_EQUAL), 2);
  EXPECT_EQ(find_index(table, lower, 0, 1, action::SAME), 2);  // identity, not the equal twin
  EXPECT_EQ(table_of(table)->size, 2u);
}

// A compare that allocates, as a datatype's may: under stress each call moves every buffer.
int32_t compare_texts_allocating(Cell* a, Cell* b, int32_t op) {
  alloc::new_byte_series(16);
  return compare_texts(a, b, op);
}

// The key may be a cell of the very block searched, which an allocating compare moves: find reads
// the key once, before the first compare.
TEST_F(HashTables, HashFindReadsAKeyInTheBlockBeforeComparing) {
  install(TYPE_STRING, compare_texts_allocating);
  uint32_t table = make_over_block(0, hashtable::kHash);
  append_text(block_of(table), "abc");
  append_text(block_of(table), "ABC");  // the same hash: one probe sequence meets both
  for (uint32_t i = 0; i < 2; i++) hashtable::put(table, cells_of(block_of(table)) + i);
  for (uint32_t i = 0; i < 2; i++) {
    Cell* found;
    {
      word_test::StressEveryAllocation stress;
      found = hashtable::find(table, cells_of(block_of(table)) + i, 0, 1, action::STRICT_EQUAL,
                              false, false);
    }
    EXPECT_EQ(found - cells_of(block_of(table)), int64_t(i));
  }
}

// Moves cells in a hash! block the way the block actions do, then renumbers the index.
void insert_at(uint32_t table, uint32_t at, const std::vector<int>& values) {
  uint32_t block = table_of(table)->block;
  uint32_t length = cell_count(block);
  auto n = uint32_t(values.size());
  for (uint32_t i = 0; i < n; i++) append(block, integer(0));
  Cell* c = cells_of(block);
  std::memmove(c + at + n, c + at, (length - at) * sizeof(Cell));
  for (uint32_t i = 0; i < n; i++) c[at + i] = integer(values[i]);
  ASSERT_EQ(hashtable::shift_indexes(table, at, length - at, int32_t(n)), 0);
  for (uint32_t i = 0; i < n; i++) hashtable::put(table, cells_of(block) + at + i);
}

void remove_at(uint32_t table, uint32_t at, uint32_t n) {
  uint32_t block = table_of(table)->block;
  uint32_t length = cell_count(block);
  hashtable::remove_range(table, at, n);
  Cell* c = cells_of(block);
  std::memmove(c + at, c + at + n, (length - at - n) * sizeof(Cell));
  alloc::series_of(block)->tail -= n * sizeof(Cell);
  ASSERT_EQ(hashtable::shift_indexes(table, at + n, length - at - n, -int32_t(n)), 0);
}

TEST_F(HashTables, ShiftingKeepsTheIndexInStepWithInsertsAndRemovals) {
  uint32_t table = make_over_block(0, hashtable::kHash);
  for (int v = 0; v < 40; v++) hash_append(table, integer(v % 7));
  insert_at(table, 0, {100, 3, 3});
  expect_consistent(table);
  insert_at(table, 20, {5, 101});
  expect_consistent(table);
  remove_at(table, 10, 6);
  expect_consistent(table);
  remove_at(table, 0, 1);
  expect_consistent(table);
  EXPECT_EQ(find_index(table, integer(100)), -1);
  EXPECT_GE(find_index(table, integer(101)), 0);
  EXPECT_EQ(hashtable::shift_indexes(table, 0, 30001, 1), 1);  // too many: rebuild instead
  expect_consistent(table);
  expect_reverse_consistent(table);
}

TEST_F(HashTables, MovingARangeRenumbersBothRuns) {
  struct Case {
    uint32_t source, count, target;
  };
  const std::vector<Case> cases = {
      {0, 3, 9}, {2, 4, 15}, {10, 5, 1}, {12, 8, 0}, {5, 1, 6}, {6, 1, 5}, {3, 3, 4},  // inside
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.source) + "+" + std::to_string(c.count) + " -> " +
                 std::to_string(c.target));
    uint32_t table = make_over_block(0, hashtable::kHash);
    for (int v = 0; v < 20; v++) hash_append(table, integer(v % 6));
    Cell* b = cells_of(block_of(table));
    if (c.target >= c.source + c.count) {
      std::rotate(b + c.source, b + c.source + c.count, b + c.target + 1);
    } else if (c.target < c.source) {
      std::rotate(b + c.target, b + c.source, b + c.source + c.count);
    }
    hashtable::move_range(table, c.target, c.source, c.count);
    expect_consistent(table);
    expect_reverse_consistent(table);
  }
}

TEST_F(HashTables, RemovingEveryCellResetsTheTableAndAPartialRangeDropsOnlyItsCells) {
  uint32_t table = make_over_block(0, hashtable::kHash);
  for (int v : std::vector<int>{1, 2, 2, 3, 4}) hash_append(table, integer(v));
  hashtable::remove_range(table, 2, 100);  // cut at the tail
  EXPECT_EQ(find_index(table, integer(2)), 1);
  EXPECT_EQ(find_index(table, integer(3)), -1);
  EXPECT_EQ(table_of(table)->size, 2u);
  hashtable::remove_range(table, 0, 5);
  EXPECT_EQ(table_of(table)->size, 0u);
  EXPECT_EQ(table_of(table)->occupied, 0u);
  EXPECT_EQ(array::length(table_of(table)->dups), 0u);
  EXPECT_EQ(find_index(table, integer(1)), -1);
  alloc::series_of(block_of(table))->tail = 0;
  for (int v : std::vector<int>{9, 9}) hash_append(table, integer(v));
  EXPECT_EQ(find_index(table, integer(9), 1), 1);
}

TEST_F(HashTables, ACopiedHashSharesNoDuplicateListWithItsSource) {
  uint32_t table = make_over_block(0, hashtable::kHash);
  for (int v : std::vector<int>{5, 5, 5, 6}) hash_append(table, integer(v));
  uint32_t block = alloc::copy_series(block_of(table));
  gc::Guard guard(block);
  uint32_t copy = keep(hashtable::copy(table, block));
  EXPECT_EQ(table_of(copy)->block, block);
  hashtable::remove_cell(copy, cells_of(block) + 0);
  hashtable::remove_cell(copy, cells_of(block) + 1);
  EXPECT_EQ(find_index(copy, integer(5)), 2);
  EXPECT_EQ(find_index(table, integer(5)), 0);
  EXPECT_EQ(find_index(table, integer(5), 1), 1);
  expect_consistent(table);
}

TEST_F(HashTables, ClearEmptiesTheIndex) {
  uint32_t table = make_over_block(0, hashtable::kHash);
  for (int v : std::vector<int>{1, 1, 2}) hash_append(table, integer(v));
  hashtable::clear(table);
  EXPECT_EQ(table_of(table)->size, 0u);
  EXPECT_EQ(find_index(table, integer(1)), -1);
  EXPECT_EQ(find_index(table, integer(2)), -1);
}

TEST_F(HashTables, MakingAHashOverABlockIndexesEveryCellEvenPastItsSize) {
  uint32_t block = alloc::new_cell_series(4);
  gc::Guard guard(block);
  for (int v = 0; v < 50; v++) append(block, integer(v % 20));
  uint32_t table = keep(hashtable::make(0, block, hashtable::kHash, 1));
  EXPECT_EQ(table_of(table)->size, 20u);
  expect_consistent(table);
  EXPECT_EQ(find_index(table, integer(4), 0, 1, action::STRICT_EQUAL, true), 44);
}

// --- map! ----------------------------------------------------------------------------------------

TEST_F(HashTables, AMapKeepsOnePairPerKeyAndTheLastValueWins) {
  uint32_t block = alloc::new_cell_series(8);
  gc::Guard guard(block);
  for (int v : std::vector<int>{1, 10, 2, 20, 1, 11, 3, 30, 2, 21}) append(block, integer(v));
  uint32_t table = keep(hashtable::make(0, block, hashtable::kMap, 2));
  EXPECT_EQ(table_of(table)->size, 3u);
  ASSERT_EQ(cell_count(block), 6u);
  std::vector<uint32_t> words;
  for (uint32_t i = 0; i < 6; i++) words.push_back(cells_of(block)[i].w2);
  EXPECT_EQ(words, (std::vector<uint32_t>{1, 11, 2, 21, 3, 30}));
}

TEST_F(HashTables, MapKeysDifferingInCaseAreDistinctButShareAProbeSequence) {
  uint32_t table = make_over_block(0, hashtable::kMap);
  uint32_t block = block_of(table);
  append_text(block, "abc");
  append(block, integer(1));
  append_text(block, "ABC");
  append(block, integer(2));
  append_text(block, "abd");
  append(block, integer(3));
  hashtable::index_cells(table, 0, 2);
  EXPECT_EQ(table_of(table)->size, 3u);
  uint32_t probes = alloc::new_cell_series(2);
  gc::Guard guard(probes);
  append_text(probes, "aBc");
  Cell key = cells_of(probes)[0];
  EXPECT_EQ(hashtable::find(table, &key, 0, 1, action::STRICT_EQUAL, false, false), nullptr);
  EXPECT_NE(hashtable::find(table, &key, 0, 1, action::EQUAL, false, false), nullptr);
  std::set<uint32_t> values;
  hashtable::Probe probe;
  while (Cell* k = hashtable::find_next_equal(table, &key, probe)) values.insert(k[1].w2);
  EXPECT_EQ(values, (std::set<uint32_t>{1, 2}));
}

TEST_F(HashTables, MapKeysAreStoredAsCopiesAndWordsAsSetWords) {
  uint32_t table = make_over_block(0, hashtable::kMap);
  uint32_t block = block_of(table);
  append_text(block, "name");
  append(block, integer(1));
  append(block, Cell{TYPE_WORD, 0, 77, 0xFFFFFFFF});
  append(block, integer(2));
  uint32_t original = cells_of(block)[0].w2;
  gc::Guard guard(original);
  hashtable::index_cells(table, 0, 2);
  EXPECT_NE(cells_of(block)[0].w2, original);
  EXPECT_EQ(text_of(cells_of(block)[0]), "name");
  EXPECT_EQ(cell::type_of(cells_of(block)[2]), TYPE_SET_WORD);
  alloc::series_of(original)->head_ptr()[0] = 'g';  // the stored key does not change with it
  EXPECT_EQ(text_of(cells_of(block)[0]), "name");
  Cell lit{TYPE_LIT_WORD, 0, 77, 0xFFFFFFFF};
  Cell* found = hashtable::find(table, &lit, 0, 1, action::STRICT_EQUAL, false, false);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found[1].w2, 2u);
}

TEST_F(HashTables, ARemovedMapKeyLeavesAHoleAndComesBackOnceWhenPutAgain) {
  uint32_t table = make_over_block(0, hashtable::kMap);
  uint32_t block = block_of(table);
  for (int v : std::vector<int>{1, 10, 2, 20}) append(block, integer(v));
  hashtable::index_cells(table, 0, 2);
  hashtable::remove_cell(table, cells_of(block) + 0);
  hashtable::remove_cell(table, cells_of(block) + 0);  // twice: counted once
  EXPECT_EQ(table_of(table)->size, 1u);
  EXPECT_EQ(cells_of(block)[1].header, 0u);
  Cell key = integer(1);
  EXPECT_NE(hashtable::find(table, &key, 0, 1, action::STRICT_EQUAL, false, false), nullptr);
  append(block, integer(1));
  append(block, integer(12));
  hashtable::index_cells(table, 4, 2);
  EXPECT_EQ(cell_count(block), 4u);  // the new pair went into the hole
  EXPECT_EQ(cells_of(block)[1].w2, 12u);
  EXPECT_EQ(cell::type_of(cells_of(block)[1]), TYPE_INTEGER);
  EXPECT_EQ(table_of(table)->size, 2u);
  hashtable::rehash(table, 2);  // holes stay out of a rebuilt index
  hashtable::remove_cell(table, cells_of(block) + 2);
  hashtable::rehash(table, 2);
  EXPECT_EQ(table_of(table)->size, 1u);
}

TEST_F(HashTables, AMapRefusesKeysOfOtherTypesBeforeChangingAnything) {
  rt::ErrorRaiser previous = rt::set_error_raiser(nullptr);
  uint32_t table = make_over_block(0, hashtable::kMap);
  uint32_t block = block_of(table);
  for (int v : std::vector<int>{1, 10}) append(block, integer(v));
  hashtable::index_cells(table, 0, 2);
  append(block, Cell{TYPE_LOGIC, 1, 0, 0});
  append(block, integer(5));
  rt::raised = {nullptr, nullptr};
  // A plain catch: the plain raiser throws past the frames, so a try frame would stay behind.
  uint32_t code = rt::catch_codes(rt::kThrowError, [&] { hashtable::index_cells(table, 2, 2); });
  rt::set_error_raiser(previous);
  EXPECT_EQ(code, rt::kThrowError);
  ASSERT_NE(rt::raised.id, nullptr);
  EXPECT_STREQ(rt::raised.category, "script");
  EXPECT_STREQ(rt::raised.id, "invalid-path");
  EXPECT_EQ(table_of(table)->size, 1u);
  Cell logic{TYPE_LOGIC, 1, 0, 0};
  EXPECT_EQ(hashtable::find(table, &logic, 0, 1, action::STRICT_EQUAL, false, false), nullptr);
}

TEST_F(HashTables, ACopiedMapIndexesItsOwnBlock) {
  uint32_t table = make_over_block(0, hashtable::kMap);
  for (int v : std::vector<int>{1, 10, 2, 20}) append(block_of(table), integer(v));
  hashtable::index_cells(table, 0, 2);
  uint32_t block = alloc::copy_series(block_of(table));
  gc::Guard guard(block);
  uint32_t copy = keep(hashtable::copy(table, block));
  hashtable::remove_cell(copy, cells_of(block) + 2);
  Cell key = integer(2);
  EXPECT_EQ(table_of(copy)->size, 1u);
  EXPECT_EQ(table_of(table)->size, 2u);
  Cell* found = hashtable::find(copy, &key, 0, 1, action::STRICT_EQUAL, false, false);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found, cells_of(block) + 2);
  EXPECT_EQ(cells_of(block_of(table))[3].header, uint32_t(TYPE_INTEGER));
}

// --- Symbols and context words -------------------------------------------------------------------

uint32_t intern(uint32_t table, const std::string& name, bool any_case = false) {
  return hashtable::intern_symbol(table, reinterpret_cast<const uint8_t*>(name.data()),
                                  uint32_t(name.size()), any_case);
}

TEST_F(HashTables, InterningACaseVariantMakesAnAliasOfTheCanonicalSymbol) {
  uint32_t table = keep(hashtable::make(0, 0, hashtable::kSymbols, 1));
  uint32_t foo = intern(table, "foo");
  uint32_t bar = intern(table, "bar");
  uint32_t foo_upper = intern(table, "Foo");
  Cell* symbols = cells_of(block_of(table));
  struct Case {
    const char* name;
    bool any_case;
    uint32_t id;
  };
  const std::vector<Case> cases = {
      {"foo", false, foo}, {"foo", true, foo}, {"Foo", false, foo_upper},
      {"Foo", true, foo},  {"FOO", true, foo}, {"BAR", true, bar},
  };
  for (const Case& c : cases) EXPECT_EQ(intern(table, c.name, c.any_case), c.id) << c.name;
  EXPECT_EQ(foo, 1u);
  EXPECT_EQ(foo_upper, 3u);
  symbols = cells_of(block_of(table));
  EXPECT_EQ(symbols[0].w1, 0xFFFFFFFFu);
  EXPECT_EQ(symbols[2].w1, foo);
  uint32_t foo_caps = intern(table, "FOO");  // exact: another variant, aliasing foo itself
  EXPECT_EQ(cells_of(block_of(table))[foo_caps - 1].w1, foo);
  EXPECT_EQ(table_of(table)->size, 4u);
  hashtable::symbol_table = table;
  EXPECT_EQ(hashtable::canonical_symbol(foo_caps), foo);
  EXPECT_EQ(hashtable::canonical_symbol(bar), bar);
}

TEST_F(HashTables, AnAliasNamesTheCanonicalSymbolWhicheverVariantTheProbeMeetsFirst) {
  // Growing the table re-enters the keys in bucket order, which can put a variant ahead of its
  // canonical symbol on their common probe sequence.
  for (int n = 0; n < 40; n++) {
    SCOPED_TRACE(n);
    uint32_t table = keep(hashtable::make(0, 0, hashtable::kSymbols, 1));
    std::string name = "ab" + std::to_string(n);
    uint32_t canonical = intern(table, name);
    uint32_t variant = intern(table, "Ab" + std::to_string(n));
    for (int filler = 0; filler < 6; filler++) intern(table, "filler-" + std::to_string(filler));
    ASSERT_EQ(table_of(table)->buckets, 16u);
    uint32_t other = intern(table, "AB" + std::to_string(n));
    EXPECT_EQ(cells_of(block_of(table))[variant - 1].w1, canonical);
    EXPECT_EQ(cells_of(block_of(table))[other - 1].w1, canonical);
    EXPECT_EQ(intern(table, "aB" + std::to_string(n), true), canonical);
  }
}

TEST_F(HashTables, ASymbolKeepsItsNameWithANulPastTheTail) {
  uint32_t table = keep(hashtable::make(0, 0, hashtable::kSymbols, 1));
  uint32_t id = intern(table, "print");
  Cell symbol = cells_of(block_of(table))[id - 1];
  EXPECT_EQ(cell::type_of(symbol), TYPE_SYMBOL);
  EXPECT_EQ(symbol.w2, 0u);
  alloc::Series* name = alloc::series_of(symbol.w3);
  ASSERT_EQ(name->used(), 5u);
  EXPECT_EQ(std::memcmp(name->head_ptr(), "print", 5), 0);
  EXPECT_EQ(name->head_ptr()[5], 0);
  EXPECT_EQ(hashtable::hash_value(symbol),
            hashtable::murmur3(reinterpret_cast<const uint8_t*>("print"), 5));
}

TEST_F(HashTables, InterningReadsATextThatLivesInSeriesMemoryBeforeAllocating) {
  uint32_t table = keep(hashtable::make(0, 0, hashtable::kSymbols, 1));
  uint32_t source = text_series("moving-name");
  gc::Guard guard(source);
  for (int round = 0; round < 20; round++) intern(table, "filler-" + std::to_string(round));
  uint32_t id = hashtable::intern_symbol(table, alloc::series_of(source)->head_ptr(), 11, false);
  alloc::Series* name = alloc::series_of(cells_of(block_of(table))[id - 1].w3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name->head_ptr()), name->used()), "moving-name");
  EXPECT_EQ(intern(table, "moving-name"), id);
}

TEST_F(HashTables, ContextWordsAreFoundExactlyOrByCanonicalSymbol) {
  uint32_t symbols = keep(hashtable::make(0, 0, hashtable::kSymbols, 1));
  hashtable::symbol_table = symbols;
  uint32_t foo = intern(symbols, "foo");
  uint32_t foo_upper = intern(symbols, "Foo");
  uint32_t bar = intern(symbols, "bar");
  uint32_t context = alloc::new_cell_series(2);
  gc::Guard guard(context);
  uint32_t words = keep(hashtable::make(0, 0, hashtable::kSymbols, 1));
  int32_t index = -2;
  EXPECT_EQ(hashtable::find_word(words, foo_upper, true, context, &index), -1);
  EXPECT_EQ(index, 0);
  Cell word = cells_of(block_of(words))[0];
  EXPECT_EQ(cell::type_of(word), TYPE_WORD);
  EXPECT_EQ(word.w1, context);
  EXPECT_EQ(word.w2, foo_upper);
  EXPECT_EQ(word.w3, 0u);
  struct Case {
    uint32_t symbol;
    bool any_case;
    int32_t index;
  };
  const std::vector<Case> cases = {
      {foo, true, 0},   {foo_upper, true, 0}, {foo_upper, false, 0},
      {foo, false, -1}, {bar, true, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hashtable::find_word(words, c.symbol, c.any_case, 0, nullptr), c.index)
        << c.symbol << (c.any_case ? " any case" : " exact");
  }
  EXPECT_EQ(cell_count(block_of(words)), 1u);  // no context given: nothing added
  EXPECT_EQ(hashtable::find_word(words, foo, false, context, &index), -1);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(hashtable::find_word(words, foo, false, 0, nullptr), 1);
}

TEST_F(HashTables, AContextMadeFromAnotherStartsWithACopyOfItsWordTable) {
  uint32_t context = alloc::new_cell_series(2);
  gc::Guard guard(context);
  uint32_t words = keep(hashtable::make(0, 0, hashtable::kSymbols, 1));
  append(context, Cell{TYPE_CONTEXT, words, 0, 0});
  for (uint32_t id = 1; id <= 10; id++) hashtable::find_word(words, id, false, context, nullptr);
  uint32_t copy = keep(hashtable::make(0, context, hashtable::kSymbols, 2));
  EXPECT_NE(table_of(copy)->block, table_of(words)->block);
  for (uint32_t id = 1; id <= 10; id++)
    EXPECT_EQ(hashtable::find_word(copy, id, false, 0, nullptr), int32_t(id - 1));
  hashtable::find_word(copy, 11, false, context, nullptr);
  EXPECT_EQ(hashtable::find_word(copy, 11, false, 0, nullptr), 10);
  EXPECT_EQ(hashtable::find_word(words, 11, false, 0, nullptr), -1);
}

// --- Record tables -------------------------------------------------------------------------------

TEST_F(HashTables, RecordsArePutFoundRemovedAndReused) {
  uint32_t table = keep(hashtable::make(0, 0, hashtable::kRecords, 3));
  EXPECT_EQ(table_of(table)->record_bytes, 64u);
  uint32_t keys = alloc::new_cell_series(4);
  gc::Guard guard(keys);
  for (int n = 0; n < 3; n++) append_text(keys, "key");
  auto key = [&](int n) { return cells_of(keys)[n].w2; };
  Cell* r = hashtable::put_record(table, key(0));
  EXPECT_EQ(cell::type_of(r[0]), TYPE_UNSET);
  r[0] = integer(100);
  r[2] = integer(102);
  hashtable::put_record(table, key(1))[0] = integer(200);
  Cell* found = hashtable::get_record(table, key(0));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found[0].w2, 100u);
  EXPECT_EQ(found[2].w2, 102u);
  EXPECT_EQ(found[-1].w1, key(0));
  EXPECT_EQ(hashtable::get_record(table, key(2)), nullptr);
  Cell* removed = hashtable::remove_record(table, key(0));
  ASSERT_NE(removed, nullptr);
  EXPECT_EQ(removed[-1].header, 0u);
  EXPECT_EQ(hashtable::get_record(table, key(0)), nullptr);
  EXPECT_EQ(hashtable::remove_record(table, key(0)), nullptr);
  EXPECT_EQ(table_of(table)->size, 1u);
  hashtable::put_record(table, key(2));
  hashtable::put_record(table, key(0));
  EXPECT_EQ(cell_count(block_of(table)), 2u * 4 + 4);   // one deleted record was taken again
  Cell* again = hashtable::put_record(table, key(1));  // putting an existing key resets it
  EXPECT_EQ(cell::type_of(again[0]), TYPE_UNSET);
  EXPECT_EQ(table_of(table)->size, 3u);
}

TEST_F(HashTables, GrowingARecordTableKeepsTheRecordsCells) {
  uint32_t table = keep(hashtable::make(0, 0, hashtable::kRecords, 2));
  uint32_t keys = alloc::new_cell_series(4);
  gc::Guard guard(keys);
  constexpr int kRecords = 200;
  for (int n = 0; n < kRecords; n++) {
    append_text(keys, "k");
    Cell* r = hashtable::put_record(table, cells_of(keys)[n].w2);
    r[0] = integer(n);
    r[1] = integer(-n);
  }
  EXPECT_GE(table_of(table)->buckets, 256u);
  for (int n = 0; n < kRecords; n++) {
    Cell* r = hashtable::get_record(table, cells_of(keys)[n].w2);
    ASSERT_NE(r, nullptr) << n;
    EXPECT_EQ(r[0].w2, uint32_t(n));
    EXPECT_EQ(r[1].w2, uint32_t(-n));
  }
}

TEST_F(HashTables, TheCollectorDropsRecordsWhoseKeyOrOwnerDied) {
  uint32_t table = hashtable::make(0, 0, hashtable::kOwners, 3);
  swept_table = table;
  uint32_t kept = text_series("kept");
  gc::Guard kept_guard(kept);
  uint32_t owner = alloc::new_cell_series(2);
  gc::Guard owner_guard(owner);
  uint32_t orphan = text_series("orphan");  // kept alive, but its owner dies
  gc::Guard orphan_guard(orphan);
  {
    uint32_t dropped = text_series("dropped");
    gc::Guard dropped_guard(dropped);
    uint32_t dead_owner = alloc::new_cell_series(2);
    gc::Guard dead_owner_guard(dead_owner);
    // Each record holds the owned value, its owner and (left unset) the owner's word.
    auto record = [&](uint32_t series, uint32_t owner_context) {
      Cell* r = hashtable::put_record(table, series);
      r[0] = cell::make_series(TYPE_STRING, series);
      r[1] = Cell{TYPE_OBJECT, owner_context, 0, 0};
    };
    record(kept, owner);
    record(dropped, owner);
    record(orphan, dead_owner);
    gc::collect();
    EXPECT_EQ(table_of(table)->size, 3u);  // everything still guarded
  }
  gc::collect();
  EXPECT_EQ(table_of(table)->size, 1u);
  Cell* r = hashtable::get_record(table, kept);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r[0].w2, kept);
  EXPECT_EQ(r[1].w1, owner);
  EXPECT_EQ(hashtable::get_record(table, orphan), nullptr);
  alloc::Series* block = alloc::series_of(table_of(table)->block);
  uint32_t live = 0;
  for (uint32_t off = 0; off < block->used(); off += 64) {
    auto* record = reinterpret_cast<Cell*>(block->head_ptr() + off);
    if (record->header == TYPE_UNSET)
      live++;
    else
      EXPECT_EQ(record[1].w1, 0u);  // no dead node stays named
  }
  EXPECT_EQ(live, 1u);
  gc::verify();
}

TEST_F(HashTables, ARecordTableKeepsItsKeysAliveUnlessItIsAnOwnerTable) {
  uint32_t strong = keep(hashtable::make(0, 0, hashtable::kRecords, 1));
  uint32_t key = text_series("only held by the table");
  {
    gc::Guard guard(key);
    hashtable::put_record(strong, key);
  }
  gc::collect();
  EXPECT_TRUE(alloc::node_in_use(key));
  EXPECT_NE(hashtable::get_record(strong, key), nullptr);
  EXPECT_EQ(alloc::series_of(key)->used(), 22u);
}

}  // namespace
