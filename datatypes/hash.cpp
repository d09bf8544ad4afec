// hash!: making hashes, their mold, copies, the reorderings sort and trim, and find and select
// through the index. Everything else is block!'s, whose edits keep the index in step. Relies on
// the rooting rule of runtime/gc.h: a hash being made sits in the frame's result cell, and cells
// are found again by index after anything that can allocate.
#include "datatypes/hash.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/hashtable.h"
#include "datatypes/integer.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace hash {

namespace {

inline uint32_t length_of(const Cell& hash) {
  return static_cast<uint32_t>(series::buffer_length(hash));
}

// A new index over the hash's whole block, with room for at least `size` values.
void index_all(Cell* hash, uint32_t size) {
  set_table_node(*hash, hashtable::make(std::max(size, length_of(*hash)), cell::series_node(*hash),
                                        hashtable::kHash, 0));
}

// Runs one of block!'s reorderings over the hash. The index is emptied first, so that user code
// the action runs (owner handlers, compare functions) finds nothing rather than stale positions,
// and rebuilt afterwards, also when the action ends in an error.
template <class Reorder>
void reorder(const Cell& hash, Reorder&& run) {
  gc::Guard keep(hash);
  hashtable::clear(table_node_of(hash));
  try {
    run();
  } catch (const rt::Throw&) {
    hashtable::rehash(table_node_of(hash), length_of(hash));
    throw;
  }
  hashtable::rehash(table_node_of(hash), length_of(hash));
}

// --- Lookups through the index -------------------------------------------------------------------

// Whether the index can answer: a single value compared whole. Blocks match by content,
// datatypes and typesets by type, objects field by field, /match and /same (without /only) by
// position: block!'s search serves those.
bool by_index(const Cell& value, const action::FindOptions& options) {
  uint8_t type = cell::type_of(value);
  return !options.match && !types::any_block(type) && type != TYPE_DATATYPE &&
         type != TYPE_TYPESET && type != TYPE_OBJECT && (!options.same || options.only);
}

// The buffer index of the match, or -1: the first at or after the head (the last one with
// /last, the last before the head with /reverse) on a record boundary, within the part.
int64_t find_index(const Cell& hash, const Cell& value, const action::FindOptions& options) {
  const Cell* part = options.part;
  const Cell* skip = options.skip;
  auto length = static_cast<int64_t>(length_of(hash));
  int64_t head = std::max<int64_t>(cell::series_index_signed(hash), 0);
  if (length == 0 || (head >= length && !options.reverse)) return -1;
  head = std::min(head, length);
  uint32_t record = 1;
  if (skip) {
    if (cell::type_of(*skip) != TYPE_INTEGER) {
      series::fire_invalid_refine(runtime_words::refinements.skip, *skip);
    }
    if (integer::get_value(*skip) < 1) rt::fire_error("script", "out-of-range", skip);
    record = static_cast<uint32_t>(integer::get_value(*skip));
  }
  int64_t limit = length - 1;
  if (part) {
    int32_t count = series::part_count(hash, *part);
    if (count < 1) return -1;
    limit = std::min(limit, head + count - 1);
  }
  int32_t op = options.same             ? action::SAME
               : options.case_sensitive ? action::STRICT_EQUAL
                                        : action::FIND_EQUAL;
  const Cell* found = hashtable::find(table_node_of(hash), &value, static_cast<uint32_t>(head),
                                      record, op, options.last, options.reverse);
  if (!found) return -1;
  int64_t index = found - block::cell_at(hash, 0);
  return index <= limit ? index : -1;
}

// --- Actions -------------------------------------------------------------------------------------

void copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);

