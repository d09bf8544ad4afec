// The ZELBIN writers and reader: fixed byte sequences worked out by hand from the format's
// tables (header, symbol table, records of both forms), a property test that round-trips
// generated values of every datatype built so far through both forms (nested, shared and
// cyclic), the identities and bindings that must survive a round trip, and the faults of
// malformed streams, each named by its byte position. Values are made by evaluating source text
// and stay on the data stack, so the tests hold under ZEL_GC_STRESS=1.
#include <unistd.h>

#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "interpreter/eval.h"
#include "io/zelbin.h"
#include "lexer/lexer.h"
#include "runtime/compression.h"
#include "word_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The stream header: magic, version 2, flags.
Bytes header(uint8_t flags) { return {'Z', 'E', 'L', 'B', 'I', 'N', 2, flags}; }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes u32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
// A compact stream without symbols around the records.
Bytes compact(const Bytes& records) {
  return header(1) + Bytes{1, uint8_t(records.size())} + records;
}
// A plain stream without symbols around the records.
Bytes plain(const Bytes& records) {
  return header(0) + u32(1) + u32(uint32_t(records.size())) + records;
}

std::string hex(const Bytes& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

class Zelbin : public word_test::WordTest {
 protected:
  // Evaluates the source; the result stays on the data stack.
  static Cell* eval(const std::string& source) {
    Cell* result = stack::push_copy(constants::none);
    const std::string error = raised_by([&] {
      Cell* code = stack::push_copy(constants::none);
      lexer::scan(code, reinterpret_cast<const uint8_t*>(source.data()), source.size(),
                  lexer::Mode{}, nullptr, nullptr, nullptr);
      interp::eval_block(*code, false);
      *result = *stack::top_cell();
    });
    EXPECT_EQ(error, "") << source;
    return result;
  }
  // The molded value of the source's result.
  static std::string run(const std::string& source) { return mold(*eval(source)); }

  static std::string mold_all(const Cell& value) {
    Cell* copy = stack::push_copy(value);
    Cell* out = stack::push_copy(constants::none);
    string::init_empty(out, 64);
    datatype::call_mold(copy, out, {.all = true}, nullptr, INT32_MAX, 0);
    std::string text = text_of(*out);
    stack::pop_cells(2);
    cycles::reset();
    return text;
  }

  static Bytes encode(const Cell& value, bool compact_form) {
    Cell* stream = compact_form ? zelbin::encode_compact(value) : zelbin::encode_plain(value);
    alloc::Series* s = cell::series_of(*stream);
    Bytes bytes(s->head_ptr(), s->tail_ptr());
    stack::pop_cells(1);
    return bytes;
  }

  // The block of the stream's values, on the data stack.
  static Cell* decode(const Bytes& bytes) {
    Cell* out = block::push_new(4);
    zelbin::user_decoding = true;
    zelbin::read(bytes.data(), int64_t(bytes.size()), *out, true);
    return out;
  }

  // What decoding the stream raises: "script/zb-invalid-record 12" (the position), another
  // category/id, or "" when it decodes.
  static std::string decode_error(const Bytes& bytes) {
    Cell* top = stack::top;
    rt::raised = {};
    Cell* out = block::push_new(4);
    const uint32_t code = frames::try_catch(runtime_words::words.try_, [&] {
      zelbin::user_decoding = true;
      zelbin::read(bytes.data(), int64_t(bytes.size()), *out, true);
    });
    std::string text;
    if (code) {
      const Cell error = *stack::top_cell();
      text = std::string(rt::raised.category) + "/" + rt::raised.id;
      const Cell arg = *error::field(error, error::kArg1);
      if (cell::type_of(arg) == TYPE_INTEGER) text += " " + std::to_string(integer::get_value(arg));
    }
    stack::top = top;
    cycles::reset();
    return text;
  }

  // Sets the global word to the value, for language-level checks on it.
  static void set_global(const char* name, const Cell& value) {
    Cell* held = stack::push_copy(value);
    Cell word = word::from_c_string(name);
    context::write_word(word, *held);
    stack::pop_cells(1);
  }
};

// --- Fixed bytes ---------------------------------------------------------------------------------

// Each value (from source, or a cell made here) and the bytes of both forms, hand-computed from
// the format's tables.
TEST_F(Zelbin, WritersPutTheseBytes) {
  struct Case {
    const char* source;
    Bytes compact_form;
    Bytes plain_form;
  };
  const Bytes zero = u32(0);
  const Case cases[] = {
      {"5", compact({0x85}), plain(Bytes{0x0B, 0, 0, 0} + u32(5))},
      {"63", compact({0xBF}), plain(Bytes{0x0B, 0, 0, 0} + u32(63))},
      {"64", compact({0x0B, 0x80, 0x01}), plain(Bytes{0x0B, 0, 0, 0} + u32(64))},
      {"-1", compact({0x0B, 0x01}), plain(Bytes{0x0B, 0, 0, 0} + u32(0xFFFFFFFF))},
      {"-2147483648", compact({0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}),
       plain(Bytes{0x0B, 0, 0, 0} + u32(0x80000000))},
      {"true", compact({0xC2}), plain(Bytes{0x04, 0, 0, 0} + u32(1))},
      {"false", compact({0xC3}), plain(Bytes{0x04, 0, 0, 0} + u32(0))},
      {"none", compact({0x03}), plain({0x03, 0, 0, 0})},
      {"integer!", compact({0x01, 0x0B}), plain(Bytes{0x01, 0, 0, 0} + u32(11))},
      {"#\"a\"", compact({0x0A, 0x61}), plain(Bytes{0x0A, 0, 0, 0} + u32(0x61))},
      // 3.0 takes the whole-number form; -0.0 and 0.5 their 8 bytes, low word first.
      {"3.0", compact({0x4C, 0x06}), plain(Bytes{0x0C, 0, 0, 0} + u32(0x40080000) + zero)},
      {"-0.0", compact({0x0C, 0, 0, 0, 0, 0, 0, 0, 0x80}),
       plain(Bytes{0x0C, 0, 0, 0} + u32(0x80000000) + zero)},
      {"0.5", compact({0x0C, 0, 0, 0, 0, 0, 0, 0xE0, 0x3F}),
       plain(Bytes{0x0C, 0, 0, 0} + u32(0x3FE00000) + zero)},
      {"1%", compact({0x66, 0x02}),
       plain(Bytes{0x26, 0, 0, 0} + u32(0x3F847AE1) + u32(0x47AE147B))},
      {"-1:00", compact({0x6B, 0x9F, 0x38}),
       plain(Bytes{0x2B, 0, 0, 0} + u32(0xC0AC2000) + zero)},
      {"3x-4", compact({0x25, 0x06, 0x07}), plain(Bytes{0x25, 0, 0, 0} + u32(3) + u32(0xFFFFFFFC))},
      // A tuple of 3 bytes has no count; of 4, bit 6 and the count.
      {"1.2.3", compact({0x27, 1, 2, 3}), plain(Bytes{0x27, 3, 0, 0, 1, 2, 3, 0} + zero + zero)},
      {"1.2.3.4", compact({0x67, 4, 1, 2, 3, 4}),
       plain(Bytes{0x27, 4, 0, 0, 1, 2, 3, 4} + zero + zero)},
      // integer! is bit 11: byte 1, 0x80 >> 3; the trailing zero bytes are left out.
      {"make typeset! [integer!]", compact({0x21, 0x02, 0x00, 0x10}),
       plain(Bytes{0x21, 0, 0, 0, 0x00, 0x10, 0, 0} + zero + zero)},
      // 1-Jan-2000: year << 17 | month << 12 | day << 7.
      {"1-Jan-2000", compact({0x2F, 0x80, 0x10, 0xA0, 0x0F}),
       plain(Bytes{0x2F, 0, 0, 0} + u32(0x0FA01080) + zero + zero)},
      {"1-Jan-2000/12:00", compact({0x6F, 0x80, 0x10, 0xA1, 0x0F, 0, 0, 0, 0, 0, 0x18, 0xE5, 0x40}),
       plain(Bytes{0x2F, 0, 0, 0} + u32(0x0FA11080) + u32(0x40E51800) + zero)},
      // Currency byte, then 22 BCD digits (17 before the point); bit 6 the sign.
      {"$1.50", compact({0x31, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x15, 0, 0}),
       plain(Bytes{0x31, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x15, 0, 0})},
      {"-$2", compact({0x71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0, 0}),
       plain(Bytes{0x31, 0, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0, 0})},
      {"(1.5, 2)", compact(Bytes{0x33} + u32(0x3FC00000) + u32(0x40000000)),
       plain(Bytes{0x33, 0, 0, 0} + u32(0x3FC00000) + u32(0x40000000))},
      // A string at head 0 has no head field; at head 2, bit 6 and the head, and still all of it.
      {"\"ab\"", compact({0x07, 0x08, 'a', 'b'}),
       plain(Bytes{0x07, 1, 0, 0} + zero + u32(2) + Bytes{'a', 'b', 0, 0})},
      {"next next \"abc\"", compact({0x47, 0x02, 0x0C, 'a', 'b', 'c'}),
       plain(Bytes{0x07, 1, 0, 0} + u32(2) + u32(3) + Bytes{'a', 'b', 'c', 0})},
      {"\"\xCE\xA9\"", compact({0x07, 0x05, 0xA9, 0x03}),
       plain(Bytes{0x07, 2, 0, 0} + zero + u32(1) + Bytes{0xA9, 0x03, 0, 0})},
      {"#{DEAD}", compact({0x29, 0x02, 0xDE, 0xAD}),
       plain(Bytes{0x29, 1, 0, 0} + zero + u32(2) + Bytes{0xDE, 0xAD, 0, 0})},
      {"[1 2]", compact({0x05, 0x02, 0x81, 0x82}),
       plain(Bytes{0x05, 0, 0, 0} + zero + u32(2) + Bytes{0x0B, 0, 0, 0} + u32(1) +
             Bytes{0x0B, 0, 0, 0} + u32(2))},
      // The new-line flag: a 0xC0 prefix, plain bit 31.
      {"[1\n2]", compact({0x05, 0x02, 0x81, 0xC0, 0x82}),
       plain(Bytes{0x05, 0, 0, 0} + zero + u32(2) + Bytes{0x0B, 0, 0, 0} + u32(1) +
             Bytes{0x0B, 0, 0, 0x80} + u32(2))},
      // A float inside a block: the plain form puts a filler word first (records at 12 bytes).
      {"[0.5]", compact({0x05, 0x01, 0x0C, 0, 0, 0, 0, 0, 0, 0xE0, 0x3F}),
       plain(Bytes{0x05, 0, 0, 0} + zero + u32(1) + zero + Bytes{0x0C, 0, 0, 0} +
             u32(0x3FE00000) + zero)},
      // A block inside itself: a reference to index path [0].
      {"b: copy [] append/only b b b", compact({0x05, 0x01, 0xC1, 0x05, 0x01, 0x00}),
       plain(Bytes{0x05, 0, 0, 0} + zero + u32(1) + Bytes{0x05, 0, 0x08, 0} + zero + u32(1) +
             zero)},
      // One string twice: the second time a reference to [0 0], at its own head.
      {"s: \"x\" reduce [s next s]",
       compact({0x05, 0x02, 0x07, 0x04, 'x', 0xC1, 0x47, 0x01, 0x02, 0x00, 0x00}),
       plain(Bytes{0x05, 0, 0, 0} + zero + u32(2) + Bytes{0x07, 1, 0, 0} + zero + u32(1) +
             Bytes{'x', 0, 0, 0} + Bytes{0x07, 1, 0x08, 0} + u32(1) + u32(2) + zero + zero)},
  };
  for (const Case& c : cases) {
    Cell* value = eval(c.source);
    EXPECT_EQ(hex(encode(*value, true)), hex(c.compact_form)) << c.source;
    EXPECT_EQ(hex(encode(*value, false)), hex(c.plain_form)) << c.source;
    // And they read back as the value.
    EXPECT_EQ(mold_all(*block::head_cell(*decode(c.compact_form))), mold_all(*value)) << c.source;
    EXPECT_EQ(mold_all(*block::head_cell(*decode(c.plain_form))), mold_all(*value)) << c.source;
  }
}

// A symbol table: flag bit 2, the counts, the offsets, the spellings (the plain form pads each
// to a multiple of 8), then the records naming symbols by index.
TEST_F(Zelbin, SymbolTableBytes) {
  Cell* block = block::push_new(4);
  block::append_cell(*block, source_word("abc", TYPE_LIT_WORD));
  block::append_cell(*block, source_word("de", TYPE_SET_WORD));
  block::append_cell(*block, source_word("abc", TYPE_ISSUE));
  const Bytes compact_form = header(5) + Bytes{0x01, 0x08, 0x02, 0x07} + u32(0) + u32(4) +
                             Bytes{'a', 'b', 'c', 0, 'd', 'e', 0} +
                             Bytes{0x05, 0x03, 0x11, 0x00, 0x10, 0x01, 0x14, 0x00};
  const Bytes records = Bytes{0x05, 0, 0, 0} + u32(0) + u32(3) + Bytes{0x11, 0, 0, 0x02} +
                        u32(0) + u32(0xFFFFFFFF) + Bytes{0x10, 0, 0, 0x02} + u32(1) +
                        u32(0xFFFFFFFF) + Bytes{0x14, 0, 0, 0} + u32(0);
  const Bytes plain_form = header(4) + u32(1) + u32(uint32_t(records.size())) + u32(2) +
                           u32(16) + u32(0) + u32(8) +
                           Bytes{'a', 'b', 'c', 0, 0, 0, 0, 0, 'd', 'e', 0, 0, 0, 0, 0, 0} +
                           records;
  EXPECT_EQ(hex(encode(*block, true)), hex(compact_form));
  EXPECT_EQ(hex(encode(*block, false)), hex(plain_form));
  EXPECT_EQ(mold_all(*decode(compact_form)), "[['abc de: #abc]]");
  EXPECT_EQ(mold_all(*decode(plain_form)), "[['abc de: #abc]]");
}

// Readers ignore the version byte and accept a compressed body.
TEST_F(Zelbin, HeaderVersionsAndCompressedBodies) {
  Cell* value = eval("reduce [\"text\" 'word [1 2.5 3%] make object! [a: 1]]");
  const std::string expected = mold_all(*value);
  for (bool compact_form : {true, false}) {
    Bytes stream = encode(*value, compact_form);
    for (uint8_t version : {1, 2, 0xFF}) {
      stream[6] = version;
      EXPECT_EQ(mold_all(*block::head_cell(*decode(stream))), expected);
    }
    const Bytes body(stream.begin() + 8, stream.end());
    std::vector<uint8_t> packed(body.size() + 64);
    uint32_t size = uint32_t(packed.size());
    ASSERT_EQ(compression::encode_zstd(packed.data(), size, body.data(), uint32_t(body.size()),
                                       compression::kDefaultLevel),
              compression::kOk);
    packed.resize(size);
    Bytes compressed(stream.begin(), stream.begin() + 8);
    compressed[7] |= zelbin::kCompressed;
    compressed = compressed + u32(size) + packed;
    EXPECT_EQ(mold_all(*block::head_cell(*decode(compressed))), expected);
    // A body that does not inflate, a size of 0 or past the data refuse the whole stream.
    Bytes broken = compressed;
    broken[broken.size() - 3] ^= 0x55;
    EXPECT_EQ(decode_error(broken), "script/invalid-data");
    Bytes empty = compressed;
    empty[8] = empty[9] = empty[10] = empty[11] = 0;
    EXPECT_EQ(decode_error(empty), "script/invalid-data");
    Bytes long_size = compressed;
    long_size[11] = 0x10;
    EXPECT_EQ(decode_error(long_size), "script/invalid-data");
  }
}

// --- Round trips ---------------------------------------------------------------------------------

// Source text of random values of every datatype built so far: nested blocks, parens, paths,
// maps, hashes and objects of them, some held in variables and used again (shared), some blocks
// appended to themselves (cyclic).
class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed) {}

  std::string value(int depth) {
    static const char* const kScalars[] = {
        "0", "63", "64", "-1", "-2147483648", "2147483647", "1.5", "-0.0", "3.0", "0.1",
        "1e300", "-2147483000.0", "2147483001.0", "1.#INF", "-1.#INF", "1%", "12.5%",
        "-0.5%", "0%", "33.333%", "12:30:45", "-1:00", "0:00:00.5", "100:00", "#\"a\"",
        "#\"^(3A9)\"", "#\"^(1F600)\"", "#\"^(00)\"", "true", "false", "none",
        "integer!", "3x-4", "0x0", "1.2.3", "1.2.3.4.5.6.7.8.9.10.11.12", "255.0.255.0",
        "1-Jan-2000", "29-Feb-2024/10:20:30+5:30", "1-Jan-2000/0:00",
        "31-Dec-9999/23:59:59.5-8:00", "$1.50", "-$2", "$0", "USD$3.25", "$99999999999.99999",
        "\"abc\"", "\"\xC3\xA9t\xC3\xA9\"", "\"\xCE\xA9x\"", "\"\xF0\x9F\x98\x80\"", "\"\"",
        "next \"abc\"", "tail \"ab\"", "%file.txt", "http://x.y/z?a=1", "<tag a=\"1\">",
        "a@b.c", "@ref", "#{DEADBEEF}", "#{}", "next #{0102}", "#issue", "'word",
        "pick [set:] 1", "pick [:get] 1", "pick ['lit] 1", "pick [/ref] 1", "pick [a/b:] 1",
        "pick [:a/b] 1", "pick ['a/b] 1", "pick [a/b/c] 1", "pick [(1 \"x\")] 1",
        "make bitset! \"abc\"", "complement make bitset! \"x\"", "make bitset! 0",
        "make typeset! [integer! string!]", "make typeset! []", "make typeset! [datatype!]",
        "(1.5, 2)", "(1, 2, 3)", ":if", ":append", ":+", "try [1 / 0]", "make error! \"boom\"",
        "func [a [integer!] /b c] [a + 1]", "function [x] [y: x * 2]", "does [1]",
        "in make object! [q: 1] 'q", "pick bind [zz] make object! [zz: 5] 1",
    };
    const uint32_t pick = next(depth >= 3 ? 1 : 12);
    if (pick == 0 || pick > 6) {
      return kScalars[next(sizeof kScalars / sizeof *kScalars)];
    }
    switch (pick) {
      case 1: return "reduce [" + values(depth) + "]";
      case 2: return "make map! reduce ['a " + value(depth + 1) + " \"b\" " + value(depth + 1) +
                     " 3x4 " + value(depth + 1) + "]";
      case 3: return "make hash! reduce [" + values(depth) + "]";
      case 4: return "make object! [a: " + value(depth + 1) + " b: " + value(depth + 1) +
                     (next(2) ? " f: func [x] [x + a]]" : "]");
      case 5: {
        // A value held in a variable and used twice, or a block inside itself.
        const std::string name = "v" + std::to_string(variables_++);
        if (next(3) == 0) {
          return "(" + name + ": reduce [" + values(depth) + "] append/only " + name + " " +
                 name + ")";
        }
        return "(" + name + ": " + value(depth + 1) + " reduce [:" + name + " :" + name + "])";
      }
      default: return "as paren! reduce [" + values(depth) + "]";
    }
  }

 private:
  std::mt19937 rng_;
  int variables_ = 0;

  uint32_t next(uint32_t n) { return rng_() % n; }
  std::string values(int depth) {
    std::string text;
    const uint32_t count = next(5);
    // unset! only as a block's value: a set-word refuses it.
    for (uint32_t i = 0; i < count; i++) {
      text += (i ? " " : "") + (next(20) ? value(depth + 1) : std::string("()"));
    }
    return text;
  }
};

