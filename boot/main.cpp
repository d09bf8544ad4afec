// The zel program. `zel FILE` runs the script; the GUI console, which zel opens without a file,
// comes with a later part of the system.
#include <cstdio>

#include "boot/entry.h"
#include "boot/script.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zel FILE\n(the console is not built yet: zel runs FILE)\n");
    return 2;
  }
  std::string text;
  if (!boot::read_script_file(argv[1], text)) {
    std::fprintf(stderr, "zel: cannot open %s\n", argv[1]);
    return 1;
  }
  boot::set_script(std::move(text));
  return boot::entry(argc, argv, boot::run_script);
}
