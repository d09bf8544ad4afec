// The routine table and the routines' bodies. A body reads its arguments from the frame's cells
// (stack::arg(0) first) and leaves its result in arguments[0]; the specs' types have been checked
// by the call. Relies on the rooting rule of runtime/gc.h: what a body makes sits on the stack.
#include "library/routines.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/image.h"
#include "datatypes/image/codec.h"
#include "datatypes/integer.h"
#include "datatypes/io.h"
#include "datatypes/object.h"
#include "datatypes/os.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/upcall.h"
#include "datatypes/word.h"
#include "io/clipboard.h"
#include "io/zelbin.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
#include "interpreter/natives.h"
#include "interpreter/trace.h"
#include "lexer/lexer.h"
#include "platform/os/platform.h"
#include "runtime/gc.h"
#include "runtime/throw.h"
#include "runtime/types.h"
#include "runtime/unicode.h"

namespace routines {

namespace {

Cell* arg(int i) { return stack::arg(i); }
int32_t int_arg(int i) { return integer::get_value(*arg(i)); }
void result(const Cell& value) { stack::set_only_result(value); }

// --- Process and words ---------------------------------------------------------------------------

void quit_return() { std::exit(int_arg(0)); }

void set_quiet() {
  Cell word = *arg(0);
  switch (cell::type_of(word)) {
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: break;
    default: cell::fire_expect_arg(word, 0);
  }
  // Stored straight into the word's context: no object's change handler hears of it.
  const Cell value = *arg(1);
  context::write_word(word, value);
  result(value);
}

void set_slot_quiet() {
  const Cell series = *arg(0);
  switch (cell::type_of(series)) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
    case TYPE_GET_PATH:
      break;
    default: {
      Cell type = cell::make_datatype(TYPE_BLOCK);
      Cell argument = upcall::interpreter.parameter_word(0);
      Cell name = upcall::interpreter.call_name();
      rt::fire_error("script", "expect-arg", &name, &type, &argument);
    }
  }
  const uint32_t node = cell::series_node(series);
  const uint32_t index = cell::series_index(series);
  if (index < cell::cell_count(node)) cell::cells_of(node)[index] = *arg(1);
  result(*arg(1));
}

// The shift native on this frame's two integers: positions mark the refinements it is given.
void shift_with(int32_t left, int32_t logical) {
  const int32_t positions[2] = {left, logical};
  natives::shift(positions);
}
void shift_right() { shift_with(-1, -1); }
void shift_left() { shift_with(1, -1); }
void shift_logical() { shift_with(-1, 1); }

void last_lf_q() { result(logic::make(natives::last_lf)); }

// --- Directories and files -----------------------------------------------------------------------

void get_current_dir() {
  std::string dir = platform::get_current_dir();
  if (dir.empty() || dir.back() != '/') dir += '/';
  Cell* path = string::load_encoded_push(reinterpret_cast<const uint8_t*>(dir.data()),
                                          dir.size(), string::kUtf8);
  cell::set_type(*path, TYPE_FILE);
  result(*path);
}

void set_current_dir() {
  const std::string path = io::os_path(*arg(0));
  if (!platform::set_current_dir(path.c_str())) {
    rt::fire_error("access", "cannot-open", arg(0));
  }
  result(*arg(0));
}

void create_dir() {
  if (!io::create_directory(*arg(0))) rt::fire_error("access", "no-create", arg(0));
  result(*arg(0));
}

void exists_q() { result(logic::make(io::file_exists_q(*arg(0)))); }

void os_info() {
  Cell* spec = block::push_new(1);
  Cell* object = object::construct(*spec, nullptr, false);
  os::describe(object);
  result(*object);
}

// --- Tuples and text -----------------------------------------------------------------------------

// The components as bytes; the first negative one raises script/invalid-arg with its value.
template <int N>
void pack_tuple() {
  uint8_t bytes[N];
  for (int i = 0; i < N; i++) {
    const int32_t value = int_arg(i);
    if (value < 0) rt::fire_error("script", "invalid-arg", arg(i));
    bytes[i] = uint8_t(value & 0xFF);
  }
  Cell* tuple = stack::push_new();
  tuple::make_at(tuple, N, bytes);
  result(*tuple);
}
void as_color() { pack_tuple<3>(); }
void as_ipv4() { pack_tuple<4>(); }

void count_chars() {
  const Cell start = *arg(0);
  const Cell pos = *arg(1);
  const uint32_t node = cell::series_node(start);
  alloc::Series* buffer = alloc::series_of(node);
  const uint8_t* head = buffer->head_ptr();
  const uint32_t tail = buffer->used();
  const uint32_t from = std::min(cell::series_index(start), tail);
  const uint32_t to = std::max(from, std::min(cell::series_index(pos), tail));
  result(integer::make(int32_t(unicode::count_utf8_chars(head + from, head + to))));
}

// --- JSON text -----------------------------------------------------------------------------------

// The four hex digits at the unit position as a number, or -1 when the text ends first or a digit
// is not hexadecimal.
int32_t hex4_at(const Cell& text, uint32_t at, uint32_t end) {
  if (end < at + 4) return -1;
  int32_t value = 0;
  for (uint32_t i = at; i < at + 4; i++) {
    const int32_t digit = string::hex_digit(string::char_at(text, i));
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

// Rewrites the backslash escapes from the head in place. The text never grows (an escape is
// longer than its character), so writing trails reading; a character that needs a wider unit
// widens the buffer, and unit positions survive that.
void unescape() {
  const Cell text = *arg(0);
  const uint32_t node = cell::series_node(text);
  const uint32_t end = string::whole_length(text);
  uint32_t read = std::min(cell::series_index(text), end);
  uint32_t write = read;
  auto bad = [&] { rt::fire_error("script", "invalid-data", arg(0)); };
  while (read < end) {
    uint32_t c = string::char_at(text, read++);
    if (c == '\\') {
      if (read == end) bad();
      c = string::char_at(text, read++);
      switch (c) {
        case '"': case '\\': case '/': break;
        case 'b': c = 8; break;
        case 'f': c = 12; break;
        case 'n': c = 10; break;
        case 'r': c = 13; break;
        case 't': c = 9; break;
        case 'u': {
          const int32_t unit = hex4_at(text, read, end);
          if (unit < 0) bad();
          read += 4;
          c = uint32_t(unit);
          if (c >= 0xD800 && c <= 0xDBFF) {
            // A high surrogate stands only with its low partner written right after it.
            if (end < read + 6 || string::char_at(text, read) != '\\' ||
                string::char_at(text, read + 1) != 'u') {
              bad();
            }
            const int32_t low = hex4_at(text, read + 2, end);
            if (low < 0xDC00 || low > 0xDFFF) bad();
            read += 6;
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(low) - 0xDC00);
          }
          break;
        }
        default:
          // Any other escaped character: the backslash stays and that character goes.
          c = '\\';
      }
    }
    string::poke_char_at(node, write++, c);
  }
  string::truncate_units(node, write);
  result(text);
}

// --- The stacks ----------------------------------------------------------------------------------

int32_t stack_size() { return int32_t(stack::top - stack::bottom); }

void stack_size_q() { result(integer::make(stack_size())); }

void pick_stack() {
  const int32_t index = int_arg(0);
  result(0 < index && index < stack_size() ? stack::bottom[index - 1] : constants::none);
}

// The arguments base of the innermost function call around this routine's own frame: the base
// that the frame above that call's frame saved. 0 outside any function.
void frame_index_q() {
  uint32_t base = 0;
  for (frames::Frame* f = frames::top_frame() - 1; f >= frames::frame_bottom; f--) {
    if (f->callee_context) {
      base = (f + 1)->saved_base;
      break;
    }
  }
  result(integer::make(int32_t(base)));
}

void collect_calls() {
  Cell block = *arg(0);
  frames::collect_calls(&block);
  result(block);
}

void tracing_q() { result(logic::make(trace::events != 0)); }

void trace_mode() {
  trace::set_tracing(!logic::falsy(*arg(0)));
  result(constants::none);
}

void write_stdout() {
  io::write_file_path(nullptr, *arg(0));
  result(constants::unset);
}

void read_clipboard() { result(*clipboard::read()); }
void write_clipboard() { result(logic::make(clipboard::write(*arg(0)))); }

// --- system/state/GC -----------------------------------------------------------------------------

void gc_active_q() { result(logic::make(gc::enabled)); }
// One collector reclaims nodes and series together: both counts are its cycles.
void gc_cycles() { result(integer::make(int32_t(gc::collections()))); }

// --- The codecs of system/codecs ------------------------------------------------------------------

// An image into a new binary! (where is none) or into the file where names.
template <image_codec::Format format>
void image_encode() {
  const Cell* encoded = image::encode(*arg(0), *arg(1), format);
  result(encoded ? *encoded : constants::none);
}

void image_decode() { result(*image::decode(*arg(0))); }

void zelbin_encode() {
  const Cell value = *arg(0);
  result(logic::falsy(*arg(1)) ? *zelbin::encode_plain(value) : *zelbin::encode_compact(value));
}

// A file or URL is read first. A stream of a single value gives that value, else the block of
// them. No stream is ten bytes or fewer (its header alone is eight, and a value takes more).
void zelbin_decode() {
  Cell* data = arg(0);
  if (cell::type_of(*data) == TYPE_FILE || cell::type_of(*data) == TYPE_URL) {
    data = interp::eval_text_with("read/binary", {data, 1});
  }
  if (cell::type_of(*data) != TYPE_BINARY || binary::rest_length(*data) <= 10) {
    rt::fire_error("script", "invalid-data", data);
  }
  Cell* values = zelbin::decode(*data);
  result(block::rest_length(*values) == 1 ? *block::cell_at(*values, 0) : *values);
}

constexpr Row kRows[] = {
    {"quit-return", R"s(["Stops evaluation and exits the program with a given status"
        status [integer!] "Process termination value to return"])s", quit_return, true},
    {"set-quiet", R"s(["Set an object's field to a value without triggering eventual object's events"
        word [any-type!] value [any-type!] return: [any-type!]])s", set_quiet, true},
    {"set-slot-quiet", R"s(["Set a value in series without triggering eventual owner's events"
        series [any-type!] value [any-type!]])s", set_slot_quiet, true},
    {"shift-right", R"s(["Shift bits to the right" data [integer!] bits [integer!]])s",
     shift_right, true},
    {"shift-left", R"s(["Shift bits to the left" data [integer!] bits [integer!]])s",
     shift_left, true},
    {"shift-logical", R"s(["Shift bits to the right (unsigned)" data [integer!] bits [integer!]])s",
     shift_logical, true},
    {"last-lf?", R"s(["Internal Use Only" return: [logic!]])s", last_lf_q, true},
    {"get-current-dir", R"s(["Returns the platform's current directory for the process"])s",
     get_current_dir, true},
    {"read-clipboard", R"s(["Return the contents of the system clipboard"
        return: [any-type!] "false on failure, none if empty, otherwise: string!, block! of files!, or an image!"])s",
     read_clipboard, true},
    {"write-clipboard", R"s(["Write content to the system clipboard"
        data [any-type!] "string!, block! of files!, an image! or none!"
        return: [logic!] "indicates success"])s",
     write_clipboard, true},
    {"set-current-dir", R"s(["Sets the platform's current process directory" path [file!]])s",
     set_current_dir, true},
    {"create-dir", R"s(["Create the given directory" path [file!]])s", create_dir, true},
    {"exists?", R"s(["Returns TRUE if the file exists" path [file!] return: [logic!]])s",
     exists_q, true},
    {"os-info", R"s(["Returns detailed operating system version information"])s", os_info, true},
    {"as-color", R"s(["Combine R, G and B values into a tuple"
        r [integer!] g [integer!] b [integer!]])s", as_color, true},
    {"as-ipv4", R"s(["Combine a, b, c and d values into a tuple"
        a [integer!] b [integer!] c [integer!] d [integer!]])s", as_ipv4, true},
    {"as-rgba", R"s(["Combine R, G, B and A color components into a tuple"
        r [integer!] g [integer!] b [integer!] a [integer!]])s", as_ipv4, true},
    {"count-chars", R"s(["Count UTF-8 encoded characters between two positions in a binary series"
        start [binary!] pos [binary!] return: [integer!]])s", count_chars, true},
    {"stack-size?", R"s([return: [integer!]])s", stack_size_q, true},
    {"pick-stack", R"s([idx [integer!]])s", pick_stack, true},
    {"frame-index?", R"s([return: [integer!]])s", frame_index_q, true},
    {"collect-calls", R"s([blk [block!]])s", collect_calls, true},
    {"tracing?", R"s([return: [logic!]])s", tracing_q, true},
    {"trace-mode", R"s(["Internal Use Only" on [logic!]])s", trace_mode, false},
    {"write-stdout", R"s(["Write data to STDOUT" data [any-type!]])s", write_stdout, true},
    {"png-encode", R"s([image [any-type!] where [any-type!]])s", image_encode<image_codec::kPng>, false},
    {"jpeg-encode", R"s([image [any-type!] where [any-type!]])s", image_encode<image_codec::kJpeg>, false},
    {"bmp-encode", R"s([image [any-type!] where [any-type!]])s", image_encode<image_codec::kBmp>, false},
    {"gif-encode", R"s([image [any-type!] where [any-type!]])s", image_encode<image_codec::kGif>, false},
    {"tiff-encode", R"s([image [any-type!] where [any-type!]])s", image_encode<image_codec::kTiff>, false},
    {"image-decode", R"s([data [any-type!]])s", image_decode, false},
    {"zelbin-encode", R"s([data [any-type!] compact? [logic!]])s", zelbin_encode, false},
    {"zelbin-decode", R"s([data [any-type!]])s", zelbin_decode, false},
    {"active?", R"s([return: [logic!]])s", gc_active_q, false},
    {"series-cycles", R"s([return: [integer!]])s", gc_cycles, false},
    {"nodes-cycles", R"s([return: [integer!]])s", gc_cycles, false},
    {"unescape", R"s([str [string!] "(modified)" return: [string!]])s", unescape, false},
};

