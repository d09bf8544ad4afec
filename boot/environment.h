// The language environment: the actions', natives' and operators' definitions and the constants,
// written as Zel sources (boot/env/*.zel) that are embedded in the program and evaluated at
// start-up, in file-name order, in the global context; then the library's sources (library/*.zel)
// the same way, once the library's routines (library/routines.h) are defined.
#pragma once

namespace boot {

struct EnvironmentSource {
  const char* name;
  const char* text;
};
extern const EnvironmentSource environment_sources[];
extern const int environment_source_count;

// Defines `make` (which the sources use to define everything else), then evaluates the sources.
// A source that raises an error ends the process with the error's report.
void load_environment();

}  // namespace boot
