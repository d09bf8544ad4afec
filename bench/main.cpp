// Shared entry of the benchmark programs: brings the runtime up as the program does, then runs
// the benchmarks registered by the program's own file.
#include <benchmark/benchmark.h>

#include "boot/entry.h"

int main(int argc, char** argv) {
  boot::start(argc, argv);
  boot::runtime_init();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