// Values that equal? cannot compare with a copy: functions and errors (compared by identity)
// and cyclic blocks (compared without end).
bool comparable(const std::string& source) {
  for (const char* word : {"func", "does", "try", "error", "append/only"}) {
    if (source.find(word) != std::string::npos) return false;
  }
  return true;
}

// The series, contexts and functions a value reaches, in the order a walk meets them, each
// named by the order of its first sighting: two values with equal lists share alike (a string
// met twice, a block inside itself, two words of one object...).
class Sharing {
 public:
  std::vector<uint32_t> of(const Cell& value) {
    visit(value);
    return order_;
  }

 private:
  std::unordered_map<uint32_t, uint32_t> seen_;
  std::vector<uint32_t> order_;

  bool first(uint32_t node) {
    const auto [it, added] = seen_.try_emplace(node, uint32_t(seen_.size()));
    order_.push_back(it->second);
    return added;
  }
  void cells(uint32_t node, uint32_t step = 1) {
    for (uint32_t i = 0; i < cell::cell_count(node); i += step) {
      // A map's removed entries (a value header of 0) are not values.
      if (step == 2 && cell::cells_of(node)[i + 1].header == 0) continue;
      for (uint32_t j = i; j < i + step; j++) visit(cell::cells_of(node)[j]);
    }
  }
  void callable(const Cell& value, bool function) {
    if (function && !first(function::context_of(value))) return;
    if (first(function::spec_of(value))) cells(function::spec_of(value));
    if (function) visit(function::body_of(value));
  }
  void visit(const Cell& value) {
    const uint8_t type = cell::type_of(value);
    if (types::any_block(type) || type == TYPE_MAP) {
      const uint32_t node = cell::series_node(value);
      if (first(node)) cells(node, type == TYPE_MAP ? 2 : 1);
    } else if (types::any_series(type) || type == TYPE_BITSET) {
      first(cell::series_node(value));
    } else if (type == TYPE_OBJECT || type == TYPE_ERROR) {
      const uint32_t context = object::context_of(value);
      if (first(context)) cells(context::values_position(context));
    } else if (type == TYPE_FUNCTION || type == TYPE_NATIVE || type == TYPE_ACTION) {
      callable(value, type == TYPE_FUNCTION);
    } else if (type == TYPE_OP) {
      callable(value, native::wrapped_type(value) == TYPE_FUNCTION);
    } else if (types::any_word(type) || type == TYPE_REFINEMENT) {
      const uint32_t context = word::context_of(value);
      if (!context || context == context::global) return;
      const Cell owner = *context::owner_cell(context);
      if (cell::type_of(owner) == TYPE_OBJECT || cell::type_of(owner) == TYPE_FUNCTION) {
        visit(owner);
      }
    }
  }
};

