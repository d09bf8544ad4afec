// The program's entry code: the low-level start, then every runtime module in start-up order,
// then the library from the boot image, then the program.
#pragma once

namespace boot {

// The low-level start: guards, signal filter, UTF-8 arguments. First of all.
void start(int argc, char** argv);
// Initialises the runtime's modules in their fixed order, up to the library: what zelboot needs
// to build the boot image, and what start-up does before decoding it.
void init_modules();
// The whole runtime initialisation: the modules, then the boot image decoded and the library
// bound (boot/startup.cpp, linked with the image).
void runtime_init();
// Runs init, then program(), under the root catch site, on the interpreter's stack, and returns
// the program's exit status. A code no catch site takes ends the process with fatal error
// kFatalNoCatch.
int run(int argc, char** argv, void (*init)(), int (*program)());
// The program's entry: run with runtime_init.
int entry(int argc, char** argv, int (*program)());

}  // namespace boot
