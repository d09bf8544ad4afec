// The clipboard against another X client. ClipboardX11 runs under a private Xvfb server
// (under_xvfb.py) with xclip as the other program: text (ASCII, non-ASCII, line ends, a size
// that goes in increments) and file lists (spaces, non-ASCII names, relative paths) each way,
// emptying, the refusals, an image the value layer cannot hold yet, and an owner that never
// answers. ClipboardNoDisplay runs with no display; ClipboardUris is the text/uri-list codec.
// The values come from Zel source (lexer and evaluator) and stay on the data stack.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include "../unit/word_test_support.h"
#include "boot/entry.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/stack.h"
#include "interpreter/eval.h"
#include "io/clipboard.h"
#include "lexer/lexer.h"
#include "platform/gui/clipboard.h"
#include "silent_owner.h"

namespace {

using word_test::WordTest;

// --- The other program -----------------------------------------------------------------------

struct Output {
  std::string text;
  int status;
};

// Runs the shell command and gathers its standard output.
Output run_reading(const std::string& command) {
  Output out{"", -1};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.text.append(buffer, n);
  out.status = pclose(pipe);
  return out;
}

// Runs the shell command with the input on its standard input; its exit status.
int run_writing(const std::string& command, const std::string& input) {
  FILE* pipe = popen(command.c_str(), "w");
  if (!pipe) return -1;
  fwrite(input.data(), 1, input.size(), pipe);
  return pclose(pipe);
}

// What xclip reads from the clipboard under the target.
Output xclip_out(const std::string& target = "UTF8_STRING") {
  return run_reading("xclip -o -selection clipboard -t '" + target + "' 2>/dev/null");
}

// xclip takes the clipboard with the input under the target. It stays in the background,
// serving the clipboard until another client takes it (or the server goes).
void xclip_in(const std::string& input, const std::string& target = "UTF8_STRING") {
  ASSERT_EQ(run_writing("xclip -i -selection clipboard -t '" + target + "' >/dev/null 2>&1",
                        input),
            0);
}

class ClipboardX11 : public WordTest {
 protected:
  static void SetUpTestSuite() {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "runs under tests/clipboard/under_xvfb.py";
    ASSERT_EQ(system("command -v xclip >/dev/null"), 0)
        << "xclip is not installed (Debian package xclip; scripts/install-deps)";
  }

  // The value the Zel source evaluates to, on the data stack.
  static Cell* zel(const std::string& source) {
    Cell* code = stack::push_new();
    *code = constants::none;
    lexer::scan(code, reinterpret_cast<const uint8_t*>(source.data()), source.size(),
                lexer::Mode{}, nullptr, nullptr, nullptr);
    interp::eval_block(*code, false);
    return stack::top - 1;
  }
  static Cell* text(const std::string& utf8) {
    return string::load_encoded_push(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(),
                                     string::kUtf8);
  }
  static bool write(const Cell& value) { return clipboard::write(value); }

