// binary!: the base-2/16/64 codecs (round trips, blanks and comments, bad digits, bytes above
// 127), the byte text of mold, the conversions of to binary!, the byte writer behind append,
// insert and change, comparison, the bitwise actions, complement and trim.
#include <string>
#include <vector>

#include "byte_test_support.h"
#include "datatypes/word.h"

namespace {

class Binary : public byte_test::ByteTest {
 protected:
  static Cell* to(const Cell& spec) {
    Cell* s = stack::push_copy(spec);
    Cell* proto = stack::push_new();
    *proto = Cell{TYPE_DATATYPE, TYPE_BINARY, 0, 0};
    return datatype::lookup<action::TO>(TYPE_BINARY)(proto, s, TYPE_BINARY);
  }
  static std::string mold_binary(const Cell& value, bool only, bool flat, int32_t indent,
                                 int32_t part = INT32_MAX) {
    Cell* v = stack::push_copy(value);
    Cell* out = stack::push_new();
    *out = constants::none;
    string::init_empty(out, 16);
    datatype::lookup<action::MOLD>(TYPE_BINARY)(v, out, {.only = only, .flat = flat}, nullptr, part,
                                                indent);
    return text_of(*out);
  }
  static int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    Cell x = a, y = b;
    return datatype::lookup<action::COMPARE>(TYPE_BINARY)(&x, &y, op);
  }
  // Decodes through the by-base entry; "!" when it fails (and the cell must be left alone).
  static std::string decode(int base, std::string_view input) {
    Cell* out = stack::push_copy(constants::none);
    bool ok = binary::decode_base(base, reinterpret_cast<const uint8_t*>(input.data()),
                                  input.size(), out);
    if (!ok) {
      EXPECT_EQ(cell::type_of(*out), TYPE_NONE);
      return "!";
    }
    EXPECT_EQ(cell::type_of(*out), TYPE_BINARY);
    return read(*out);
  }
  static std::string encode(int base, std::string_view input) {
    std::string text;
    EXPECT_TRUE(binary::encode_base(base, reinterpret_cast<const uint8_t*>(input.data()),
                                    input.size(), text));
    return text;
  }
};

TEST_F(Binary, EncodersRoundTripThroughTheDecoders) {
  struct Case {
    std::string bytes;
    const char* base2;
    const char* base16;
    const char* base58;
    const char* base64;
  } cases[] = {
      {"", "", "", "", ""},
      {"a", "01100001", "61", "2g", "YQ=="},
      {"ab", "0110000101100010", "6162", "8Qq", "YWI="},
      {"abc", "011000010110001001100011", "616263", "ZiCa", "YWJj"},
      {std::string("\x00\xFF\xFE", 3), "000000001111111111111110", "00FFFE", "1LUu", "AP/+"},
      {"foobar", nullptr, "666F6F626172", "t1Zv2yaZ", "Zm9vYmFy"},
  };
  for (const Case& c : cases) {
    if (c.base2) {
      EXPECT_EQ(encode(2, c.bytes), c.base2);
    }
    EXPECT_EQ(encode(16, c.bytes), c.base16);
    EXPECT_EQ(encode(58, c.bytes), c.base58);
    EXPECT_EQ(encode(64, c.bytes), c.base64);
    for (int base : {2, 16, 58, 64}) {
      EXPECT_EQ(decode(base, encode(base, c.bytes)), c.bytes) << base;
    }
  }
  std::string all;
  for (int i = 0; i < 256; i++) all += char(i);
  for (int base : {2, 16, 58, 64}) EXPECT_EQ(decode(base, encode(base, all)), all) << base;
  std::string zeros(5, '\0');
  EXPECT_EQ(encode(58, zeros), "11111");
  EXPECT_EQ(decode(58, "11111"), zeros);
  std::string ignored;
  EXPECT_FALSE(binary::encode_base(32, nullptr, 0, ignored));
}

