// Standard output: the redirected writer (UTF-8 through a 1024-byte buffer), the console writer
// with its escape interpreter, the terminal screen that renders console operations as ANSI
// sequences, and the in-memory screen the tests drive. Line ends are LF only, as everywhere
// text is written on this system.
#include "platform/os/console.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {

bool write_all(int fd, const void* data, size_t size) {
  auto* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

namespace {

// --- UTF-8 ---------------------------------------------------------------------------------

constexpr char32_t kReplacement = 0xFFFD;

size_t encode_utf8(char32_t c, char* out) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | c >> 6);
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | c >> 12);
    out[1] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | c >> 18);
  out[1] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
  out[2] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

// Code points of a text of any unit. UTF-8 (unit 0) is decoded leniently: a byte that does not
// start a well-formed sequence stands for itself, as Latin-1.
struct Reader {
  const uint8_t* bytes;
  size_t length;  // in units
  int unit;
  size_t index = 0;

  bool more() const { return index < length; }

  char32_t next() {
    switch (unit) {
      case 1:
        return bytes[index++];
      case 2: {
        uint16_t u;
        std::memcpy(&u, bytes + 2 * index++, 2);
        return u;
      }
      case 4: {
        uint32_t u;
        std::memcpy(&u, bytes + 4 * index++, 4);
        return u;
      }
      default:
        return next_utf8();
    }
  }

  char32_t next_utf8() {
    static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    uint8_t lead = bytes[index];
    size_t extra = lead >= 0xF8 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    char32_t c = lead & (0x3F >> extra);
    bool ok = extra > 0 && index + extra < length;
    for (size_t i = 1; ok && i <= extra; ++i) {
      ok = (bytes[index + i] & 0xC0) == 0x80;
      c = c << 6 | (bytes[index + i] & 0x3F);
    }
    if (!ok || c < kLeast[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      ++index;  // ASCII, or a byte that starts no well-formed sequence
      return lead;
    }
    index += extra + 1;
    return c;
  }
};

// --- Output buffer -------------------------------------------------------------------------

struct OutputBuffer {
  char bytes[1024];
  size_t used = 0;

  void flush() {
    if (used) write_all(STDOUT_FILENO, bytes, used);
    used = 0;
  }
  void put(char32_t c) {
    if (used > sizeof bytes - 4) flush();
    used += encode_utf8(c, bytes + used);
  }
  void put_bytes(const char* text, size_t length) {
    while (length > 0) {
      if (used == sizeof bytes) flush();
      size_t n = std::min(length, sizeof bytes - used);
      std::memcpy(bytes + used, text, n);
      used += n;
      text += n;
      length -= n;
    }
  }
};

OutputBuffer output;

// Colour numbers of the attribute word in the order of ANSI colours 0-7 (the same permutation
// maps back: it swaps the blue and red bits).
constexpr uint16_t kColourOrder[8] = {0, 4, 2, 6, 1, 5, 3, 7};

// --- Terminal screen -----------------------------------------------------------------------

// Renders console operations on a terminal as ANSI sequences (1-based row;column). The terminal
// has no buffer beyond its window, and the cursor is asked of it when an operation needs it.
class TerminalScreen final : public Screen {
 public:
  ScreenInfo info() override {
    Coord size = window_size();
    return ScreenInfo{size, query_cursor(), attribute_, 0, 0, size.x - 1, size.y - 1, size};
  }

  uint16_t attribute() const override { return attribute_; }

  void set_cursor(Coord at) override { csi("%i;%iH", at.y + 1, at.x + 1); }

  void set_attribute(uint16_t attribute) override {
    attribute_ = attribute;
    render_attribute(attribute);
  }

  // The escape interpreter fills four shapes: to the end of the screen, from its start, to the
  // end of a line and from a line's start. The cursor and attribute are saved around the erase
  // (ESC 7 / ESC 8), since a console fill moves neither.
  void fill(Coord from, int count, uint16_t attribute) override {
    if (count <= 0) return;
    Coord size = window_size();
    int last = from.y * size.x + from.x + count - 1;
    Coord to{last % size.x, last / size.x};
    output.put_bytes("\0337", 2);  // ESC 7
    render_attribute(attribute);
    if (last >= size.x * size.y - 1) {
      set_cursor(from);
      csi("J");
    } else if (from == Coord{0, 0}) {
      set_cursor(to);
      csi("1J");
    } else if (to.x == size.x - 1) {
      set_cursor(from);
      csi("K");
    } else {
      set_cursor(to);
      csi("1K");
    }
    output.put_bytes("\0338", 2);  // ESC 8
  }