  // Another client's data is there once the read no longer answers with what was put before.
  static Cell* read_after(const std::string& before_molded) {
    for (int i = 0; i < 100; i++) {
      Cell* value = clipboard::read();
      if (mold(*value) != before_molded) return value;
      stack::pop_cells(1);
      usleep(20000);
    }
    return clipboard::read();
  }
  // Puts a marker on the clipboard from here, so that read_after can tell xclip's data.
  static std::string mark() {
    EXPECT_TRUE(write(*text("marker")));
    return mold(*text("marker"));
  }
  // The UTF-8 of each file! of a block.
  static std::vector<std::string> paths_of(const Cell& block) {
    std::vector<std::string> paths;
    for (int32_t i = 0; i < block::rest_length(block); i++) {
      const Cell& item = *block::cell_at(block, i);
      EXPECT_EQ(cell::type_of(item), TYPE_FILE);
      paths.push_back(text_of(item));
    }
    return paths;
  }
};

// Texts each way, through Zel source: the clipboard holds the text as UTF-8 with LF line ends.
TEST_F(ClipboardX11, TextBothWays) {
  struct Case {
    const char* source;  // Zel
    std::string utf8;    // on the clipboard
  };
  const Case cases[] = {
      {R"("hello")", "hello"},
      {R"("two^/lines^/")", "two\nlines\n"},
      {R"("Grüße, ñandú, 日本語, Ελληνικά, 😀")", "Grüße, ñandú, 日本語, Ελληνικά, 😀"},
      {R"(next next "abcdé")", "cdé"},  // from the string's position
      {R"(copy "")", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    Cell* value = zel(c.source);
    ASSERT_TRUE(write(*value));
    Output out = xclip_out();
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.text, c.utf8);
    EXPECT_EQ(text_of(*clipboard::read()), c.utf8);  // and through our own owner

    const std::string before = mark();
    xclip_in(c.utf8 + "!");
    Cell* back = read_after(before);
    ASSERT_EQ(cell::type_of(*back), TYPE_STRING);
    EXPECT_EQ(text_of(*back), c.utf8 + "!");
    stack::top = value;
  }
}

// Another program's CR LF line ends read as LF; its text ends at a NUL.
TEST_F(ClipboardX11, ReadTextDropsCarriageReturns) {
  const std::string before = mark();
  xclip_in("one\r\ntwo\r\n\rthree");
  EXPECT_EQ(text_of(*read_after(before)), "one\ntwo\nthree");
  const std::string again = mark();
  xclip_in(std::string("kept\0dropped", 12));
  EXPECT_EQ(text_of(*read_after(again)), "kept");
}

// A program that offers its text only as STRING gives Latin-1.
TEST_F(ClipboardX11, LatinOneText) {
  const std::string before = mark();
  xclip_in("caf\xE9 \xB1\xFF", "STRING");
  EXPECT_EQ(text_of(*read_after(before)), "café ±ÿ");
}

// A text larger than one request goes in increments, both ways (over 4 MiB of UTF-8).
TEST_F(ClipboardX11, LargeTextInIncrements) {
  std::string big;
  for (int i = 0; big.size() < 4'500'000; i++) big += "line " + std::to_string(i) + " äö€😀\n";
  ASSERT_TRUE(write(*text(big)));
  Output out = xclip_out();
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.text.size(), big.size());
  EXPECT_TRUE(out.text == big);

  const std::string before = mark();
  big += "end";
  xclip_in(big);
  Cell* back = read_after(before);
  ASSERT_EQ(cell::type_of(*back), TYPE_STRING);
  EXPECT_TRUE(text_of(*back) == big);
}

// A block of paths goes as text/uri-list: percent-encoded file:// URIs, relative paths made
// absolute from the current directory; it reads back as a block of file! values.
TEST_F(ClipboardX11, FileListFromZel) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  const std::string here = cwd;
  Cell* files =
      zel(R"([%"/tmp/a folder/Grüße ñ.txt" %/usr/bin/ "/tmp/100%" %notes.txt %日本/語])");
  ASSERT_TRUE(write(*files));
  std::string encoded_here;
  for (unsigned char c : here) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", c);
    encoded_here += std::isalnum(c) || std::strchr("-._~/", c) ? std::string(1, char(c)) : hex;
  }
  Output out = xclip_out("text/uri-list");
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.text,
            "file:///tmp/a%20folder/Gr%C3%BC%C3%9Fe%20%C3%B1.txt\r\n"
            "file:///usr/bin/\r\n"
            "file:///tmp/100%25\r\n"
            "file://" + encoded_here + "/notes.txt\r\n"
            "file://" + encoded_here + "/%E6%97%A5%E6%9C%AC/%E8%AA%9E\r\n");
  Output targets = xclip_out("TARGETS");
  EXPECT_EQ(targets.text, "TARGETS\nTIMESTAMP\ntext/uri-list\n");
  EXPECT_NE(xclip_out("UTF8_STRING").status, 0);  // a file list is no text

  Cell* back = clipboard::read();
  ASSERT_EQ(cell::type_of(*back), TYPE_BLOCK);
  EXPECT_EQ(paths_of(*back),
            (std::vector<std::string>{"/tmp/a folder/Grüße ñ.txt", "/usr/bin/", "/tmp/100%",
                                      here + "/notes.txt", here + "/日本/語"}));
  EXPECT_TRUE(write(*zel("[]")));
  EXPECT_EQ(xclip_out("text/uri-list").text, "");
  EXPECT_EQ(mold(*clipboard::read()), "[]");
}

