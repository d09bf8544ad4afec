// The runtime's file service (see datatypes/io.h). Each operation turns its path into the POSIX
// form first, does its I/O into or out of C++ memory through platform/os/files.h, and makes
// values only then: a value being built sits on the data stack, and a block's elements are
// read through their index again after each allocation.
#include "datatypes/io.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <string_view>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace io {

namespace {

constexpr int64_t kNotGiven = -1;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool given(const Cell* value) { return value && cell::type_of(*value) != TYPE_NONE; }

[[noreturn]] void bad_refinement(const char* name, const Cell& value) {
  const Cell word = word::from_c_string(name);
  rt::fire_error("script", "invalid-refine-arg", &word, &value);
}

// A read's part or seek: a count of bytes, kNotGiven when absent or negative. A float! counts
// too, for offsets beyond the integer! range.
int64_t read_count(const Cell* value, const char* name) {
  if (!given(value)) return kNotGiven;
  if (cell::type_of(*value) == TYPE_INTEGER) {
    return std::max<int64_t>(integer::get_value(*value), kNotGiven);
  }
  if (cell::type_of(*value) == TYPE_FLOAT) {
    const double count = cell::get_double(*value);
    if (std::isnan(count)) bad_refinement(name, *value);
    return count < 0 ? kNotGiven : int64_t(std::min(count, 0x1p62));
  }
  bad_refinement(name, *value);
}

// A write's part or seek: an integer!, kNotGiven when absent.
int64_t write_count(const Cell* value, const char* name) {
  if (!given(value)) return kNotGiven;
  if (cell::type_of(*value) != TYPE_INTEGER) bad_refinement(name, *value);
  return integer::get_value(*value);
}

std::string_view without_bom(std::string_view bytes) {
  return bytes.starts_with(kByteOrderMark) ? bytes.substr(kByteOrderMark.size()) : bytes;
}

const uint8_t* data_of(std::string_view bytes) {
  return reinterpret_cast<const uint8_t*>(bytes.data());
}

// Writes the pieces, each as one write, where the path says; the byte count of the last, or -1.
// Without seek or append a file's contents are replaced as a whole.
int64_t write_pieces(const std::string* os_path, const std::vector<std::string>& pieces,
                     int64_t seek, bool append) {
  constexpr int kStandardOutput = 1;
  const int64_t last = pieces.empty() ? 0 : int64_t(pieces.back().size());
  if (!os_path) {
    for (const std::string& piece : pieces) {
      if (write_bytes(kStandardOutput, piece.data(), int64_t(piece.size())) < 0) return -1;
    }
    return last;
  }
  if (seek == kNotGiven && !append) {
    std::string whole;
    for (const std::string& piece : pieces) whole += piece;
    return platform::replace_file(os_path->c_str(), whole) ? last : -1;
  }
  const int mode = platform::kOpenWrite | (append ? platform::kOpenAppend : 0) |
                   (seek != kNotGiven ? platform::kOpenSeek : 0);
  const int fd = open_file(os_path->c_str(), mode);
  if (fd < 0) return -1;
  bool ok = true;
  if (seek > 0) ok = seek_file(fd, seek);
  if (append) ok = ok && seek_file(fd, 0, true);
  for (const std::string& piece : pieces) {
    ok = ok && write_bytes(fd, piece.data(), int64_t(piece.size())) >= 0;
  }
  ok = close_file(fd) && ok;
  return ok ? last : -1;
}

}  // namespace

Cell* push_contents(std::string_view bytes, bool binary, bool lines) {
  if (binary) {
    return binary::make_from_bytes(stack::push_copy(constants::none), data_of(bytes), bytes.size());
  }
  bytes = without_bom(bytes);
  if (lines) return split_lines(data_of(bytes), bytes.size());
  return string::load_encoded_push(data_of(bytes), bytes.size(), string::kUtf8);
}

std::string value_bytes(const Cell& value, int64_t part) {
  Cell* text = stack::push_copy(value);
  if (cell::type_of(value) == TYPE_BINARY) {
    int64_t length = binary::rest_length(*text);
    if (part >= 0) length = std::min(length, part);
    std::string bytes(reinterpret_cast<const char*>(string::head_address(*text)), size_t(length));
    stack::pop_cells(1);
    return bytes;
  }
  if (cell::type_of(value) != TYPE_STRING) {
    Cell* formed = string::init_empty(stack::push_copy(constants::none), 16);
    datatype::call_form(text, formed, nullptr, INT32_MAX);
    *text = *formed;
    stack::pop_cells(1);
  }
  int64_t count = part;
  const uint8_t* utf8 = unicode::string_to_utf8(*text, count);
  std::string bytes(reinterpret_cast<const char*>(utf8), size_t(count));
  stack::pop_cells(1);
  return bytes;
}

std::string os_path(const Cell& path) {
  Cell* text = string::init_empty(stack::push_copy(constants::none), 16);
  file::to_os_path(path, *text, false);
  int64_t length = -1;
  const uint8_t* utf8 = unicode::string_to_utf8(*text, length);
  std::string result(reinterpret_cast<const char*>(utf8), size_t(length));
  stack::pop_cells(1);
  return result;
}

bool dir_path_q(const std::string& path) {
  if (path == "." || path == "..") return true;
  if (!path.empty() && (path.back() == '/' || path.back() == '\\')) return true;
  for (std::string_view dots : {"/.", "\\.", "/..", "\\.."}) {
    if (path.ends_with(dots)) return true;
  }
  return false;
}

bool dir_path_q(const Cell& path) { return dir_path_q(os_path(path)); }

// --- Reading ---------------------------------------------------------------------------------