// --- Type predicates -----------------------------------------------------------------------------
// Made from the datatype list: a predicate per datatype a program tests by name, and one per
// typeset of the start-up words. They run on every type test of the library: no allocation, no
// evaluation.

// Every datatype with a word of the language has one, but triple! (an inner value that only
// prints) and port!, to which the language gives none.
constexpr bool has_type_predicate(uint8_t type) {
  return types::name(type) && type != TYPE_SYMBOL && type != TYPE_CONTEXT &&
         type != TYPE_SERIES && type != TYPE_TRIPLE && type != TYPE_PORT;
}

constexpr int32_t kTypePredicateCount = [] {
  int32_t count = 0;
  for (int type = 1; type < TYPE_COUNT; type++) count += has_type_predicate(uint8_t(type));
  return count;
}();

// The word of the type's predicate: its name with "?" in place of "!".
template <uint8_t Type>
struct PredicateName {
  static constexpr std::array<char, 16> text = [] {
    std::array<char, 16> name{};
    const char* type_name = types::name(Type);
    static_assert(std::char_traits<char>::length(types::name(Type)) < 16);
    size_t i = 0;
    for (; type_name[i + 1]; i++) name[i] = type_name[i];
    name[i] = '?';
    return name;
  }();
};

template <uint8_t Type>
void type_q() {
  result(logic::make(cell::type_of(*arg(0)) == Type));
}