TEST_F(Binary, DecodersSkipBlanksAndCommentsAndRefuseEverythingElse) {
  struct Case {
    int base;
    std::string input;
    std::string expected;  // "!" when decoding fails
  } cases[] = {
      {2, "0000 0001 ; a comment 0101\n\t11111111", "\x01\xFF"},
      {2, "1010", "!"},                 // not a whole byte
      {2, "00000002", "!"},
      {2, "0000000\xB1", "!"},          // 0xB1 is not "1"
      {2, "", ""},
      {16, "de AD;ff\nbe", "\xDE\xAD\xBE"},
      {16, "ABC", "\xAB"},              // the last unpaired digit is dropped
      {16, "AG", "!"},
      {16, "", ""},
      {16, "  ; only a comment", ""},
      {16, "\xC1\xC1", "!"},            // 0xC1 must not read as "A"
      {16, "0\xB0", "!"},               // nor 0xB0 as "0"
      {16, "\xE1" "1", "!"},            // nor 0xE1 as "a"
      {64, "YW Jj", "abc"},
      {64, "'YWJj'", "abc"},
      {64, "YW;x\nJj", "abc"},
      {64, "YWI", "ab"},
      {64, "YQ==YWJj", "aabc"},
      {64, "Y", "!"},
      {64, "Y=", "!"},
      {64, "YW*j", "!"},
      {64, "YW\x80j", "!"},             // bytes above 127 never index the digit table
      {64, "YW\xFFj", "!"},
      {64, "YW\xC1j", "!"},
      {64, "YWJj\x01", "!"},
      {58, "1", std::string(1, '\0')},
      {58, " 2g ; a comment\n", "a"},
      {58, "'2g'", "a"},
      {58, "0", "!"},                   // 0, O, I and l are no digits
      {58, "2O", "!"},
      {58, "2I", "!"},
      {58, "2l", "!"},
      {58, "2g\x80zz", "a"},             // reading stops at a byte above 127
      {58, "2g\x01", "!"},
      {32, "AA", "!"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decode(c.base, c.input), c.expected) << c.base << " " << c.input;
  }
}

