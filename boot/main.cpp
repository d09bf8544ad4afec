// The zel program. `zel FILE ARG...` runs the script as do does: in its own directory, with
// system/options/script the file and system/options/args the ARGs. Without a file, start-up ends
// by launching the GUI console, which comes with a later part of the system: until then zel says
// so and exits as when the console returns.
#include <cstdio>

#include "boot/entry.h"
#include "boot/script.h"

namespace {

int launch_console() {
  std::fprintf(stderr, "zel: the console is not built yet; zel FILE runs a script\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return boot::entry(argc, argv, launch_console);
  std::string text;
  if (!boot::read_script_file(argv[1], text)) {
    std::fprintf(stderr, "zel: cannot open %s\n", argv[1]);
    return 1;
  }
  boot::set_script_file();
  return boot::entry(argc, argv, boot::run_script);
}
