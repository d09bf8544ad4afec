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

// The leak checker does not look into mappings of our own: a table of pointers is shown to it,
// or what only the table holds would be reported as leaked.
#if defined(__SANITIZE_ADDRESS__)
#define ZEL_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define ZEL_LEAK_CHECKED 1
#endif
#endif
#ifdef ZEL_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

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
#ifdef ZEL_LEAK_CHECKED
    if constexpr (std::is_pointer_v<T>) {
      if (mapped_) __lsan_unregister_root_region(data_, mapped_);
      __lsan_register_root_region(grown, bytes);
    }
#endif
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