TEST_F(Binary, MoldLaysOutLongBinariesInLinesOf32Bytes) {
  std::string forty;
  for (int i = 0; i < 40; i++) forty += char(i);
  Cell* long_one = bytes(forty);
  std::string hex = binary::encode_base16(reinterpret_cast<const uint8_t*>(forty.data()), 40);
  struct Case {
    const Cell* value;
    bool only;
    bool flat;
    int32_t indent;
    std::string expected;
  } cases[] = {
      {long_one, false, false, 0,
       "#{\n    " + hex.substr(0, 64) + "\n    " + hex.substr(64) + "\n}"},
      {long_one, false, false, 1,
       "#{\n        " + hex.substr(0, 64) + "\n        " + hex.substr(64) + "\n    }"},
      {long_one, false, true, 0, "#{" + hex + "}"},
      {bytes(forty.substr(0, 32)), false, false, 0, "#{" + hex.substr(0, 64) + "}"},
      {bytes(""), false, false, 0, "#{}"},
      {bytes("\x0A\xFF"), true, false, 0, "0AFF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mold_binary(*c.value, c.only, c.flat, c.indent), c.expected);
  }
  EXPECT_EQ(form(*bytes("\x01\xab")), "#{01AB}");
  // The part budget stops the digits early.
  EXPECT_LT(mold_binary(*long_one, false, true, 0, 10).size(), 20u);
  // From the head on.
  Cell* at_second = bytes("\x01\x02\x03");
  at_second->w1 = 1;
  EXPECT_EQ(mold(*at_second), "#{0203}");
}

TEST_F(Binary, ToBinaryConvertsEachKindOfValue) {
  Cell one_float{TYPE_FLOAT, 0, 0, 0};
  cell::set_double(one_float, 1.0);
  Cell half{TYPE_PERCENT, 0, 0, 0};
  cell::set_double(half, 0.5);
  Cell tuple{TYPE_TUPLE | (3u << 19), 0x030201, 0, 0};
  // The count field reaches 15 but the payload holds 12 bytes: nothing past the cell is read.
  Cell overcounted{TYPE_TUPLE | (15u << 19), 0x04030201, 0x08070605, 0x0C0B0A09};
  struct Case {
    const char* label;
    Cell* spec;
    std::string expected;
  };
  std::vector<Case> cases = {
      {"integer", stack::push_copy(integer(1)), std::string("\0\0\0\x01", 4)},
      {"negative integer", stack::push_copy(integer(-2)), "\xFF\xFF\xFF\xFE"},
      {"float", stack::push_copy(one_float), std::string("\x3F\xF0\0\0\0\0\0\0", 8)},
      {"percent", stack::push_copy(half), std::string("\x3F\xE0\0\0\0\0\0\0", 8)},
      {"char", stack::push_copy(chr(0xE9)), "\xC3\xA9"},
      {"string", text("a\xC3\xA9\xE4\xB8\xAD"), "a\xC3\xA9\xE4\xB8\xAD"},
      {"issue", word::make_issue("0aFF"), "\x0A\xFF"},
      {"tuple", stack::push_copy(tuple), "\x01\x02\x03"},
      {"tuple counting past its payload", stack::push_copy(overcounted),
       "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C"},
      {"binary", bytes("\x01\x02"), "\x01\x02"},
      {"block", block_of({integer(1), chr('a'), *text("bc"), *bytes("\xCC")}), "\x01" "abc\xCC"},
  };
  for (const Case& c : cases) EXPECT_EQ(read(*to(*c.spec)), c.expected) << c.label;

  Cell* copied = bytes("\x05");
  Cell* copy = to(*copied);
  EXPECT_NE(copy->w2, copied->w2);

  EXPECT_EQ(raised_by([&] { to(*word::make_issue("xyz")); }), "script/invalid-data");
  EXPECT_EQ(raised_by([&] { to(constants::none); }), "script/bad-to-arg");
  EXPECT_EQ(raised_by([&] { to(*block_of({integer(256)})); }), "script/invalid-arg");
}

TEST_F(Binary, AppendAndInsertWriteTheValuesBytes) {
  struct Case {
    const char* label;
    Cell* value;
    int32_t part;
    int32_t dup;
    bool append;
    std::string result;  // the whole buffer
    uint32_t head;       // where the series is left
  };
  std::vector<Case> cases = {
      {"byte", stack::push_copy(integer(7)), -1, 1, true, "\x01\x02\x07", 0},
      {"negative byte", stack::push_copy(integer(-1)), -1, 1, true, "\x01\x02\xFF", 0},
      {"lowest byte", stack::push_copy(integer(-128)), -1, 1, true, "\x01\x02\x80", 0},
      {"char", stack::push_copy(chr(0x4E2D)), -1, 1, true, "\x01\x02\xE4\xB8\xAD", 0},
      {"char part", stack::push_copy(chr(0x4E2D)), 2, 1, true, "\x01\x02\xE4\xB8", 0},
      {"string part", text("abc"), 2, 1, true, "\x01\x02" "ab", 0},
      {"binary dup", bytes("\xAA\xBB"), -1, 3, true, "\x01\x02\xAA\xBB\xAA\xBB\xAA\xBB", 0},
      {"block", block_of({integer(3), chr('x')}), -1, 1, true, "\x01\x02\x03x", 0},
      {"insert", bytes("\xAA"), -1, 2, false, "\x01\xAA\xAA\x02", 3},
  };
  for (const Case& c : cases) {
    Cell* series = bytes("\x01\x02");
    series->w1 = c.append ? 0 : 1;
    auto fn = c.append ? datatype::lookup<action::APPEND>(TYPE_BINARY)
                       : datatype::lookup<action::INSERT>(TYPE_BINARY);
    fn(series, c.value, c.part, false, c.dup, c.append);
    EXPECT_EQ(series->w1, c.head) << c.label;
    series->w1 = 0;
    EXPECT_EQ(read(*series), c.result) << c.label;
  }

  // A binary appended to itself writes what it held before.
  Cell* self = bytes("\x01\x02");
  Cell* same = stack::push_copy(*self);
  datatype::lookup<action::APPEND>(TYPE_BINARY)(self, same, -1, false, 2, true);
  EXPECT_EQ(read(*self), "\x01\x02\x01\x02\x01\x02");

  auto append = datatype::lookup<action::APPEND>(TYPE_BINARY);
  struct Bad {
    Cell value;
    int32_t dup;
    const char* error;
  } bad[] = {
      {integer(256), 1, "script/invalid-arg"},
      {integer(-129), 1, "script/invalid-arg"},
      {constants::none, 1, "script/invalid-arg"},
      {integer(1), INT32_MAX, "internal/no-memory"},
  };
  for (const Bad& b : bad) {
    Cell* series = bytes("\x01");
    Cell* value = stack::push_copy(b.value);
    EXPECT_EQ(raised_by([&] { append(series, value, -1, false, b.dup, true); }), b.error);
    EXPECT_EQ(read(*series), "\x01");
  }
}

TEST_F(Binary, ChangeOverwritesFromTheHeadGrowingOrShrinking) {
  struct Case {
    uint32_t head;
    const char* value;
    int32_t part;
    std::string result;
    uint32_t new_head;
  } cases[] = {
      {0, "\xAA", -1, "\xAA\x02\x03", 1},
      {0, "\xAA", 2, "\xAA\x03", 1},
      {0, "\xAA", 0, "\xAA\x01\x02\x03", 1},
      {0, "\xAA\xBB", 10, "\xAA\xBB", 2},
      {2, "\xAA\xBB\xCC", -1, "\x01\x02\xAA\xBB\xCC", 5},
  };
  for (const Case& c : cases) {
    Cell* series = bytes("\x01\x02\x03");
    series->w1 = c.head;
    Cell* value = bytes(c.value);
    datatype::lookup<action::CHANGE>(TYPE_BINARY)(series, value, c.part, false, 1);
    EXPECT_EQ(series->w1, c.new_head);
    series->w1 = 0;
    EXPECT_EQ(read(*series), c.result);
  }
}

TEST_F(Binary, CompareTakesUnsignedBytesAndOnlyBinaries) {
  struct Case {
    std::string a;
    std::string b;
    int32_t op;
    int32_t sign;
  } cases[] = {
      {"\x01", "\x02", action::LESSER, -1},
      {"\x01\x02", "\x01", action::LESSER, 1},
      {"\x01", std::string("\x01\x00", 2), action::LESSER, -1},
      {"\xFF", "\x01", action::LESSER, 1},
      {"\x01\x02", "\x01\x02", action::EQUAL, 0},
      {"", "", action::EQUAL, 0},
  };
  for (const Case& c : cases) {
    int32_t r = compare(*bytes(c.a), *bytes(c.b), c.op);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a.size() << " " << c.b.size();
  }
  Cell* b = bytes("abc");
  EXPECT_EQ(compare(*b, *text("abc"), action::EQUAL), action::kNotComparable);
  EXPECT_EQ(compare(*b, *b, action::SAME), 0);
  EXPECT_NE(compare(*b, *bytes("abc"), action::SAME), 0);
  EXPECT_EQ(binary::compare_bytes(*b, *bytes("ab"), action::EQUAL, true), 0);
  EXPECT_NE(binary::compare_bytes(*b, *bytes("abcd"), action::EQUAL, true), 0);
}

TEST_F(Binary, BitwiseActionsSpanTheLongerOperand) {
  struct Case {
    action::Slot slot;
    const char* a;
    const char* b;
    std::string expected;
  } cases[] = {
      {action::AND_T, "\xF0\xF0", "\x0F\xFF\x11", std::string("\x00\xF0\x00", 3)},
      {action::OR_T, "\xF0\xF0", "\x0F\xFF\x11", "\xFF\xFF\x11"},
      {action::XOR_T, "\xF0\xF0", "\x0F\xFF\x11", "\xFF\x0F\x11"},
      {action::XOR_T, "\x0F\xFF\x11", "\xF0", "\xFF\xFF\x11"},
      {action::AND_T, "", "\x01", std::string("\x00", 1)},
  };
  for (const Case& c : cases) {
    auto fn = datatype::lookup<action::AND_T>(TYPE_BINARY);
    if (c.slot == action::OR_T) fn = datatype::lookup<action::OR_T>(TYPE_BINARY);
    if (c.slot == action::XOR_T) fn = datatype::lookup<action::XOR_T>(TYPE_BINARY);
    Cell* a = bytes(c.a);
    Cell* r = on_frame(fn, *a, *bytes(c.b));
    EXPECT_EQ(read(*r), c.expected);
    EXPECT_NE(r->w2, a->w2);  // a new binary
  }
  Cell* a = bytes("\x01");
  auto or_t = datatype::lookup<action::OR_T>(TYPE_BINARY);
  EXPECT_EQ(raised_by([&] { on_frame(or_t, *a, integer(1)); }), "script/invalid-arg");
}

TEST_F(Binary, ComplementInvertsTheBytesFromTheHeadInPlace) {
  Cell* b = bytes(std::string("\x00\x0F\xFF", 3));
  Cell* view = stack::push_copy(*b);
  view->w1 = 1;
  Cell* r = datatype::lookup<action::COMPLEMENT>(TYPE_BINARY)(view);
  EXPECT_EQ(r->w2, b->w2);
  EXPECT_EQ(read(*b), std::string("\x00\xF0\x00", 3));
}

TEST_F(Binary, TrimRemovesZeroBytesOrTheWithBytes) {
  auto trim = datatype::lookup<action::TRIM>(TYPE_BINARY);
  const std::string input("\x00\x00\x01\x00\x02\x00", 6);
  struct Case {
    const char* label;
    bool head, tail, all;
    Cell* with;
    std::string expected;
  };
  std::vector<Case> cases = {
      {"both ends", false, false, false, nullptr, std::string("\x01\x00\x02", 3)},
      {"head", true, false, false, nullptr, std::string("\x01\x00\x02\x00", 4)},
      {"tail", false, true, false, nullptr, std::string("\x00\x00\x01\x00\x02", 5)},
      {"all", false, false, true, nullptr, "\x01\x02"},
      {"with", false, false, false, bytes("\x01"), std::string("\x00\x00\x00\x02\x00", 5)},
      {"with text", false, false, false, text("\x02"), std::string("\x00\x00\x01\x00\x00", 5)},
  };
  for (const Case& c : cases) {
    Cell* b = bytes(input);
    trim(b, {.head = c.head, .tail = c.tail, .all = c.all, .with = c.with});
    EXPECT_EQ(read(*b), c.expected) << c.label;
  }
  Cell* b = bytes(input);
  EXPECT_EQ(raised_by([&] { trim(b, {.auto_ = true}); }),
            "internal/not-done");
  Cell* zeros = bytes(std::string(3, '\0'));
  trim(zeros, {});
  EXPECT_EQ(read(*zeros), "");
}

TEST_F(Binary, StoreByteTakesTheLowByteOfIntegersAndChars) {
  uint8_t byte = 0;
  binary::store_byte(&byte, integer(0x12C));
  EXPECT_EQ(byte, 0x2C);
  binary::store_byte(&byte, chr('A'));
  EXPECT_EQ(byte, 'A');
  EXPECT_EQ(raised_by([&] { binary::store_byte(&byte, constants::none); }), "script/invalid-arg");
  EXPECT_EQ(byte, 'A');
}

}  // namespace