TEST_F(Zelbin, GeneratedValuesRoundTripThroughBothForms) {
  Generator generator(20240611);
  const int count = gc::stress() ? 60 : 400;
  for (int i = 0; i < count; i++) {
    const std::string source = generator.value(0);
    Cell* value = eval(source);
    const std::string expected = mold_all(*value);
    for (bool compact_form : {true, false}) {
      const Bytes stream = encode(*value, compact_form);
      ASSERT_EQ(decode_error(stream), "") << source;
      Cell* decoded = decode(stream);
      ASSERT_EQ(block::rest_length(*decoded), 1) << source;
      const Cell copy = *block::head_cell(*decoded);
      EXPECT_EQ(mold_all(copy), expected) << (compact_form ? "compact: " : "plain: ") << source;
      EXPECT_EQ(Sharing().of(copy), Sharing().of(*value)) << source;
      // What reads back is written and read again alike (the other form, too).
      EXPECT_EQ(mold_all(*block::head_cell(*decode(encode(copy, !compact_form)))), expected)
          << source;
      stack::pop_cells(1);
      if (comparable(source)) {
        Cell a = *value, b = copy;
        EXPECT_TRUE(datatype::compare(&a, &b, action::EQUAL)) << source;
      }
      stack::pop_cells(1);
    }
    stack::pop_cells(1);
  }
}

