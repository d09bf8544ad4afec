// block! sort against std::stable_sort on the same comparison: random blocks of mixed datatypes,
// records of one and two cells, the default ordering and random comparator functions (stood in
// for by C++ callbacks that allocate, so that the collector moves buffers while the sort runs),
// with and without /reverse, also under the collector's stress mode.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "datatypes/integer.h"
#include "datatypes/upcall.h"
#include "runtime/gc.h"
#include "word_test_support.h"

namespace {

using word_test::WordTest;

// The default ordering as the sort applies it: values that cannot be compared order by type.
int32_t order(const Cell& a, const Cell& b, bool case_sensitive) {
  Cell x = a, y = b;
  int32_t o = datatype::lookup<action::COMPARE>(cell::type_of(a))(
      &x, &y, case_sensitive ? action::SORT_CASE_ORDER : action::SORT_ORDER);
  return o == action::kNotComparable ? int32_t(cell::type_of(a)) - int32_t(cell::type_of(b)) : o;
}

// The comparator functions: whether the first argument sorts before the second.
int which_comparator = 0;
bool before(const Cell& a, const Cell& b) {
  switch (which_comparator) {
    case 0: return cell::type_of(a) < cell::type_of(b);
    case 1: return order(a, b, true) > 0;
    default: {
      auto key = [](const Cell& c) {
        return cell::type_of(c) == TYPE_INTEGER ? int(integer::get_value(c) % 3 + 3) % 3 : 5;
      };
      return key(a) < key(b);
    }
  }
}

// Stands in for the interpreter's function call: the comparator's answer, after garbage.
Cell call_before(const Cell&, const Cell&, std::span<const Cell> arguments) {
  alloc::new_cell_series(8);  // garbage: a collection may run here
  return logic::make(before(arguments[0], arguments[1]));
}

std::string random_text(std::mt19937& rng, int count) {
  static const char* tokens[] = {"a", "B", "b", "A", "c", "\"x\"", "\"ab\"", "\"AB\"", "none",
                                 "true", "false", "#i", "[1 2]", "[1]", "'q", "q:"};
  std::string text;
  for (int i = 0; i < count; i++) {
    if (rng() % 2) {
      text += std::to_string(int(rng() % 21) - 10);
    } else {
      text += tokens[rng() % std::size(tokens)];
    }
    text += ' ';
  }
  return text;
}

class BlockSort : public WordTest {
 protected:
  static void check_rounds(int rounds, uint32_t seed, int max_records);
};

void BlockSort::check_rounds(int rounds, uint32_t seed, int max_records) {
  struct Comparator {  // in place of the interpreter's calls, also when an assertion returns
    upcall::Interpreter saved = upcall::interpreter;
    Comparator() { upcall::interpreter.call_function = call_before; }
    ~Comparator() { upcall::interpreter = saved; }
  } comparator;
  std::mt19937 rng(seed);
  for (int round = 0; round < rounds; round++) {
    Cell* saved_top = stack::top;
    int skip = 1 + int(rng() % 2);
    int records = int(rng() % uint32_t(max_records));
    Cell* block = build(random_text(rng, records * skip));
    bool use_function = rng() % 2;
    bool reverse = rng() % 2;
    bool case_sensitive = rng() % 2;
    which_comparator = int(rng() % 3);
    // The expected order: records moved whole, ordered by their first cells.
    std::vector<std::vector<Cell>> expected;
    for (int r = 0; r < records; r++) {
      Cell* first = cell::block_head(*block) + r * skip;
      expected.emplace_back(first, first + skip);
    }
    std::stable_sort(expected.begin(), expected.end(), [&](const auto& x, const auto& y) {
      const Cell& a = reverse ? y[0] : x[0];
      const Cell& b = reverse ? x[0] : y[0];
      return use_function ? before(a, b) : order(a, b, case_sensitive) < 0;
    });
    Cell* want = block::push_new(4);
    for (const auto& record : expected) {
      for (const Cell& c : record) block::append_cell(*want, c);
    }
    Cell* skip_cell = stack::push_copy(integer(skip));
    Cell function{TYPE_FUNCTION, 0, 0, 0};
    datatype::lookup<action::SORT>(TYPE_BLOCK)(
        block, {.case_sensitive = case_sensitive, .skip = skip_cell,
                .compare = use_function ? &function : nullptr, .reverse = reverse,
                .stable = true});
    ASSERT_EQ(mold(*block), mold(*want))
        << "round " << round << " skip " << skip << " function " << use_function
        << " comparator " << which_comparator << " reverse " << reverse;
    stack::top = saved_top;
  }
}

// Under the stress mode of the whole run (ZEL_GC_STRESS) a slice of the rounds: the test below
// already sorts under a collection at every allocation.
TEST_F(BlockSort, StableSortOfMixedBlocksMatchesStdStableSort) {
  check_rounds(gc::stress() ? 60 : 400, 2024, 60);
}

TEST_F(BlockSort, TheSameUnderACollectionAtEveryAllocation) {
  StressEveryAllocation stress;
  check_rounds(20, 99, 24);
}

}  // namespace
