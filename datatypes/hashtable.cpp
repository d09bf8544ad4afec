// Hash tables (see hashtable.h): hashing, probing and growth shared by every kind, then the
// operations of each kind. Compare implementations and appends may allocate, so every buffer
// address is derived again from its node after such a call; bucket numbers stay valid because
// only this module resizes a table. Relies on the memory manager, the collector's marking and
// guards, the datatype registry's compare slot and the case folding of texts.
#include "datatypes/hashtable.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "datatypes/cell_ops.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/array.h"
#include "runtime/casefold.h"
#include "runtime/gc.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace hashtable {

uint32_t seed = 0x005A8604;
uint32_t symbol_table = 0;
MoneyNormalizer normalize_money = nullptr;

namespace {

using alloc::Series;

constexpr double kLoad = 0.77;
constexpr uint32_t kNone = 0xFFFFFFFF;  // no bucket; an empty reverse-index entry
constexpr uint32_t kShiftLimit = 30000;
constexpr uint32_t kEmpty = 2;  // flag bits of a bucket; a live bucket has neither
constexpr uint32_t kDeleted = 1;
constexpr uint8_t kAllEmpty = 0xAA;
constexpr uint32_t kNoAlias = 0xFFFFFFFF;
constexpr uint32_t kLiveRecord = TYPE_UNSET;  // the whole header of a live record's key cell

// --- Buffers -------------------------------------------------------------------------------------
// All of these addresses are valid until the next allocation.

inline uint32_t* words(uint32_t node) {
  return reinterpret_cast<uint32_t*>(alloc::series_of(node)->head_ptr());
}
using cell::cell_count;
using cell::cells_of;
inline Cell* record_at(uint32_t table, uint32_t offset) {
  return reinterpret_cast<Cell*>(alloc::series_of(table_of(table)->block)->head_ptr() + offset);
}

// A map!'s keys buffer holds two words a bucket: the key, then its hash.
inline bool keeps_hashes(const Table* t) { return t->kind == kMap; }
inline uint32_t key_words(const Table* t) { return keeps_hashes(t) ? 2 : 1; }
inline uint32_t bucket_key(const Table* t, uint32_t i) { return words(t->keys)[i * key_words(t)]; }

inline uint32_t bucket_state(const uint32_t* flags, uint32_t i) {
  return (flags[i >> 4] >> ((i & 15) << 1)) & 3;
}
inline void set_live(uint32_t* flags, uint32_t i) { flags[i >> 4] &= ~(3u << ((i & 15) << 1)); }
inline void set_deleted(uint32_t* flags, uint32_t i) {
  flags[i >> 4] |= kDeleted << ((i & 15) << 1);
}

// A unit-4 buffer of at least count words, every byte of its capacity set to fill, all of it
// in use. May allocate.
uint32_t new_words(uint32_t count, uint8_t fill) {
  uint32_t node = alloc::new_series(count, sizeof(uint32_t));
  Series* s = alloc::series_of(node);
  std::memset(s->data(), fill, s->capacity);
  s->tail = s->capacity;
  return node;
}

// --- Sizes ---------------------------------------------------------------------------------------

uint32_t round_up_pow2(uint32_t n) {
  if (n <= 4) return 4;
  n--;
  n |= n >> 1;
  n |= n >> 2;
  n |= n >> 4;
  n |= n >> 8;
  n |= n >> 16;
  return n + 1;
}
uint32_t upper_of(uint32_t buckets) { return static_cast<uint32_t>(buckets * kLoad); }
uint32_t buckets_for(uint32_t size) { return round_up_pow2(static_cast<uint32_t>(size / kLoad)); }
// At least `buckets`, and enough that `keys` keys go in without reaching the load limit.
uint32_t buckets_holding(uint32_t keys, uint32_t buckets) {
  buckets = round_up_pow2(buckets);
  while (upper_of(buckets) < keys) buckets <<= 1;
  return buckets;
}
// The count a full table moves to: the same count (dropping deleted buckets) when at most half
// of it is live, else the next power of two. A map! always grows: its removed keys keep their
// buckets.
uint32_t grown_buckets(const Table* t) {
  if (t->kind != kMap && t->size * 2 < t->buckets) return round_up_pow2(t->buckets - 1);
  return round_up_pow2(t->buckets + 1);
}

// --- Hashing -------------------------------------------------------------------------------------

constexpr uint32_t kC1 = 0xCC9E2D51;
constexpr uint32_t kC2 = 0x1B873593;

inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }
inline uint32_t fmix32(uint32_t h) {
  h ^= h >> 16;
  h *= 0x85EBCA6B;
  h ^= h >> 13;
  h *= 0xC2B2AE35;
  h ^= h >> 16;
  return h;
}
inline uint32_t scramble(uint32_t k) { return rotl(k * kC1, 15) * kC2; }
inline uint32_t mix_block(uint32_t h, uint32_t k) {
  return rotl(h ^ scramble(k), 13) * 5 + 0xE6546B64;
}

// MurmurHash3 x86_32; with lower_ascii the letters A-Z hash as a-z (symbol names).
uint32_t murmur3_of(const uint8_t* bytes, uint32_t length, bool lower_ascii) {
  auto byte = [&](uint32_t i) -> uint32_t {
    uint8_t b = bytes[i];
    return lower_ascii && b >= 'A' && b <= 'Z' ? b | 0x20 : b;
  };
  uint32_t h = seed;
  uint32_t end = length & ~3u;
  for (uint32_t i = 0; i < end; i += 4) {
    h = mix_block(h, byte(i) | byte(i + 1) << 8 | byte(i + 2) << 16 | byte(i + 3) << 24);
  }
  uint32_t k = 0;
  switch (length & 3) {
    case 3:
      k ^= byte(end + 2) << 16;
      [[fallthrough]];
    case 2:
      k ^= byte(end + 1) << 8;
      [[fallthrough]];
    case 1:
      k ^= byte(end);
      h ^= scramble(k);
  }
  return fmix32(h ^ length);
}

// An ASCII byte folded to upper case; any other byte through the folding tables.
[[gnu::always_inline]] inline uint32_t fold_byte(uint8_t b) {
  if (b >= 0x80) [[unlikely]] return casefold::fold_char_from_tables(b, true);
  return b - uint32_t('a') < 26 ? b - 0x20u : b;
}

// Code points from the head to the tail, each folded to upper case and taken as one block: texts
// that differ only in letter case hash alike. The bytes of a one-byte text, inline (map! keys:
// the maps benchmark).
[[gnu::always_inline]] inline uint32_t byte_text_hash(const uint8_t* p, uint32_t count) {
  uint32_t h = seed;
  for (const uint8_t* end = p + count; p < end; p++) h = mix_block(h, fold_byte(*p));
  return fmix32(h ^ (count * 4));
}

uint32_t text_hash(const Cell& value) {
  Series* s = alloc::series_of(cell::series_node(value));
  uint32_t unit = s->unit();
  uint32_t i = cell::series_index(value);
  if (unit == 1) {  // the common Latin-1 texts (map keys), read without the unit switch
    uint32_t total = s->used();
    if (i >= total) return fmix32(seed);
    return byte_text_hash(s->head_ptr() + i, total - i);
  }
  uint32_t h = seed;
  uint32_t total = s->used() / unit;
  uint32_t count = 0;
  for (; i < total; i++, count++) {
    h = mix_block(h, casefold::fold_char(unicode::read_unit(s->head_ptr() + i * unit, unit), true));
  }
  return fmix32(h ^ (count * 4));
}

Series* name_of(const Cell& symbol) { return alloc::series_of(symbol::utf8_node_of(symbol)); }

