// A table indexed by node number whose entries start as zero (pointers, counters). Its memory is
// a mapping of its own, grown in place: entries never written cost no page, and growing copies
// nothing. Tables of this kind span every node number in use, most of them never written.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/os/platform.h"
#include "runtime/fatal.h"
#include "runtime/throw.h"

namespace rt {

template <class T>
class ZeroTable {
  static_assert(std::is_trivially_copyable_v<T>, "entries are zero bytes until written");

 public:
  uint32_t size() const { return size_; }
  T& operator[](uint32_t i) { return data_[i]; }
  const T& operator[](uint32_t i) const { return data_[i]; }
  // At least n entries; the new ones are zero.
  void grow_to(uint32_t n) {
    if (n <= size_) return;
    constexpr size_t kStep = size_t(64) << 10;
    size_t bytes = std::max(size_t(n) * sizeof(T), mapped_ * 2);
    bytes = (bytes + kStep - 1) / kStep * kStep;
    void* grown = nullptr;
    if (catch_codes(kCatchVirtualMemory, [&] {
          grown = mapped_ ? platform::virtual_grow(data_, mapped_, bytes)
                          : platform::virtual_alloc(bytes);
        })) {
      runtime_error(kFatalOutOfMemory, nullptr);
    }
    data_ = static_cast<T*>(grown);
    mapped_ = bytes;
    size_ = uint32_t(std::min<size_t>(bytes / sizeof(T), UINT32_MAX));
  }

 private:
  T* data_ = nullptr;
  uint32_t size_ = 0;
  size_t mapped_ = 0;
};

}  // namespace rt
