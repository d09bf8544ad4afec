// The program's entry code: the low-level start, then every runtime module in start-up order.
#pragma once

namespace boot {

// The low-level start: guards, signal filter, UTF-8 arguments. First of all.
void start(int argc, char** argv);
// Initialises the runtime's modules in their fixed order.
void runtime_init();
// The whole entry: runs program() under the root catch site, on the interpreter's stack, and
// returns its exit status. A code no catch site takes ends the process with fatal error
// kFatalNoCatch.
int entry(int argc, char** argv, int (*program)());

}  // namespace boot