enum HashRule : uint8_t {
  kHashZero,
  kHashUnset,
  kHashNone,
  kHashWord1,
  kHashWord2,
  kHashWord3,
  kHashWords12,
  kHashWords23,
  kHashWords123,
  kHashTuple,
  kHashBytes,
  kHashMoney,
  kHashText,
  kHashSymbol,
  kHashWordFamily,
};

constexpr std::array<uint8_t, TYPE_COUNT> make_hash_rules() {
  std::array<uint8_t, TYPE_COUNT> r{};
  r[TYPE_UNSET] = kHashUnset;
  r[TYPE_NONE] = kHashNone;
  for (uint8_t t : {TYPE_DATATYPE, TYPE_LOGIC, TYPE_OBJECT, TYPE_ERROR, TYPE_PORT})
    r[t] = kHashWord1;
  for (uint8_t t : {TYPE_CHAR, TYPE_INTEGER, TYPE_MAP, TYPE_HANDLE, TYPE_EVENT}) r[t] = kHashWord2;
  for (uint8_t t : {TYPE_NATIVE, TYPE_ACTION}) r[t] = kHashWord3;
  for (uint8_t t : {TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH,
                    TYPE_HASH, TYPE_POINT2D, TYPE_IMAGE}) {
    r[t] = kHashWords12;
  }
  for (uint8_t t : {TYPE_FLOAT, TYPE_PAIR, TYPE_PERCENT, TYPE_TIME}) r[t] = kHashWords23;
  for (uint8_t t : {TYPE_OP, TYPE_FUNCTION, TYPE_TRIPLE, TYPE_TYPESET, TYPE_DATE, TYPE_POINT3D}) {
    r[t] = kHashWords123;
  }
  r[TYPE_TUPLE] = kHashTuple;
  r[TYPE_BINARY] = kHashBytes;
  r[TYPE_MONEY] = kHashMoney;
  for (uint8_t t : {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF})
    r[t] = kHashText;
  r[TYPE_SYMBOL] = kHashSymbol;
  for (uint8_t t :
       {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE}) {
    r[t] = kHashWordFamily;
  }
  return r;
}
constexpr auto kHashRules = make_hash_rules();

// Payload words by position, whatever the datatype: the hash rules above name them so, and a type
// without a compare implementation is equal only to an identical payload.
inline uint32_t payload_word(const Cell& c, int n) { return n == 1 ? c.w1 : n == 2 ? c.w2 : c.w3; }
inline bool same_payload(const Cell& a, const Cell& b) {
  return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
}

// --- Map keys ------------------------------------------------------------------------------------

enum KeyRule : uint8_t { kKeyRefused, kKeyKept, kKeyCopied, kKeySetWord };

constexpr std::array<uint8_t, TYPE_COUNT> make_key_rules() {
  std::array<uint8_t, TYPE_COUNT> r{};
  for (uint8_t t :
       {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_BINARY, TYPE_TAG, TYPE_EMAIL, TYPE_REF}) {
    r[t] = kKeyCopied;
  }
  for (uint8_t t : {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD}) r[t] = kKeySetWord;
  for (uint8_t t :
       {TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT, TYPE_REFINEMENT, TYPE_ISSUE, TYPE_PAIR, TYPE_PERCENT,
        TYPE_TUPLE, TYPE_TIME, TYPE_DATE, TYPE_MONEY, TYPE_POINT2D, TYPE_POINT3D}) {
    r[t] = kKeyKept;
  }
  return r;
}
constexpr auto kKeyRules = make_key_rules();

}  // namespace

bool map_key_accepted(uint8_t type) { return kKeyRules[type] != kKeyRefused; }

void check_map_key(const Cell& key) {
  if (map_key_accepted(cell::type_of(key))) return;
  Cell refused = key;  // the key may lie in a buffer that raising the error moves
  Cell type = cell::make_datatype(cell::type_of(refused));
  rt::fire_error("script", "invalid-path", &type, &refused);
}

namespace {

// A new buffer holding the value's units from its head to its tail. May allocate.
uint32_t copy_units(const Cell& value) {
  Series* s = alloc::series_of(cell::series_node(value));
  uint32_t unit = s->unit();
  uint32_t total = s->used() / unit;
  uint32_t from = std::min(cell::series_index(value), total);
  uint32_t node = alloc::new_unit_series(total - from, unit);
  s = alloc::series_of(cell::series_node(value));
  Series* d = alloc::series_of(node);
  std::memcpy(d->head_ptr(), s->head_ptr() + from * unit, (total - from) * unit);
  d->tail = d->head + (total - from) * unit;
  return node;
}

// Prepares the key just put for storage: texts and binaries become copies that later changes
// to the original cannot reach, words become set-words. May allocate.
void normalize_key(uint32_t table, uint32_t index) {
  Cell key = cells_of(table_of(table)->block)[index];
  switch (kKeyRules[cell::type_of(key)]) {
    case kKeySetWord:
      cell::set_type(cells_of(table_of(table)->block)[index], TYPE_SET_WORD);
      break;
    case kKeyCopied: {
      uint32_t copy = copy_units(key);
      Cell& stored = cells_of(table_of(table)->block)[index];
      cell::set_series_index(stored, 0);
      cell::set_series_node(stored, copy);
      cell::set_series_extra(stored, 0);
      break;
    }
    default:
      break;
  }
}

// --- Comparing keys --------------------------------------------------------------------------

// A string! of one-byte units: its bytes from the head as the string datatype reads them (a
// negative head as 0, one past the tail as the tail). False for any other value.
[[gnu::always_inline]] inline bool byte_text(const Cell& value, const uint8_t** start,
                                             uint32_t* count, const uint8_t** limit = nullptr) {
  if (cell::type_of(value) != TYPE_STRING) return false;
  Series* s = alloc::series_of(cell::series_node(value));
  if (s->unit() != 1) return false;
  int32_t head = cell::series_index_signed(value);
  uint32_t from = head < 0 ? 0 : std::min(static_cast<uint32_t>(head), s->used());
  *start = s->head_ptr() + from;
  *count = s->used() - from;
  if (limit) *limit = s->data() + s->capacity;
  return true;
}

// Two such strings under EQUAL (letters folded to upper case) or STRICT_EQUAL, as the string
// datatype's compare decides it, without its dispatch: most map keys are strings (the maps
// benchmark). Returns -1 when the values are not both such strings.
int32_t byte_texts_match(const Cell& a, const Cell& b, int32_t op) {
  if (op != action::EQUAL && op != action::STRICT_EQUAL) return -1;
  const uint8_t *x, *y;
  uint32_t n, m;
  if (!byte_text(a, &x, &n) || !byte_text(b, &y, &m)) return -1;
  if (n != m) return 0;
  if (n == 0 || std::memcmp(x, y, n) == 0) return 1;
  if (op == action::STRICT_EQUAL) return 0;
  for (uint32_t i = 0; i < n; i++) {
    if (casefold::fold_char(x[i], true) != casefold::fold_char(y[i], true)) return 0;
  }
  return 1;
}

// Same datatype and equal under the operator. A type without a compare implementation is equal
// only to an identical payload.
bool values_match(const Cell& a, const Cell& b, int32_t op) {
  uint8_t type = cell::type_of(a);
  if (type != cell::type_of(b)) return false;
  if (int32_t match = byte_texts_match(a, b, op); match >= 0) return match;
  auto compare = datatype::lookup<action::COMPARE>(type);
  if (!compare) return same_payload(a, b);
  Cell x = a;  // the implementation may allocate: hand it cells that do not move
  Cell y = b;
  return compare(&x, &y, op) == 0;
}

bool ascii_iequal(const uint8_t* a, const uint8_t* b, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) {
    uint8_t x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x |= 0x20;
    if (y >= 'A' && y <= 'Z') y |= 0x20;
    if (x != y) return false;
  }
  return true;
}