  void write(const char32_t* text, size_t length) override {
    for (size_t i = 0; i < length; ++i) output.put(text[i]);
  }

  void reset(uint16_t attribute) { attribute_ = attribute; }

 private:
  template <class... Args>
  void csi(const char* format, Args... args) {
    char sequence[48] = "\x1b[";
    int n;
    if constexpr (sizeof...(Args) == 0) {  // no arguments: the format is the text itself
      n = std::snprintf(sequence + 2, sizeof sequence - 2, "%s", format);
    } else {
      n = std::snprintf(sequence + 2, sizeof sequence - 2, format, args...);
    }
    output.put_bytes(sequence, 2 + static_cast<size_t>(n));
  }

  // The default attribute keeps the terminal's own colours.
  void render_attribute(uint16_t a) {
    char sequence[48] = "\x1b[0";
    size_t n = 3;
    auto add = [&](int code) {
      n += static_cast<size_t>(std::snprintf(sequence + n, sizeof sequence - n, ";%i", code));
    };
    if (a & 0x08) add(1);
    if (a & 0x8000) add(4);
    if (a & 0x4000) add(7);
    if ((a & 0xF7) != kDefaultAttribute) {
      add(30 + kColourOrder[a & 7]);
      add((a & 0x80 ? 100 : 40) + kColourOrder[a >> 4 & 7]);
    }
    sequence[n++] = 'm';
    output.put_bytes(sequence, n);
  }

  static Coord window_size() {
    winsize ws{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0)
      return Coord{ws.ws_col, ws.ws_row};
    return Coord{80, 24};
  }

  // Asks the terminal (ESC [ 6 n) and reads its answer ESC [ row ; column R; (0, 0) when it
  // does not answer within 200 ms.
  static Coord query_cursor() {
    output.flush();
    Coord at{0, 0};
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return at;
    termios saved;
    if (tcgetattr(fd, &saved) == 0) {
      termios raw = saved;
      raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
      raw.c_cc[VMIN] = 0;
      raw.c_cc[VTIME] = 0;
      tcsetattr(fd, TCSANOW, &raw);
      char reply[32] = {};
      size_t n = 0;
      if (write_all(fd, "\x1b[6n", 4)) {
        pollfd ready{fd, POLLIN, 0};
        while (n < sizeof reply - 1 && poll(&ready, 1, 200) > 0 && read(fd, reply + n, 1) == 1)
          if (reply[n++] == 'R') break;
      }
      tcsetattr(fd, TCSANOW, &saved);
      int row, column;
      if (std::sscanf(reply, "\x1b[%d;%dR", &row, &column) == 2) at = Coord{column - 1, row - 1};
    }
    close(fd);
    return at;
  }

