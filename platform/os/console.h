// Text to standard output. Redirected (a file or pipe): every code point as UTF-8. Console (a
// terminal): UTF-8 too, but escape sequences ESC [ p1 ; p2 final are interpreted with the
// console's own semantics (0-based column;row positions, attribute-word colours) against a
// Screen; at run time the Screen renders each operation as ANSI sequences on the terminal.
// Line ends are LF only. Depends on nothing of the runtime.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

void init_console();  // decides the output mode once (platform::init calls it)

// Writes length units of text in the current mode; unit 0: UTF-8 bytes, written as they are;
// 1: Latin-1; 2: UCS-2; 4: UCS-4. add_newline appends a line feed.
void write_text(const void* text, size_t length, int unit, bool add_newline = false);

// Writes all bytes to a file descriptor, retrying interrupted writes; false on an error.
bool write_all(int fd, const void* data, size_t size);

// --- The console screen ----------------------------------------------------------------------

struct Coord {
  int x, y;
  bool operator==(const Coord&) const = default;
};

struct ScreenInfo {
  Coord size;  // the buffer, in character cells
  Coord cursor;
  uint16_t attribute;            // the current text attribute
  int left, top, right, bottom;  // the visible window inside the buffer
  Coord max_window;
};

// Text attribute word: foreground colour in bits 0-2 (1 blue, 2 green, 4 red) with intensity
// 0x08, background the same in bits 4-7, 0x4000 reverse video, 0x8000 underline.
constexpr uint16_t kDefaultAttribute = 0x07;

// The console operations the escape interpreter drives; a Screen knows no escape sequences.
class Screen {
 public:
  virtual ~Screen() = default;
  virtual ScreenInfo info() = 0;
  virtual uint16_t attribute() const = 0;  // the current text attribute, as info() has it
  virtual void set_cursor(Coord at) = 0;   // a position outside the buffer is refused
  virtual void set_attribute(uint16_t attribute) = 0;
  // count spaces with the attribute from `from` on, in reading order; the cursor stays.
  virtual void fill(Coord from, int count, uint16_t attribute) = 0;
  // Text at the cursor with the current attribute; LF goes to the next line's start.
  virtual void write(const char32_t* text, size_t length) = 0;
};

// Makes write_text use the console mode on this screen, whose default attribute (SGR 0 and
// erasing) is given; null goes back to the mode decided at start-up. For tests.
void set_console_screen(Screen* screen, uint16_t default_attribute);

// A screen buffer in memory: a grid of characters and attributes with a cursor; the buffer
// scrolls up when writing passes its last line.
class FakeScreen final : public Screen {
 public:
  struct Char {
    char32_t ch;
    uint16_t attribute;
  };

  FakeScreen(int width, int height, uint16_t attribute);
  ScreenInfo info() override;
  uint16_t attribute() const override { return attribute_; }
  void set_cursor(Coord at) override;
  void set_attribute(uint16_t attribute) override;
  void fill(Coord from, int count, uint16_t attribute) override;
  void write(const char32_t* text, size_t length) override;

  const Char& at(int x, int y) const { return cells_[static_cast<size_t>(y * width_ + x)]; }
  std::string row(int y) const;  // the characters of one line, as UTF-8
  Coord cursor() const { return cursor_; }

 private:
  void new_line();

  int width_, height_;
  Coord cursor_{0, 0};
  uint16_t attribute_;
  std::vector<Char> cells_;
};

}  // namespace platform