// Identities and bindings: what the values share, what their words are bound to, and that the
// functions run, after a round trip through each form.
TEST_F(Zelbin, SharingCyclesAndBindingsSurvive) {
  struct Case {
    const char* value;
    const char* check;  // run with d holding the value read back
    const char* expected;
  };
  const Case cases[] = {
      {"s: \"abc\" reduce [s s]", "append d/1 \"x\" reduce [same? d/1 d/2 d/2]",
       "[true \"abcx\"]"},
      {"s: \"abcdef\" reduce [s next next s]", "reduce [same? d/1 head d/2 index? d/2]",
       "[true 3]"},
      {"b: [1 2] reduce [b as paren! b]", "append d/1 3 reduce [type? d/2 length? d/2]",
       "[paren! 3]"},
      {"b: copy [] append/only b b b", "same? d pick d 1", "true"},
      {"b: copy [1] c: reduce [b] append/only b c b", "same? d pick pick d 2 1", "true"},
      {"o: make object! [a: 1 me: none] o/me: o o", "same? d d/me", "true"},
      {"o: make object! [a: 1 b: 2] reduce [in o 'a in o 'b o]",
       "set d/1 10 reduce [get d/2 d/3/a same? context? d/1 context? d/2]", "[2 10 true]"},
      {"o: make object! [a: 1 b: 2] reduce [o in o 'b]", "d/1/b: 7 get d/2", "7"},
      {"func [n] [n * 2]", "d 21", "42"},
      {"o: make object! [f: func [n] [either n > 0 [n + f n - 1] [0]]] o", "d/f 4", "10"},
      {"f: func [x /y z] [either y [x + z] [x]] reduce [:f :f]",
       "reduce [same? :d/1 :d/2 d/1 1 d/1/y 1 2]", "[true 1 3]"},
      {"f: function [x] [y: x * 3 y] reduce [:f reflect :f 'body]", "d/1 2", "6"},
      {"reduce [:+ :if :append]",
       "x: pick d 1 y: pick d 2 z: pick d 3 reduce [y true [1] 1 x 2 z [a] 'b]", "[1 3 [a b]]"},
      {"o: make object! [a: 1 log: copy [] on-change*: func [w old new] [append log w]] o",
       "d/a: 5 d/log", "[a]"},
      {"e: try [1 / 0] e", "reduce [d/type d/id]", "[math zero-divide]"},
      {"m: make map! [] m/k: m m", "same? d d/k", "true"},
      {"s: \"k\" m: make map! reduce ['a s] reduce [m s]", "d/1/a", "\"k\""},
      {"h: make hash! [a 1 b 2] h", "select d 'b", "2"},
      {"complement make bitset! \"x\"", "reduce [pick d #\"x\" pick d #\"y\"]", "[false true]"},
      {"ctx: make object! [x: 5] pick bind [x] ctx 1", "get d", "5"},
  };
  for (const Case& c : cases) {
    for (bool compact_form : {true, false}) {
      Cell* value = eval(c.value);
      const Bytes stream = encode(*value, compact_form);
      set_global("d", *block::head_cell(*decode(stream)));
      EXPECT_EQ(run(c.check), c.expected) << (compact_form ? "compact: " : "plain: ") << c.value;
    }
  }
}