bool same_name(const Cell& a, const Cell& b) {
  Series* x = name_of(a);
  Series* y = name_of(b);
  return x->used() == y->used() && std::memcmp(x->head_ptr(), y->head_ptr(), x->used()) == 0;
}

// The id of the symbol at index `index` of a symbol block, its alias resolved.
uint32_t canonical_in(uint32_t block, uint32_t index) {
  int32_t alias = static_cast<int32_t>(symbol::alias_of(cells_of(block)[index]));
  return alias > 0 ? static_cast<uint32_t>(alias) : index + 1;
}

// canonical_symbol over the symbol table's block read once, for a loop that does not allocate.
class SymbolAliases {
 public:
  SymbolAliases() {
    if (!symbol_table) return;
    const uint32_t block = table_of(symbol_table)->block;
    symbols_ = cells_of(block);
    count_ = cell_count(block);
  }
  uint32_t canonical(uint32_t id) const {
    if (id == 0 || id > count_) return id;
    const int32_t alias = static_cast<int32_t>(symbol::alias_of(symbols_[id - 1]));
    return alias > 0 ? static_cast<uint32_t>(alias) : id;
  }

 private:
  const Cell* symbols_ = nullptr;
  uint32_t count_ = 0;
};

// --- Probing -----------------------------------------------------------------------------------

struct Slot {
  uint32_t found;  // bucket of the matching key, or kNone
  uint32_t free;   // when not found: the bucket an insert takes (kNone: the table is full)
};

// Walks the probe sequence of the hash: a live bucket whose key `match` accepts ends the walk,
// as do an empty bucket and the return to the first bucket. An insert takes the first deleted
// bucket seen, else the empty bucket that ended the walk. A map! asks match only about keys of
// the same hash. match may allocate.
template <class Match>
Slot probe(uint32_t table, uint32_t hash, Match&& match) {
  uint32_t mask = table_of(table)->buckets - 1;
  uint32_t i = hash & mask;
  uint32_t start = i;
  uint32_t step = 0;
  uint32_t deleted = kNone;
  for (;;) {
    const Table* t = table_of(table);
    uint32_t state = bucket_state(words(t->flags), i);
    if (state & kEmpty) return Slot{kNone, deleted != kNone ? deleted : i};
    if (state & kDeleted) {
      if (deleted == kNone) deleted = i;
    } else if (keeps_hashes(t)) {
      const uint32_t* pair = words(t->keys) + 2 * i;
      if (pair[1] == hash && match(pair[0])) return Slot{i, kNone};
    } else if (match(words(t->keys)[i])) {
      return Slot{i, kNone};
    }
    i = (i + ++step) & mask;
    if (i == start) return Slot{kNone, deleted};
  }
}

// Takes the bucket for the key (of the hash, which a map! keeps): an empty one adds to occupied,
// any one to the size.
void occupy(uint32_t table, uint32_t bucket, uint32_t key, uint32_t hash = 0) {
  Table* t = table_of(table);
  uint32_t* flags = words(t->flags);
  if (bucket_state(flags, bucket) & kEmpty) t->occupied++;
  t->size++;
  set_live(flags, bucket);
  uint32_t* entry = words(t->keys) + bucket * key_words(t);
  entry[0] = key;
  if (keeps_hashes(t)) entry[1] = hash;
}

// --- Tables under construction ------------------------------------------------------------------
// A table being made or copied is not yet held by any value: it is marked as a root, with all it
// holds so far, until it is handed back.

std::vector<uint32_t> building;

void mark_building() {
  for (uint32_t table : building) mark(table);
}

class Building {
 public:
  explicit Building(uint32_t table) {
    static bool marker_added = false;
    if (!marker_added) {
      gc::add_marker(mark_building);
      marker_added = true;
    }
    building.push_back(table);
  }
  ~Building() { building.pop_back(); }
  Building(const Building&) = delete;
  Building& operator=(const Building&) = delete;
};

// A zeroed table record of the kind, with no buffers yet. May allocate.
uint32_t new_record(uint32_t kind) {
  uint32_t node = alloc::new_byte_series(sizeof(Table));
  Series* s = alloc::series_of(node);
  std::memset(s->data(), 0, s->capacity);
  s->tail = s->head + sizeof(Table);
  table_of(node)->kind = kind;
  return node;
}

// Fresh all-empty flags and zero keys for the bucket count; counts back to 0. May allocate.
void reset_buckets(uint32_t table, uint32_t buckets) {
  uint32_t flags = new_words((buckets + 15) / 16, kAllEmpty);
  gc::Guard flags_guard(flags);
  uint32_t keys = new_words(buckets * key_words(table_of(table)), 0);
  Table* t = table_of(table);
  t->flags = flags;
  t->keys = keys;
  t->buckets = buckets;
  t->upper = upper_of(buckets);
  t->size = t->occupied = 0;
}

// --- hash! helpers -------------------------------------------------------------------------------

uint32_t reverse_length(const Table* t) { return alloc::series_of(t->reverse)->used() / 4; }

// Makes the reverse index reach `count` cells, new entries empty. May allocate.
void cover_reverse(uint32_t table, uint32_t count) {
  uint32_t reverse = table_of(table)->reverse;
  Series* s = alloc::series_of(reverse);
  if (s->used() / 4 >= count) return;
  uint64_t bytes = std::max<uint64_t>(uint64_t(count) * 4, uint64_t(s->capacity) * 2);
  s = alloc::expand_series_filled(reverse, static_cast<uint32_t>(std::min<uint64_t>(bytes, kNone)),
                                  0xFF);
  s->tail = s->capacity;
}

void set_reverse(uint32_t table, uint32_t index, uint32_t bucket) {
  cover_reverse(table, index + 1);
  words(table_of(table)->reverse)[index] = bucket;
}

// The cell index that stands for a bucket's key: the index itself or its list's first.
uint32_t representative(const Table* t, uint32_t key) {
  int32_t k = static_cast<int32_t>(key);
  return k >= 0 ? key : static_cast<uint32_t>(array::pick_int(array::pick_int(t->dups, -k), 1));
}

// Adds the cell index to the values kept under a live bucket: a lone index becomes a list of
// both. May allocate.
void join_group(uint32_t table, uint32_t bucket, uint32_t index) {
  int32_t key = static_cast<int32_t>(words(table_of(table)->keys)[bucket]);
  if (key >= 0) {
    if (static_cast<uint32_t>(key) == index) return;
    uint32_t list = alloc::new_series(4, sizeof(int32_t));
    gc::Guard guard(list);
    array::append_int(list, key);
    array::append_int(list, static_cast<int32_t>(index));
    uint32_t dups = table_of(table)->dups;
    array::append_int(dups, static_cast<int32_t>(list));
    words(table_of(table)->keys)[bucket] = static_cast<uint32_t>(-int32_t(array::length(dups)));
    return;
  }
  uint32_t list = static_cast<uint32_t>(array::pick_int(table_of(table)->dups, -key));
  if (array::find_int(list, static_cast<int32_t>(index)) < 0) {
    array::append_int(list, static_cast<int32_t>(index));
  }
}

