// Child processes over POSIX: a command line cut into a program and its arguments (no shell), a
// program started with posix_spawn (searched in PATH) whose standard streams come from the
// parent, /dev/null, a file or a pipe, and the pipes fed and drained together with poll, so that
// a child filling both its output and its error pipe never waits on us while we wait on it.
// Children not waited for are reaped at the next launch.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Where a child's standard stream comes from or goes to.
enum class StreamKind : uint8_t {
  kParent,  // the parent's own stream
  kNull,    // /dev/null
  kFile,    // the file at `path`: read for input, appended to (created when missing) for output
  kPipe,    // input: `data` is written to the child; output: what the child writes lands in `data`
};

struct StreamSpec {
  StreamKind kind = StreamKind::kParent;
  std::string path;
  std::string data;
};

struct Launch {
  std::vector<std::string> argv;  // the program (searched in PATH unless it holds a "/") first
  bool wait = false;              // a pipe in any stream forces waiting
  StreamSpec input, output, error;
};

struct LaunchResult {
  // The exit status when waited for (128 + the signal's number for a child a signal ended),
  // else the process id; -1 when nothing could be started.
  int32_t value = -1;
  int spawn_error = 0;  // the errno of a failed start (ENOENT: no such program), else 0
};

// Runs the launch; a pipe stream's captured bytes are left in its `data`.
LaunchResult run_process(Launch& launch);

// The command line's words: blanks separate them; single quotes keep their text as it stands;
// double quotes keep blanks, a backslash in them escaping only a double quote or a backslash;
// elsewhere a backslash keeps the next character. Nothing is expanded.
std::vector<std::string> split_command(const std::string& command);

}  // namespace platform
