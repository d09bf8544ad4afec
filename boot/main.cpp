// The zel program. The evaluator does not exist yet, so it brings the runtime up, runs a small
// allocation workload through the memory manager and the collector, and reports what they did.
#include <cstdint>

#include "boot/entry.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"
#include "runtime/print.h"

namespace {

int count_series_frames() {
  int n = 0;
  for (auto* f = alloc::memory.first_frame; f; f = f->next) n++;
  return n;
}

int run() {
  rt::print_line({"Zel runtime foundation: no evaluator yet, so no Zel code runs."});
  uint32_t kept = alloc::new_cell_series(1000);
  gc::Guard guard(kept);
  const int32_t made = 200000;
  for (int32_t i = 0; i < made; i++) alloc::new_byte_series(64);
  gc::collect();
  rt::print_line({"series made: ", made, ", collections run: ",
                  static_cast<int32_t>(gc::collections())});
  rt::print_line({"memory held: ", static_cast<int32_t>(alloc::memory.total / 1024),
                  " KB in ", count_series_frames(), " series frame(s)"});
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return boot::entry(argc, argv, run); }
