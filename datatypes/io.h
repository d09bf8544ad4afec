// The runtime's file service: what read, write, delete, query and rename of a file! do, the
// checksum of a file, and the routines create-dir, exists? and write-stdout. Paths arrive as
// file! values and go to platform/os/files.h in their POSIX form; contents come back as
// binary!, string! (from UTF-8) or a block of line strings, a directory as a block of file!
// names with "/" after each directory. Text goes out as UTF-8 with LF line ends. Bytes are
// read into C++ memory before any value is made, so no buffer address outlives an allocation;
// the cells handed in must be rooted (data stack) by the caller.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os/files.h"
#include "runtime/cell.h"

namespace io {

// The handle operations, as the platform gives them (a handle is a file descriptor; sizes and
// positions are 64-bit).
using platform::close_file;
using platform::file_size;
using platform::open_file;
using platform::read_bytes;
using platform::seek_file;
using platform::write_bytes;

// The POSIX form of a file! (or string!) path, in UTF-8. May allocate.
std::string os_path(const Cell& path);

// Whether the path names a directory by its form: it ends in "/" or "\", is "." or "..", or
// ends in a slash (either kind) and one or two dots.
bool dir_path_q(const Cell& path);
bool dir_path_q(const std::string& os_path);

// --- Reading ---------------------------------------------------------------------------------

struct ReadOptions {
  const Cell* part = nullptr;  // integer! or float! byte count; null or none! for the whole
  const Cell* seek = nullptr;  // integer! or float! offset from the start; null or none! for 0
  bool binary = false;         // a binary! of the bytes
  bool lines = false;          // a block of line strings
};

// Pushes what the path holds: a directory path's listing (list_directory), else the file's
// contents (read_file). A file that cannot be read raises access/cannot-open with the path; a
// part or seek of another type raises script/invalid-refine-arg. May allocate.
Cell* read_file_path(const Cell& path, const ReadOptions& options = {});

// Pushes the file's contents from the seek offset (when 0 or more), at most part bytes (when
// 0 or more): a binary!, a block of lines, or a string! decoded from UTF-8 (a leading byte-order
// mark skipped). A file whose size reads as 0 (a pipe, a /proc file) is read once to its end.
// Nothing is pushed and null returned when the file cannot be opened or read. May allocate.
Cell* read_file(const std::string& os_path, int64_t part, int64_t seek, bool binary, bool lines);

// Pushes a new block of one string! per line of the UTF-8 bytes: every LF ends a line and a CR
// before it is dropped; bytes after the last LF make a last line. May allocate.
Cell* split_lines(const uint8_t* bytes, size_t length);

// Pushes the directory's entries as file! names, sorted, directories ending in "/", "." and ".."
// left out and hidden entries kept. One that cannot be listed raises access/cannot-open with
// the path. May allocate.
Cell* list_directory(const Cell& path);

// Pushes the bytes as read gives them: a binary!, a block of lines (split_lines), or a string!
// decoded from UTF-8 (a leading byte-order mark skipped). May allocate.
Cell* push_contents(std::string_view bytes, bool binary, bool lines);

// --- Writing ---------------------------------------------------------------------------------

// The bytes a value is written as: a string! as UTF-8 (at most part characters), a binary! as
// it is (at most part bytes), anything else as its form, cut the same way (part -1: whole).
// May allocate.
std::string value_bytes(const Cell& value, int64_t part);

struct WriteOptions {
  const Cell* part = nullptr;  // integer!: at most that many characters (bytes of a binary!)
  const Cell* seek = nullptr;  // integer!: the offset to write at, the rest kept
  bool binary = false;         // text as it is (it is always written with LF line ends here)
  bool append = false;         // at the end, the rest kept
  bool lines = false;          // a block's values each on a line; others end with a line end
};

// Writes the value to the file, or to standard output when path is null: a binary! as its bytes,
// a string! as UTF-8, anything else as its form; with lines a block's values one per line. A
// write with neither seek nor append replaces the file's contents as one step (a failure leaves
// the old file). Returns the byte count of the last write: the data's, or that of the final
// line end. A part of another type than integer! raises script/invalid-refine-arg, a negative
// part returns -1 and writes nothing, and a failed write raises access/cannot-open with the path.
// May allocate.
int64_t write_file_path(const Cell* path, const Cell& value, const WriteOptions& options = {});

// --- Names -----------------------------------------------------------------------------------

// Removes a directory (a directory path) or a file: true on success.
bool delete_file(const Cell& path);
// Renames the file or directory; false when it fails or the new name is taken.
bool rename_file(const Cell& from, const Cell& to);
bool create_directory(const Cell& path);
bool file_exists_q(const Cell& path);
// Pushes the date! (UTC, to the millisecond) of the last change of the contents, or none! when
// nothing has the name, or the path ends in a slash and names something else than a directory.
Cell* file_modified_date(const Cell& path);

// --- HTTP (datatypes/io_http.cpp) ---------------------------------------------------------------

// One synchronous request (platform/os/http.h) for read and write of an "http" URL. The method
// word gives its spelling in upper case; headers is a block of name/value pairs (a word name
// gives its spelling, anything else its form; a value that is not a string! its form) or null
// for three defaults; data (null or none! for none) goes with methods other than GET and HEAD:
// a binary! as its bytes, a string! as UTF-8, anything else as its form. Pushes the response
// body as read gives it (push_contents), or with info a block of the status (integer!), the
// headers (map!, parse_http_headers) and the body; pushes none! when no response came. A URL,
// header name or header value that would split a request line (CR, LF or NUL; a name that is
// no token) raises script/invalid-arg with it. May allocate.
Cell* http_request(const Cell& method, const Cell& url, const Cell* headers, const Cell* data,
                   bool binary, bool lines, bool info);

// Pushes a map! of header lines ("Name: value" ended by CR LF): each name becomes a word key,
// its value a string!; a name seen again turns its entry into a block of the value strings in
// their order. Names match ignoring letter case. May allocate.
Cell* parse_http_headers(std::string_view text);

}  // namespace io