// Drops the cell index from the hash! index: from its list, or with its bucket when it was the
// last of its value. Its reverse entry is emptied.
void drop_index(uint32_t table, uint32_t index) {
  Table* t = table_of(table);
  if (index >= reverse_length(t)) return;
  uint32_t* reverse = words(t->reverse);
  uint32_t bucket = reverse[index];
  reverse[index] = kNone;
  if (bucket >= t->buckets) return;
  uint32_t* flags = words(t->flags);
  if (bucket_state(flags, bucket) != 0) return;
  int32_t key = static_cast<int32_t>(words(t->keys)[bucket]);
  if (key >= 0) {
    if (static_cast<uint32_t>(key) != index) return;
  } else {
    uint32_t list = static_cast<uint32_t>(array::pick_int(t->dups, -key));
    int32_t at = array::find_int(list, static_cast<int32_t>(index));
    if (at < 0) return;
    array::remove_bytes(list, static_cast<uint32_t>(at), sizeof(int32_t));
    if (array::length(list) > 0) return;
    array::poke_int(t->dups, -key, 0);
  }
  set_deleted(flags, bucket);
  t->size--;
}

// Gives every stored index i in [lo, hi) the index new_index(i); each duplicate list is
// renumbered once, so no index moves twice. The reverse index is left alone (it finds the
// buckets). Never allocates.
template <class NewIndex>
void renumber(uint32_t table, uint32_t lo, uint32_t hi, NewIndex new_index) {
  Table* t = table_of(table);
  const uint32_t* reverse = words(t->reverse);
  uint32_t* keys = words(t->keys);
  std::vector<bool> listed(array::length(t->dups) + 1);
  hi = std::min(hi, reverse_length(t));
  for (uint32_t i = lo; i < hi; i++) {
    uint32_t bucket = reverse[i];
    if (bucket >= t->buckets) continue;
    int32_t key = static_cast<int32_t>(keys[bucket]);
    if (key >= 0) {
      if (static_cast<uint32_t>(key) == i) keys[bucket] = new_index(i);
      continue;
    }
    if (listed[-key]) continue;
    listed[-key] = true;
    uint32_t list = static_cast<uint32_t>(array::pick_int(t->dups, -key));
    auto* entry = reinterpret_cast<int32_t*>(alloc::series_of(list)->head_ptr());
    for (uint32_t n = array::length(list); n > 0; n--, entry++) {
      auto e = static_cast<uint32_t>(*entry);
      if (e >= lo && e < hi) *entry = static_cast<int32_t>(new_index(e));
    }
  }
}

// --- Growth ------------------------------------------------------------------------------------

void index_from_block(uint32_t table, uint32_t buckets);

// map! and word tables: the keys move to new flags and keys of the bucket count. A map! keeps
// its keys' hashes; a word table's come from the block's cells, which never allocates. Only the
// buckets taken here have their keys written: nothing reads the key of an empty bucket.
void resize(uint32_t table, uint32_t buckets) {
  uint32_t flags = new_words((buckets + 15) / 16, kAllEmpty);
  gc::Guard flags_guard(flags);
  uint32_t keys = alloc::new_series(buckets * key_words(table_of(table)), sizeof(uint32_t));
  alloc::series_of(keys)->tail = alloc::series_of(keys)->capacity;
  Table* t = table_of(table);
  uint32_t stride = key_words(t);
  const uint32_t* old_flags = words(t->flags);
  const uint32_t* old_keys = words(t->keys);
  uint32_t* new_flags = words(flags);
  uint32_t* new_keys = words(keys);
  const Cell* block = cells_of(t->block);
  uint32_t mask = buckets - 1;
  uint32_t moved = 0;
  for (uint32_t i = 0; i < t->buckets; i++) {
    if (bucket_state(old_flags, i) != 0) continue;
    const uint32_t* entry = old_keys + i * stride;
    uint32_t hash = keeps_hashes(t) ? entry[1] : hash_value(block[entry[0]]);
    uint32_t j = hash & mask;
    for (uint32_t step = 1; !(bucket_state(new_flags, j) & kEmpty); step++) j = (j + step) & mask;
    set_live(new_flags, j);
    std::memcpy(new_keys + j * stride, entry, stride * sizeof(uint32_t));
    moved++;
  }
  t->flags = flags;
  t->keys = keys;
  t->buckets = buckets;
  t->upper = upper_of(buckets);
  t->occupied = moved;  // a map!'s removed keys keep buckets the size does not count
}

// Record tables: a new block with the live records only, and buckets for them and one more.
void rebuild_records(uint32_t table, uint32_t buckets) {
  Table* t = table_of(table);
  uint32_t record_bytes = t->record_bytes;
  uint32_t live = 0;
  for (uint32_t off = 0; off + record_bytes <= alloc::series_of(t->block)->used();
       off += record_bytes) {
    if (record_at(table, off)->header == kLiveRecord) live++;
  }
  buckets = buckets_holding(live + 1, buckets);
  uint32_t block = alloc::new_cell_series((live + 1) * record_bytes / sizeof(Cell));
  gc::Guard block_guard(block);
  uint32_t flags = new_words((buckets + 15) / 16, kAllEmpty);
  gc::Guard flags_guard(flags);
  uint32_t keys = new_words(buckets, 0);
  t = table_of(table);
  Series* from = alloc::series_of(t->block);
  Series* to = alloc::series_of(block);
  uint32_t* new_flags = words(flags);
  uint32_t* new_keys = words(keys);
  uint32_t mask = buckets - 1;
  for (uint32_t off = 0; off + record_bytes <= from->used(); off += record_bytes) {
    auto* record = reinterpret_cast<const Cell*>(from->head_ptr() + off);
    if (record->header != kLiveRecord) continue;
    uint32_t at = to->used();
    std::memcpy(to->head_ptr() + at, record, record_bytes);
    to->tail += record_bytes;
    uint32_t j = hash_int(record_key_of(*record)) & mask;
    for (uint32_t step = 1; !(bucket_state(new_flags, j) & kEmpty); step++) j = (j + step) & mask;
    set_live(new_flags, j);
    new_keys[j] = at;
  }
  t->block = block;
  t->flags = flags;
  t->keys = keys;
  t->buckets = buckets;
  t->upper = upper_of(buckets);
  t->size = t->occupied = live;
}

// --- Putting -------------------------------------------------------------------------------------

// Whether the bucket key stands for the same key as the cell: hash! and map! by strict-equal?,
// symbols by their exact name, words by their exact symbol.
bool same_key(uint32_t table, uint32_t key, const Cell& cell) {
  const Table* t = table_of(table);
  const Cell* block = cells_of(t->block);
  switch (t->kind) {
    case kHash:
      return values_match(block[representative(t, key)], cell, action::STRICT_EQUAL);
    case kMap:
      return values_match(block[key], cell, action::STRICT_EQUAL);
    default:
      if (cell::type_of(cell) == TYPE_SYMBOL) return same_name(block[key], cell);
      return word::symbol_of(block[key]) == word::symbol_of(cell);
  }
}

// Enters the block cell at the index under its hash. May allocate.
int32_t put_index(uint32_t table, uint32_t index, uint32_t hash) {
  Table* t = table_of(table);
  if (t->occupied >= t->upper) {
    uint32_t buckets = grown_buckets(t);
    if (t->kind == kHash) {
      index_from_block(table, buckets);
      return 2;
    }
    resize(table, buckets);
    t = table_of(table);
  }
  uint32_t kind = t->kind;
  Cell cell = cells_of(t->block)[index];
  Slot slot = probe(table, hash, [&](uint32_t key) { return same_key(table, key, cell); });
  if (slot.found != kNone) {
    if (kind == kHash) {
      join_group(table, slot.found, index);
      set_reverse(table, index, slot.found);
    }
    return 0;
  }
  occupy(table, slot.free, index, hash);
  if (kind == kHash) set_reverse(table, index, slot.free);
  return 0;
}