// Another program's file list reads as file! values; a list with other URIs is no file list.
TEST_F(ClipboardX11, FileListFromAnotherProgram) {
  const std::string before = mark();
  xclip_in(
      "# copied\r\n"
      "file:///tmp/x%20y/%C3%A9t%C3%A9.txt\r\n"
      "file://localhost/tmp/plain\n"
      "file:/srv/%E2%82%AC%20sign/\r\n",
      "text/uri-list");
  Cell* back = read_after(before);
  ASSERT_EQ(cell::type_of(*back), TYPE_BLOCK);
  EXPECT_EQ(paths_of(*back), (std::vector<std::string>{"/tmp/x y/été.txt", "/tmp/plain",
                                                        "/srv/€ sign/"}));
  EXPECT_EQ(mold(*back), R"([%"/tmp/x y/été.txt" %/tmp/plain %"/srv/€ sign/"])");

  const std::string again = mark();
  xclip_in("https://example.org/page\r\nfile:///tmp/f\r\n", "text/uri-list");
  EXPECT_EQ(mold(*read_after(again)), "none");  // offered as nothing else
}

// none empties the clipboard: the clipboard is ours and offers nothing.
TEST_F(ClipboardX11, WritingNoneEmpties) {
  const std::string before = mark();
  xclip_in("something");
  EXPECT_EQ(text_of(*read_after(before)), "something");
  EXPECT_TRUE(write(constants::none));
  EXPECT_EQ(mold(*clipboard::read()), "none");
  Output out = xclip_out();
  EXPECT_NE(out.status, 0);
  EXPECT_EQ(out.text, "");
  EXPECT_EQ(xclip_out("TARGETS").text, "TARGETS\nTIMESTAMP\n");
}

// Values that are no text, file list or none, and block items that are no paths, are refused,
// and the clipboard keeps what it held.
TEST_F(ClipboardX11, RefusedValues) {
  ASSERT_TRUE(write(*text("kept")));
  for (const char* source : {"12", "'word", "%file.txt", "make map! [a 1]", "[%a 3]", "[%a [%b]]",
                             "http://example.org"}) {
    SCOPED_TRACE(source);
    Cell* value = zel(source);
    EXPECT_EQ(raised_by([&] { write(*value); }), "script/invalid-arg");
  }
  EXPECT_EQ(xclip_out().text, "kept");
}

// Image bytes that do not decode (a PNG signature and nothing after it) are refused with an
// error, never taken for an empty image.
TEST_F(ClipboardX11, CorruptImageIsRefused) {
  xclip_in(std::string("\x89PNG\r\n\x1a\n", 8), "image/png");
  for (int i = 0; i < 100 && xclip_out("TARGETS").text.find("image/png") == std::string::npos;
       i++) {
    usleep(20000);
  }
  EXPECT_EQ(raised_by([] { clipboard::read(); }), "access/bad-media");
}

// An owner that never answers: the read gives up and answers false.
TEST_F(ClipboardX11, SilentOwnerReadsFalse) {
  ASSERT_TRUE(silent_owner::take());
  EXPECT_EQ(mold(*clipboard::read()), "false");
  silent_owner::release();
  EXPECT_EQ(mold(*clipboard::read()), "none");
  EXPECT_TRUE(write(*text("after")));
  EXPECT_EQ(xclip_out().text, "after");
}

// --- The server going away -----------------------------------------------------------------

// Run with a server of its own (clipboard.x11-server-gone), which it stops: neither the owner
// thread nor the reader ends the process; both directions then say there is no display.
class ClipboardServerGone : public ClipboardX11 {};