constexpr const char* kTypePredicateSpec =
    R"s(["Returns true if the value is this type" value [any-type!] return: [logic!]])s";

constexpr std::array<Row, kTypePredicateCount> kTypePredicates =
    []<size_t... Types>(std::index_sequence<Types...>) {
      std::array<Row, kTypePredicateCount> rows{};
      size_t n = 0;
      auto add = [&]<uint8_t Type>() {
        if constexpr (has_type_predicate(Type)) {
          rows[n++] = Row{PredicateName<Type>::text.data(), kTypePredicateSpec, type_q<Type>, true};
        }
      };
      (add.template operator()<uint8_t(Types)>(), ...);
      return rows;
    }(std::make_index_sequence<TYPE_COUNT>{});

// Each typeset predicate reads the typeset its word ("?" changed to "!") holds at the call, so a
// program that sets the word anew changes the answer; a word holding no typeset answers false.
constexpr const char* kTypesetPredicateNames[] = {
    "number?",    "planar?",    "any-point?",    "scalar?",     "any-word?",
    "all-word?",  "any-list?",  "any-path?",     "any-block?",  "any-function?",
    "any-object?", "any-string?", "series?",     "immediate?",
};
constexpr int32_t kTypesetPredicateCount = int32_t(std::size(kTypesetPredicateNames));

