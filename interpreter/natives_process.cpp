// The natives that start other programs: call (a command with its standard streams fed from and
// captured into language values or files) and browse (the desktop's opener on a URL or a file).
// Both go through the process launcher of platform/os/process.h: no shell is involved unless
// call/shell asks for one. Captured text is put into its target after the child has ended, through
// the target's own insert, so an owner object hears of the change as for any insert.
#include <cerrno>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "interpreter/natives.h"
#include "platform/os/process.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace natives {

namespace {

// The UTF-8 text of a string from its position, or the system's form of a file! path.
std::string text_of(const Cell& value) {
  Cell* text = stack::push_copy(value);
  if (cell::type_of(value) == TYPE_FILE) {
    string::init_empty(text, 16);
    file::to_os_path(value, *text, false);
  }
  int64_t length = -1;
  const uint8_t* bytes = unicode::string_to_utf8(*text, length);
  std::string result(reinterpret_cast<const char*>(bytes), size_t(length));
  stack::pop_cells(1);
  return result;
}

// The bytes a binary! holds from its position.
std::string bytes_of(Cell value) {
  uint32_t length = binary::rest_length(value);
  const uint8_t* start = cell::series_of(value)->head_ptr() + cell::series_index(value);
  return std::string(reinterpret_cast<const char*>(start), length);
}

// A text as the shell reads one word: in single quotes, each single quote written '\''.
std::string shell_quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// What the child reads: a file's contents, or the bytes of a text (UTF-8) or binary! through a
// pipe.
void set_input(platform::StreamSpec& stream, const Cell& source) {
  switch (cell::type_of(source)) {
    case TYPE_FILE:
      stream.kind = platform::StreamKind::kFile;
      stream.path = text_of(source);
      break;
    case TYPE_BINARY:
      stream.kind = platform::StreamKind::kPipe;
      stream.data = bytes_of(source);
      break;
    default:
      stream.kind = platform::StreamKind::kPipe;
      stream.data = text_of(source);
  }
}

// Where the child writes: appended to a file, or captured for a text or binary! target.
void set_output(platform::StreamSpec& stream, const Cell& target) {
  if (cell::type_of(target) == TYPE_FILE) {
    stream.kind = platform::StreamKind::kFile;
    stream.path = text_of(target);
  } else {
    stream.kind = platform::StreamKind::kPipe;
  }
}

// Inserts the captured bytes at the target's position: as they are into a binary!, decoded
// from UTF-8 into a text. Nothing happens for an empty capture.
void put_captured(const Cell& target, const std::string& captured) {
  uint8_t type = cell::type_of(target);
  if (captured.empty() || type == TYPE_FILE) return;
  const auto* bytes = reinterpret_cast<const uint8_t*>(captured.data());
  Cell* series = stack::push_copy(target);
  Cell* value = stack::push_new();
  *value = constants::none;
  if (type == TYPE_BINARY) {
    binary::make_from_bytes(value, bytes, captured.size());
  } else {
    string::load_encoded(bytes, captured.size(), value, string::kUtf8);
  }
  datatype::implemented<action::INSERT>(type)(series, value, -1, false, 1, false);
  stack::pop_cells(2);
}

}  // namespace

// call cmd /wait /show /console /shell /input in /output out /error err: the exit status when
// waiting (which any redirection implies), else the process id; -1 when nothing could start.
void call(const int32_t* refinements) {
  enum { WAIT, SHOW, CONSOLE, SHELL, INPUT, OUTPUT, ERROR };
  auto present = [refinements](int r) { return refinements[r] >= 0; };
  // /console is refused by the process launcher: internal/not-done is its defined answer, not a
  // gap.
  if (present(CONSOLE)) rt::fire_error("internal", "not-done");
  Cell command = *stack::arg(0);
  if (string::rest_length(command) == 0) return stack::set_only_result(integer::make(0));

  platform::Launch launch;
  const std::string text = text_of(command);
  const bool is_file = cell::type_of(command) == TYPE_FILE;
  if (present(SHELL)) {
    launch.argv = {"/bin/sh", "-c", is_file ? shell_quoted(text) : text};
  } else if (is_file) {
    launch.argv = {text};
  } else {
    launch.argv = platform::split_command(text);
    if (launch.argv.empty()) return stack::set_only_result(integer::make(0));  // blanks only
  }
  // /show has nothing to do here: a child has no window of its own to show or hide.
  launch.wait = present(WAIT) || present(INPUT) || present(OUTPUT) || present(ERROR);
  launch.output.kind = platform::StreamKind::kNull;
  launch.error.kind = platform::StreamKind::kNull;
  if (present(INPUT)) set_input(launch.input, *stack::arg(refinements[INPUT]));
  if (present(OUTPUT)) set_output(launch.output, *stack::arg(refinements[OUTPUT]));
  if (present(ERROR)) set_output(launch.error, *stack::arg(refinements[ERROR]));

  const platform::LaunchResult result = platform::run_process(launch);
  if (result.spawn_error == 0) {
    if (present(OUTPUT)) put_captured(*stack::arg(refinements[OUTPUT]), launch.output.data);
    if (present(ERROR)) put_captured(*stack::arg(refinements[ERROR]), launch.error.data);
  }
  stack::set_only_result(integer::make(result.value));
}

// browse url: opens the URL or file with the desktop's opener, xdg-open, without waiting for it.
// Only a missing opener is reported: what the opener makes of the address is its own affair.
void browse(const int32_t*) {
  platform::Launch launch;
  launch.argv = {"xdg-open", text_of(*stack::arg(0))};
  launch.input.kind = platform::StreamKind::kNull;
  launch.output.kind = platform::StreamKind::kNull;
  launch.error.kind = platform::StreamKind::kNull;
  if (platform::run_process(launch).spawn_error == ENOENT) {
    Cell* name = string::load_encoded_push(reinterpret_cast<const uint8_t*>("xdg-open"), 8,
                                           string::kUtf8);
    rt::fire_error("internal", "not-here", name);
  }
  stack::set_only_result(constants::unset);
}

}  // namespace natives
