// Files and directories of the operating system, by POSIX path (UTF-8): handles (file
// descriptors) with 64-bit sizes and offsets, whole reads that take a stream (a pipe, a /proc
// file) to its end once, the crash-safe replacement of a file's contents, and the directory
// calls. Every call retries what a signal interrupts; failures come back as results, never as
// throws. Depends on nothing of the runtime.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// --- Handles ---------------------------------------------------------------------------------

// Mode bits of open_file. Without kOpenRead the file is opened for writing and made when
// missing; it is truncated unless kOpenAppend or kOpenSeek asks to keep its contents.
enum OpenMode : int { kOpenRead = 1, kOpenWrite = 2, kOpenAppend = 4, kOpenSeek = 8 };

// A handle, or -1 (errno set). A directory opened for reading fails with EISDIR.
int open_file(const char* path, int mode);
bool close_file(int handle);
// The size in bytes of what the handle names (0 for a pipe, and for the /proc files whose
// contents are made as they are read); -1 on failure.
int64_t file_size(int handle);
// The size of what the path names, opened for reading; -1 when it cannot be opened or is a
// directory.
int64_t file_size(const char* path);
// Moves to the position from the start (at_end: to the end, position unused).
bool seek_file(int handle, int64_t position, bool at_end = false);
// Reads until count bytes or the end came; the bytes read, -1 on an error.
int64_t read_bytes(int handle, void* buffer, int64_t count);
// Writes all count bytes; count, or -1 on an error.
int64_t write_bytes(int handle, const void* data, int64_t count);
// Appends everything from the position to the end, read once in 64 KB chunks; false on an
// error (what was read stays appended).
bool read_to_end(int handle, std::string& bytes);

// The file's whole contents; false when it cannot be opened or read (a directory, a missing or
// unreadable file).
bool read_file(const char* path, std::string& bytes);

// Gives the file the bytes as its whole contents so that a failure at any point leaves the old
// contents as they were: the bytes go to a new file in the same directory, are flushed to the
// disk, and that file is renamed over the target (which keeps its permission bits and owner;
// through a symbolic link the file it names is replaced). A target the caller may not write is
// refused before anything is made. Where no file can be made beside the target (a directory
// the caller may not write, or /proc and /sys) an existing target is written in place, and
// something that is not a regular file (a device, a pipe) is always written in place. false
// (errno set) on failure.
bool replace_file(const char* path, std::string_view bytes);

// --- Names and directories -------------------------------------------------------------------

bool delete_file(const char* path);       // unlink
bool remove_directory(const char* path);  // rmdir: an empty directory
// Renames; refuses (EEXIST) when the new name is taken, so that no file is lost to a rename.
bool rename_file(const char* from, const char* to);
bool create_directory(const char* path);  // one level, permissions 0777 less the umask
bool file_exists(const char* path);       // through symbolic links: a dangling link is absent

// The time of the last change of the contents, in seconds and nanoseconds since 1970 (UTC);
// false when nothing has that name.
bool modified_time(const char* path, int64_t& seconds, int32_t& nanoseconds, bool& directory);

struct DirEntry {
  std::string name;
  bool directory;  // a directory, or a symbolic link to one
};
// The directory's entries but "." and "..", hidden ones included, sorted by name (bytewise,
// which is code-point order for UTF-8); false (errno set) when it cannot be read.
bool list_directory(const char* path, std::vector<DirEntry>& entries);

}  // namespace platform
