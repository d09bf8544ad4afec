// checksum: the checksums, digests, HMAC and integer hash of runtime/checksum.h over a binary!
// (from its head), a string! (as UTF-8) or the contents of a file!. It follows the native
// protocol of interpreter/natives.h. Relies on the rooting rule: the data's bytes may lie in
// series memory, so they are read only after everything that allocates (the key's bytes are
// copied out first) and the result is made last.
#include <string>

#include "datatypes/binary.h"
#include "datatypes/constants.h"
#include "datatypes/io.h"
#include "datatypes/integer.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "interpreter/natives.h"
#include "platform/os/files.h"
#include "runtime/checksum.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace natives {

namespace {

uint32_t method_symbols[checksum::kMethodCount];

checksum::Method method_of(const Cell& word) {
  return checksum::Method(method_index(word, method_symbols, checksum::kMethodCount));
}

// A byte range: in series memory (valid until the next allocation) or in `owned`.
struct Bytes {
  const uint8_t* data = nullptr;
  size_t length = 0;
  std::string owned;

  void own() {
    data = reinterpret_cast<const uint8_t*>(owned.data());
    length = owned.size();
  }
};

// The bytes of a data or key argument: a binary! from its head, a string! as UTF-8, a file!'s
// contents (a file that cannot be read raises access/cannot-open). May allocate.
void bytes_of(Cell* value, Bytes& out) {
  switch (cell::type_of(*value)) {
    case TYPE_BINARY:
      out.length = binary::rest_length(*value);
      out.data = string::head_address(*value);
      return;
    case TYPE_STRING: {
      int64_t count = -1;
      out.data = unicode::string_to_utf8(*value, count);
      out.length = size_t(count);
      return;
    }
    case TYPE_FILE: {
      if (!platform::read_file(io::os_path(*value).c_str(), out.owned)) {
        rt::fire_error("access", "cannot-open", value);
      }
      out.own();
      return;
    }
    default: rt::fire_error("script", "invalid-arg", value);
  }
}

void set_binary_result(const uint8_t* bytes, size_t length) {
  Cell* result = stack::push_copy(constants::none);
  binary::make_from_bytes(result, bytes, length);
  stack::set_only_result(*result);
}

}  // namespace

int32_t method_index(const Cell& word, const uint32_t* symbols, int32_t count) {
  for (int32_t m = 0; m < count; m++) {
    if (symbol::same_canonical(word::symbol_of(word), symbols[m])) return m;
  }
  rt::fire_error("script", "invalid-arg", &word);
}

void init_checksum() {
  for (int32_t m = 0; m < checksum::kMethodCount; m++) {
    method_symbols[m] = symbol::intern_c_string(checksum::kMethodNames[m]);
  }
}

// checksum data method /with spec: an integer! for tcp, crc32, adler32 and the integer hash
// (an integer! spec: the table's size), a binary! digest for the others (a string! or binary!
// spec: the HMAC key).
void checksum(const int32_t* refinements) {
  using namespace checksum;
  Cell* data = stack::arg(0);
  const uint8_t type = cell::type_of(*data);
  if (type != TYPE_BINARY && type != TYPE_STRING && type != TYPE_FILE) {
    rt::fire_error("script", "invalid-arg", data);
  }
  const Method method = method_of(*stack::arg(1));
  Cell* spec = refinements[0] >= 0 ? stack::arg(refinements[0]) : nullptr;
  const Cell& with = runtime_words::refinements.with;
  Bytes bytes;

  if (method == TCP || method == CRC32 || method == ADLER32) {
    if (spec) rt::fire_error("script", "invalid-refine-arg", &with, stack::arg(1));
    bytes_of(data, bytes);
    uint32_t sum = method == TCP     ? tcp(bytes.data, bytes.length)
                   : method == CRC32 ? crc32(bytes.data, bytes.length)
                                     : adler32(bytes.data, bytes.length);
    return stack::set_only_result(integer::make(int32_t(sum)));
  }
  if (!spec) {
    if (method == HASH) rt::fire_error("script", "invalid-refine-arg", &with, stack::arg(1));
    bytes_of(data, bytes);
    uint8_t out[kMaxDigestSize];
    uint32_t size = digest(method, bytes.data, bytes.length, out);
    return set_binary_result(out, size);
  }
  switch (cell::type_of(*spec)) {
    case TYPE_INTEGER: {
      const int32_t slots = integer::get_value(*spec);
      if (slots < 1) rt::fire_error("script", "out-of-range", spec);
      bytes_of(data, bytes);
      const uint32_t slot = hash(bytes.data, bytes.length, uint32_t(slots));
      return stack::set_only_result(integer::make(int32_t(slot)));
    }
    case TYPE_STRING:
    case TYPE_BINARY: {
      if (method == HASH) rt::fire_error("script", "invalid-refine-arg", &with, spec);
      // The key is copied out: reading the data may allocate and move it.
      Bytes key;
      bytes_of(spec, key);
      key.owned.assign(reinterpret_cast<const char*>(key.data), key.length);
      key.own();
      bytes_of(data, bytes);
      uint8_t out[kMaxDigestSize];
      uint32_t size = hmac(method, bytes.data, bytes.length, key.data, key.length, out);
      return set_binary_result(out, size);
    }
    default: rt::fire_error("script", "invalid-arg", spec);
  }
}

}  // namespace natives
