// The runtime initialisation of the programs: the modules, then the library from the boot image
// that zelboot made of its sources (boot_image_data.cpp, generated).
#include "boot/boot_image.h"
#include "boot/entry.h"

namespace boot {

void runtime_init() {
  init_modules();
  boot_image::load(boot_image::image);
}

int entry(int argc, char** argv, int (*program)()) { return run(argc, argv, runtime_init, program); }

}  // namespace boot