// Every allocation moving every buffer while the writer and reader work.
TEST_F(Zelbin, RoundTripsUnderTheCollectorsStressMode) {
  Cell* value = eval(
      "s: \"shared\" o: make object! [a: s b: [1 2.5 x] f: func [n] [n + 1] me: none] o/me: o "
      "b: reduce [s o make map! reduce ['k s] make hash! [1 2] in o 'a #{01} 1-Jan-2000/1:00] "
      "append/only b b b");
  const std::string expected = mold_all(*value);
  StressEveryAllocation stress;
  for (bool compact_form : {true, false}) {
    const Bytes stream = encode(*value, compact_form);
    const Cell copy = *block::head_cell(*decode(stream));
    EXPECT_EQ(mold_all(copy), expected);
    EXPECT_EQ(mold_all(*block::head_cell(*decode(encode(copy, !compact_form)))), expected);
  }
}

// --- The boot image's records --------------------------------------------------------------------

// Global set-words (set, then gone from the output), words bound by output index, class ids
// kept: read with the user-decoding flag clear, refused with it set.
class ZelbinBoot : public Zelbin {
 protected:
  static Bytes compact_image() {
    const Bytes records = {
        0x20, 0x0E, 0x0E, 0x12, 0x01, 0x01, 0x85,  // object, class 7, [a: 5]
        0xC4, 0x0F, 0x00, 0xAA,                    // global set-word zz, 42
        0xC4, 0x4F, 0x01, 0x00, 0x00, 0x87,        // a bound to output 0, index 0: set to 7
        0x4F, 0x01, 0x00, 0x01,                    // a bound to output 0, found by symbol
    };
    return header(5) + Bytes{0x01, uint8_t(records.size()), 0x02, 0x05} + u32(0) + u32(3) +
           Bytes{'z', 'z', 0, 'a', 0} + records;
  }
  static Bytes plain_image() {
    const Bytes records = Bytes{0x20, 0, 0, 0} + u32(7) + u32(0x4800000E) + u32(1) + u32(1) +
                          Bytes{0x0B, 0, 0, 0} + u32(5) +
                          u32(0x02000010) + u32(0) + u32(0xFFFFFFFF) + u32(0xFFFFFFFF) +
                          Bytes{0x0B, 0, 0, 0} + u32(42) +
                          u32(0x02000010) + u32(1) + u32(0) + u32(0) +
                          Bytes{0x0B, 0, 0, 0} + u32(7) +
                          u32(0x0F) + u32(1) + u32(0) + u32(0xFFFFFFFF);
    return header(4) + u32(1) + u32(uint32_t(records.size())) + u32(2) + u32(16) + u32(0) +
           u32(8) + Bytes{'z', 'z', 0, 0, 0, 0, 0, 0, 'a', 0, 0, 0, 0, 0, 0, 0} + records;
  }
  static void expect_read(const Bytes& image) {
    eval("zz: none");
    Cell* out = block::push_new(4);
    zelbin::user_decoding = false;
    zelbin::read(image.data(), int64_t(image.size()), *out, true);
    set_global("d", *out);
    EXPECT_EQ(run("reduce [length? d zz d/1/a get d/2 reflect d/1 'class]"), "[2 42 7 7 7]");
  }
};

