// sort of string! and the types that inherit it: the elements of the range are copied out as
// code points (bytes for binary!) and sorted as indexes, so that a comparator function, which
// runs user code, never sees a half-sorted buffer nor one that moved; the result is written
// back only when the series kept its length.
#include <algorithm>
#include <vector>

#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/ownership.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/casefold.h"
#include "runtime/sort.h"
#include "runtime/throw.h"

namespace string {

namespace {

struct TextSort {
  std::vector<uint32_t> units;  // the range's code points (or bytes)
  int32_t skip;
  int32_t field;
  bool all;
  bool reverse;
  bool folded;  // letter case ignored
  bool bytes;   // binary!: the function gets integers
  const Cell* function;
  uint32_t at(uint32_t record, int32_t i) const {
    return units[size_t(record) * size_t(skip) + size_t(i)];
  }
};

int32_t compare_records(const void* pa, const void* pb, void* arg, void*) {
  const TextSort& run = *static_cast<const TextSort*>(arg);
  uint32_t a = *static_cast<const uint32_t*>(pa), b = *static_cast<const uint32_t*>(pb);
  if (run.reverse) std::swap(a, b);
  int32_t from = run.all ? 0 : run.field;
  int32_t to = run.all ? run.skip : run.field + 1;
  for (int32_t i = from; i < to; i++) {
    uint32_t x = run.at(a, i), y = run.at(b, i);
    if (run.folded) {
      x = casefold::fold_char(x, true);
      y = casefold::fold_char(y, true);
    }
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// The function is asked about (b, a), as block! asks it: true means a belongs after b.
int32_t call_records(const void* pa, const void* pb, void* arg, void*) {
  const TextSort& run = *static_cast<const TextSort*>(arg);
  uint32_t a = *static_cast<const uint32_t*>(pa), b = *static_cast<const uint32_t*>(pb);
  if (!run.reverse) std::swap(a, b);
  auto element = [&](uint32_t record) {
    uint32_t unit = run.at(record, 0);
    return run.bytes ? integer::make(int32_t(unit)) : char_::make(unit);
  };
  return series::comparator_order(series::call_comparator(*run.function, element(a), element(b)));
}

}  // namespace

Cell* sort(Cell* series, const action::SortOptions& options) {
  const series::SortPlan plan = series::plan_sort(series, options);
  if (plan.count <= 0) return series;
  bool notified = ownership::notify_owner(series, "sort", nullptr, plan.head, 0);
  int32_t count = plan.count;
  int32_t remaining = std::max(int32_t(whole_length(*series)) - plan.head, 0);
  if (!options.part || remaining < count) count = remaining;
  int32_t records = count / plan.skip;
  if (records > 1) {
    bool bytes = cell::type_of(*series) == TYPE_BINARY;
    TextSort run{.units = {}, .skip = plan.skip, .field = plan.field, .all = options.all,
                 .reverse = options.reverse, .folded = !options.case_sensitive && !bytes,
                 .bytes = bytes, .function = plan.function};
    uint32_t length = whole_length(*series);
    size_t units = size_t(records) * size_t(plan.skip);
    for (size_t i = 0; i < units; i++) {
      run.units.push_back(char_at(*series, uint32_t(plan.head) + uint32_t(i)));
    }
    const std::vector<uint32_t> order =
        sort::sorted_order(size_t(records), &run, run.function ? call_records : compare_records,
                           options.stable);
    // The comparator may have changed the series: the sorted records only fit the same length.
    if (whole_length(*series) != length) rt::fire_error("script", "invalid-arg", series);
    uint32_t node = cell::series_node(*series);
    uint32_t position = uint32_t(plan.head);
    for (uint32_t record : order) {
      for (int32_t i = 0; i < plan.skip; i++) poke_char_at(node, position++, run.at(record, i));
    }
  }
  if (notified) ownership::notify_owner(series, "sorted", nullptr, plan.head, 0);
  return series;
}

}  // namespace string
