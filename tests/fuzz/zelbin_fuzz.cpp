// libFuzzer target: arbitrary bytes through the ZELBIN reader in both record forms. The input's
// first byte becomes the header's flags (its form bit forced each way in turn) and the rest
// follows a valid magic, so that the mutations reach the counts, the symbol table and the
// records. A refusal (any language error) is an expected outcome; a crash, a sanitizer report,
// or a data or frame stack left other than it was found is a fault. Whatever decodes is written
// again in both forms and must read back: a stream of the writers that the reader refuses as
// malformed is a fault too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "boot/entry.h"
#include "datatypes/block.h"
#include "datatypes/cycles.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "interpreter/frames.h"
#include "io/zelbin.h"
#include "runtime/alloc.h"
#include "runtime/throw.h"

namespace {

// Reads the stream into a new block on the data stack.
Cell* read(const std::vector<uint8_t>& stream) {
  Cell* out = block::push_new(4);
  zelbin::user_decoding = true;
  zelbin::read(stream.data(), int64_t(stream.size()), *out, true);
  return out;
}

std::vector<uint8_t> bytes_of(const Cell& binary) {
  alloc::Series* s = alloc::series_of(cell::series_node(binary));
  return std::vector<uint8_t>(s->head_ptr(), s->tail_ptr());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  boot::runtime_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  for (uint8_t form : {uint8_t(0), zelbin::kCompact}) {
    std::vector<uint8_t> stream(zelbin::kMagic, zelbin::kMagic + sizeof zelbin::kMagic);
    stream.push_back(zelbin::kVersion);
    stream.push_back(uint8_t((data[0] & ~zelbin::kCompact) | form));
    stream.insert(stream.end(), data + 1, data + size);

    Cell* saved_top = stack::top;
    frames::Frame* saved_frames = frames::frame_top;
    frames::try_catch(runtime_words::words.try_, [&] {
      Cell* decoded = read(stream);
      for (bool compact : {true, false}) {
        Cell* written = compact ? zelbin::encode_compact(*decoded) : zelbin::encode_plain(*decoded);
        const std::vector<uint8_t> again = bytes_of(*written);
        rt::raised = {};
        const uint32_t code = frames::try_catch(runtime_words::words.try_, [&] { read(again); });
        if (code && rt::raised.id && std::strcmp(rt::raised.id, "zb-invalid-record") == 0) {
          std::abort();
        }
      }
    });
    stack::top = saved_top;
    cycles::reset();
    if (frames::frame_top != saved_frames) std::abort();
  }
  return 0;
}
