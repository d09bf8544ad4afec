// The runtime initialisation of the programs: the modules, then the library from the boot image
// that zelboot made of its sources (boot_image_data.cpp, generated).
#include <cstdlib>

#include "boot/boot_image.h"
#include "boot/entry.h"
#include "runtime/gc.h"

namespace boot {

void runtime_init() {
  init_modules();
  // The collector's stress mode collects at every allocation. The library's start-up is the same
  // in every run, so a test of its own stresses it (ZEL_GC_STRESS_STARTUP=1) rather than every
  // test's start, which would take most of their time.
  const uint32_t stress = gc::stress();
  const char* startup = std::getenv("ZEL_GC_STRESS_STARTUP");
  if (!startup || std::atoi(startup) == 0) gc::set_stress(0);
  boot_image::load(boot_image::image);
  gc::set_stress(stress);
}

int entry(int argc, char** argv, int (*program)()) { return run(argc, argv, runtime_init, program); }

}  // namespace boot
