// compress and decompress: the containers of runtime/compression.h (zlib, raw deflate, gzip,
// Zstandard) over a binary! from its head or a string!'s UTF-8 bytes. They follow the native
// protocol of interpreter/natives.h. Relies on the rooting rule: the source's address is taken
// again after the output binary is made, and decoding runs into C++ memory before the result is
// made.
#include <algorithm>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/integer.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "interpreter/natives.h"
#include "runtime/alloc.h"
#include "runtime/compression.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace natives {

namespace {

uint32_t method_symbols[compression::kMethodCount];

compression::Method method_of(const Cell& word) {
  return compression::Method(method_index(word, method_symbols, compression::kMethodCount));
}

// A codec failure other than "too small" as the language's error, with the method word.
[[noreturn]] void fire_codec_error(compression::Status status) {
  if (status == compression::kNoMemory) rt::fire_error("internal", "no-memory");
  rt::fire_error("script", "invalid-data", stack::arg(1));
}

}  // namespace

void init_compress() {
  for (int32_t m = 0; m < compression::kMethodCount; m++) {
    method_symbols[m] = symbol::intern_c_string(compression::kMethodNames[m]);
  }
}

// compress data method /level level: a new binary! of the data in the method's container.
void compress(const int32_t* refinements) {
  const compression::Method method = method_of(*stack::arg(1));
  int32_t level = compression::kDefaultLevel;
  if (refinements[0] >= 0) {
    const Cell* given = stack::arg(refinements[0]);
    level = integer::get_value(*given);
    if (level < 1 || level > compression::max_level(method)) {
      rt::fire_error("script", "out-of-range", given);
    }
  }
  // A string's UTF-8 form is copied out: making the output moves the conversion buffer.
  std::string text;
  const bool is_text = cell::type_of(*stack::arg(0)) != TYPE_BINARY;
  if (is_text) {
    int64_t count = -1;
    const uint8_t* utf8 = unicode::string_to_utf8(*stack::arg(0), count);
    text.assign(reinterpret_cast<const char*>(utf8), size_t(count));
  }
  const uint64_t length = is_text ? text.size() : binary::rest_length(*stack::arg(0));
  uint64_t capacity = length / 2048 + length + 32;
  Cell* out = stack::push_copy(constants::none);
  for (int attempt = 0;; attempt++) {
    if (capacity > alloc::kMaxCapacity) rt::fire_error("script", "too-long");
    binary::make_at(out, uint32_t(capacity));
    const uint8_t* source = is_text ? reinterpret_cast<const uint8_t*>(text.data())
                                    : string::head_address(*stack::arg(0));
    alloc::Series* buffer = cell::series_of(*out);
    uint32_t size = uint32_t(capacity);
    compression::Status status =
        compression::encode(method, buffer->head_ptr(), size, source, uint32_t(length), level);
    if (status == compression::kOk) {
      buffer->tail = buffer->head + size;
      break;
    }
    // The encoder said how much room it needs; a second shortfall is a failure.
    if (status != compression::kTooSmall || attempt > 0) fire_codec_error(status);
    capacity = size;
  }
  stack::set_only_result(*out);
}

// decompress data method /size size: a new binary! of the bytes the data decodes to. The size
// is the expected output size: a hint for the first allocation, and a limit on the output
// higher than the default one (runtime/compression.h) when the caller knows it needs that much.
void decompress(const int32_t* refinements) {
  const compression::Method method = method_of(*stack::arg(1));
  uint64_t expected = 0;
  if (refinements[0] >= 0) {
    const Cell* given = stack::arg(refinements[0]);
    if (integer::get_value(*given) < 0) rt::fire_error("script", "out-of-range", given);
    expected = uint64_t(integer::get_value(*given));
  }
  const uint32_t length = binary::rest_length(*stack::arg(0));
  const uint64_t limit = std::min<uint64_t>(std::max(compression::default_limit(length), expected),
                                            alloc::kMaxCapacity);
  std::vector<uint8_t> bytes;
  compression::Status status = compression::decode(
      method, string::head_address(*stack::arg(0)), length, limit, expected, bytes);
  if (status == compression::kTooLarge) {
    const Cell size_limit = integer::make(int32_t(limit));
    rt::fire_error("script", "size-limit", &size_limit);
  }
  if (status != compression::kOk) fire_codec_error(status);
  Cell* out = stack::push_copy(constants::none);
  binary::make_from_bytes(out, bytes.data(), bytes.size());
  stack::set_only_result(*out);
}

}  // namespace natives