int32_t put_index(uint32_t table, uint32_t index) {
  return put_index(table, index, hash_value(cells_of(table_of(table)->block)[index]));
}

uint32_t index_of(uint32_t table, const Cell* cell) {
  return static_cast<uint32_t>(cell - cells_of(table_of(table)->block));
}

// --- Finding -----------------------------------------------------------------------------------

// map!: the index of the key cell matching the key of the hash, or -1. Any word is looked up as
// the set-word it is stored as. free, when given, receives the bucket an insert of the key
// would take when it is not found.
int64_t find_in_map(uint32_t table, Cell key, int32_t op, uint32_t hash,
                    uint32_t* free = nullptr) {
  if (kKeyRules[cell::type_of(key)] == kKeySetWord) cell::set_type(key, TYPE_SET_WORD);
  Slot slot = probe(table, hash, [&](uint32_t index) {
    return values_match(cells_of(table_of(table)->block)[index], key, op);
  });
  if (free) *free = slot.free;
  if (slot.found == kNone) return -1;
  return bucket_key(table_of(table), slot.found);
}

// hash!: the best index among every match along the probe sequence. A list's values are
// strict-equal to each other, so under EQUAL and STRICT_EQUAL its first value speaks for all.
int64_t find_in_hash(uint32_t table, const Cell& key, uint32_t head, uint32_t skip, int32_t op,
                     bool last, bool reverse) {
  int64_t best = -1;
  bool latest = last || reverse;
  auto consider = [&](uint32_t i) {
    bool fits = reverse ? i < head && (skip <= 1 || (head - i) % skip == 0)
                        : i >= head && (skip <= 1 || (i - head) % skip == 0);
    if (fits && (best < 0 || (latest ? i > best : i < best))) best = i;
  };
  auto matches = [&](uint32_t i) {
    return values_match(cells_of(table_of(table)->block)[i], key, op);
  };
  bool whole_lists = op == action::EQUAL || op == action::STRICT_EQUAL;
  probe(table, hash_value(key), [&](uint32_t bucket_key) {
    int32_t k = static_cast<int32_t>(bucket_key);
    if (k >= 0) {
      if (matches(bucket_key)) consider(bucket_key);
      return false;
    }
    auto list = static_cast<uint32_t>(array::pick_int(table_of(table)->dups, -k));
    if (whole_lists && !matches(static_cast<uint32_t>(array::pick_int(list, 1)))) return false;
    for (uint32_t n = 1; n <= array::length(list); n++) {
      auto i = static_cast<uint32_t>(array::pick_int(list, n));
      if (whole_lists || matches(i)) consider(i);
    }
    return false;
  });
  return best;
}

// --- Index of a whole block ------------------------------------------------------------------

// Rebuilds a block kind's index from its block, with at least the bucket count and enough for
// every cell. May allocate.
void index_from_block(uint32_t table, uint32_t buckets) {
  Table* t = table_of(table);
  uint32_t step = t->kind == kMap ? 2 : 1;
  uint32_t length = cell_count(t->block);
  reset_buckets(table, buckets_holding(length / step, buckets));
  if (table_of(table)->kind == kHash) {
    cover_reverse(table, length);
    t = table_of(table);
    Series* reverse = alloc::series_of(t->reverse);
    std::memset(reverse->data(), 0xFF, reverse->capacity);
    array::clear(t->dups);
  }
  index_cells(table, 0, step);
}

// map!: the pairs from `first`; see index_cells.
void index_pairs(uint32_t table, uint32_t first) {
  for (uint32_t i = first;;) {
    uint32_t block = table_of(table)->block;
    uint32_t length = cell_count(block);
    if (i + 1 >= length) return;
    if (cells_of(block)[i + 1].header == 0) {  // a removed entry stays out of the index
      i += 2;
      continue;
    }
    uint32_t hash = hash_value(cells_of(block)[i]);
    int64_t found = find_in_map(table, cells_of(block)[i], action::STRICT_EQUAL, hash);
    if (found >= 0 && found != i) {
      Cell* pairs = cells_of(table_of(table)->block);
      if (pairs[found + 1].header == 0) table_of(table)->size++;  // a removed key comes back
      pairs[found + 1] = pairs[i + 1];
      std::memmove(pairs + i, pairs + i + 2, (length - i - 2) * sizeof(Cell));
      alloc::series_of(table_of(table)->block)->tail -= 2 * sizeof(Cell);
      continue;
    }
    if (found < 0) {
      check_map_key(cells_of(block)[i]);
      put_index(table, i, hash);
      normalize_key(table, i);
    }
    i += 2;
  }
}

}  // namespace

// --- Hashing -------------------------------------------------------------------------------------

uint32_t murmur3(const uint8_t* bytes, uint32_t length) { return murmur3_of(bytes, length, false); }

uint32_t hash_int(uint32_t word) { return fmix32(word); }

uint32_t hash_value(const Cell& value) {
  const auto* payload = reinterpret_cast<const uint8_t*>(&value.w1);
  switch (kHashRules[cell::type_of(value)]) {
    case kHashUnset:
      return 0xFFFFFFFE;  // -2
    case kHashNone:
      return 0xFFFFFFFF;  // -1
    case kHashWord1:
      return fmix32(payload_word(value, 1));
    case kHashWord2:
      return fmix32(payload_word(value, 2));
    case kHashWord3:
      return fmix32(payload_word(value, 3));
    case kHashWords12:
      return murmur3(payload, 8);
    case kHashWords23:
      return murmur3(payload + 4, 8);
    case kHashWords123:
      return murmur3(payload, 12);
    case kHashTuple:
      return murmur3(payload, std::min((value.header >> 19) & 0xF, 12u));
    case kHashBytes: {
      Series* s = alloc::series_of(cell::series_node(value));
      uint32_t from = std::min(cell::series_index(value), s->used());
      return murmur3(s->head_ptr() + from, s->used() - from);
    }
    case kHashMoney: {
      Cell copy = value;
      copy.header &= cell::kTypeMask;  // flags (a new-line marker) never take part
      if (normalize_money) normalize_money(copy);
      return murmur3(reinterpret_cast<const uint8_t*>(&copy), sizeof copy);
    }
    case kHashText:
      return text_hash(value);
    case kHashSymbol: {
      Series* s = alloc::series_of(symbol::utf8_node_of(value));
      return murmur3_of(s->head_ptr(), s->used(), true);
    }
    case kHashWordFamily:
      return fmix32(canonical_symbol(word::symbol_of(value)));
    default:
      return 0;
  }
}

// --- Symbols and words -------------------------------------------------------------------------

uint32_t canonical_symbol(uint32_t id) {
  if (!symbol_table || id == 0) return id;
  uint32_t block = table_of(symbol_table)->block;
  if (id > cell_count(block)) return id;
  return canonical_in(block, id - 1);
}

