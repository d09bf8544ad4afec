// Running a script: a file through the library's do-file, or a text loaded, its `Zel [...]`
// header stepped over and its code evaluated in the global context; print and prin write to
// standard output. Used by the zel program and by zel-run.
#pragma once
#include <string>

namespace boot {

// Reads the whole file; false when it cannot be opened.
bool read_script_file(const char* path, std::string& text);

// The program to hand boot::entry. Before anything runs, the arguments that name the script (the
// file, or -e and the code) leave system/options/args and system/script/args. set_script: the
// text given is evaluated (its header skipped); set_script_file: the file named by the first
// argument runs through do-file, in its own directory, with system/options/script set to it. An
// uncaught error prints its report and ends the process with status 254.
void set_script(std::string text);
void set_script_file();
int run_script();

}  // namespace boot
