// Text conversion natives: dehex and enhex (percent decoding and encoding, datatypes/url.h) and
// to-local-file (the operating system's form of a path, datatypes/file.h). They follow the
// native protocol of interpreter/natives.h; each builds a new string! on the data stack, so it
// stays rooted while it grows, and leaves it in stack::arg(0).
#include "datatypes/constants.h"
#include "datatypes/file.h"
#include "datatypes/string_buffer.h"
#include "datatypes/url.h"
#include "interpreter/natives.h"
#include "interpreter/stack.h"

namespace natives {

namespace {

// A new string! sized to the argument's length, written by fill, becomes the result.
template <class Fill>
void new_text(Fill fill) {
  Cell source = *stack::arg(0);
  uint32_t length = string::rest_length(source);
  Cell* out = stack::push_copy(constants::none);
  string::init_empty(out, length);
  fill(*stack::arg(0), *out);
  stack::set_only_result(*out);
}

void dehex(const int32_t*) {
  new_text([](const Cell& source, const Cell& out) { url::decode_percent(source, out); });
}

// A string! keeps only the unreserved characters; url!, file! and the other texts the URL set.
void enhex(const int32_t*) {
  uint32_t mode = cell::type_of(*stack::arg(0)) == TYPE_STRING ? url::kUnreserved : url::kUrlSet;
  new_text([mode](const Cell& source, const Cell& out) { url::encode_percent(source, out, mode); });
}

// to-local-file path /full
void to_local_file(const int32_t* refinements) {
  bool full = refinements[0] >= 0;
  new_text([full](const Cell& source, const Cell& out) { file::to_os_path(source, out, full); });
}

}  // namespace

void register_text() {
  set_entry(DEHEX, dehex);
  set_entry(ENHEX, enhex);
  set_entry(TO_LOCAL_FILE, to_local_file);
}

}  // namespace natives
