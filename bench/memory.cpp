// Series allocation and collection throughput of the memory manager and the collector.
#include <benchmark/benchmark.h>

#include <vector>

#include "runtime/alloc.h"
#include "runtime/gc.h"

namespace {

// Short-lived small series, as an evaluator makes them; full frames trigger collections.
void BM_AllocateGarbage(benchmark::State& state) {
  const uint32_t bytes = uint32_t(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(alloc::new_byte_series(bytes));
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * (bytes + alloc::kBufferOverhead));
}
BENCHMARK(BM_AllocateGarbage)->Arg(16)->Arg(64)->Arg(1024);

// Growing a series by doubling, as append does.
void BM_ExpandByDoubling(benchmark::State& state) {
  for (auto _ : state) {
    uint32_t node = alloc::new_byte_series(16);
    gc::Guard guard(node);
    while (alloc::series_of(node)->capacity < 64 * 1024) alloc::expand_series(node);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExpandByDoubling);

// One full cycle over a live set of blocks, half of them dead, so that compaction moves the rest.
void BM_CollectLiveBlocks(benchmark::State& state) {
  const uint32_t count = uint32_t(state.range(0));
  uint32_t root = alloc::new_cell_series(count);
  gc::Guard guard(root);
  gc::set_type_marker(TYPE_BLOCK, gc::mark_block_cell);
  for (auto _ : state) {
    state.PauseTiming();
    alloc::series_of(root)->tail = 0;
    for (uint32_t i = 0; i < count; i++) {
      alloc::new_cell_series(2);  // dead
      uint32_t node = alloc::new_cell_series(2);
      alloc::Series* r = alloc::series_of(root);
      reinterpret_cast<Cell*>(r->data())[i] = cell::make_series(TYPE_BLOCK, node);
      r->tail += 16;
    }
    state.ResumeTiming();
    gc::collect();
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_CollectLiveBlocks)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