TEST_F(ZelbinBoot, GlobalSetWordsAndBindingByIndex) {
  expect_read(compact_image());
  expect_read(plain_image());
}

TEST_F(ZelbinBoot, UserDataRefusesTheBootRecords) {
  EXPECT_EQ(decode_error(compact_image()), "script/zb-invalid-record 33");
}

TEST_F(ZelbinBoot, LoadBootFillsTheRootBlock) {
  const Bytes image = compact_image();
  const uint32_t before = cell::cell_count(runtime_words::root_block);
  zelbin::load_boot(image.data(), false);
  EXPECT_EQ(zelbin::root_literals, before);
  EXPECT_EQ(cell::cell_count(runtime_words::root_block), before + 2);
  EXPECT_TRUE(zelbin::user_decoding == false);
  // With keep_literals the root literals stay where they were.
  zelbin::load_boot(image.data(), true);
  EXPECT_EQ(zelbin::root_literals, before);
}

// A boot image that is no ZELBIN stream, or whose body does not inflate, ends the process with
// status 0 and the loader's message.
TEST_F(ZelbinBoot, BrokenImagesEndTheProcess) {
  const Bytes not_zelbin = {'Z', 'E', 'L', 'B', 'O', 'X', 1, 1};
  EXPECT_EXIT(
      {
        dup2(2, 1);
        zelbin::load_boot(not_zelbin.data(), false);
      },
      testing::ExitedWithCode(0), "Error: Not a Zelbin file!");
  const Bytes broken = header(3) + u32(4) + Bytes{1, 2, 3, 4};
  EXPECT_EXIT(
      {
        dup2(2, 1);
        zelbin::load_boot(broken.data(), false);
      },
      testing::ExitedWithCode(0), "Error: Zelbin compressed data corrupted!");
}

// --- Refusals ------------------------------------------------------------------------------------

TEST_F(Zelbin, TypesWithoutARecordRaiseNoCodec) {
  Cell* block = block::push_new(2);
  block::append_cell(*block, triple::make(1, 2, 3));
  for (bool compact_form : {true, false}) {
    EXPECT_EQ(raised_by([&] { encode(*block, compact_form); }), "access/no-codec");
  }
  for (uint8_t type : {TYPE_ROUTINE, TYPE_TRIPLE, TYPE_HANDLE, TYPE_PORT, TYPE_VECTOR,
                       TYPE_IMAGE}) {
    EXPECT_EQ(decode_error(compact({type})), "access/no-codec") << int(type);
    EXPECT_EQ(decode_error(plain({type, 0, 0, 0})), "access/no-codec") << int(type);
  }
}