Cell* read_file_path(const Cell& path, const ReadOptions& options) {
  const int64_t part = read_count(options.part, "part");
  const int64_t seek = read_count(options.seek, "seek");
  const std::string os = os_path(path);
  if (dir_path_q(os)) return list_directory(path);
  Cell* result = read_file(os, part, seek, options.binary, options.lines);
  if (!result) rt::fire_error("access", "cannot-open", &path);
  return result;
}

Cell* read_file(const std::string& os_path, int64_t part, int64_t seek, bool binary, bool lines) {
  const int fd = open_file(os_path.c_str(), platform::kOpenRead);
  if (fd < 0) return nullptr;
  std::string bytes;
  bool ok = true;
  const int64_t size = file_size(fd);
  if (part == 0) {
    // Nothing asked for: a stream is left unread.
  } else if (size <= 0) {
    // A stream tells no size: it is read once to its end and the range taken from what came;
    // reading it a second time would give other bytes, or none.
    ok = platform::read_to_end(fd, bytes);
    if (seek > 0) bytes.erase(0, size_t(std::min<int64_t>(seek, int64_t(bytes.size()))));
    if (part > 0 && part < int64_t(bytes.size())) bytes.resize(size_t(part));
  } else if (seek < size) {
    int64_t count = size - std::max<int64_t>(seek, 0);
    if (part > 0) count = std::min(count, part);
    if (seek > 0) ok = seek_file(fd, seek);
    if (ok) {
      bytes.resize(size_t(count));
      const int64_t got = read_bytes(fd, bytes.data(), count);
      ok = got >= 0;
      bytes.resize(size_t(std::max<int64_t>(got, 0)));  // a file that shrank meanwhile
    }
  }
  close_file(fd);
  return ok ? push_contents(bytes, binary, lines) : nullptr;
}

Cell* split_lines(const uint8_t* bytes, size_t length) {
  Cell* block = block::init_empty(stack::push_copy(constants::none),
                                  int32_t(std::count(bytes, bytes + length, '\n') + 1));
  size_t start = 0;
  for (size_t at = 0; at < length; at++) {
    if (bytes[at] != '\n') continue;
    size_t end = at;
    if (end > start && bytes[end - 1] == '\r') end--;
    string::load_encoded_to_block(bytes + start, end - start, *block, string::kUtf8);
    start = at + 1;
  }
  if (start < length) {
    string::load_encoded_to_block(bytes + start, length - start, *block, string::kUtf8);
  }
  return block;
}

Cell* list_directory(const Cell& path) {
  std::vector<platform::DirEntry> entries;
  if (!platform::list_directory(os_path(path).c_str(), entries)) {
    rt::fire_error("access", "cannot-open", &path);
  }
  Cell* block = block::init_empty(stack::push_copy(constants::none), int32_t(entries.size()));
  for (const platform::DirEntry& entry : entries) {
    Cell* name = string::load_encoded_to_block(data_of(entry.name), entry.name.size(), *block,
                                                string::kUtf8);
    cell::set_type(*name, TYPE_FILE);
    if (entry.directory) string::append_char(cell::series_node(*name), '/');
  }
  return block;
}

// --- Writing ---------------------------------------------------------------------------------

int64_t write_file_path(const Cell* path, const Cell& value, const WriteOptions& options) {
  const int64_t part = write_count(options.part, "part");
  const int64_t seek = write_count(options.seek, "seek");
  if (given(options.part) && part < 0) return -1;
  std::vector<std::string> pieces;
  if (options.lines && cell::type_of(value) == TYPE_BLOCK) {
    for (int32_t i = 0; i < block::rest_length(value); i++) {
      pieces.push_back(value_bytes(*block::cell_at(value, int32_t(cell::series_index(value)) + i),
                                   part));
      pieces.emplace_back("\n");
    }
  } else {
    pieces.push_back(value_bytes(value, part));
    if (options.lines) pieces.emplace_back("\n");
  }
  if (!path) return write_pieces(nullptr, pieces, seek, options.append);
  const std::string os = os_path(*path);
  const int64_t written = write_pieces(&os, pieces, seek, options.append);
  if (written < 0) rt::fire_error("access", "cannot-open", path);
  return written;
}

// --- Names -----------------------------------------------------------------------------------

bool delete_file(const Cell& path) {
  const std::string os = os_path(path);
  return dir_path_q(os) ? platform::remove_directory(os.c_str())
                        : platform::delete_file(os.c_str());
}

bool rename_file(const Cell& from, const Cell& to) {
  const std::string old_name = os_path(from);
  return platform::rename_file(old_name.c_str(), os_path(to).c_str());
}

bool create_directory(const Cell& path) { return platform::create_directory(os_path(path).c_str()); }

bool file_exists_q(const Cell& path) { return platform::file_exists(os_path(path).c_str()); }

Cell* file_modified_date(const Cell& path) {
  const std::string os = os_path(path);
  int64_t seconds = 0;
  int32_t nanoseconds = 0;
  bool directory = false;
  const bool slash_end = !os.empty() && (os.back() == '/' || os.back() == '\\');
  if (!platform::modified_time(os.c_str(), seconds, nanoseconds, directory) ||
      (slash_end && !directory)) {
    return stack::push_copy(constants::none);
  }
  std::tm utc{};
  const time_t time = time_t(seconds);
  if (!gmtime_r(&time, &utc)) return stack::push_copy(constants::none);
  const int32_t milliseconds = nanoseconds / 1000000;
  return date::make_at_hms(stack::push_copy(constants::none), utc.tm_year + 1900, utc.tm_mon + 1,
                           utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                           milliseconds * 1000000);
}

}  // namespace io
