// file!: paths in the system's own form ("/" separators; a leading slash and a one-letter
// segment for a drive, a leading slash and the server name for a share). A child of url!, whose
// make, to, form, compare, path joining and series actions it takes; this module gives its mold
// and the conversion to the form the operating system takes, which here is the POSIX path.
#pragma once
#include <cstdint>
#include <string>

#include "datatypes/datatype.h"
#include "runtime/cell.h"

namespace file {

// The POSIX form of the path held by the source (file! or string!, from its head) appended to
// the destination string (rooted). A relative path gets the current directory and "/" in front
// when full is set. May allocate.
void to_os_path(const Cell& source, const Cell& destination, bool full);

// The process's current directory as the system gives it, ending in "/".
std::u32string os_current_dir();

// file!'s mold: "%" and the path, bare when it reads back as one token, else in double quotes
// with caret escapes ("%" and two double quotes for the empty path). url! registers file!'s row.
int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent);

// read and write of a file!, through the file service (datatypes/io.h): a directory's listing or
// a file's contents (/part, /seek, /binary, /lines); the value written as its bytes, text or form
// (/part, /seek, /binary, /append, /lines), the result unset. /info and /as are not taken here.
Cell* read(Cell* source, const action::ReadOptions& options);
Cell* write(Cell* target, Cell* data, const action::WriteOptions& options);

// delete, rename and query of a file!: delete removes a file, or an empty directory when the
// path ends in "/"; rename gives the file or directory the new name (a file!), never over an
// existing one; both answer true or false. query gives the date! of the last change (UTC) or
// none! when nothing has the name.
Cell* delete_(Cell* path);
Cell* rename(Cell* from, Cell* to);
Cell* query(Cell* path);

}  // namespace file
