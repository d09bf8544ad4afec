// Standard output: UTF-8 encoding of every unit in redirected mode, and the escape interpreter
// driving an in-memory screen with the console's semantics (0-based column;row positions,
// clamped moves, erase modes, attribute arithmetic).
#include <gtest/gtest.h>

#include <string>

#include "platform/os/console.h"
#include "tests/unit/stdout_capture.h"

namespace {

using platform::Coord;
using platform::FakeScreen;

// --- Redirected mode ---------------------------------------------------------------------------

std::string written(const void* text, size_t length, int unit, bool add_newline = false) {
  StdoutCapture out;
  platform::write_text(text, length, unit, add_newline);
  return out.text();
}

TEST(Redirected, EachUnitIsWrittenAsUtf8) {
  const unsigned char latin1[] = {'a', 0xE9, 0xFF};
  const char16_t ucs2[] = {u'\u00E9', u'\u20AC', 0xD800};
  const char32_t ucs4[] = {U'\U0001F600', 0x110000, U'z'};
  const char utf8[] = "\xC3\xA9 \xFF";
  EXPECT_EQ(written(latin1, 2, 1), "a\xC3\xA9");  // é -> C3 A9
  EXPECT_EQ(written(latin1, 3, 1), "a\xC3\xA9\xC3\xBF");
  EXPECT_EQ(written(ucs2, 2, 2), "\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(written(ucs2 + 2, 1, 2), "\xEF\xBF\xBD");  // a lone surrogate is no code point
  EXPECT_EQ(written(ucs4, 3, 4), "\xF0\x9F\x98\x80\xEF\xBF\xBDz");
  EXPECT_EQ(written(utf8, 4, 0), utf8);              // bytes pass unchanged
  EXPECT_EQ(written("\x1b[31m", 5, 0), "\x1b[31m");  // no escape interpretation
}

TEST(Redirected, LineEndIsLineFeedOnly) {
  EXPECT_EQ(written("ab", 2, 0, true), "ab\n");
  EXPECT_EQ(written("", 0, 1, true), "\n");
}

TEST(Redirected, LongTextCrossesTheBufferWhole) {
  std::u32string text;
  std::string expected;
  for (int i = 0; i < 1500; ++i) {
    text += i % 3 ? U'\u00E9' : U'\U0001F600';
    expected += i % 3 ? "\xC3\xA9" : "\xF0\x9F\x98\x80";
  }
  EXPECT_EQ(written(text.data(), text.size(), 4, true), expected + "\n");
}

// --- Escape interpreter --------------------------------------------------------------------

constexpr uint16_t kDefault = 0x17;  // grey on blue, so that a lost background shows

// A 10x5 screen with lines "aaaaaaaaaa" to "dddddddddd" and an empty last line, written through
// the console path; then the sequence under test.
struct Console {
  FakeScreen screen{10, 5, kDefault};

  Console() {
    platform::set_console_screen(&screen, kDefault);
    write("aaaaaaaaaabbbbbbbbbbccccccccccdddddddddd");
  }
  ~Console() { platform::set_console_screen(nullptr, platform::kDefaultAttribute); }
  void write(const std::string& text) { platform::write_text(text.data(), text.size(), 0); }
  std::string rows() {
    std::string all;
    for (int y = 0; y < 5; ++y) all += screen.row(y) + "|";
    return all;
  }
};

const char* const kUntouched = "aaaaaaaaaa|bbbbbbbbbb|cccccccccc|dddddddddd|          |";

struct ScreenCase {
  const char* sequence;
  const char* rows;
  Coord cursor;
};

TEST(Escape, CursorAndErasing) {
  const ScreenCase cases[] = {
      {"\x1b[2J", "          |          |          |          |          |", {0, 0}},
      {"\x1b[3;1H", kUntouched, {3, 1}},  // column 3, row 1
      {"\x1b[3;1H\x1b[K", "aaaaaaaaaa|bbb       |cccccccccc|dddddddddd|          |", {3, 1}},
      {"\x1b[3;1H\x1b[0K", "aaaaaaaaaa|bbb       |cccccccccc|dddddddddd|          |", {3, 1}},
      {"\x1b[3;1H\x1b[1K", "aaaaaaaaaa|    bbbbbb|cccccccccc|dddddddddd|          |", {3, 1}},
      {"\x1b[3;1H\x1b[2K", "aaaaaaaaaa|          |cccccccccc|dddddddddd|          |", {0, 1}},
      {"\x1b[3;2H\x1b[J", "aaaaaaaaaa|bbbbbbbbbb|          |          |          |", {3, 2}},
      {"\x1b[3;2H\x1b[1J", "          |          |cccccccccc|dddddddddd|          |", {3, 2}},
      {"\x1b[3;0H\x1b[1J", kUntouched, {3, 0}},
      {"\x1b[5;3HZ", "aaaaaaaaaa|bbbbbbbbbb|cccccccccc|dddddZdddd|          |", {6, 3}},
      {"\x1b[5;3f", kUntouched, {5, 3}},
      {"\x1b[3;1H\x1b[H", kUntouched, {0, 0}},
      {"\x1b[4H", kUntouched, {4, 0}},
      {"\x1b[3;1H\x1b[20;2H", kUntouched, {3, 1}},  // outside the buffer: refused
      {"\x1b[3;1H\x1b[2C", kUntouched, {5, 1}},
      {"\x1b[3;1H\x1b[D", kUntouched, {2, 1}},   // no parameter: by one
      {"\x1b[3;1H\x1b[9A", kUntouched, {3, 0}},  // moves clamp to the buffer
      {"\x1b[3;1H\x1b[9B", kUntouched, {3, 4}},
      {"\x1b[3;1H\x1b[99C", kUntouched, {9, 1}},
      {"\x1b[3;1H\x1b[99D", kUntouched, {0, 1}},
      {"\x1b[3;1H\x1b[99999999999999B", kUntouched, {3, 4}},
      {"\x1b[3;1H\x1b[s\x1b[7;4H\x1b[u", kUntouched, {3, 1}},
      {"\x1b[1;1H\x1bQ", "aaaaaaaaaa|bQbbbbbbbb|cccccccccc|dddddddddd|          |", {2, 1}},
      {"\x1b[1;1H\x1b[", kUntouched, {1, 1}},    // cut off: nothing
      {"\x1b[1;1H\x1b[9z", kUntouched, {1, 1}},  // unknown final: nothing
  };
  for (const ScreenCase& c : cases) {
    Console console;
    console.write(c.sequence);
    EXPECT_EQ(console.rows(), c.rows) << c.sequence + 1;
    EXPECT_EQ(console.screen.cursor(), c.cursor) << c.sequence + 1;
  }
}

TEST(Escape, ErasingUsesTheDefaultAttribute) {
  Console console;
  console.write("\x1b[42m\x1b[2;1H\x1b[K");
  EXPECT_EQ(console.screen.at(2, 1).attribute, kDefault);
  EXPECT_EQ(console.screen.at(9, 1).attribute, kDefault);
  EXPECT_EQ(console.screen.attribute(), 0x27);
}

struct AttributeCase {
  const char* sequence;
  uint16_t attribute;
};

TEST(Escape, SgrAttributeArithmetic) {
  const AttributeCase cases[] = {
      {"\x1b[0m", kDefault},
      {"\x1b[31m\x1b[0m", kDefault},
      {"\x1b[31m\x1b[m", kDefault},  // no parameter is 0
      {"\x1b[1m", 0x9F},
      {"\x1b[4m", 0x8017},
      {"\x1b[7m", 0x71},
      {"\x1b[30m", 0x10},
      {"\x1b[31m", 0x14},
      {"\x1b[32m", 0x12},
      {"\x1b[33m", 0x16},
      {"\x1b[34m", 0x11},
      {"\x1b[35m", 0x15},
      {"\x1b[36m", 0x13},
      {"\x1b[37m", 0x17},
      {"\x1b[39m", 0x1F},
      {"\x1b[40m", 0x07},
      {"\x1b[41m", 0x47},
      {"\x1b[42m", 0x27},
      {"\x1b[43m", 0x67},
      {"\x1b[44m", 0x17},
      {"\x1b[47m", 0x77},
      {"\x1b[49m", 0x97},
      {"\x1b[31;42m", 0x24},
      {"\x1b[4;31m", 0x8014},  // a colour keeps underline...
      {"\x1b[4;41m", 0x8047},
      {"\x1b[1;31m", 0x9C},  // ...and the intensity bits
      {"\x1b[4m\x1b[7m", 0x8071},
      {"\x1b[5m", kDefault},  // outside the table: ignored
      {"\x1b[38;100m", kDefault},
      {"\x1b[1;4;31m", 0x809F},  // two parameters at most
  };
  for (const AttributeCase& c : cases) {
    Console console;
    console.write(c.sequence);
    EXPECT_EQ(console.screen.attribute(), c.attribute) << c.sequence + 1;
  }
}

TEST(Escape, TextAfterAColourTakesItOnTheCurrentBackground) {
  Console console;
  console.write("\x1b[1;0H\x1b[31mX");
  EXPECT_EQ(console.screen.at(1, 0).ch, U'X');
  EXPECT_EQ(console.screen.at(1, 0).attribute, 0x14);
  EXPECT_EQ(console.screen.at(2, 0).attribute, kDefault);
  // The same through wide units.
  const char16_t wide[] = u"\x1b[32mY";
  platform::write_text(wide, 6, 2);
  EXPECT_EQ(console.screen.at(2, 0).ch, U'Y');
  EXPECT_EQ(console.screen.at(2, 0).attribute, 0x12);
}

TEST(Escape, NewlineAndUtf8InConsoleMode) {
  Console console;
  console.write("\x1b[2;1H\xC3\xA9\xFF");
  EXPECT_EQ(console.screen.at(2, 1).ch, U'\u00E9');
  EXPECT_EQ(console.screen.at(3, 1).ch, U'\u00FF');  // a stray byte stands for itself
  platform::write_text("z", 1, 0, true);
  EXPECT_EQ(console.screen.cursor(), (Coord{0, 2}));
}

TEST(Escape, DiagnosticPrintsTheScreenInfo) {
  FakeScreen screen(40, 10, kDefault);
  platform::set_console_screen(&screen, kDefault);
  const char sequence[] = "\x1b[31m\x1b[?";
  platform::write_text(sequence, sizeof sequence - 1, 0);
  platform::set_console_screen(nullptr, platform::kDefaultAttribute);
  const char* lines[] = {"Screen buffer info:",    "   size______ 40x10",
                         "   cursor____ 0x0",      "   attribute_ 20",
                         "   left______ 0 top: 0", "   right_____ 39 bottom: 9",
                         "   max_______ 40x10"};
  for (int y = 0; y < 7; ++y) {
    std::string row = screen.row(y);
    EXPECT_EQ(row.substr(0, row.find_last_not_of(' ') + 1), lines[y]);
  }
  EXPECT_EQ(screen.cursor(), (Coord{0, 7}));
}

}  // namespace
