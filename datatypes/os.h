// The process and the operating system as language values: the command line start-up reads,
// the description object behind os-info, and the datatype check that image! make relies on. The
// facts come from platform/os; here they become strings, words, tuples and object fields. The
// environment map of list-env is built by that native (interpreter/natives_system.cpp).
#pragma once
#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace os {

// A new string! on the data stack holding the whole process command line (as
// platform::command_line gives it). May allocate.
Cell* command_line();

// Sets the object's fields name (string!: the kernel's name and the distribution, "Linux Debian
// GNU/Linux 12 (bookworm)"), arch (word!: x86-64, ARM64, x86-32, ARM, IA-64 or Unknown),
// version (tuple!: the kernel's major.minor.patch, each byte clamped to 0-255) and build
// (integer!: the kernel's patch level unclamped), adding those it lacks. Another value than an
// object! raises script/invalid-arg. The cell must stay put. May allocate.
void describe(Cell* object);

// Nothing when the value is of the datatype; else raises script/invalid-arg with the value.
void assert_type(const Cell& value, uint8_t type);

// The architecture word's spelling for a hardware name as uname gives it ("x86_64": "x86-64").
const char* arch_name(std::string_view machine);

// The leading numbers of a kernel release, major.minor.patch ("6.1.0-18-amd64": 6, 1, 0); a
// missing number is 0, a number past the 32-bit range is cut there.
struct KernelVersion {
  int32_t major = 0, minor = 0, patch = 0;
};
KernelVersion kernel_version(std::string_view release);

}  // namespace os
