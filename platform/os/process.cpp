// Child processes: posix_spawn with the standard streams placed by file actions, the pipes served
// together by one poll loop, the exit status read with waitpid. Every descriptor we open is
// close-on-exec and kept above 2, so a child gets exactly its three streams.
#include "platform/os/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

extern char** environ;

namespace platform {

namespace {

// A descriptor closed when it is replaced or goes out of scope.
class Fd {
 public:
  Fd() = default;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Moves a descriptor above the standard ones: the parent may run with one of them closed, and a
// pipe end that landed on 0, 1 or 2 could be overwritten while the child's streams are placed.
int lift(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int higher = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return higher;
}

int open_lifted(const char* path, int flags) {
  int fd;
  do fd = open(path, flags | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  return lift(fd);
}

bool make_pipe(Fd& read_end, Fd& write_end) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  read_end.reset(lift(fds[0]));
  write_end.reset(lift(fds[1]));
  return read_end.get() >= 0 && write_end.get() >= 0;
}

// Children started without waiting, reaped once they have ended so that none stays a zombie.
std::vector<pid_t> unwaited;

void reap_unwaited() {
  std::erase_if(unwaited, [](pid_t pid) {
    int status;
    return waitpid(pid, &status, WNOHANG) != 0;  // reaped, or no longer ours
  });
}

int32_t wait_status(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Writes the input and reads the output and the error, each as far as its pipe allows at the
// moment, until every pipe is closed: no order of the child's reads and writes can block both.
// A child that ends without reading all its input makes the write fail with EPIPE: SIGPIPE is
// held back meanwhile and the one raised taken away, so that it never ends this process.
void serve_pipes(Fd& input, const std::string& data, Fd& output, std::string& out, Fd& error,
                 std::string& err) {
  sigset_t pipe_signal, previous;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
  bool broken = false;

  size_t written = 0;
  if (input.get() >= 0 && data.empty()) input.reset();
  if (input.get() >= 0) fcntl(input.get(), F_SETFL, O_NONBLOCK);
  static char buffer[65536];
  while (input.get() >= 0 || output.get() >= 0 || error.get() >= 0) {
    pollfd fds[3];
    Fd* owners[3];
    int count = 0;
    if (input.get() >= 0) {
      fds[count] = {input.get(), POLLOUT, 0};
      owners[count++] = &input;
    }
    for (Fd* reader : {&output, &error}) {
      if (reader->get() < 0) continue;
      fds[count] = {reader->get(), POLLIN, 0};
      owners[count++] = reader;
    }
    if (poll(fds, static_cast<nfds_t>(count), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < count; i++) {
      if (!fds[i].revents) continue;
      if (owners[i] == &input) {
        ssize_t n = write(input.get(), data.data() + written, data.size() - written);
        if (n > 0) {
          written += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
          broken = broken || errno == EPIPE;
          written = data.size();  // the child will read no more
        }
        if (written == data.size()) input.reset();
      } else {
        std::string& sink = owners[i] == &output ? out : err;
        ssize_t n = read(owners[i]->get(), buffer, sizeof buffer);
        if (n > 0) {
          sink.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
          owners[i]->reset();
        }
      }
    }
  }

  if (broken) {
    timespec now{0, 0};
    sigtimedwait(&pipe_signal, nullptr, &now);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace

LaunchResult run_process(Launch& launch) {
  // A SIGCHLD ignored (as a parent may leave it to us) reaps children by itself, and waitpid
  // would then find no exit status to report.
  struct sigaction child_signal;
  if (sigaction(SIGCHLD, nullptr, &child_signal) == 0 && child_signal.sa_handler == SIG_IGN) {
    signal(SIGCHLD, SIG_DFL);
  }
  reap_unwaited();
  LaunchResult result;
  if (launch.argv.empty()) {
    result.spawn_error = ENOENT;
    return result;
  }

  StreamSpec* specs[3] = {&launch.input, &launch.output, &launch.error};
  bool piped = false, nulled = false;
  for (StreamSpec* spec : specs) {
    piped = piped || spec->kind == StreamKind::kPipe;
    nulled = nulled || spec->kind == StreamKind::kNull;
  }
  Fd null_device;
  if (nulled) {
    null_device.reset(open_lifted("/dev/null", O_RDWR));
    if (null_device.get() < 0) {
      result.spawn_error = errno;
      return result;
    }
  }

  Fd child_end[3];  // what the child gets as stream s, when it is not the parent's own
  Fd our_end[3];    // our end of stream s's pipe
  for (int s = 0; s < 3; s++) {
    StreamSpec& spec = *specs[s];
    switch (spec.kind) {
      case StreamKind::kParent:
        break;
      case StreamKind::kNull:
        child_end[s].reset(fcntl(null_device.get(), F_DUPFD_CLOEXEC, 3));
        break;
      case StreamKind::kFile:
        child_end[s].reset(open_lifted(spec.path.c_str(),
                                       s == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_APPEND));
        break;
      case StreamKind::kPipe:
        if (s == 0 ? !make_pipe(child_end[s], our_end[s]) : !make_pipe(our_end[s], child_end[s])) {
          result.spawn_error = errno;
          return result;
        }
        if (s > 0) spec.data.clear();
        break;
    }
    if (spec.kind != StreamKind::kParent && child_end[s].get() < 0) {
      result.spawn_error = errno;
      return result;
    }
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int s = 0; s < 3; s++) {
    if (child_end[s].get() >= 0) posix_spawn_file_actions_adddup2(&actions, child_end[s].get(), s);
  }
  // The child starts with no signal blocked and SIGPIPE at its default, whatever ours are.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t no_signals, pipe_signal;
  sigemptyset(&no_signals);
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &no_signals);
  posix_spawnattr_setsigdefault(&attributes, &pipe_signal);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (std::string& word : launch.argv) args.push_back(word.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  int failure = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  for (Fd& end : child_end) end.reset();  // the child holds its own copies
  null_device.reset();
  if (failure != 0) {
    result.spawn_error = failure;
    return result;
  }

  if (!launch.wait && !piped) {
    unwaited.push_back(pid);
    result.value = static_cast<int32_t>(pid);
    return result;
  }
  serve_pipes(our_end[0], launch.input.data, our_end[1], launch.output.data, our_end[2],
              launch.error.data);
  result.value = wait_status(pid);
  return result;
}

std::vector<std::string> split_command(const std::string& command) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  for (size_t i = 0; i < command.size(); i++) {
    char c = command[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
      continue;
    }
    in_word = true;
    if (c == '\'') {
      size_t end = command.find('\'', i + 1);
      if (end == std::string::npos) end = command.size();
      word.append(command, i + 1, end - i - 1);
      i = end;
    } else if (c == '"') {
      for (i++; i < command.size() && command[i] != '"'; i++) {
        if (command[i] == '\\' && i + 1 < command.size() &&
            (command[i + 1] == '"' || command[i + 1] == '\\')) {
          i++;
        }
        word += command[i];
      }
    } else if (c == '\\' && i + 1 < command.size()) {
      word += command[++i];
    } else {
      word += c;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

}  // namespace platform