// The symbols of the typesets' words, made by define().
std::array<uint32_t, kTypesetPredicateCount> typeset_symbols;

template <int32_t N>
void typeset_q() {
  const Cell* typeset = context::value_cell_of_symbol(typeset_symbols[N], context::global);
  result(logic::make(typeset && cell::type_of(*typeset) == TYPE_TYPESET &&
                     cell::typeset_has(*typeset, cell::type_of(*arg(0)))));
}

constexpr const char* kTypesetPredicateSpec =
    R"s(["Returns true if the value's datatype is in the typeset" value [any-type!] return: [logic!]])s";

constexpr std::array<Row, kTypesetPredicateCount> kTypesetPredicates =
    []<size_t... N>(std::index_sequence<N...>) {
      return std::array<Row, kTypesetPredicateCount>{
          Row{kTypesetPredicateNames[N], kTypesetPredicateSpec, typeset_q<int32_t(N)>, true}...};
    }(std::make_index_sequence<kTypesetPredicateCount>{});

// --- The whole table -----------------------------------------------------------------------------

constexpr int32_t kRowCount =
    int32_t(std::size(kRows)) + kTypePredicateCount + kTypesetPredicateCount;

constexpr std::array<Row, kRowCount> kAllRows = [] {
  std::array<Row, kRowCount> rows{};
  size_t n = 0;
  for (const Row& row : kRows) rows[n++] = row;
  for (const Row& row : kTypePredicates) rows[n++] = row;
  for (const Row& row : kTypesetPredicates) rows[n++] = row;
  return rows;
}();

