// System natives that reach the runtime and the operating system: memory statistics and the
// collector (stats, recycle), the clock (now), the environment (get-env, set-env, list-env) and
// file sizes (size?). They follow the native protocol of interpreter/natives.h; a new series is
// built in a data-stack cell, so it stays rooted while it grows, and left in stack::arg(0).
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/date.h"
#include "datatypes/io.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/upcall.h"
#include "datatypes/word.h"
#include "interpreter/natives.h"
#include "platform/os/platform.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"
#include "runtime/heap.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace natives {

// now /year /month /day /time /zone /date /weekday /yearday /precise /utc
void now(const int32_t* refinements) {
  enum { YEAR, MONTH, DAY, TIME, ZONE, DATE, WEEKDAY, YEARDAY, PRECISE, UTC };
  int fields = 0;
  for (int r = YEAR; r <= PRECISE; r++) fields += refinements[r] >= 0;
  const bool precise_time = fields == 2 && refinements[TIME] >= 0 && refinements[PRECISE] >= 0;
  if (fields > 1 && !precise_time) rt::fire_error("script", "bad-refines");
  const bool utc = refinements[UTC] >= 0;
  if (refinements[DATE] >= 0) {
    const uint32_t today = platform::current_date_packed(utc) & ~date::kZoneMask;
    return stack::set_only_result(*date::push(today, 0.0));
  }
  // A date keeps the UTC day and time of day and the zone; the day is read again after the time
  // so that the two belong to the same day.
  const uint32_t zone = utc ? 0 : platform::current_date_packed(false) & date::kZoneMask;
  uint32_t day;
  double seconds;
  do {
    day = platform::current_date_packed(true);
    seconds = platform::utc_time_of_day(refinements[PRECISE] >= 0);
  } while (day != platform::current_date_packed(true));
  const Cell today = *date::push((day & ~date::kZoneMask) | date::kTimeFlag | zone, seconds);
  struct Pick {
    int refinement;
    date::Field field;
  };
  constexpr Pick kPicks[] = {{YEAR, date::YEAR}, {MONTH, date::MONTH},   {DAY, date::DAY},
                             {ZONE, date::ZONE}, {TIME, date::TIME},     {WEEKDAY, date::WEEKDAY},
                             {YEARDAY, date::YEARDAY}};
  for (const Pick& p : kPicks) {
    if (refinements[p.refinement] >= 0) {
      return stack::set_only_result(*date::push_field(today, p.field));
    }
  }
  stack::set_only_result(today);
}

namespace {

// A text's characters in UTF-8, or a word's spelling (a variable's name).
std::string text_of(Cell value) {
  if (cell::type_of(value) != TYPE_STRING) value = symbol::name_string(word::symbol_of(value));
  int64_t length = -1;
  const uint8_t* bytes = unicode::string_to_utf8(value, length);
  return std::string(reinterpret_cast<const char*>(bytes), size_t(length));
}

}  // namespace

// get-env var: the variable's value as a new string, or none when it is not set.
void get_env(const int32_t*) {
  std::string value;
  if (!platform::get_env(text_of(*stack::arg(0)).c_str(), value)) {
    return stack::set_only_result(constants::none);
  }
  Cell* text = stack::push_copy(constants::none);
  string::load_encoded(reinterpret_cast<const uint8_t*>(value.data()), value.size(), text,
                       string::kUtf8);
  stack::set_only_result(*text);
}

// set-env var value: sets the variable, or removes it when the value is none; gives the value.
void set_env(const int32_t*) {
  const std::string name = text_of(*stack::arg(0));
  Cell value = *stack::arg(1);
  if (cell::type_of(value) == TYPE_NONE) {
    platform::set_env(name.c_str(), nullptr);
  } else {
    platform::set_env(name.c_str(), text_of(value).c_str());
  }
  stack::set_only_result(value);
}

// list-env: the process environment as a map! from names to values, both strings.
void list_env(const int32_t*) {
  const auto entries = platform::environment();
  Cell* pairs = block::push_new(static_cast<int32_t>(entries.size() * 2));
  for (const auto& [name, value] : entries) {
    for (const std::string* text : {&name, &value}) {
      string::load_encoded_to_block(reinterpret_cast<const uint8_t*>(text->data()), text->size(),
                                    *pairs, string::kUtf8);
    }
  }
  Cell* map = stack::push_new();
  *map = constants::none;
  map::make_at(map, pairs, static_cast<uint32_t>(entries.size()));
  stack::set_only_result(*map);
}

