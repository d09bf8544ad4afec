// ZELBIN throughput on a large mixed value: encode and decode in both record forms. The value
// is 20,000 records (objects of an integer, a text, a float, a block of words, a date with time,
// money and a logic) and a block of 20,000 strings that a second block refers to again, as
// bench/zelbin_pickle.py builds the same structure in Python for pickle; run both to compare:
//   build/release/bench_zelbin && python3 bench/zelbin_pickle.py
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/constants.h"
#include "datatypes/stack.h"
#include "interpreter/eval.h"
#include "io/zelbin.h"
#include "lexer/lexer.h"
#include "runtime/alloc.h"

namespace {

constexpr const char* kSource =
    "records: make block! 20000 "
    "repeat i 20000 [append records make object! [id: i name: append copy \"name-\" i "
    "score: i * 1.5 tags: copy [alpha beta gamma] created: 1-Jan-2000/10:00 price: $12.50 "
    "active: odd? i]] "
    "texts: make block! 20000 repeat i 20000 [append texts append copy \"text number \" i] "
    "reduce [records texts reduce [texts]]";

// The value, built once and kept on the data stack (a root) for the whole run.
const Cell& value() {
  static Cell* held = [] {
    Cell* result = stack::push_copy(constants::none);
    Cell* code = stack::push_copy(constants::none);
    const std::string source = kSource;
    lexer::scan(code, reinterpret_cast<const uint8_t*>(source.data()), source.size(),
                lexer::Mode{}, nullptr, nullptr, nullptr);
    interp::eval_block(*code, false);
    *result = *stack::top_cell();
    stack::top = result + 1;
    return result;
  }();
  return *held;
}

std::vector<uint8_t> encoded(bool compact) {
  Cell* stream = compact ? zelbin::encode_compact(value()) : zelbin::encode_plain(value());
  alloc::Series* s = alloc::series_of(cell::series_node(*stream));
  std::vector<uint8_t> bytes(s->head_ptr(), s->tail_ptr());
  stack::pop_cells(1);
  return bytes;
}

void encode(benchmark::State& state, bool compact) {
  const size_t size = encoded(compact).size();
  for (auto _ : state) {
    benchmark::DoNotOptimize(compact ? zelbin::encode_compact(value())
                                     : zelbin::encode_plain(value()));
    stack::pop_cells(1);
  }
  state.counters["bytes"] = double(size);
  state.SetBytesProcessed(int64_t(state.iterations() * size));
}

void decode(benchmark::State& state, bool compact) {
  const std::vector<uint8_t> bytes = encoded(compact);
  for (auto _ : state) {
    Cell* out = block::push_new(4);
    zelbin::user_decoding = true;
    zelbin::read(bytes.data(), int64_t(bytes.size()), *out, true);
    stack::pop_cells(1);
  }
  state.counters["bytes"] = double(bytes.size());
  state.SetBytesProcessed(int64_t(state.iterations() * bytes.size()));
}

void BM_ZelbinEncodeCompact(benchmark::State& state) { encode(state, true); }
void BM_ZelbinEncodePlain(benchmark::State& state) { encode(state, false); }
void BM_ZelbinDecodeCompact(benchmark::State& state) { decode(state, true); }
void BM_ZelbinDecodePlain(benchmark::State& state) { decode(state, false); }
BENCHMARK(BM_ZelbinEncodeCompact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZelbinEncodePlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZelbinDecodeCompact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZelbinDecodePlain)->Unit(benchmark::kMillisecond);

}  // namespace