uint32_t intern_symbol(uint32_t table, const uint8_t* text, uint32_t length, bool any_case) {
  static const uint8_t kNoText = 0;
  if (!text) text = &kNoText;  // an empty text may come without bytes: the reads need an address
  uint32_t hash = murmur3_of(text, length, true);
  uint32_t alias = kNoAlias;
  auto match = [&](uint32_t index) {
    uint32_t block = table_of(table)->block;
    Series* name = name_of(cells_of(block)[index]);
    if (name->used() != length) return false;
    const uint8_t* bytes = name->head_ptr();
    if (!any_case && std::memcmp(bytes, text, length) == 0) return true;
    if (!ascii_iequal(bytes, text, length)) return false;
    if (any_case) return true;
    // An alias always names the canonical symbol, so resolving one takes one step.
    if (alias == kNoAlias) alias = canonical_in(block, index);
    return false;
  };
  Slot slot = probe(table, hash, match);
  if (slot.found != kNone) {
    uint32_t index = words(table_of(table)->keys)[slot.found];
    return any_case ? canonical_in(table_of(table)->block, index) : index + 1;
  }

  // The text may move with what we allocate: a copy first (on the stack for most names).
  uint8_t small[128];
  std::vector<uint8_t> large;
  const uint8_t* name = small;
  if (length <= sizeof small) {
    if (length) std::memcpy(small, text, length);
  } else {
    large.assign(text, text + length);
    name = large.data();
  }
  Table* t = table_of(table);
  // The walk above found the bucket to take, unless the table is rebuilt bigger first (the
  // allocations below move buffers, never buckets).
  uint32_t bucket = slot.free;
  if (t->occupied >= t->upper) {
    resize(table, grown_buckets(t));
    bucket = kNone;
  }
  uint32_t buffer = alloc::new_byte_series(length + 1);
  gc::Guard buffer_guard(buffer);
  Series* s = alloc::series_of(buffer);
  if (length) std::memcpy(s->head_ptr(), name, length);
  s->head_ptr()[length] = 0;  // past the tail
  s->tail = s->head + length;
  uint32_t block = table_of(table)->block;
  uint32_t index = cell_count(block);
  *cell::buffer_append_new_cell(block) = Cell{TYPE_SYMBOL, alias, 0, buffer};
  if (bucket == kNone) bucket = probe(table, hash, [](uint32_t) { return false; }).free;
  occupy(table, bucket, index);
  return index + 1;
}

int32_t find_word(uint32_t table, uint32_t symbol, bool any_case, uint32_t context,
                  int32_t* out_index) {
  Table* t = table_of(table);
  if (context && t->occupied >= t->upper) resize(table, grown_buckets(t));
  // probe()'s walk with every address read once, since nothing in it allocates: word lookups
  // are most of binding's time, and binding most of start-up's (zel-run -e 1).
  t = table_of(table);
  const SymbolAliases aliases;
  const uint32_t canonical = aliases.canonical(symbol);
  const uint32_t wanted = any_case ? canonical : symbol;
  const uint32_t* flags = words(t->flags);
  const uint32_t* keys = words(t->keys);  // one word a bucket: symbol tables keep no hashes
  const Cell* cells = cells_of(t->block);
  const uint32_t mask = t->buckets - 1;
  const uint32_t start = hash_int(canonical) & mask;
  uint32_t free = kNone;
  for (uint32_t i = start, step = 0;;) {
    const uint32_t state = bucket_state(flags, i);
    if (state & kEmpty) {
      if (free == kNone) free = i;
      break;
    }
    if (state & kDeleted) {
      if (free == kNone) free = i;
    } else {
      const uint32_t id = word::symbol_of(cells[keys[i]]);
      if ((any_case ? aliases.canonical(id) : id) == wanted) return static_cast<int32_t>(keys[i]);
    }
    i = (i + ++step) & mask;
    if (i == start) break;
  }
  if (!context) return -1;
  uint32_t block = table_of(table)->block;
  uint32_t index = cell_count(block);
  *cell::buffer_append_new_cell(block) = Cell{TYPE_WORD, context, symbol, index};
  occupy(table, free, index);
  if (out_index) *out_index = static_cast<int32_t>(index);
  return -1;
}

// --- Tables over blocks ----------------------------------------------------------------------

uint32_t make(uint32_t size, uint32_t block, uint32_t kind, uint32_t cells_per_record) {
  if (kind == kSymbols && cells_per_record == 2 && block) {
    // A context made from another starts with a copy of its word table.
    uint32_t source = context::words_node_of(*context::context_cell(block));
    uint32_t node = alloc::copy_series(source);
    Building root(node);
    uint32_t copied = alloc::copy_series(table_of(source)->flags);
    table_of(node)->flags = copied;
    copied = alloc::copy_series(table_of(source)->keys);
    table_of(node)->keys = copied;
    copied = alloc::copy_series(table_of(source)->block);
    table_of(node)->block = copied;
    return node;
  }
  if (size < 4) size = 4;
  if (kind == kSymbols && size >= 4000) size *= 2;
  uint32_t node = new_record(kind);
  Building root(node);
  reset_buckets(node, buckets_for(size));
  if (kind >= kRecords) table_of(node)->record_bytes = sizeof(Cell) * (1 + cells_per_record);
  if (kind == kHash) {
    uint32_t reverse = new_words(size, 0xFF);
    table_of(node)->reverse = reverse;
    uint32_t dups = alloc::new_series(4, sizeof(uint32_t));
    table_of(node)->dups = dups;
  }
  if (block && kind <= kSymbols) {
    table_of(node)->block = block;
    index_cells(node, 0, kind == kMap ? 2 : 1);
  } else {
    uint32_t cells = alloc::new_cell_series(size);
    table_of(node)->block = cells;
  }
  return node;
}

void rehash(uint32_t table, uint32_t size) {
  if (table_of(table)->kind >= kRecords)
    rebuild_records(table, buckets_for(size));
  else
    index_from_block(table, buckets_for(size));
}

void index_cells(uint32_t table, uint32_t first, uint32_t step) {
  if (table_of(table)->kind == kMap) {
    index_pairs(table, first);
    return;
  }
  for (uint32_t i = first; i < cell_count(table_of(table)->block); i += step) {
    if (put_index(table, i) == 2) return;  // the rebuild indexed every cell
  }
}

Cell* put(uint32_t table, const Cell* cell) {
  uint32_t index = index_of(table, cell);
  put_index(table, index);
  return cells_of(table_of(table)->block) + index;
}

int32_t put_with_status(uint32_t table, const Cell* cell) {
  return put_index(table, index_of(table, cell));
}

Cell* find(uint32_t table, const Cell* key, uint32_t head, uint32_t skip, int32_t op, bool last,
           bool reverse) {
  const Cell wanted = *key;  // the key may lie in a buffer that a compare moves
  int64_t index = -1;
  switch (table_of(table)->kind) {
    case kHash:
      index = find_in_hash(table, wanted, head, skip, op, last, reverse);
      break;
    case kMap:
      index = find_in_map(table, wanted, op, hash_value(wanted));
      break;
    default:
      break;
  }
  return index < 0 ? nullptr : cells_of(table_of(table)->block) + index;
}

Cell* find_next_equal(uint32_t table, const Cell* key, Probe& probe) {
  Cell wanted = *key;
  uint32_t mask = table_of(table)->buckets - 1;
  uint32_t hash = hash_value(wanted);
  if (probe.bucket < 0) {
    probe.bucket = static_cast<int32_t>(hash & mask);
    probe.start = static_cast<uint32_t>(probe.bucket);
    probe.count = 0;
  }
  for (;;) {
    auto bucket = static_cast<uint32_t>(probe.bucket);
    if (probe.count > 0 && bucket == probe.start) return nullptr;
    const Table* t = table_of(table);
    uint32_t state = bucket_state(words(t->flags), bucket);
    if (state & kEmpty) return nullptr;
    probe.count++;
    probe.bucket = static_cast<int32_t>((bucket + probe.count) & mask);
    if (state != 0 || words(t->keys)[2 * bucket + 1] != hash) continue;
    uint32_t index = words(t->keys)[2 * bucket];
    if (values_match(cells_of(t->block)[index], wanted, action::EQUAL)) {
      return cells_of(table_of(table)->block) + index;
    }
  }
}