namespace {

// A count of bytes as the language holds it: an integer! while it fits, else a float!.
Cell size_value(double bytes) {
  return bytes <= 2147483647.0 ? integer::make(static_cast<int32_t>(bytes)) : float_::make(bytes);
}

void append_size(const Cell& block, double bytes) {
  *cell::append_new_cell(&block) = size_value(bytes);
}

size_t heap_bytes() {
  size_t total = 0;
  for (rt::HeapBlock* b = rt::heap.first; b; b = b->next) total += b->size;
  return total;
}

// The bytes the runtime uses: the carved part of every series frame, every big block and the
// tracked heap.
double bytes_in_use() {
  double total = static_cast<double>(heap_bytes());
  for (alloc::SeriesFrame* f = alloc::memory.first_frame; f; f = f->next) {
    total += static_cast<double>(f->heap - f->area());
  }
  for (alloc::BigBlock* b = alloc::memory.first_big; b; b = b->next) {
    total += static_cast<double>(b->size);
  }
  return total;
}

// The memory manager's statistics: [free used total] of every node frame (in nodes) and of every
// series frame (in bytes), the sizes of the big blocks, the bytes held from the system and the
// bytes on the tracked heap.
struct MemoryStatistics {
  struct Use {
    double free, used, total;
  };
  std::vector<Use> node_frames, series_frames;
  std::vector<double> big_blocks;
  double from_system, on_heap;
};

// Read before any block is made: making one may collect, which releases and relinks frames.
MemoryStatistics memory_statistics() {
  MemoryStatistics m;
  for (int32_t n = alloc::memory.first_node_frame; n >= 0; n = alloc::node_frame(n).next) {
    const alloc::NodeFrame& frame = alloc::node_frame(n);
    m.node_frames.push_back({double(frame.capacity - frame.in_use), double(frame.in_use),
                             double(frame.capacity)});
  }
  for (alloc::SeriesFrame* f = alloc::memory.first_frame; f; f = f->next) {
    m.series_frames.push_back(
        {double(f->free_bytes()), double(f->heap - f->area()), double(f->size)});
  }
  for (alloc::BigBlock* b = alloc::memory.first_big; b; b = b->next) {
    m.big_blocks.push_back(double(b->size));
  }
  m.from_system = double(alloc::memory.total);
  m.on_heap = double(heap_bytes());
  return m;
}

// The statistics as the block that stats/info gives, pushed.
Cell* push_memory_statistics() {
  const MemoryStatistics m = memory_statistics();
  Cell* stats = block::push_new(5);
  for (const auto* frames : {&m.node_frames, &m.series_frames}) {
    const Cell list = *block::append_to_block(stats, static_cast<int32_t>(frames->size()));
    for (const MemoryStatistics::Use& use : *frames) {
      const Cell frame = *block::append_to_block(&list, 3);
      for (double n : {use.free, use.used, use.total}) append_size(frame, n);
    }
  }
  const Cell big = *block::append_to_block(stats, static_cast<int32_t>(m.big_blocks.size()));
  for (double size : m.big_blocks) append_size(big, size);
  append_size(*stats, m.from_system);
  append_size(*stats, m.on_heap);
  return stats;
}

}  // namespace

// stats /show /info: the bytes in use; /info the memory statistics as a block; /show prints them
// through the language's show-memory-stats.
void stats(const int32_t* refinements) {
  enum { SHOW, INFO };
  if (refinements[SHOW] < 0 && refinements[INFO] < 0) {
    return stack::set_only_result(size_value(bytes_in_use()));
  }
  Cell* statistics = push_memory_statistics();
  if (refinements[INFO] >= 0 && refinements[SHOW] < 0) return stack::set_only_result(*statistics);
  const Cell name = word::from_c_string("show-memory-stats");
  const Cell* printer = word::push_value_checked(name);
  if (cell::type_of(*printer) != TYPE_FUNCTION) rt::fire_error("script", "invalid-arg", printer);
  upcall::interpreter.call_function(name, *printer, {statistics, 1});
  stack::set_only_result(constants::unset);
}

// recycle /on /off: switches the collector on or off, or runs one collection at once and gives
// the bytes in use after it.
void recycle(const int32_t* refinements) {
  enum { ON, OFF };
  if (refinements[ON] >= 0 || refinements[OFF] >= 0) {
    gc::enabled = refinements[ON] >= 0;
    return stack::set_only_result(constants::unset);
  }
  gc::collect();
  stack::set_only_result(size_value(bytes_in_use()));
}

// size? file: the file's size in bytes (a float! beyond the integer range); none for a path
// naming a directory, or for a file that cannot be opened.
void size_q(const int32_t*) {
  const std::string os_path = io::os_path(*stack::arg(0));
  if (os_path.empty() || io::dir_path_q(os_path)) return stack::set_only_result(constants::none);
  const int64_t size = platform::file_size(os_path.c_str());
  stack::set_only_result(size < 0 ? constants::none : size_value(static_cast<double>(size)));
}

}  // namespace natives
