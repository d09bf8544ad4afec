// zel-run: runs a script without the GUI, for tests and benchmarks. `zel-run FILE ARG...` runs
// the script file as do does (in its own directory, system/options/args the ARGs), `zel-run -e
// CODE ARG...` evaluates CODE, `zel-run --version` prints the version. print writes to standard output; an uncaught error prints its report to
// standard error and exits with status 254.
#include <cstdio>
#include <cstring>
#include <string>

#include "boot/entry.h"
#include "boot/script.h"

namespace {

constexpr char kVersion[] = "0.5.0";

int usage() {
  std::fprintf(stderr, "usage: zel-run FILE | zel-run -e CODE | zel-run --version\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("Zel %s\n", kVersion);
    return 0;
  }
  std::string text;
  if (std::strcmp(argv[1], "-e") == 0) {
    if (argc < 3) return usage();
    boot::set_script(argv[2]);
  } else if (!boot::read_script_file(argv[1], text)) {
    std::fprintf(stderr, "zel-run: cannot open %s\n", argv[1]);
    return 1;
  } else {
    boot::set_script_file();
  }
  return boot::entry(argc, argv, boot::run_script);
}