namespace {

// Whether the count bytes at a and b are equal. Each text may be read 8 bytes at a time up to
// its buffer's end (its limit): a short last group is then compared as one masked word.
[[gnu::always_inline]] inline bool same_bytes(const uint8_t* a, const uint8_t* a_limit,
                                              const uint8_t* b, const uint8_t* b_limit,
                                              uint32_t count) {
  uint64_t x, y;
  for (; count >= 8; count -= 8, a += 8, b += 8) {
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    if (x != y) return false;
  }
  if (count == 0) return true;
  if (a_limit - a >= 8 && b_limit - b >= 8) {
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    return ((x ^ y) & (~0ull >> (64 - 8 * count))) == 0;
  }
  return std::memcmp(a, b, count) == 0;
}

// What find_map_key settles on when the key is a string! of one-byte units, if every key of the
// same hash along the probe sequence is one too: they compare here, byte by byte, with nothing
// that may allocate. Returns false (nothing decided) when another key of the same hash is met.
// found receives the key cell's index or -1, free the bucket an insert would take.
bool find_byte_text_key(uint32_t table, const uint8_t* text, uint32_t count,
                        const uint8_t* text_limit, uint32_t hash, int32_t op, int64_t* found,
                        uint32_t* free) {
  const Table* t = table_of(table);
  const uint32_t* flags = words(t->flags);
  const uint32_t* keys = words(t->keys);
  const Cell* block = cells_of(t->block);
  const uint32_t mask = t->buckets - 1;
  uint32_t i = hash & mask;
  const uint32_t start = i;
  uint32_t step = 0;
  uint32_t deleted = kNone;
  int64_t live_equal = -1;
  int64_t any_equal = -1;
  for (;;) {
    uint32_t state = bucket_state(flags, i);
    if (state & kEmpty) {
      *free = deleted != kNone ? deleted : i;
      break;
    }
    if (state & kDeleted) {
      if (deleted == kNone) deleted = i;
    } else if (keys[2 * i + 1] == hash) {
      uint32_t index = keys[2 * i];
      const uint8_t* other;
      const uint8_t* other_limit;
      uint32_t length;
      if (!byte_text(block[index], &other, &length, &other_limit)) {
        if (cell::type_of(block[index]) == TYPE_STRING) return false;  // wider units: compare
      } else if (length == count) {
        bool strict = same_bytes(other, other_limit, text, text_limit, count);
        bool live = block[index + 1].header != 0;
        if (strict && (live || op == action::STRICT_EQUAL)) {
          *found = index;
          return true;
        }
        if (op == action::EQUAL) {
          bool equal = strict;
          if (!equal) {
            equal = true;
            for (uint32_t n = 0; n < count; n++) {
              if (fold_byte(other[n]) != fold_byte(text[n])) {
                equal = false;
                break;
              }
            }
          }
          if (equal) {
            if (live && live_equal < 0) live_equal = index;
            if (any_equal < 0) any_equal = index;
          }
        }
      }
    }
    i = (i + ++step) & mask;
    if (i == start) {
      *free = deleted;
      break;
    }
  }
  *found = live_equal >= 0 ? live_equal : any_equal;
  return true;
}

// find_map_key by the general rules: any key type, every operator.
[[gnu::noinline]] Cell* find_map_key_general(uint32_t table, const Cell* key, int32_t op,
                                             MapSlot* slot);

}  // namespace

Cell* find_map_key(uint32_t table, const Cell* key, int32_t op, MapSlot* slot) {
  const uint8_t* text;
  const uint8_t* limit;
  uint32_t count;
  // A head before the first unit hashes as the empty text (text_hash), so it takes the general way.
  if (op != action::SAME && cell::series_index_signed(*key) >= 0 &&
      byte_text(*key, &text, &count, &limit)) {
    uint32_t hash = byte_text_hash(text, count);
    int64_t index;
    uint32_t free = kNone;
    if (find_byte_text_key(table, text, count, limit, hash, op, &index, &free)) {
      if (slot) *slot = MapSlot{hash, index < 0 ? free : kNone};
      return index < 0 ? nullptr : cells_of(table_of(table)->block) + index;
    }
  }
  return find_map_key_general(table, key, op, slot);
}

namespace {

Cell* find_map_key_general(uint32_t table, const Cell* key, int32_t op, MapSlot* slot) {
  Cell wanted = *key;  // the key may lie in a buffer that a compare moves
  if (kKeyRules[cell::type_of(wanted)] == kKeySetWord) cell::set_type(wanted, TYPE_SET_WORD);
  uint32_t hash = hash_value(wanted);
  uint32_t free = kNone;
  if (slot) *slot = MapSlot{hash, kNone};
  if (op != action::EQUAL) {
    int64_t index = find_in_map(table, wanted, op, hash, &free);
    if (slot) slot->free = free;
    return index < 0 ? nullptr : cells_of(table_of(table)->block) + index;
  }
  // One walk: a live key spelled exactly as asked ends it; otherwise the first live equal key,
  // else the first removed one, is remembered along the way.
  int64_t live_equal = -1;
  int64_t any_equal = -1;
  int64_t exact = -1;
  free = probe(table, hash, [&](uint32_t index) {
    auto at = [&](uint32_t i) -> const Cell& { return cells_of(table_of(table)->block)[i]; };
    bool strict = values_match(at(index), wanted, action::STRICT_EQUAL);
    bool live = at(index + 1).header != 0;
    if (strict && live) {
      exact = index;
      return true;
    }
    if (!values_match(at(index), wanted, action::EQUAL)) return false;
    if (live && live_equal < 0) live_equal = index;
    if (any_equal < 0) any_equal = index;
    return false;
  }).free;
  int64_t index = exact >= 0 ? exact : live_equal >= 0 ? live_equal : any_equal;
  if (slot && index < 0) slot->free = free;
  return index < 0 ? nullptr : cells_of(table_of(table)->block) + index;
}

}  // namespace

void add_map_key(uint32_t table, uint32_t index, const MapSlot& slot) {
  // The lookup's free bucket holds while the table has not grown: only put_index resizes.
  const Table* t = table_of(table);
  if (slot.free != kNone && t->occupied < t->upper) {
    occupy(table, slot.free, index, slot.hash);
  } else {
    put_index(table, index, slot.hash);
  }
  normalize_key(table, index);
}

void remove_cell(uint32_t table, const Cell* cell) {
  Table* t = table_of(table);
  uint32_t index = index_of(table, cell);
  if (t->kind == kMap) {
    Cell& value = cells_of(t->block)[index + 1];
    if (value.header == 0) return;  // already removed: the size counts it once
    value.header = 0;
    t->size--;
    return;
  }
  if (t->kind == kHash) drop_index(table, index);
}

void remove_range(uint32_t table, uint32_t first, uint32_t count) {
  if (table_of(table)->kind != kHash) return;
  uint32_t length = cell_count(table_of(table)->block);
  if (first >= length) return;
  count = std::min(count, length - first);
  if (count == 0) return;
  if (first == 0 && count == length) {
    clear(table);
    return;
  }
  for (uint32_t i = first; i < first + count; i++) drop_index(table, i);
}

int32_t shift_indexes(uint32_t table, uint32_t first, uint32_t count, int32_t delta) {
  if (count > kShiftLimit) return 1;
  if (count == 0 || delta == 0) return 0;
  uint32_t end = first + count;
  cover_reverse(table, delta > 0 ? end + static_cast<uint32_t>(delta) : end);
  renumber(table, first, end,
           [delta](uint32_t i) { return static_cast<uint32_t>(int64_t(i) + delta); });
  // The reverse-index entries travel with their cells; the ones they leave behind are emptied.
  uint32_t* reverse = words(table_of(table)->reverse);
  auto to = static_cast<uint32_t>(int64_t(first) + delta);
  std::memmove(reverse + to, reverse + first, count * sizeof(uint32_t));
  if (delta > 0) {
    std::fill(reverse + first, reverse + std::min(to, end), kNone);
  } else {
    std::fill(reverse + std::max(to + count, first), reverse + end, kNone);
  }
  return 0;
}