// Malformed streams, each fault at the 1-based position of the failing byte.
TEST_F(Zelbin, MalformedStreamsNameTheFailingByte) {
  struct Case {
    Bytes stream;
    const char* error;
  };
  const Bytes zero = u32(0);
  const Case cases[] = {
      {Bytes{'Z', 'E', 'L', 'B', 'I', 'X', 2, 1, 1, 1, 0x85}, "script/invalid-data"},
      {Bytes{'Z', 'E', 'L', 'B', 'I', 'N', 2}, "script/invalid-data"},
      {header(0) + u32(1) + Bytes{0, 0, 0}, "script/invalid-data"},
      // Compact: records length past the data (byte 10).
      {header(1) + Bytes{1, 5, 0x85}, "script/zb-invalid-record 10"},
      // A varint that the records end cuts short (the byte after them).
      {compact({0x0B, 0x80}), "script/zb-invalid-record 13"},
      // A fifth varint byte with its upper bits set.
      {compact({0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x1F}), "script/zb-invalid-record 16"},
      // Lead bytes no record has, type id 0, a 0xC1 or 0xC4 prefix where it cannot stand.
      {compact({0xC5}), "script/zb-invalid-record 11"},
      {compact({0x00}), "script/zb-invalid-record 11"},
      {compact({0x0D}), "script/zb-invalid-record 11"},
      {compact({0x2A}), "script/zb-invalid-record 11"},
      {compact({0xC1, 0x85}), "script/zb-invalid-record 12"},
      {compact({0xC1, 0x0B, 0x01}), "script/zb-invalid-record 12"},
      {compact({0xC4, 0x0F, 0x00}), "script/zb-invalid-record 11"},
      {compact({0x04}), "script/zb-invalid-record 11"},
      // A symbol index without a symbol table.
      {compact({0x0F, 0x00}), "script/zb-invalid-record 12"},
      // A path index past its array, a path of 0 steps.
      {compact({0x05, 0x01, 0xC1, 0x05, 0x01, 0x05}), "script/zb-invalid-record 16"},
      {compact({0x05, 0x01, 0xC1, 0x05, 0x02, 0x00, 0x01}), "script/zb-invalid-record 17"},
      {compact({0x05, 0x01, 0xC1, 0x05, 0x00}), "script/zb-invalid-record 15"},
      // A reference to a block where a string is read.
      {compact({0x05, 0x01, 0xC1, 0x07, 0x01, 0x00}), "script/zb-invalid-record 15"},
      // Counts past what is left: cells, characters, width code 3.
      {compact({0x05, 0x09, 0x81}), "script/zb-invalid-record 12"},
      {compact({0x07, 0x0C, 'a'}), "script/zb-invalid-record 12"},
      {compact({0x07, 0x07, 'a'}), "script/zb-invalid-record 12"},
      // A code point past 10FFFF in a 4-byte string; a char past it.
      {compact({0x07, 0x06, 0x00, 0x00, 0x11, 0x00}), "script/zb-invalid-record 13"},
      {compact({0x0A, 0x80, 0x80, 0x44}), "script/zb-invalid-record 12"},
      // A tuple of 13 bytes, a typeset of 13, a date of month 13, money with a digit past 9.
      {compact({0x67, 13}), "script/zb-invalid-record 12"},
      {compact({0x21, 13}), "script/zb-invalid-record 12"},
      {compact({0x2F, 0x80, 0xD0, 0xA0, 0x0F}), "script/zb-invalid-record 12"},
      {compact({0x31, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x1A, 0, 0}), "script/zb-invalid-record 12"},
      // A map of an odd count; a block as a map key.
      {compact({0x28, 0x01, 0x81}), "script/zb-invalid-record 12"},
      {compact({0x28, 0x02, 0x05, 0x00, 0x81}), "script/zb-invalid-record 13"},
      // A native index past the table; a native whose spec is no block.
      {compact({0x15, 0x7F, 0x05, 0x00}), "script/zb-invalid-record 12"},
      {compact({0x15, 0x01, 0x81}), "script/zb-invalid-record 13"},
      // A function whose context is not kept on the stack.
      {compact({0x18, 0x00, 0x00, 0x0E, 0x01, 0x00, 0x05, 0x00, 0x05, 0x00}),
       "script/zb-invalid-record 14"},
      // An error code the catalog lacks.
      {compact({0x22, 0xE7, 0x07}), "script/zb-invalid-record 12"},
      // Plain: a header word with no datatype, a string count past the data, a width of 3.
      {plain(Bytes{0x0D, 0, 0, 0}), "script/zb-invalid-record 17"},
      {plain(Bytes{0x07, 1, 0, 0} + zero + u32(0x7FFFFFFF)), "script/zb-invalid-record 25"},
      {plain(Bytes{0x07, 3, 0, 0} + zero + u32(0)), "script/zb-invalid-record 17"},
      {plain(Bytes{0x05, 0, 0, 0} + zero + u32(1000)), "script/zb-invalid-record 25"},
      {plain(Bytes{0x1E, 0, 0, 0} + u32(9) + Bytes{1, 2, 3, 4}), "script/zb-invalid-record 21"},
      {plain(Bytes{0x0B, 0, 0, 0} + Bytes{1, 2}), "script/zb-invalid-record 23"},
      {header(0) + u32(1) + u32(8) + Bytes{0x0B, 0, 0, 0}, "script/zb-invalid-record 13"},
      // Plain symbol table: an offset past the area, a spelling the area does not end.
      {header(4) + u32(1) + u32(0) + u32(1) + u32(4) + u32(4) + Bytes{'a', 'b', 'c', 0},
       "script/zb-invalid-record 25"},
      {header(4) + u32(1) + u32(0) + u32(1) + u32(4) + u32(0) + Bytes{'a', 'b', 'c', 'd'},
       "script/zb-invalid-record 25"},
      {header(4) + u32(1) + u32(0) + u32(0x10000000) + u32(0), "script/zb-invalid-record 17"},
      // Compact symbol table: an area not ended by a 0 byte, an empty spelling.
      {header(5) + Bytes{1, 0, 1, 2} + u32(0) + Bytes{'a', 'b'}, "script/zb-invalid-record 18"},
      {header(5) + Bytes{1, 2, 1, 1} + u32(0) + Bytes{0, 0x0F, 0x00},
       "script/zb-invalid-record 19"},
      // A word bound to an owner record that is neither an object nor a function.
      {header(5) + Bytes{1, 4, 1, 2} + u32(0) + Bytes{'a', 0, 0x4F, 0x00, 0x00, 0x05},
       "script/zb-invalid-record 22"},
  };
  for (const Case& c : cases) EXPECT_EQ(decode_error(c.stream), c.error) << hex(c.stream);
}

