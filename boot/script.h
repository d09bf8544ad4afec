// Running a script: the text is loaded, its `Zel [...]` header stepped over and its code
// evaluated in the global context; print and prin write to standard output. Used by the zel
// program and by zel-run.
#pragma once
#include <string>

namespace boot {

// Reads the whole file; false when it cannot be opened.
bool read_script_file(const char* path, std::string& text);

// The program to hand boot::entry: evaluates the text given to set_script first. An uncaught
// error prints its report and ends the process with status 254.
void set_script(std::string text);
int run_script();

}  // namespace boot
