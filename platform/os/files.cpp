// Files over POSIX open/read. See files.h.
#include "platform/os/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

bool read_file(const char* path, std::string& bytes) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bytes.clear();
  char buffer[1 << 16];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      bytes.append(buffer, size_t(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      ok = false;  // a directory (EISDIR) or a failing device
      break;
    }
  }
  close(fd);
  return ok;
}

}  // namespace platform