  uint16_t attribute_ = kDefaultAttribute;
};

TerminalScreen terminal;

// --- Escape interpreter --------------------------------------------------------------------

struct ConsoleState {
  Screen* screen;          // null in redirected mode
  Screen* decided_screen;  // the mode decided at start-up
  uint16_t default_attribute;
  Coord saved_cursor;
};

ConsoleState console{nullptr, nullptr, kDefaultAttribute, {0, 0}};

// SGR arithmetic on the attribute word. Setting a colour keeps the bits above the colour byte
// (underline, reverse), so the order of parameters does not matter. A parameter outside the
// table is ignored.
uint16_t apply_sgr(uint16_t a, int code) {
  if (code >= 30 && code <= 37)
    return static_cast<uint16_t>((a & 0xFFF8) | kColourOrder[code - 30]);
  if (code >= 40 && code <= 47)
    return static_cast<uint16_t>((a & 0xFF8F) | kColourOrder[code - 40] << 4);
  switch (code) {
    case 0:
      return console.default_attribute;
    case 1:
      return a | 0x88;
    case 4:
      return a | 0x8000;
    case 7:
      return static_cast<uint16_t>((a & 0xFF00) | (a & 0x0F) << 4 | (a & 0xF0) >> 4);
    case 39:
      return a | 0x08;
    case 49:
      return a | 0x80;
    default:
      return a;
  }
}

void write_ascii_line(Screen& screen, const char* text) {
  char32_t line[96];
  size_t n = 0;
  while (text[n] && n < std::size(line) - 1) {
    line[n] = static_cast<unsigned char>(text[n]);
    ++n;
  }
  line[n++] = '\n';
  screen.write(line, n);
}

// ESC [ ? : the screen-buffer information, one line per field.
void print_screen_info(Screen& screen) {
  ScreenInfo s = screen.info();
  char line[96];
  write_ascii_line(screen, "Screen buffer info:");
  std::snprintf(line, sizeof line, "   size______ %ix%i", s.size.x, s.size.y);
  write_ascii_line(screen, line);
  std::snprintf(line, sizeof line, "   cursor____ %ix%i", s.cursor.x, s.cursor.y);
  write_ascii_line(screen, line);
  std::snprintf(line, sizeof line, "   attribute_ %i", s.attribute);
  write_ascii_line(screen, line);
  std::snprintf(line, sizeof line, "   left______ %i top: %i", s.left, s.top);
  write_ascii_line(screen, line);
  std::snprintf(line, sizeof line, "   right_____ %i bottom: %i", s.right, s.bottom);
  write_ascii_line(screen, line);
  std::snprintf(line, sizeof line, "   max_______ %ix%i", s.max_window.x, s.max_window.y);
  write_ascii_line(screen, line);
}

// After an ESC: reads "[", up to two decimal parameters separated by ";" and the final
// character, and performs the sequence. Anything but "[" after the ESC leaves the ESC alone
// dropped; a sequence cut off by the end of the text does nothing.
void interpret_escape(Screen& screen, Reader& in) {
  size_t mark = in.index;
  if (!in.more() || in.next() != '[') {
    in.index = mark;
    return;
  }
  int p[2] = {0, 0};
  int count = 0;  // parameters given
  char32_t final = 0;
  while (in.more()) {
    char32_t c = in.next();
    if (c >= '0' && c <= '9') {
      count = std::max(count, 1);
      // Huge numbers saturate instead of overflowing.
      if (count <= 2) p[count - 1] = std::min(p[count - 1] * 10 + static_cast<int>(c - '0'), 99999);
    } else if (c == ';') {
      count = std::max(count, 1) + 1;
    } else {
      final = c;
      break;
    }
  }
  if (final == 0) return;
  int step = count > 0 ? p[0] : 1;  // a move without parameter moves by one
  auto clamp = [](int value, int size) { return std::clamp(value, 0, size - 1); };
  ScreenInfo s;
  switch (final) {
    case 'A':
    case 'B':
    case 'C':
    case 'D': {
      s = screen.info();
      int dx = final == 'C' ? step : final == 'D' ? -step : 0;
      int dy = final == 'B' ? step : final == 'A' ? -step : 0;
      screen.set_cursor(Coord{clamp(s.cursor.x + dx, s.size.x), clamp(s.cursor.y + dy, s.size.y)});
      break;
    }
    case 'H':
    case 'f':
      screen.set_cursor(Coord{p[0], p[1]});
      break;
    case 'J':
      s = screen.info();
      if (p[0] == 0) {
        screen.fill(Coord{0, s.cursor.y}, s.size.x * (s.size.y - s.cursor.y),
                    console.default_attribute);
      } else if (p[0] == 1) {
        screen.fill(Coord{0, 0}, s.size.x * s.cursor.y, console.default_attribute);
      } else if (p[0] == 2) {
        screen.fill(Coord{0, 0}, s.size.x * s.size.y, console.default_attribute);
        screen.set_cursor(Coord{0, 0});
      }
      break;
    case 'K':
      s = screen.info();
      if (p[0] == 0) {
        screen.fill(s.cursor, s.size.x - s.cursor.x, console.default_attribute);
      } else if (p[0] == 1) {
        screen.fill(Coord{0, s.cursor.y}, s.cursor.x + 1, console.default_attribute);
      } else if (p[0] == 2) {
        screen.fill(Coord{0, s.cursor.y}, s.size.x, console.default_attribute);
        screen.set_cursor(Coord{0, s.cursor.y});
      }
      break;
    case 'm': {
      uint16_t a = screen.attribute();
      if (count == 0) a = apply_sgr(a, 0);
      for (int i = 0; i < std::min(count, 2); ++i) a = apply_sgr(a, p[i]);
      screen.set_attribute(a);
      break;
    }
    case 's':
      console.saved_cursor = screen.info().cursor;
      break;
    case 'u':
      screen.set_cursor(console.saved_cursor);
      break;
    case '?':
      print_screen_info(screen);
      break;
    default:
      break;
  }
}

// --- Writers -------------------------------------------------------------------------------

void write_console(Screen& screen, Reader& in, bool add_newline) {
  char32_t pending[256];
  size_t n = 0;
  auto flush = [&] {
    if (n) screen.write(pending, n);
    n = 0;
  };
  while (in.more()) {
    char32_t c = in.next();
    if (c == 0x1B) {
      flush();
      interpret_escape(screen, in);
      continue;
    }
    if (n == std::size(pending)) flush();
    pending[n++] = c;
  }
  if (n == std::size(pending)) flush();
  if (add_newline) pending[n++] = '\n';
  flush();
}

void write_redirected(Reader& in, bool add_newline) {
  if (in.unit == 0)
    output.put_bytes(reinterpret_cast<const char*>(in.bytes), in.length);
  else
    while (in.more()) output.put(in.next());
  if (add_newline) output.put('\n');
}

}  // namespace

