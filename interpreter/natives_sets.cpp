// The set natives: union, intersect, unique, difference and exclude check their arguments and
// route them by datatype to the set routines of block! and hash!, string!, bitset! and typeset!
// (and, for difference, date!); complement? reads a bitset's flag. Each routine leaves its
// result in the first argument cell.
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/date.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "interpreter/natives.h"
#include "runtime/throw.h"

namespace natives {

namespace {

using stack::arg;

inline bool block_or_hash(uint8_t type) { return type == TYPE_BLOCK || type == TYPE_HASH; }

// The shared routine: refinements[0] is /case, refinements[1] the position of /skip's size.
void set_operation(const int32_t* refinements, int32_t code) {
  const uint8_t type = cell::type_of(*arg(0));
  if (code != series::kUnique) {
    const uint8_t other = cell::type_of(*arg(1));
    if (block_or_hash(type) ? !block_or_hash(other) : other != type) {
      Cell expected = cell::make_datatype(type);
      Cell actual = cell::make_datatype(other);
      rt::fire_error("script", "expect-val", &expected, &actual);
    }
  }
  const bool case_sensitive = refinements[0] >= 0;
  const Cell* skip = refinements[1] >= 0 ? arg(refinements[1]) : nullptr;
  switch (type) {
    case TYPE_BLOCK: case TYPE_HASH: block::set_operation(code, case_sensitive, skip); return;
    case TYPE_STRING: string::set_operation(code, case_sensitive, skip); return;
    // unique of a bitset or typeset is the set itself: its bits are already distinct.
    case TYPE_BITSET: if (code != series::kUnique) bitset::do_bitwise(code); return;
    case TYPE_TYPESET: if (code != series::kUnique) typeset::do_bitwise(code); return;
    case TYPE_DATE:
      if (code == series::kDifference) {
        date::difference(arg(0), arg(1));
        return;
      }
      break;
    default: break;
  }
  cell::fire_expect_arg(*arg(0), 0);
}

}  // namespace

void union_(const int32_t* refinements) { set_operation(refinements, series::kUnion); }
void intersect(const int32_t* refinements) { set_operation(refinements, series::kIntersect); }
void unique(const int32_t* refinements) { set_operation(refinements, series::kUnique); }
void difference(const int32_t* refinements) { set_operation(refinements, series::kDifference); }
void exclude(const int32_t* refinements) { set_operation(refinements, series::kExclude); }

void complement_q(const int32_t*) {
  const Cell& bits = *arg(0);
  if (cell::type_of(bits) != TYPE_BITSET) cell::fire_expect_arg(bits, 0);
  stack::set_only_result(logic::make(bitset::complemented(bits)));
}

}  // namespace natives