// The stream of a value of every kind of record, and the same stream with its records cut to
// `keep` bytes (the records length changed to match), or with one byte changed.
class ZelbinDamaged : public Zelbin {
 protected:
  static Cell* sample() {
    return eval(
        "o: make object! [a: \"x\" f: func [n] [n] on-change*: func [w o n] []] "
        "s: \"\xCE\xA9\" reduce [1 -70000 2.5 12% 0.1 1.2.3.4 $5 1-Jan-2000/10:00 "
        "#\"\xC3\xA9\" s s #{0102} 'w in o 'a o :+ :if make map! [k 1] make hash! [1] "
        "make bitset! \"a\" make typeset! [block!] try [1 / 0] 3x4 (1, 2) next [a b] "
        "pick [a/b:] 1 12:00 integer! true none]");
  }
  // Where the records begin, and the width of the records length field.
  static void records_at(const Bytes& stream, bool compact_form, size_t& length_at,
                         size_t& start) {
    size_t pos = 8;
    auto varint = [&] {
      uint32_t v = 0;
      for (int shift = 0;; shift += 7) {
        uint8_t b = stream[pos++];
        v |= uint32_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return v;
      }
    };
    auto word = [&] {
      pos += 4;
      return uint32_t(stream[pos - 4]) | uint32_t(stream[pos - 3]) << 8 |
             uint32_t(stream[pos - 2]) << 16 | uint32_t(stream[pos - 1]) << 24;
    };
    compact_form ? varint() : word();
    length_at = pos;
    compact_form ? varint() : word();
    if (stream[7] & zelbin::kSymbols) {
      const uint32_t count = compact_form ? varint() : word();
      const uint32_t size = compact_form ? varint() : word();
      pos += 4 * count + size;
    }
    start = pos;
  }
  // Under the collector's stress mode a slice of the positions (each decode collects at every
  // allocation); all of them otherwise.
  static size_t stride() { return gc::stress() ? 23 : 1; }
  static Bytes cut(const Bytes& stream, bool compact_form, size_t keep) {
    size_t length_at, start;
    records_at(stream, compact_form, length_at, start);
    Bytes out(stream.begin(), stream.begin() + length_at);
    if (compact_form) {
      // A two-byte varint keeps its width, so that the symbol table stays where it is.
      out = out + Bytes{uint8_t(keep | 0x80), uint8_t(keep >> 7)};
      out.insert(out.end(), stream.begin() + length_at + 2, stream.begin() + start);
    } else {
      out = out + u32(uint32_t(keep));
      out.insert(out.end(), stream.begin() + length_at + 4, stream.begin() + start);
    }
    out.insert(out.end(), stream.begin() + start, stream.begin() + start + keep);
    return out;
  }
};

// Every cut inside the records leaves a record unfinished: refused, never read past.
TEST_F(ZelbinDamaged, EveryCutOfTheRecordsIsRefused) {
  Cell* value = sample();
  for (bool compact_form : {true, false}) {
    const Bytes stream = encode(*value, compact_form);
    size_t length_at, start;
    records_at(stream, compact_form, length_at, start);
    ASSERT_GE(stream.size() - start, 128u);  // the records length takes two varint bytes
    ASSERT_LT(stream.size() - start, 1u << 14);
    EXPECT_EQ(decode_error(cut(stream, compact_form, stream.size() - start)), "");
    for (size_t keep = 1; keep < stream.size() - start; keep += stride()) {
      const std::string error = decode_error(cut(stream, compact_form, keep));
      EXPECT_EQ(error.rfind("script/zb-invalid-record ", 0), 0u) << keep << ": " << error;
    }
    // And cut anywhere in the header or the symbol table, the stream is refused as well.
    for (size_t length = 0; length < start; length++) {
      const std::string error = decode_error(Bytes(stream.begin(), stream.begin() + length));
      EXPECT_TRUE(error.rfind("script/zb-invalid-record ", 0) == 0 ||
                  error == "script/invalid-data")
          << length << ": " << error;
    }
  }
}

// Any one byte changed: the stream decodes to some value or is refused with an error; under
// the sanitizers, nothing is read outside the input.
TEST_F(ZelbinDamaged, EverySingleByteChangeDecodesOrIsRefused) {
  Cell* value = sample();
  for (bool compact_form : {true, false}) {
    const Bytes stream = encode(*value, compact_form);
    for (size_t at = 8; at < stream.size(); at += stride()) {
      for (uint8_t change : {0x01, 0x40, 0x80, 0xFF}) {
        Bytes damaged = stream;
        damaged[at] ^= change;
        const std::string error = decode_error(damaged);
        EXPECT_TRUE(error.empty() || error.rfind("script/zb-invalid-record ", 0) == 0 ||
                    error == "access/no-codec")
            << at << ": " << error;
      }
    }
  }
}

}  // namespace
