// Operating-system services over POSIX: virtual memory (mmap), directory, environment, the
// command line (/proc/self/cmdline), the system's description (uname, os-release), file sizes,
// the secure random source (getrandom), sleep, time and zone (clock_gettime, localtime_r with
// tm_gmtoff), and the error box.
#include "platform/os/platform.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/os/console.h"
#include "runtime/throw.h"

namespace platform {

void init() { init_console(); }

// --- Virtual memory ----------------------------------------------------------------------------

void* virtual_alloc(size_t size, bool executable) {
  int protection = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
  void* p = mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw rt::Throw{rt::kThrowCommitRefused};
  return p;
}

void virtual_free(void* address, size_t size) {
  if (munmap(address, size) != 0) throw rt::Throw{rt::kThrowReleaseRefused};
}

void prefault(void* address, size_t size) {
  madvise(address, size, MADV_POPULATE_WRITE);  // an older system refuses: pages then fault
}

void allow_huge_pages(void* address, size_t size) {
  madvise(address, size, MADV_HUGEPAGE);  // only advice: refused or not, nothing changes
}

void* virtual_grow(void* address, size_t old_size, size_t new_size) {
  void* p = mremap(address, old_size, new_size, MREMAP_MAYMOVE);
  if (p == MAP_FAILED) throw rt::Throw{rt::kThrowCommitRefused};
  return p;
}

// --- Directory and environment -------------------------------------------------------------

std::string get_current_dir() {
  std::vector<char> buffer(256);
  while (!getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

bool set_current_dir(const char* path) { return chdir(path) == 0; }

bool get_env(const char* name, std::string& value) {
  const char* found = std::getenv(name);
  if (!found) return false;
  value = found;
  return true;
}

// A null value removes the variable.
bool set_env(const char* name, const char* value) {
  return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

std::vector<std::pair<std::string, std::string>> environment() {
  std::vector<std::pair<std::string, std::string>> entries;
  for (char** entry = environ; entry && *entry; entry++) {
    std::string text(*entry);
    size_t split = text.empty() ? std::string::npos : text.find('=', 1);
    if (split == std::string::npos) {
      entries.emplace_back(text, std::string());
    } else {
      entries.emplace_back(text.substr(0, split), text.substr(split + 1));
    }
  }
  return entries;
}

// --- The process and the system ------------------------------------------------------------

namespace {

// The whole content of a file that may not tell its size (the files of /proc); false when it
// cannot be opened or read.
bool read_whole_file(const char* path, std::string& content) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  content.clear();
  char chunk[4096];
  ssize_t got;
  while ((got = read(fd, chunk, sizeof chunk)) != 0) {
    if (got < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return false;
    }
    content.append(chunk, size_t(got));
  }
  close(fd);
  return true;
}

}  // namespace

std::string join_command_line(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line += ' ';
    bool quoted = argument.empty() || argument.find_first_of(" \t") != std::string::npos;
    if (quoted) line += '"';
    line += argument;
    if (quoted) line += '"';
  }
  return line;
}

std::string command_line() {
  std::string content;
  if (!read_whole_file("/proc/self/cmdline", content)) return std::string();
  // Each argument ends with a NUL; a process that rewrote its arguments may have left the last
  // one without.
  std::vector<std::string> arguments;
  size_t start = 0;
  for (size_t end; (end = content.find('\0', start)) != std::string::npos; start = end + 1) {
    arguments.push_back(content.substr(start, end - start));
  }
  if (start < content.size()) arguments.push_back(content.substr(start));
  return join_command_line(arguments);
}

std::string os_release_value(const std::string& text, const std::string& key) {
  std::string value;
  size_t line_start = 0;
  while (line_start < text.size()) {
    size_t line_end = text.find('\n', line_start);
    if (line_end == std::string::npos) line_end = text.size();
    std::string line = text.substr(line_start, line_end - line_start);
    line_start = line_end + 1;
    if (line.compare(0, key.size() + 1, key + "=") != 0) continue;
    // A later assignment wins, as when the file is sourced by a shell.
    value.clear();
    const char quote = line.size() > key.size() + 1 ? line[key.size() + 1] : 0;
    if (quote == '"' || quote == '\'') {
      for (size_t i = key.size() + 2; i < line.size() && line[i] != quote; i++) {
        if (quote == '"' && line[i] == '\\' && i + 1 < line.size()) i++;
        value += line[i];
      }
    } else {
      value = line.substr(key.size() + 1);
      value.erase(value.find_last_not_of(" \t\r") + 1);
    }
  }
  return value;
}

SystemInfo system_info() {
  SystemInfo info;
  utsname names;
  if (uname(&names) == 0) {
    info.kernel = names.sysname;
    info.release = names.release;
    info.machine = names.machine;
  }
  std::string text;
  if (read_whole_file("/etc/os-release", text) || read_whole_file("/usr/lib/os-release", text)) {
    info.distribution = os_release_value(text, "PRETTY_NAME");
    if (info.distribution.empty()) {
      info.distribution = os_release_value(text, "NAME");
      std::string version = os_release_value(text, "VERSION");
      if (!info.distribution.empty() && !version.empty()) info.distribution += " " + version;
    }
  }
  return info;
}

// --- Files and the secure random source --------------------------------------------------------

bool secure_random_bytes(void* buffer, size_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    ssize_t got = getrandom(out, count, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out += got;
    count -= static_cast<size_t>(got);
  }
  return true;
}

// --- Sleep and time ----------------------------------------------------------------------------

void sleep(double seconds) {
  // NaN and negative durations sleep the minimum too; a span beyond what timespec can hold
  // (about a century) is cut there.
  double span = std::isnan(seconds) ? 0.001 : std::clamp(seconds, 0.001, 3e9);
  timespec rest;
  rest.tv_sec = static_cast<time_t>(span);
  rest.tv_nsec = static_cast<long>((span - std::floor(span)) * 1e9);
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

double utc_time_of_day(bool precise) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  double seconds = static_cast<double>(now.tv_sec % 86400);
  return precise ? seconds + now.tv_nsec / 1e9 : seconds;
}

uint32_t pack_zone(int offset_minutes) {
  // The sign bit goes with every negative offset, so that -0:30 keeps its sign too.
  uint32_t magnitude = static_cast<uint32_t>(std::abs(offset_minutes));
  uint32_t hours = (magnitude / 60 & 0xF) | (offset_minutes < 0 ? 0x10 : 0);
  return hours << 2 | (magnitude % 60 / 15 & 3);
}

uint32_t current_date_packed(bool utc) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm fields;
  if (utc)
    gmtime_r(&now.tv_sec, &fields);
  else
    localtime_r(&now.tv_sec, &fields);
  uint32_t zone = utc ? 0 : pack_zone(static_cast<int>(fields.tm_gmtoff / 60));
  return static_cast<uint32_t>(fields.tm_year + 1900) << 17 |
         static_cast<uint32_t>(fields.tm_mon + 1) << 12 |
         static_cast<uint32_t>(fields.tm_mday) << 7 | zone;
}

// --- Error box -----------------------------------------------------------------------------

// Until the GUI exists the report goes to standard error; the caption waits for the dialog.
// No allocation here: the fatal path may come from a fault inside the allocator.
void error_box([[maybe_unused]] const char* caption, const char* text) {
  write_all(STDERR_FILENO, text, std::strlen(text));
  write_all(STDERR_FILENO, "\n", 1);
}

}  // namespace platform
