// Storage for large C++ arrays that are filled as soon as they are made (the collector's lists,
// sort keys): its pages are made present in one request, since faulting them in one at a time
// costs many times more. Small arrays come from memory the heap already holds.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/os/platform.h"

namespace rt {

template <class T>
struct PresentAllocator {
  using value_type = T;
  PresentAllocator() = default;
  template <class U>
  PresentAllocator(const PresentAllocator<U>&) {}
  T* allocate(size_t n) {
    T* p = std::allocator<T>{}.allocate(n);
    constexpr uintptr_t kPage = 4096;
    const auto from = (reinterpret_cast<uintptr_t>(p) + kPage - 1) & ~(kPage - 1);
    const auto to = reinterpret_cast<uintptr_t>(p + n) & ~(kPage - 1);
    if (to >= from + 16 * kPage) platform::prefault(reinterpret_cast<void*>(from), to - from);
    return p;
  }
  void deallocate(T* p, size_t n) { std::allocator<T>{}.deallocate(p, n); }
  friend bool operator==(const PresentAllocator&, const PresentAllocator&) { return true; }
};

template <class T>
using PresentVector = std::vector<T, PresentAllocator<T>>;

}  // namespace rt