TEST_F(ClipboardServerGone, ProcessLivesOn) {
  const char* pid = std::getenv("XVFB_PID");
  ASSERT_NE(pid, nullptr) << "runs under tests/clipboard/under_xvfb.py";
  const std::string display = std::getenv("DISPLAY");
  ASSERT_TRUE(write(*text("before")));
  EXPECT_EQ(text_of(*clipboard::read()), "before");
  ASSERT_EQ(kill(pid_t(std::atoi(pid)), SIGTERM), 0);
  std::string raised;
  for (int i = 0; i < 500 && raised.empty(); i++) {
    raised = raised_by([] { clipboard::read(); });
    usleep(20000);
  }
  EXPECT_EQ(raised, "access/cannot-open");
  Cell* error = caught([] { clipboard::read(); });
  ASSERT_NE(error, nullptr);
  EXPECT_NE(form(*error).find("cannot connect to the X display " + display), std::string::npos)
      << form(*error);
  EXPECT_EQ(raised_by([] { clipboard::write(*text("after")); }), "access/cannot-open");
}

// --- Without a display ---------------------------------------------------------------------

class ClipboardNoDisplay : public WordTest {
 protected:
  // The first line of the error report both directions raise.
  std::string message_of_both() {
    Cell* read_error = caught([] { clipboard::read(); });
    if (!read_error) return "read raised nothing";
    const std::string read_message = form(*read_error).substr(0, form(*read_error).find('\n'));
    Cell* value = string::load_encoded_push(reinterpret_cast<const uint8_t*>("x"), 1,
                                            string::kUtf8);
    Cell* write_error = caught([&] { clipboard::write(*value); });
    if (!write_error) return "write raised nothing";
    const std::string write_message =
        form(*write_error).substr(0, form(*write_error).find('\n'));
    EXPECT_EQ(read_message, write_message);
    EXPECT_EQ(raised_by([] { clipboard::read(); }), "access/cannot-open");
    EXPECT_EQ(raised_by([] { clipboard::write(constants::none); }), "access/cannot-open");
    return read_message;
  }
};

TEST_F(ClipboardNoDisplay, UnsetOrUnreachable) {
  unsetenv("DISPLAY");
  EXPECT_EQ(message_of_both(),
            "*** Access Error: cannot open: \"clipboard: no X display (DISPLAY is not set)\"");
  setenv("DISPLAY", ":59999", 1);
  EXPECT_EQ(message_of_both(),
            "*** Access Error: cannot open: \"clipboard: cannot connect to the X display :59999\"");
}

// --- text/uri-list -------------------------------------------------------------------------

TEST(ClipboardUris, RoundTripsAndRefusals) {
  const std::vector<std::string> paths = {"/a b/c", "/ü/%/#?", "/plain-._~/", "/"};
  const std::string list = platform::uri_list_from_paths(paths);
  EXPECT_EQ(list,
            "file:///a%20b/c\r\nfile:///%C3%BC/%25/%23%3F\r\nfile:///plain-._~/\r\nfile:///\r\n");
  std::vector<std::string> back;
  ASSERT_TRUE(platform::paths_from_uri_list(list, back));
  EXPECT_EQ(back, paths);

  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  struct Case {
    std::string list;
    bool files;
    std::vector<std::string> paths;
  };
  const Case cases[] = {
      {"", true, {}},
      {"# only a comment\r\n\r\n", true, {}},
      {"FILE:///Upper%2fcase", true, {"/Upper/case"}},
      {"file://" + std::string(host) + "/mine", true, {"/mine"}},
      {"file:///bad%zz%4", true, {"/bad%zz%4"}},  // a broken escape stays as it stands
      {"file://elsewhere.example/theirs", false, {}},
      {"file:relative", false, {}},
      {"file://localhost", false, {}},
      {"http://example.org/", false, {}},
      {"file:///ok\r\nmailto:someone@example.org\r\n", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    std::vector<std::string> got;
    EXPECT_EQ(platform::paths_from_uri_list(c.list, got), c.files);
    if (c.files) {
      EXPECT_EQ(got, c.paths);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  boot::start(argc, argv);
  boot::runtime_init();
  return RUN_ALL_TESTS();
}
