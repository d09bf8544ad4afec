// Shared libraries opened the first time one of their functions is called. A program pays at
// start-up for every library it is linked with (loading and symbol binding: libcurl and what it
// pulls in cost more than the whole interpreter's start), so the libraries behind services that
// most programs never use (HTTP, digests, the clipboard, compression, image files) are opened on
// demand instead. Their functions are defined under their own names by forwarders that resolve
// the real function here, so the code that calls them is written against the library's own
// header as usual.
#pragma once

#include <mutex>

namespace platform {

class LazyLibrary {
 public:
  explicit LazyLibrary(const char* file) : file_(file) {}
  // The address of the library's function `name`; null when the library or the function is
  // missing (the forwarder then answers the library's own failure value).
  void* symbol(const char* name);

 private:
  const char* file_;
  std::once_flag opened_;
  void* handle_ = nullptr;
};

// The library's function as its header declares it (Fn is decltype(&function)).
template <typename Fn>
Fn lazy_function(LazyLibrary& library, const char* name) {
  return reinterpret_cast<Fn>(library.symbol(name));
}

}  // namespace platform

// Inside a forwarder: `fn` is the real function (or null), resolved once per process.
#define ZEL_LAZY_FUNCTION(library, name) \
  static const auto fn = platform::lazy_function<decltype(&::name)>(library, #name)
