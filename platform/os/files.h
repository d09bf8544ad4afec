// Files of the operating system, by POSIX path (UTF-8): reading a whole file.
#pragma once
#include <string>

namespace platform {

// The file's whole contents; false when it cannot be opened or read (a directory, a missing or
// unreadable file).
bool read_file(const char* path, std::string& bytes);

}  // namespace platform
