// A scope in which every allocation collects and moves every live buffer, poisoning and
// protecting the old copies: an address kept across an allocation faults at once.
#pragma once
#include <cstdint>

#include "runtime/gc.h"

class StressEveryAllocation {
 public:
  StressEveryAllocation() : previous_(gc::stress()) { gc::set_stress(1); }
  ~StressEveryAllocation() { gc::set_stress(previous_); }
  StressEveryAllocation(const StressEveryAllocation&) = delete;
  StressEveryAllocation& operator=(const StressEveryAllocation&) = delete;

 private:
  uint32_t previous_;
};
