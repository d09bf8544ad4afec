// Operating-system services under the runtime, over POSIX: start-up of the platform layer,
// virtual memory, current directory, environment, the process's command line, the system's
// description, the secure random source, sleeping, time of day and date with the
// zone, and the error box of fatal reports. Console output is in platform/os/console.h, files
// and directories in platform/os/files.h, child processes in platform/os/process.h.
// This layer depends on nothing of the runtime but the throw codes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Decides the output mode (console when standard output is a terminal) once.
void init();

// Committed, page-rounded anonymous memory, read-write (and executable when asked). A refusal
// throws rt::Throw{rt::kThrowCommitRefused}.
void* virtual_alloc(size_t size, bool executable = false);
// Makes the pages of writable memory that is about to be written present now, where the system
// can: one call instead of a fault per page.
void prefault(void* address, size_t size);
// Releases what virtual_alloc gave (size as asked); a refusal throws
// rt::Throw{rt::kThrowReleaseRefused}.
void virtual_free(void* address, size_t size);
// Grows a mapping that virtual_alloc gave (sizes as asked), perhaps to another address, keeping
// its bytes without copying them; a refusal throws kThrowCommitRefused.
void* virtual_grow(void* address, size_t old_size, size_t new_size);
// Lets the system back a mapping with huge pages: a large buffer filled a page at a time then
// faults 2 MB at once (a page fault costs far more than zeroing the page).
void allow_huge_pages(void* address, size_t size);

std::string get_current_dir();  // UTF-8; empty when the system cannot tell
bool set_current_dir(const char* path);
bool get_env(const char* name, std::string& value);  // false when the variable is not set
bool set_env(const char* name, const char* value);
// Every variable of the process environment, in the system's order, each entry split at its
// first "=" after the first character (a name may begin with "=").
std::vector<std::pair<std::string, std::string>> environment();

// --- The process and the system ------------------------------------------------------------

// The whole command line the process was started with, in UTF-8: its arguments as the kernel
// keeps them (/proc/self/cmdline), the program first, joined by single spaces. An argument that
// is empty or holds a space or a tab is put between double quotes, so that splitting the line at
// unquoted blanks, quotes toggling, gives the arguments back; quotes inside an argument are left
// as they are. Empty when the arguments cannot be read.
std::string command_line();
// The arguments joined as command_line() joins them.
std::string join_command_line(const std::vector<std::string>& arguments);

// The running system as uname(2) and os-release tell it.
struct SystemInfo {
  std::string kernel;        // the kernel's name ("Linux")
  std::string release;       // the kernel's release ("6.1.0-18-amd64")
  std::string machine;       // the hardware's name ("x86_64")
  std::string distribution;  // os-release's PRETTY_NAME (else NAME and VERSION); "" when none
};
SystemInfo system_info();
// The value of the key in os-release text (KEY=value lines; a value may be quoted in double
// quotes, where a backslash escapes the next character, or in single quotes); "" when absent.
std::string os_release_value(const std::string& text, const std::string& key);

// Fills the buffer from the system's secure random source (getrandom); false when it fails.
bool secure_random_bytes(void* buffer, size_t count);

void sleep(double seconds);  // at least 1 ms

// Seconds since midnight UTC; whole seconds unless precise.
double utc_time_of_day(bool precise);

// year << 17 | month << 12 | day << 7 | zone, of today in UTC (zone 0) or local time.
uint32_t current_date_packed(bool utc);
// The zone field of a packed date for an offset from UTC in minutes: hours (|offset| / 60,
// 4 bits, 0x10 added when negative) << 2 | quarter hours of the rest.
uint32_t pack_zone(int offset_minutes);

// Shows a fatal report; for now the text and a newline on standard error.
void error_box(const char* caption, const char* text);

}  // namespace platform