void move_range(uint32_t table, uint32_t target, uint32_t source, uint32_t count) {
  if (count == 0 || (target >= source && target < source + count)) return;
  bool to_tail = target > source;
  uint32_t lo = to_tail ? source : target;
  uint32_t hi = to_tail ? target + 1 : source + count;
  uint32_t between = hi - lo - count;
  if (count > kShiftLimit || between > kShiftLimit) {
    rehash(table, cell_count(table_of(table)->block));
    return;
  }
  cover_reverse(table, hi);
  uint32_t run_end = source + count;
  if (to_tail) {
    uint32_t first = target - count + 1;  // the run's new first index
    renumber(table, lo, hi,
             [&](uint32_t i) { return i < run_end ? i - source + first : i - count; });
  } else {
    renumber(table, lo, hi,
             [&](uint32_t i) { return i >= source ? i - source + target : i + count; });
  }
  uint32_t* reverse = words(table_of(table)->reverse);
  std::rotate(reverse + lo, reverse + (to_tail ? run_end : source), reverse + hi);
}

void clear(uint32_t table) {
  Table* t = table_of(table);
  Series* flags = alloc::series_of(t->flags);
  std::memset(flags->data(), kAllEmpty, flags->capacity);
  t->size = t->occupied = 0;
  if (t->kind == kHash) {
    Series* reverse = alloc::series_of(t->reverse);
    std::memset(reverse->data(), 0xFF, reverse->capacity);
    array::clear(t->dups);
  } else if (t->kind >= kRecords) {
    Series* block = alloc::series_of(t->block);
    block->tail = block->head;
  }
}

uint32_t copy(uint32_t table, uint32_t block) {
  uint32_t node = alloc::copy_series(table);
  Building root(node);
  table_of(node)->block = block;
  uint32_t copied = alloc::copy_series(table_of(table)->flags);
  table_of(node)->flags = copied;
  copied = alloc::copy_series(table_of(table)->keys);
  table_of(node)->keys = copied;
  if (table_of(table)->kind != kHash) return node;
  copied = alloc::copy_series(table_of(table)->reverse);
  table_of(node)->reverse = copied;
  uint32_t dups = alloc::copy_series(table_of(table)->dups);
  table_of(node)->dups = dups;
  // Each list is copied too, so that neither table changes the other's lists.
  for (uint32_t n = 1; n <= array::length(dups); n++) {
    auto list = static_cast<uint32_t>(array::pick_int(dups, n));
    if (list) array::poke_int(dups, n, static_cast<int32_t>(alloc::copy_series(list)));
  }
  return node;
}

// --- Record tables -----------------------------------------------------------------------------

Cell* put_record(uint32_t table, uint32_t key) {
  Table* t = table_of(table);
  if (t->occupied >= t->upper) rebuild_records(table, grown_buckets(t));
  Slot slot = probe(table, hash_int(key), [&](uint32_t offset) {
    return record_key_of(*record_at(table, offset)) == key;
  });
  uint32_t offset;
  if (slot.found != kNone) {
    offset = words(table_of(table)->keys)[slot.found];
  } else {
    t = table_of(table);
    if (bucket_state(words(t->flags), slot.free) & kDeleted) {
      offset = words(t->keys)[slot.free];  // the removed record that kept this bucket
    } else {
      uint32_t block = t->block;
      uint8_t* at = alloc::reserve_bytes(block, t->record_bytes);
      offset = static_cast<uint32_t>(at - alloc::series_of(block)->head_ptr());
    }
    occupy(table, slot.free, offset);
  }
  Cell* record = record_at(table, offset);
  record[0] = Cell{kLiveRecord, key, 0, 0};
  uint32_t count = table_of(table)->record_bytes / sizeof(Cell);
  for (uint32_t i = 1; i < count; i++) record[i] = Cell{TYPE_UNSET, 0, 0, 0};
  return record + 1;
}

Cell* get_record(uint32_t table, uint32_t key) {
  Slot slot = probe(table, hash_int(key), [&](uint32_t offset) {
    return record_key_of(*record_at(table, offset)) == key;
  });
  if (slot.found == kNone) return nullptr;
  return record_at(table, words(table_of(table)->keys)[slot.found]) + 1;
}

Cell* remove_record(uint32_t table, uint32_t key) {
  Slot slot = probe(table, hash_int(key), [&](uint32_t offset) {
    return record_key_of(*record_at(table, offset)) == key;
  });
  if (slot.found == kNone) return nullptr;
  Table* t = table_of(table);
  set_deleted(words(t->flags), slot.found);
  t->size--;
  Cell* record = record_at(table, words(t->keys)[slot.found]);
  record->header = 0;
  return record + 1;
}

// --- Collector -----------------------------------------------------------------------------------

namespace {

inline void mark_if(uint32_t node) {
  if (node) gc::mark_node(node);
}

bool marked(uint32_t node) {
  return alloc::node_in_use(node) && alloc::node_table[node] != 0 &&
         (alloc::series_of(node)->flags & alloc::kMark);
}

}  // namespace

void mark(uint32_t table) {
  if (!table || !gc::mark_node(table)) return;
  const Table* t = table_of(table);  // marking never allocates
  if (t->kind == kHash) {
    mark_if(t->reverse);
    if (t->dups) {
      gc::mark_node(t->dups);
      for (uint32_t n = 1; n <= array::length(t->dups); n++) {
        mark_if(static_cast<uint32_t>(array::pick_int(t->dups, n)));
      }
    }
  }
  mark_if(t->flags);
  mark_if(t->keys);
  if (!t->block) return;
  if (t->kind == kOwners) {
    gc::mark_node(t->block);
    return;
  }
  if (t->kind == kRecords) {
    Series* block = alloc::series_of(t->block);
    for (uint32_t off = 0; off + t->record_bytes <= block->used(); off += t->record_bytes) {
      auto* record = reinterpret_cast<const Cell*>(block->head_ptr() + off);
      if (record->header != kLiveRecord || !record_key_of(*record)) continue;
      if (alloc::series_of(record_key_of(*record))->unit() == sizeof(Cell))
        gc::mark_block(record_key_of(*record));
      else
        gc::mark_node(record_key_of(*record));
    }
  }
  gc::mark_block(t->block);
}

void sweep(uint32_t table) {
  Table* t = table_of(table);
  uint32_t record_bytes = t->record_bytes;
  bool owners = t->kind == kOwners && record_bytes >= 3 * sizeof(Cell);
  Series* block = alloc::series_of(t->block);
  for (uint32_t off = 0; off + record_bytes <= block->used(); off += record_bytes) {
    auto* record = reinterpret_cast<Cell*>(block->head_ptr() + off);
    if (record->header != kLiveRecord) continue;
    bool dead = !marked(record_key_of(*record)) ||
                (owners && object::context_of(record[2]) && !marked(object::context_of(record[2])));
    if (!dead) continue;
    Slot slot = probe(table, hash_int(record_key_of(*record)),
                      [off](uint32_t offset) { return offset == off; });
    if (slot.found != kNone) {
      set_deleted(words(t->flags), slot.found);
      t->size--;
    }
    // No dead node stays named in the block.
    std::fill(record, record + record_bytes / sizeof(Cell), Cell{TYPE_UNSET, 0, 0, 0});
    record->header = 0;
  }
}

}  // namespace hashtable
