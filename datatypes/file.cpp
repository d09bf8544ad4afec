// file!: mold (bare after "%" when the path reads back as one token, else in double quotes
// with caret escapes), the POSIX form of a path, and the file actions over the file service
// (datatypes/io.h). Relies on url! for the text helpers and on the rooting rule (runtime/gc.h):
// a path is read into C++ memory before the output grows.
#include "datatypes/file.h"

#include <algorithm>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/io.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "platform/os/platform.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace file {

namespace {

// Whether the code point can stand in a bare %file token: code points from 127 on, and the URL
// set less the characters that end the token (parentheses, ":" and "@").
bool bare(char32_t c) {
  if (c >= 127) return c < 0xD800 || c > 0xDFFF;  // a lone surrogate has no UTF-8 form
  return url::in_url_set(uint8_t(c)) && c != U'(' && c != U')' && c != U':' && c != U'@';
}

void append(const Cell& out, const char* text) { string::append_c_string(out, text); }

// The quoted form loads its caret escapes back; a double quote would end it, so it is written
// by its code.
void append_quoted(const Cell& out, std::u32string_view text) {
  append(out, "\"");
  for (char32_t c : text) {
    if (c == U'"') {
      append(out, "^(22)");
    } else {
      string::mold_char_escaped(out, uint32_t(c), c >= 0xD800 && c <= 0xDFFF);
    }
  }
  append(out, "\"");
}

}  // namespace

int32_t mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  const std::u32string text = url::text_of(*value);
  const uint32_t before = string::whole_length(*out);
  append(*out, "%");
  if (text.empty() || !std::all_of(text.begin(), text.end(), bare)) {
    append_quoted(*out, text);
  } else {
    for (char32_t c : text) string::append_char(cell::series_node(*out), uint32_t(c));
  }
  return part - int32_t(string::whole_length(*out) - before);
}

std::u32string os_current_dir() {
  const std::string bytes = platform::get_current_dir();
  std::u32string dir;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint8_t* end = p + bytes.size();
  while (p < end) {
    int32_t c;
    p = unicode::decode_utf8_dfa(p, end, c);
    dir += c < 0 ? U'\uFFFD' : char32_t(c);
  }
  if (dir.empty() || dir.back() != U'/') dir += U'/';
  return dir;
}

void to_os_path(const Cell& source, const Cell& destination, bool full) {
  std::u32string path = url::text_of(source);
  if (full && (path.empty() || path.front() != U'/')) path = os_current_dir() + path;
  for (char32_t c : path) string::append_char(cell::series_node(destination), uint32_t(c));
}

// Text encodings (/as) and access lists (/allow) are no file options: internal/not-done is their
// defined answer, not a gap.
Cell* read(Cell* source, const action::ReadOptions& options) {
  if (options.as) cell::fire_not_done();
  return io::read_file_path(*source, {.part = options.part, .seek = options.seek,
                                      .binary = options.binary, .lines = options.lines});
}

Cell* write(Cell* target, Cell* data, const action::WriteOptions& options) {
  if (options.allow || options.as) cell::fire_not_done();
  io::write_file_path(target, *data, {.part = options.part, .seek = options.seek,
                                      .binary = options.binary, .append = options.append,
                                      .lines = options.lines});
  return stack::push_copy(constants::unset);
}

Cell* delete_(Cell* path) { return stack::push_copy(logic::make(io::delete_file(*path))); }

Cell* rename(Cell* from, Cell* to) {
  // A URL as the new name would be taken as a local path: only files are renamed to files.
  if (cell::type_of(*to) != TYPE_FILE) rt::fire_error("script", "invalid-arg", to);
  return stack::push_copy(logic::make(io::rename_file(*from, *to)));
}

Cell* query(Cell* path) { return io::file_modified_date(*path); }

}  // namespace file