void init_console() {
  console.decided_screen = isatty(STDOUT_FILENO) ? &terminal : nullptr;
  set_console_screen(nullptr, kDefaultAttribute);
}

void set_console_screen(Screen* screen, uint16_t default_attribute) {
  console.screen = screen ? screen : console.decided_screen;
  console.default_attribute = default_attribute;
  console.saved_cursor = Coord{0, 0};
  terminal.reset(default_attribute);
}

void write_text(const void* text, size_t length, int unit, bool add_newline) {
  Reader in{static_cast<const uint8_t*>(text), length, unit};
  if (console.screen)
    write_console(*console.screen, in, add_newline);
  else
    write_redirected(in, add_newline);
  output.flush();
}

// --- Screen in memory ----------------------------------------------------------------------

FakeScreen::FakeScreen(int width, int height, uint16_t attribute)
    : width_(width),
      height_(height),
      attribute_(attribute),
      cells_(static_cast<size_t>(width * height), Char{' ', attribute}) {}

ScreenInfo FakeScreen::info() {
  Coord size{width_, height_};
  return ScreenInfo{size, cursor_, attribute_, 0, 0, width_ - 1, height_ - 1, size};
}

void FakeScreen::set_cursor(Coord at) {
  if (at.x >= 0 && at.x < width_ && at.y >= 0 && at.y < height_) cursor_ = at;
}

void FakeScreen::set_attribute(uint16_t attribute) { attribute_ = attribute; }

void FakeScreen::fill(Coord from, int count, uint16_t attribute) {
  if (from.x < 0 || from.x >= width_ || from.y < 0 || from.y >= height_) return;
  int start = from.y * width_ + from.x;
  int end = std::min(start + std::max(count, 0), width_ * height_);
  for (int i = start; i < end; ++i) cells_[static_cast<size_t>(i)] = Char{' ', attribute};
}

void FakeScreen::write(const char32_t* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '\n') {
      new_line();
      continue;
    }
    cells_[static_cast<size_t>(cursor_.y * width_ + cursor_.x)] = Char{text[i], attribute_};
    if (++cursor_.x == width_) new_line();
  }
}

void FakeScreen::new_line() {
  cursor_.x = 0;
  if (++cursor_.y < height_) return;
  cursor_.y = height_ - 1;
  cells_.erase(cells_.begin(), cells_.begin() + width_);
  cells_.resize(static_cast<size_t>(width_ * height_), Char{' ', attribute_});
}

std::string FakeScreen::row(int y) const {
  std::string text;
  char bytes[4];
  for (int x = 0; x < width_; ++x) text.append(bytes, encode_utf8(at(x, y).ch, bytes));
  return text;
}

}  // namespace platform