// The routines that are fields of the system object rather than words: the field's path (as a
// set-path) and the row.
struct Field {
  const char* path;
  const char* routine;
};
constexpr Field kFields[] = {
    {"system/state/GC/active?:", "active?"},
    {"system/state/GC/series-cycles:", "series-cycles"},
    {"system/state/GC/nodes-cycles:", "nodes-cycles"},
    {"system/codecs/png/encode:", "png-encode"},
    {"system/codecs/png/decode:", "image-decode"},
    {"system/codecs/jpeg/encode:", "jpeg-encode"},
    {"system/codecs/jpeg/decode:", "image-decode"},
    {"system/codecs/bmp/encode:", "bmp-encode"},
    {"system/codecs/bmp/decode:", "image-decode"},
    {"system/codecs/gif/encode:", "gif-encode"},
    {"system/codecs/gif/decode:", "image-decode"},
    {"system/codecs/tiff/encode:", "tiff-encode"},
    {"system/codecs/tiff/decode:", "image-decode"},
    {"system/codecs/zelbin/encode*:", "zelbin-encode"},
    {"system/codecs/zelbin/decode:", "zelbin-decode"},
};

constexpr std::array<routine::Body, kRowCount> kBodies = [] {
  std::array<routine::Body, kRowCount> bodies{};
  for (int32_t i = 0; i < kRowCount; i++) bodies[i] = kAllRows[i].body;
  return bodies;
}();

// The rows' entries in the order of their names: start-up looks up every routine of the image by
// its word.
constexpr std::array<int32_t, kRowCount> kEntriesByName = [] {
  std::array<int32_t, kRowCount> entries{};
  for (int32_t i = 0; i < kRowCount; i++) entries[i] = i + 1;
  std::sort(entries.begin(), entries.end(), [](int32_t a, int32_t b) {
    return std::string_view(kAllRows[a - 1].name) < std::string_view(kAllRows[b - 1].name);
  });
  // A name names one row: a second one would never be found.
  for (int32_t i = 1; i < kRowCount; i++) {
    if (std::string_view(kAllRows[entries[i - 1] - 1].name) ==
        std::string_view(kAllRows[entries[i] - 1].name)) {
      throw "two routines of one name";
    }
  }
  return entries;
}();

}  // namespace

int32_t entry_of(std::string_view name) {
  const auto* at = std::lower_bound(
      kEntriesByName.begin(), kEntriesByName.end(), name,
      [](int32_t entry, std::string_view wanted) { return kAllRows[entry - 1].name < wanted; });
  return at != kEntriesByName.end() && kAllRows[*at - 1].name == name ? *at : 0;
}

const Row& row(int32_t entry) { return kAllRows[entry - 1]; }

int32_t count() { return kRowCount; }

Cell* make_value(int32_t entry) {
  const char* text = row(entry).spec;
  Cell* spec = stack::push_new();
  *spec = constants::none;
  lexer::scan(spec, reinterpret_cast<const uint8_t*>(text), std::strlen(text), lexer::Mode{},
              nullptr, nullptr, nullptr);
  const Cell spec_block = cell::block_head(*spec)[0];
  *spec = spec_block;
  Cell* value = function::make_routine_value(*spec, constants::none, uint32_t(entry), 0, true);
  *spec = *value;
  stack::pop_cells(1);
  return spec;
}

void bind_fields() {
  Cell* const top = stack::top;
  for (const Field& field : kFields) {
    Cell* value = make_value(entry_of(field.routine));
    interp::eval_text_with(field.path, {value, 1});
    stack::top = top;
  }
}

std::string definitions() {
  std::string text = "Zel [Title: \"The library's routines\"]\n";
  for (int32_t entry = 1; entry <= kRowCount; entry++) {
    if (!row(entry).global) continue;
    text += row(entry).name;
    text += ": routine ";
    text += row(entry).spec;
    text += " []\n";
  }
  return text;
}

void define() {
  routine::set_bodies(kBodies);
  for (int32_t i = 0; i < kTypesetPredicateCount; i++) {
    std::string word(kTypesetPredicateNames[i]);
    word.back() = '!';
    typeset_symbols[i] = symbol::intern_c_string(word.c_str());
  }
}

}  // namespace routines
