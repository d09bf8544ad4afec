// Unicode text: the UTF-8 automaton against the definition of well-formed UTF-8, strict loading
// and its errors, widening, UTF-8 and UTF-16 output through the conversion cache, UTF-16 input,
// and buffers moving under the collector while a conversion runs.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/alloc.h"
#include "runtime/gc.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"
#include "gc_stress.h"

namespace {

using alloc::Series;
using Bytes = std::vector<uint8_t>;
using Points = std::vector<uint32_t>;

// --- Helpers -------------------------------------------------------------------------------------

Points elements_of(uint32_t node) {
  Series* s = alloc::series_of(node);
  Points out;
  for (uint32_t off = s->head; off < s->tail; off += s->unit()) {
    uint32_t v = 0;
    std::memcpy(&v, s->data() + off, s->unit());
    out.push_back(v);
  }
  return out;
}

uint32_t unit_of(uint32_t node) { return alloc::series_of(node)->unit(); }

// A string buffer of the given unit holding the code points, with `spare` elements of room.
uint32_t make_buffer(const Points& points, uint32_t unit, uint32_t spare = 0) {
  uint32_t node = alloc::new_unit_series(uint32_t(points.size()) + spare, unit);
  Series* s = alloc::series_of(node);
  for (size_t i = 0; i < points.size(); i++) std::memcpy(s->data() + i * unit, &points[i], unit);
  s->tail = uint32_t(points.size() * unit);
  return node;
}

Cell string_value(uint32_t node, uint32_t index = 0) {
  return cell::make_series(TYPE_STRING, node, index);
}

Bytes utf8_of(const Points& points) {
  Bytes out;
  for (uint32_t cp : points) {
    uint8_t form[4];
    uint32_t n = unicode::encode_utf8_char(cp, form);
    out.insert(out.end(), form, form + n);
  }
  return out;
}

// What the last raise carried: names and the first argument (integer or binary bytes).
struct Raised {
  std::string category, id;
  int64_t integer = -1;
  Bytes binary;
};
Raised last_raise;

[[noreturn]] void recording_raiser(const char* category, const char* id, const Cell* a1,
                                   const Cell*, const Cell*) {
  last_raise = Raised{category, id, -1, {}};
  if (a1 && cell::type_of(*a1) == TYPE_INTEGER) last_raise.integer = int32_t(a1->w2);
  if (a1 && cell::type_of(*a1) == TYPE_BINARY) {
    Series* s = alloc::series_of(a1->w2);
    last_raise.binary.assign(s->head_ptr(), s->tail_ptr());
  }
  throw rt::Throw{rt::kThrowError};
}

class Unicode : public testing::Test {
 protected:
  void SetUp() override {
    gc::set_type_marker(TYPE_STRING, gc::mark_series_cell);
    previous_raiser_ = rt::set_error_raiser(recording_raiser);
    last_raise = Raised{};
  }
  void TearDown() override { rt::set_error_raiser(previous_raiser_); }
  rt::ErrorRaiser previous_raiser_ = nullptr;
};

// Runs fn, which must raise category/id; returns what the raise carried.
template <class Fn>
Raised expect_raise(Fn&& fn, const char* category, const char* id) {
  last_raise = Raised{};
  uint32_t code = rt::catch_codes(rt::kThrowError, fn);
  EXPECT_EQ(code, rt::kThrowError);
  EXPECT_EQ(last_raise.category, category);
  EXPECT_EQ(last_raise.id, id);
  return last_raise;
}

// --- The UTF-8 automaton against the definition ------------------------------------------------

// Well-formed UTF-8 as the Unicode standard tabulates it: per lead byte, the sequence length and
// the range allowed for the second byte (later bytes are 80-BF).
struct Form {
  int length;
  uint8_t low, high;
};
Form form_of(uint8_t lead) {
  if (lead <= 0x7F) return {1, 0, 0};
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
  if (lead == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

// What decode_utf8_dfa must give for the n bytes at p: code point (-1 when not well formed) and
// bytes consumed (through the first offending byte, or all n when they end a valid prefix).
struct Expected {
  int32_t code_point;
  size_t consumed;
};
Expected reference_decode(const uint8_t* p, size_t n) {
  Form f = form_of(p[0]);
  if (f.length == 0) return {-1, 1};
  static constexpr uint8_t kLeadBits[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  int32_t cp = p[0] & kLeadBits[f.length];
  for (int i = 1; i < f.length; i++) {
    if (size_t(i) >= n) return {-1, n};
    uint8_t low = i == 1 ? f.low : 0x80, high = i == 1 ? f.high : 0xBF;
    if (p[i] < low || p[i] > high) return {-1, size_t(i) + 1};
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  return {cp, size_t(f.length)};
}

void expect_dfa_agrees(const uint8_t* p, size_t n) {
  Expected want = reference_decode(p, n);
  int32_t cp = 0;
  const uint8_t* after = unicode::decode_utf8_dfa(p, p + n, cp);
  if (cp != want.code_point || size_t(after - p) != want.consumed) {
    ADD_FAILURE() << "bytes " << std::hex << int(p[0]) << " " << int(p[1]) << " " << int(p[2])
                  << " " << int(p[3]) << " (n=" << n << "): got " << cp << "/" << (after - p)
                  << ", want " << want.code_point << "/" << want.consumed;
  }
}

TEST(UnicodeDfa, AgreesWithTheDefinitionOnEveryThreeByteInput) {
  uint8_t b[4] = {0, 0, 0, 0};
  for (int b0 = 0; b0 < 256; b0++) {
    b[0] = uint8_t(b0);
    expect_dfa_agrees(b, 1);
    for (int b1 = 0; b1 < 256; b1++) {
      b[1] = uint8_t(b1);
      expect_dfa_agrees(b, 2);
      for (int b2 = 0; b2 < 256; b2++) {
        b[2] = uint8_t(b2);
        expect_dfa_agrees(b, 3);
      }
    }
    if (HasFailure()) return;
  }
}

TEST(UnicodeDfa, AgreesWithTheDefinitionOnFourByteInputs) {
  const uint8_t lasts[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0xBF, 0xC0, 0xFF};
  uint8_t b[4];
  for (int b0 = 0xF0; b0 <= 0xF8; b0++) {
    for (int b1 = 0; b1 < 256; b1++) {
      for (int b2 = 0; b2 < 256; b2++) {
        for (uint8_t b3 : lasts) {
          b[0] = uint8_t(b0), b[1] = uint8_t(b1), b[2] = uint8_t(b2), b[3] = b3;
          expect_dfa_agrees(b, 4);
        }
      }
    }
    if (HasFailure()) return;
  }
}

TEST(UnicodeDfa, DecodesEveryScalarValueAndNeverReadsPastTheEnd) {
  for (uint32_t cp = 0; cp <= unicode::kMaxCodePoint; cp++) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    uint8_t form[4];
    uint32_t n = unicode::encode_utf8_char(cp, form);
    // An exactly sized heap copy, so that a read past the end shows under the address sanitizer.
    std::vector<uint8_t> exact(form, form + n);
    int32_t got = -2;
    const uint8_t* after = unicode::decode_utf8_dfa(exact.data(), exact.data() + n, got);
    ASSERT_EQ(got, int32_t(cp));
    ASSERT_EQ(after, exact.data() + n);
  }
}

TEST(UnicodeDfa, CountsAndSkipsSequences) {
  // a, e-acute, euro, grinning face, a stray continuation, then C3 cut by the end.
  Bytes text = {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80, 0x80, 0xC3};
  const uint8_t* start = text.data();
  const uint8_t* end = start + text.size();
  EXPECT_EQ(unicode::count_utf8_chars(start, end), 6u);
  EXPECT_EQ(unicode::skip_utf8_chars(start, end, 3), start + 6);
  EXPECT_EQ(unicode::skip_utf8_chars(start, end, 100), end);
  EXPECT_EQ(unicode::skip_utf8_chars(start, end, 0), start);
  int32_t cp = 0;
  EXPECT_EQ(unicode::decode_utf8_dfa(end, end, cp), end);
  EXPECT_EQ(cp, -1);
}

TEST(UnicodeDfa, LeadLength) {
  struct Case {
    uint8_t byte;
    uint32_t length;
  };
  const Case cases[] = {{0x00, 0}, {0x7F, 0}, {0x80, 0}, {0xBF, 0}, {0xC0, 2},
                        {0xDF, 2}, {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xFF, 4}};
  for (const Case& c : cases) EXPECT_EQ(unicode::utf8_lead_length(c.byte), c.length) << int(c.byte);
}

// --- Loading UTF-8 -------------------------------------------------------------------------------

struct LoadCase {
  const char* name;
  Bytes input;
  bool fold_cr;
  uint32_t unit;
  Points elements;
  uint32_t remaining;
};

const LoadCase kLoadCases[] = {
    {"empty", {}, false, 1, {}, 0},
    {"byte-order mark alone", {0xEF, 0xBB, 0xBF}, false, 1, {}, 0},
    {"byte-order mark then A", {0xEF, 0xBB, 0xBF, 0x41}, false, 1, {0x41}, 0},
    {"two bytes of a mark are a cut sequence", {0xEF, 0xBB}, false, 1, {}, 2},
    {"C3 A9 fits Latin-1", {0xC3, 0xA9}, false, 1, {0xE9}, 0},
    {"euro needs unit 2", {0xE2, 0x82, 0xAC}, false, 2, {0x20AC}, 0},
    {"emoji needs unit 4", {0xF0, 0x9F, 0x98, 0x80}, false, 4, {0x1F600}, 0},
    {"E9 first, U+10000 tenth",
     {0xC3, 0xA9, '1', '2', '3', '4', '5', '6', '7', '8', 0xF0, 0x90, 0x80, 0x80},
     false,
     4,
     {0xE9, '1', '2', '3', '4', '5', '6', '7', '8', 0x10000},
     0},
    {"euro then Latin-1 then emoji", {0xE2, 0x82, 0xAC, 0xC3, 0xBF, 0xF4, 0x8F, 0xBF, 0xBF},
     false, 4, {0x20AC, 0xFF, 0x10FFFF}, 0},
    {"C3 cut at the end", {'a', 'b', 0xC3}, false, 1, {'a', 'b'}, 1},
    {"emoji cut at the end", {'a', 0xF0, 0x9F, 0x98}, false, 1, {'a'}, 3},
    {"CR LF folds", {'a', '\r', '\n', 'b'}, true, 1, {'a', '\n', 'b'}, 0},
    {"lone CR folds", {'a', '\r', 'b'}, true, 1, {'a', '\n', 'b'}, 0},
    {"CR CR LF", {'a', '\r', '\r', '\n', 'b'}, true, 1, {'a', '\n', '\n', 'b'}, 0},
    {"CR last", {'a', '\r'}, true, 1, {'a', '\n'}, 0},
    {"CR before a cut sequence", {'a', '\r', 0xE2, 0x82}, true, 1, {'a', '\n'}, 2},
    {"no folding keeps CR", {'a', '\r', '\n', 'b'}, false, 1, {'a', '\r', '\n', 'b'}, 0},
};

TEST_F(Unicode, LoadUtf8IntoANewBuffer) {
  for (const LoadCase& c : kLoadCases) {
    SCOPED_TRACE(c.name);
    uint32_t remaining = 99;
    uint32_t node = unicode::load_utf8(c.input.data(), c.input.size(), 0, &remaining, c.fold_cr);
    EXPECT_EQ(unit_of(node), c.unit);
    EXPECT_EQ(elements_of(node), c.elements);
    EXPECT_EQ(remaining, c.remaining);
  }
}

TEST_F(Unicode, LoadUtf8ReplacesATargetAndNeverNarrowsIt) {
  StressEveryAllocation stress;
  for (const LoadCase& c : kLoadCases) {
    SCOPED_TRACE(c.name);
    for (uint32_t target_unit : {1u, 2u, 4u}) {
      // A full target: a longer text makes it move.
      uint32_t target = make_buffer({'o', 'l', 'd'}, target_unit);
      gc::Guard guard(target);
      uint32_t remaining = 99;
      uint32_t node =
          unicode::load_utf8(c.input.data(), c.input.size(), target, &remaining, c.fold_cr);
      EXPECT_EQ(node, target);
      EXPECT_EQ(unit_of(node), std::max(c.unit, target_unit));
      EXPECT_EQ(elements_of(node), c.elements);
      EXPECT_EQ(remaining, c.remaining);
    }
  }
}

TEST_F(Unicode, LoadUtf8FromASeriesThatMovesAtTheAllocation) {
  StressEveryAllocation stress;
  const Bytes text = {'x', 'x', 0xC3, 0xA9, '\r', '\n', 0xF0, 0x9F, 0x98, 0x80, '!', 'y'};
  uint32_t source = alloc::new_byte_series(uint32_t(text.size()));
  gc::Guard guard(source);
  Series* s = alloc::series_of(source);
  std::memcpy(s->data(), text.data(), text.size());
  s->tail = uint32_t(text.size());
  uint32_t remaining = 99;
  uint32_t node = unicode::load_utf8(source, 2, text.size() - 3, 0, &remaining, true);
  EXPECT_EQ(unit_of(node), 4u);
  EXPECT_EQ(elements_of(node), (Points{0xE9, '\n', 0x1F600, '!'}));
  EXPECT_EQ(remaining, 0u);
}

TEST_F(Unicode, DecodeUtf8IntoAndNew) {
  uint32_t target = make_buffer({'z'}, 1, 20);
  gc::Guard guard(target);
  Cell value = string_value(target);
  const Bytes text = {'a', '\r', '\n', 0xE2, 0x82, 0xAC, 0xE2};
  uint32_t remaining = 99;
  EXPECT_EQ(unicode::decode_utf8_into(text.data(), text.size(), value, &remaining), target);
  EXPECT_EQ(elements_of(target), (Points{'a', '\r', '\n', 0x20AC}));  // no CR folding
  EXPECT_EQ(remaining, 1u);
  uint32_t fresh = unicode::decode_utf8_new(text.data(), text.size() - 1);
  EXPECT_NE(fresh, target);
  EXPECT_EQ(elements_of(fresh), (Points{'a', '\r', '\n', 0x20AC}));
}

struct InvalidCase {
  const char* name;
  Bytes input;
  Bytes reported;  // the binary! carried by the error
};

const InvalidCase kInvalidCases[] = {
    {"stray continuation", {0x80}, {0x80}},
    {"F8 never leads", {0xF8, 0x80, 0x80, 0x80, 0x80}, {0xF8, 0x80, 0x80, 0x80}},
    {"F5 would exceed 10FFFF", {0xF5, 0x80, 0x80, 0x80}, {0xF5, 0x80, 0x80, 0x80}},
    {"encoded low surrogate", {0xED, 0xB0, 0x80}, {0xED, 0xB0, 0x80}},
    {"encoded high surrogate", {0xED, 0xA0, 0x80, 'a', 'b'}, {0xED, 0xA0, 0x80, 'a'}},
    {"overlong NUL", {0xC0, 0x80}, {0xC0, 0x80}},
    {"overlong C1", {0xC1, 0xBF}, {0xC1, 0xBF}},
    {"overlong three bytes", {0xE0, 0x80, 0x80}, {0xE0, 0x80, 0x80}},
    {"overlong four bytes", {0xF0, 0x80, 0x80, 0x80}, {0xF0, 0x80, 0x80, 0x80}},
    {"above 10FFFF", {0xF4, 0x90, 0x80, 0x80}, {0xF4, 0x90, 0x80, 0x80}},
    {"C0 alone at the end cannot begin anything", {'a', 0xC0}, {0xC0}},
    {"lead without its continuation", {'a', 0xC3, 'A', 'b', 'c', 'd'}, {0xC3, 'A', 'b', 'c'}},
    {"after a byte-order mark", {0xEF, 0xBB, 0xBF, 0xFF}, {0xFF}},
};

TEST_F(Unicode, MalformedUtf8RaisesInvalidUtf8WithTheBytesAndLeavesTheTargetAlone) {
  for (const InvalidCase& c : kInvalidCases) {
    SCOPED_TRACE(c.name);
    uint32_t target = make_buffer({'k', 'e', 'e', 'p'}, 1);
    gc::Guard guard(target);
    Raised r = expect_raise(
        [&] { unicode::load_utf8(c.input.data(), c.input.size(), target, nullptr, true); },
        "access", "invalid-utf8");
    EXPECT_EQ(r.binary, c.reported);
    EXPECT_EQ(elements_of(target), (Points{'k', 'e', 'e', 'p'}));
  }
}

TEST_F(Unicode, CheckedDecodeOfOneCharacter) {
  struct Case {
    Bytes input;
    int32_t code_point;
    size_t used;
  };
  const Case cases[] = {
      {{}, -1, 0},
      {{'A', 'B'}, 'A', 1},
      {{0xDF, 0xBF}, 0x7FF, 2},
      {{0xEF, 0xBF, 0xBF, 0x41}, 0xFFFF, 3},
      {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF, 4},
      {{0xE2, 0x82}, -1, 0},
      {{0xF0, 0x9F}, -1, 0},
  };
  for (const Case& c : cases) {
    size_t count = c.input.size();
    EXPECT_EQ(unicode::decode_utf8_char_checked(c.input.data(), count), c.code_point);
    EXPECT_EQ(count, c.used);
  }
}

// --- Widening ------------------------------------------------------------------------------------

TEST_F(Unicode, WideningKeepsEveryElement) {
  StressEveryAllocation stress;
  struct Case {
    uint32_t from, to;
    alloc::Series* (*widen)(uint32_t);
  };
  const Case cases[] = {{1, 2, unicode::widen_latin1_to_ucs2},
                        {1, 4, unicode::widen_latin1_to_ucs4},
                        {2, 4, unicode::widen_ucs2_to_ucs4}};
  for (const Case& c : cases) {
    for (uint32_t spare : {0u, 100u}) {  // a full buffer must grow; a roomy one widens in place
      SCOPED_TRACE(testing::Message() << c.from << "->" << c.to << " spare " << spare);
      Points points;
      uint32_t top = c.from == 1 ? 0xFF : 0xFFFF;
      for (uint32_t i = 0; i < 64; i++) points.push_back(top - i * 3);
      uint32_t node = make_buffer(points, c.from, spare);
      gc::Guard guard(node);
      Series* s = c.widen(node);
      EXPECT_EQ(s, alloc::series_of(node));
      EXPECT_EQ(s->unit(), c.to);
      EXPECT_GE(s->capacity - s->head, (points.size() + 1) * c.to);
      EXPECT_EQ(elements_of(node), points);
    }
  }
}

// --- UTF-8 output --------------------------------------------------------------------------------

TEST_F(Unicode, EncodesEachCodePoint) {
  struct Case {
    uint32_t code_point;
    Bytes form;
  };
  const Case cases[] = {
      {0, {0x00}},
      {0x7F, {0x7F}},
      {0x80, {0xC2, 0x80}},
      {0x7FF, {0xDF, 0xBF}},
      {0x800, {0xE0, 0xA0, 0x80}},
      {0x20AC, {0xE2, 0x82, 0xAC}},
      {0xFFFF, {0xEF, 0xBF, 0xBF}},
      {0x10000, {0xF0, 0x90, 0x80, 0x80}},
      {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}},
  };
  for (const Case& c : cases) {
    uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    uint32_t n = unicode::encode_utf8_char(c.code_point, out);
    EXPECT_EQ(Bytes(out, out + n), c.form) << std::hex << c.code_point;
    EXPECT_EQ(unicode::utf8_char_size(c.code_point), c.form.size());
  }
}

TEST_F(Unicode, BoundedEncodingCutsAtTheRoom) {
  struct Case {
    int64_t room;
    Bytes written;
  };
  const Case cases[] = {
      {-1, {}},          {0, {}},       {1, {0xE2}}, {2, {0xE2, 0x82}}, {3, {0xE2, 0x82, 0xAC}},
      {9, {0xE2, 0x82, 0xAC}},
  };
  for (const Case& c : cases) {
    uint8_t out[5] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    uint32_t n = unicode::encode_utf8_char_bounded(0x20AC, out, c.room);
    EXPECT_EQ(Bytes(out, out + n), c.written) << "room " << c.room;
    EXPECT_EQ(out[n], 0xAA) << "room " << c.room;  // nothing past what was reported
  }
}

TEST_F(Unicode, CodePointsAbove10FFFFRaiseInvalidChar) {
  uint8_t out[8];
  for (uint32_t bad : {0x110000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(bad);
    int32_t as_integer = int32_t(bad);
    EXPECT_EQ(expect_raise([&] { unicode::utf8_char_size(bad); }, "script", "invalid-char").integer,
              as_integer);
    EXPECT_EQ(expect_raise([&] { unicode::encode_utf8_char(bad, out); }, "script", "invalid-char")
                  .integer,
              as_integer);
    EXPECT_EQ(expect_raise([&] { unicode::encode_utf8_char_bounded(bad, out, 8); }, "script",
                           "invalid-char")
                  .integer,
              as_integer);
    uint32_t units[2] = {'a', bad};
    auto* start = reinterpret_cast<const uint8_t*>(units);
    EXPECT_EQ(expect_raise([&] { unicode::utf8_size_of_units(start, start + 8, 4); }, "script",
                           "invalid-char")
                  .integer,
              as_integer);
  }
}

TEST_F(Unicode, SizeOfUnitsAndExtraUtf16Units) {
  struct Case {
    Points points;
    uint32_t unit;
    uint64_t utf8, utf16_extra;
  };
  const Case cases[] = {
      {{}, 1, 0, 0},
      {{'a', 0xE9, '\n'}, 1, 4, 2},
      {{'a', 0x20AC, '\n', '\n'}, 2, 6, 4},
      {{0x10000, '\n', 0x7FF, 0x10FFFF}, 4, 11, 6},
  };
  for (const Case& c : cases) {
    uint32_t node = make_buffer(c.points, c.unit);
    Series* s = alloc::series_of(node);
    EXPECT_EQ(unicode::utf8_size_of_units(s->head_ptr(), s->tail_ptr(), c.unit), c.utf8);
    EXPECT_EQ(unicode::utf16_extra_units(s->head_ptr(), s->tail_ptr(), c.unit), c.utf16_extra);
  }
}

TEST_F(Unicode, EncodeStringValuesFromTheirHead) {
  // "a" e-acute euro emoji, head at 1.
  uint32_t node = make_buffer({'a', 0xE9, 0x20AC, 0x1F600}, 4);
  gc::Guard guard(node);
  Cell value = string_value(node, 1);
  const Bytes rest = {0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80};
  struct Case {
    int64_t part;
    size_t expected;  // bytes of `rest`
  };
  for (Case c : {Case{-1, 9}, Case{-7, 9}, Case{0, 0}, Case{2, 5}, Case{3, 9}, Case{50, 9}}) {
    uint8_t out[16];
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(unicode::encode_utf8_into(value, c.part, out, true), c.expected) << c.part;
    EXPECT_EQ(Bytes(out, out + c.expected), Bytes(rest.begin(), rest.begin() + c.expected));
    EXPECT_EQ(out[c.expected], 0);
  }
  struct Bounded {
    int64_t room, part;
    size_t expected;
  };
  const Bounded bounded[] = {{4, -1, 4},  {4, 0, 4}, {100, 0, 9},
                             {100, 2, 5}, {3, 2, 3}, {0, -1, 0}};
  for (const Bounded& c : bounded) {
    uint8_t out[16];
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(unicode::encode_utf8_bounded(out, c.room, c.part, value, true), c.expected)
        << c.room << " " << c.part;
    EXPECT_EQ(Bytes(out, out + c.expected), Bytes(rest.begin(), rest.begin() + c.expected));
    EXPECT_EQ(out[c.expected], 0);
  }
  Cell past_tail = string_value(node, 9);
  uint8_t out[2] = {0xAA, 0xAA};
  EXPECT_EQ(unicode::encode_utf8_into(past_tail, -1, out, true), 0u);
  EXPECT_EQ(out[0], 0);
}

TEST_F(Unicode, Utf8CopyInTheConversionCache) {
  StressEveryAllocation stress;
  uint32_t node = make_buffer({'a', '\n', 'b', 0x20AC, '\n'}, 2);
  Cell value = string_value(node);
  gc::Guard guard(value);

  int64_t count = -1;
  uint8_t* text = unicode::string_part_to_utf8(value, count, true);
  const Bytes crlf = {'a', '\r', '\n', 'b', 0xE2, 0x82, 0xAC, '\r', '\n'};
  ASSERT_EQ(count, int64_t(crlf.size()));
  EXPECT_EQ(Bytes(text, text + count + 1),
            (Bytes{'a', '\r', '\n', 'b', 0xE2, 0x82, 0xAC, '\r', '\n', 0}));
  uint32_t cache = value.w3;
  ASSERT_NE(cache, 0u);
  EXPECT_GE(alloc::series_of(cache)->capacity, 3u * 6);

  count = 3;
  text = unicode::string_to_utf8(value, count);
  EXPECT_EQ(value.w3, cache);  // one cache per value, reused
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text), count + 1), std::string("a\nb\0", 4));

  count = -1;
  Series* buffer = unicode::to_utf8_cached(value, count, false);
  EXPECT_EQ(buffer, alloc::series_of(cache));
  EXPECT_EQ(count, 7);
}

// --- UTF-16 output -------------------------------------------------------------------------------

std::vector<uint16_t> units_of(const uint16_t* text, int64_t count) {
  return std::vector<uint16_t>(text, text + count + 1);  // with the NUL
}

TEST_F(Unicode, Utf16CopyInTheConversionCache) {
  StressEveryAllocation stress;
  struct Case {
    Points points;
    uint32_t unit;
    int64_t part;
    bool crlf;
    std::vector<uint16_t> expected;  // NUL included
  };
  const Case cases[] = {
      {{0x10000}, 4, -1, false, {0xD800, 0xDC00, 0}},
      {{0x10FFFF, 'x'}, 4, -1, false, {0xDBFF, 0xDFFF, 'x', 0}},
      {{'a', '\n', 'b'}, 1, -1, true, {'a', '\r', '\n', 'b', 0}},
      {{'a', '\n', 'b'}, 1, -1, false, {'a', '\n', 'b', 0}},
      {{0x20AC, '\n'}, 2, -1, true, {0x20AC, '\r', '\n', 0}},
      {{'a', 'b', 'c'}, 1, 2, false, {'a', 'b', 0}},
      {{}, 1, -1, true, {0}},
      // Eight pairs: the text needs the 2 extra bytes per pair to fit its reservation.
      {Points(8, 0x1F600), 4, -1, false, {0xD83D, 0xDE00, 0xD83D, 0xDE00, 0xD83D, 0xDE00,
                                           0xD83D, 0xDE00, 0xD83D, 0xDE00, 0xD83D, 0xDE00,
                                           0xD83D, 0xDE00, 0xD83D, 0xDE00, 0}},
  };
  for (const Case& c : cases) {
    uint32_t node = make_buffer(c.points, c.unit);
    Cell value = string_value(node);
    gc::Guard guard(value);
    int64_t count = c.part;
    const uint16_t* text = unicode::to_utf16(value, count, c.crlf);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(count, int64_t(c.expected.size()) - 1);
    EXPECT_EQ(units_of(text, count), c.expected);
    EXPECT_GE(alloc::series_of(value.w3)->capacity, c.expected.size() * 2);
  }
}

TEST_F(Unicode, Utf16CrlfOfTheWholeRest) {
  uint32_t node = make_buffer({'a', '\n', 'b'}, 1);
  Cell value = string_value(node);
  gc::Guard guard(value);
  const uint16_t* text = unicode::to_utf16_crlf(value);
  EXPECT_EQ(units_of(text, 4), (std::vector<uint16_t>{'a', '\r', '\n', 'b', 0}));
}

TEST_F(Unicode, Utf16StopsAbove10FFFF) {
  uint32_t node = make_buffer({'a', 0x110000}, 4);
  Cell value = string_value(node);
  gc::Guard guard(value);
  int64_t count = -1;
  EXPECT_EQ(unicode::to_utf16(value, count, false), nullptr);
  EXPECT_EQ(count, 0);
}

TEST_F(Unicode, AsciiToUtf16) {
  uint16_t out[8];
  std::fill(std::begin(out), std::end(out), 0xAAAA);
  EXPECT_EQ(unicode::ascii_to_utf16("Err\x7F", out), out);
  EXPECT_EQ(std::vector<uint16_t>(out, out + 6),
            (std::vector<uint16_t>{'E', 'r', 'r', 0x7F, 0, 0xAAAA}));
}

// --- UTF-16 input --------------------------------------------------------------------------------

struct Utf16Case {
  const char* name;
  std::vector<uint16_t> input;
  bool drop_cr;
  uint32_t unit;
  Points elements;
};

const Utf16Case kUtf16Cases[] = {
    {"empty", {}, false, 1, {}},
    {"Latin-1", {'A', 0xE9}, false, 1, {'A', 0xE9}},
    {"BMP", {'A', 0x20AC}, false, 2, {'A', 0x20AC}},
    {"pair", {0xD83D, 0xDE00}, false, 4, {0x1F600}},
    {"pairs among others", {'a', 0xD800, 0xDC00, 0x20AC, 0xDBFF, 0xDFFF}, false, 4,
     {'a', 0x10000, 0x20AC, 0x10FFFF}},
    {"CR kept", {'a', '\r', '\n'}, false, 1, {'a', '\r', '\n'}},
    {"CR dropped", {'a', '\r', '\n', 0x20AC, '\r'}, true, 2, {'a', '\n', 0x20AC}},
    {"CR dropped in wide text", {'\r', 0xD83D, 0xDE00, '\r'}, true, 4, {0x1F600}},
};

TEST_F(Unicode, LoadUtf16IntoANewBuffer) {
  for (const Utf16Case& c : kUtf16Cases) {
    SCOPED_TRACE(c.name);
    uint32_t node = unicode::load_utf16(c.input.data(), c.input.size(), nullptr, c.drop_cr);
    EXPECT_EQ(unit_of(node), c.unit);
    EXPECT_EQ(elements_of(node), c.elements);
  }
}

TEST_F(Unicode, LoadUtf16FromTheTargetsCacheWhileBuffersMove) {
  StressEveryAllocation stress;
  for (const Utf16Case& c : kUtf16Cases) {
    SCOPED_TRACE(c.name);
    Cell value = string_value(make_buffer({0x10000}, 4));  // full: the text makes it move
    gc::Guard guard(value);
    uint8_t* cache = unicode::reserve_cache(value, c.input.size() * 2);
    if (!c.input.empty()) std::memcpy(cache, c.input.data(), c.input.size() * 2);
    uint32_t node = unicode::load_utf16(nullptr, c.input.size(), &value, c.drop_cr);
    EXPECT_EQ(node, value.w2);
    EXPECT_EQ(unit_of(node), c.unit);  // set to the text's width
    EXPECT_EQ(elements_of(node), c.elements);
  }
}

TEST(UnicodeDeathTest, UnpairedSurrogatesEndTheProcess) {
  const std::vector<uint16_t> cases[] = {
      {'a', 0xD800},          // high surrogate last
      {0xD83D, 'a', 0xDE00},  // high surrogate followed by another unit
      {0xD800, 0xD800, 0xDC00},
      {'a', 0xDC00, 'b'},  // lone low surrogate
      {0xDE00, 0xD83D},
  };
  for (const auto& input : cases) {
    EXPECT_EXIT(unicode::load_utf16(input.data(), input.size(), nullptr, false),
                testing::ExitedWithCode(1), "\\*\\*\\* Input Error: invalid UTF-16LE codepoint");
  }
}

TEST(UnicodeDeathTest, UnitSizesOtherThanOneTwoFourAreFatal) {
  uint32_t cells = alloc::new_cell_series(2);
  EXPECT_EXIT(unicode::widen_latin1_to_ucs2(cells), testing::ExitedWithCode(101),
              "Runtime Error 101");
  EXPECT_EXIT(unicode::load_utf8(reinterpret_cast<const uint8_t*>("a"), 1, cells, nullptr, false),
              testing::ExitedWithCode(101), "Runtime Error 101");
  uint32_t two = make_buffer({'a'}, 2);
  EXPECT_EXIT(unicode::widen_latin1_to_ucs4(two), testing::ExitedWithCode(101),
              "Runtime Error 101");
  uint8_t three[3] = {'a', 0, 0};
  EXPECT_EXIT(unicode::utf8_size_of_units(three, three + 3, 3), testing::ExitedWithCode(101),
              "Runtime Error 101");
}

// --- Conversion cache ----------------------------------------------------------------------------

TEST_F(Unicode, ReserveCacheMakesGrowsAndReuses) {
  uint32_t node = make_buffer({'a'}, 1);
  Cell value = string_value(node);
  gc::Guard guard(value);
  uint8_t* first = unicode::reserve_cache(value, 40);
  uint32_t cache = value.w3;
  ASSERT_NE(cache, 0u);
  EXPECT_EQ(first, alloc::series_of(cache)->data());
  EXPECT_GE(alloc::series_of(cache)->capacity, 40u);

  EXPECT_EQ(unicode::reserve_cache(value, 8), alloc::series_of(cache)->data());
  EXPECT_GE(alloc::series_of(cache)->capacity, 40u);  // the cache never shrinks

  unicode::reserve_cache(value, 5000);
  EXPECT_EQ(value.w3, cache);
  EXPECT_GE(alloc::series_of(cache)->capacity, 5000u);

  // 2^32 + 16 bytes would be 16 in 32-bit arithmetic.
  expect_raise([&] { unicode::reserve_cache(value, (uint64_t(1) << 32) + 16); }, "internal",
               "no-memory");
  expect_raise([&] { unicode::reserve_cache(value, uint64_t(alloc::kMaxCapacity) + 1); },
               "internal", "no-memory");
  EXPECT_EQ(value.w3, cache);
}

// --- Round trip ----------------------------------------------------------------------------------

// Random texts through UTF-8 and back: the code points survive, the buffer takes the narrowest
// unit, and the sizes agree with the encoding.
TEST_F(Unicode, RandomTextsRoundTripThroughUtf8) {
  std::mt19937 random(20240611);
  auto draw = [&]() -> uint32_t {
    switch (random() % 4) {
      case 0: return random() % 0x80;
      case 1: return random() % 0x100;
      case 2: {
        uint32_t cp = random() % 0x10000;
        return cp >= 0xD800 && cp <= 0xDFFF ? cp - 0x800 : cp;
      }
      default: return 0x10000 + random() % 0x100000;
    }
  };
  for (int round = 0; round < 3000; round++) {
    // Mostly single-range texts so every unit is well represented.
    uint32_t ceiling = std::vector<uint32_t>{0xFF, 0xFFFF, unicode::kMaxCodePoint}[round % 3];
    Points points(random() % 24);
    uint32_t widest = 0;
    for (uint32_t& cp : points) {
      do cp = draw(); while (cp > ceiling);
      widest = std::max(widest, cp);
    }
    Bytes bytes = utf8_of(points);
    uint32_t node = unicode::decode_utf8_new(bytes.data(), bytes.size());
    Cell value = string_value(node);
    gc::Guard guard(value);
    ASSERT_EQ(elements_of(node), points) << "round " << round;
    ASSERT_EQ(unit_of(node), widest <= 0xFF ? 1u : widest <= 0xFFFF ? 2u : 4u);

    Series* s = alloc::series_of(node);
    ASSERT_EQ(unicode::utf8_size_of_units(s->head_ptr(), s->tail_ptr(), s->unit()), bytes.size());
    ASSERT_EQ(unicode::count_utf8_chars(bytes.data(), bytes.data() + bytes.size()), points.size());
    int64_t count = -1;
    uint8_t* back = unicode::string_to_utf8(value, count);
    ASSERT_EQ(Bytes(back, back + count), bytes);
  }
}

}  // namespace
