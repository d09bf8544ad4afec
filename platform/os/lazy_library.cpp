#include "platform/os/lazy_library.h"

#include <dlfcn.h>

namespace platform {

void* LazyLibrary::symbol(const char* name) {
  // RTLD_LOCAL: the library's symbols must not take the place of the forwarders for later
  // libraries; each forwarder looks its function up in its own library's handle.
  std::call_once(opened_, [this] { handle_ = dlopen(file_, RTLD_NOW | RTLD_LOCAL); });
  return handle_ ? dlsym(handle_, name) : nullptr;
}

}  // namespace platform