// A number gives an empty hash with room for that many values; a hash, a copy; a block, a hash
// over a copy of its values; anything else, a hash over what block! makes of it.
Cell* make(Cell* proto, Cell* spec, uint8_t) {
  uint8_t spec_type = cell::type_of(*spec);
  if (spec_type == TYPE_HASH) {
    copy(spec, proto, nullptr, false, nullptr);
    return proto;
  }
  bool sized = spec_type == TYPE_INTEGER || spec_type == TYPE_FLOAT;
  int32_t room = sized ? std::max(cell::get_integer_arg(*spec), 1) : 0;
  Cell* made = sized ? block::make(proto, spec, TYPE_HASH) : block::to(proto, spec, TYPE_HASH);
  index_all(made, static_cast<uint32_t>(room));
  return made;
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent) {
  // Met again inside itself: the block's marker, without the constructor around it.
  if (cycles::detect_and_emit(*value, out, &part, true)) return part;
  if (!options.only) part -= cell::append_text(out, "make hash! ");
  return block::mold(value, out, options, arg, part, indent);
}

// Copied as block! copies; the result is a hash! (deep copies included). A copy of the whole
// hash takes a copy of its index, any other copy a new index.
void copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
  const Cell source = *value;  // result may be the same cell
  gc::Guard keep(source);
  block::copy(value, result, part, deep, types);
  cell::set_type(*result, TYPE_HASH);
  set_table_node(*result, 0);
  bool whole = !part && !deep && !types && cell::series_index(source) == 0;
  if (whole) {
    set_table_node(*result, hashtable::copy(table_node_of(source), cell::series_node(*result)));
  } else {
    index_all(result, 1);
  }
}

Cell* find(Cell* series, Cell* value, const action::FindOptions& options) {
  if (!by_index(*value, options)) {
    return datatype::implemented<action::FIND>(TYPE_BLOCK)(series, value, options);
  }
  int64_t index = find_index(*series, *value, options);
  if (index < 0) {
    *series = constants::none;
  } else {
    cell::set_series_index(*series, static_cast<uint32_t>(index + (options.tail ? 1 : 0)));
  }
  return series;
}

Cell* select(Cell* series, Cell* value, const action::FindOptions& options) {
  if (!by_index(*value, options)) {
    return datatype::implemented<action::SELECT>(TYPE_BLOCK)(series, value, options);
  }
  int64_t index = find_index(*series, *value, options);
  bool found = index >= 0 && index + 1 < length_of(*series);
  *series = found ? *block::cell_at(*series, static_cast<int32_t>(index + 1)) : constants::none;
  return series;
}

Cell* sort(Cell* series, const action::SortOptions& options) {
  auto block_sort = datatype::implemented<action::SORT>(TYPE_BLOCK);
  reorder(*series, [&] { block_sort(series, options); });
  return series;
}

void trim(Cell* series, const action::TrimOptions& options) {
  reorder(*series, [&] { block::trim(series, options); });
}

// A hash is its block and its index, which keeps the block alive too.
void mark_hash(const Cell& value) {
  gc::mark_block(cell::series_node(value));
  if (table_node_of(value)) hashtable::mark(table_node_of(value));
}

}  // namespace

void register_datatype() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  datatype::register_type(
      TYPE_HASH,
      {act<MAKE>(make), inherit<RANDOM>(), inherit<REFLECT>(), act<TO>(make), inherit<FORM>(),
       act<MOLD>(mold), inherit<EVAL_PATH>(), inherit<COMPARE>(), inherit<APPEND>(),
       inherit<AT>(), inherit<BACK>(), inherit<CHANGE>(), inherit<CLEAR>(), act<COPY>(copy),
       act<FIND>(find), inherit<HEAD>(), inherit<HEAD_Q>(), inherit<INDEX_Q>(),
       inherit<INSERT>(), inherit<LENGTH_Q>(), inherit<MOVE>(), inherit<NEXT>(),
       inherit<PICK>(), inherit<POKE>(), inherit<PUT>(), inherit<REMOVE>(), inherit<REVERSE>(),
       act<SELECT>(select), act<SORT>(sort), inherit<SKIP>(), inherit<SWAP>(), inherit<TAIL>(),
       inherit<TAIL_Q>(), inherit<TAKE>(), act<TRIM>(trim), inherit<MODIFY>()});
  gc::set_type_marker(TYPE_HASH, mark_hash);
}

}  // namespace hash
