// Files and directories over POSIX open/read/write/rename/unlink, opendir/readdir, stat and
// fsync. See files.h. Offsets are off_t, 64 bits on every target we build for.
#include "platform/os/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace platform {

static_assert(sizeof(off_t) == 8, "file offsets must be 64-bit");

namespace {

// Chunk size of the reads that go on until the end: a stream tells no size up front.
constexpr size_t kReadChunk = 64 * 1024;

int open_retrying(const char* path, int flags, mode_t mode = 0666) {
  int fd;
  do fd = open(path, flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

// close() keeping the errno of an earlier failure.
void close_quietly(int fd) {
  const int saved = errno;
  close(fd);
  errno = saved;
}

mode_t current_umask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// Writes in place, truncating first: for targets that are not regular files, and for those no
// file can be made beside.
bool overwrite_in_place(const char* path, std::string_view bytes) {
  int fd = open_retrying(path, O_WRONLY | O_CREAT | O_TRUNC);
  if (fd < 0) return false;
  const bool ok = write_bytes(fd, bytes.data(), int64_t(bytes.size())) >= 0;
  if (!ok) {
    close_quietly(fd);
    return false;
  }
  return close(fd) == 0;
}

// Flushes a directory's entries (a rename inside it) to the disk; best effort: some file
// systems refuse fsync on directories.
void sync_directory(const std::string& directory) {
  int fd = open_retrying(directory.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

// --- Handles ---------------------------------------------------------------------------------

int open_file(const char* path, int mode) {
  if (mode & kOpenRead) {
    int fd = open_retrying(path, O_RDONLY);
    struct stat info;
    if (fd >= 0 && fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
      close(fd);
      errno = EISDIR;
      return -1;
    }
    return fd;
  }
  const bool keep = mode & (kOpenAppend | kOpenSeek);
  return open_retrying(path, O_WRONLY | O_CREAT | (keep ? 0 : O_TRUNC));
}

bool close_file(int handle) { return close(handle) == 0; }

int64_t file_size(int handle) {
  struct stat info;
  return fstat(handle, &info) == 0 ? int64_t(info.st_size) : -1;
}

int64_t file_size(const char* path) {
  int fd = open_file(path, kOpenRead);
  if (fd < 0) return -1;
  const int64_t size = file_size(fd);
  close(fd);
  return size;
}

bool seek_file(int handle, int64_t position, bool at_end) {
  return lseek(handle, at_end ? 0 : off_t(position), at_end ? SEEK_END : SEEK_SET) >= 0;
}

int64_t read_bytes(int handle, void* buffer, int64_t count) {
  auto* at = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const size_t step = size_t(std::min<int64_t>(count - done, INT_MAX));
    const ssize_t n = read(handle, at + done, step);
    if (n > 0) {
      done += n;
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      return -1;
    }
  }
  return done;
}

int64_t write_bytes(int handle, const void* data, int64_t count) {
  const auto* at = static_cast<const char*>(data);
  int64_t done = 0;
  while (done < count) {
    const size_t step = size_t(std::min<int64_t>(count - done, INT_MAX));
    const ssize_t n = write(handle, at + done, step);
    if (n > 0) {
      done += n;
    } else if (n == 0) {
      errno = EIO;  // nothing taken and no reason given: trying again would spin
      return -1;
    } else if (errno != EINTR) {
      return -1;
    }
  }
  return count;
}

bool read_to_end(int handle, std::string& bytes) {
  for (;;) {
    const size_t before = bytes.size();
    bytes.resize(before + kReadChunk);
    const ssize_t n = read(handle, bytes.data() + before, kReadChunk);
    bytes.resize(before + size_t(std::max<ssize_t>(n, 0)));
    if (n == 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

bool read_file(const char* path, std::string& bytes) {
  int fd = open_file(path, kOpenRead);
  if (fd < 0) return false;
  bytes.clear();
  const bool ok = read_to_end(fd, bytes);
  close_quietly(fd);
  return ok;
}

bool replace_file(const char* path, std::string_view bytes) {
  std::string target = path;
  if (target.empty() || target.back() == '/') {
    errno = target.empty() ? ENOENT : EISDIR;
    return false;
  }
  struct stat link_info, info;
  const bool exists = stat(path, &info) == 0;
  if (!exists) {
    if (errno != ENOENT) return false;
    // A dangling symbolic link: writing through it makes the file it names.
    if (lstat(path, &link_info) == 0) return overwrite_in_place(path, bytes);
  } else {
    if (S_ISDIR(info.st_mode)) {
      errno = EISDIR;
      return false;
    }
    if (!S_ISREG(info.st_mode)) return overwrite_in_place(path, bytes);
    // Renaming over a file needs no right to the file itself: ask for it, as writing would.
    if (faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0) return false;
    if (lstat(path, &link_info) == 0 && S_ISLNK(link_info.st_mode)) {
      char* real = realpath(path, nullptr);
      if (!real) return false;
      target = real;
      free(real);
    }
  }

  const size_t slash = target.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temporary = (slash == std::string::npos ? "" : directory) + "." + base + ".XXXXXX";
  int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    // No file can be made beside it (an unwritable directory, /proc, /sys): the target, which
    // may be written, is written in place. A full disk does not come this way.
    if (exists && (errno == EACCES || errno == EPERM)) return overwrite_in_place(path, bytes);
    return false;
  }
  if (exists) {
    if (info.st_uid != geteuid() || info.st_gid != getegid()) {
      [[maybe_unused]] int ignored = fchown(fd, info.st_uid, info.st_gid);
    }
    fchmod(fd, info.st_mode & 07777);
  } else {
    fchmod(fd, 0666 & ~current_umask());
  }
  bool ok = write_bytes(fd, bytes.data(), int64_t(bytes.size())) >= 0 && fsync(fd) == 0;
  if (ok) {
    ok = close(fd) == 0;
  } else {
    close_quietly(fd);
  }
  if (ok && rename(temporary.c_str(), target.c_str()) == 0) {
    sync_directory(directory);
    return true;
  }
  const int saved = errno;
  unlink(temporary.c_str());
  errno = saved;
  return false;
}

// --- Names and directories -------------------------------------------------------------------

bool delete_file(const char* path) { return unlink(path) == 0; }

bool remove_directory(const char* path) { return rmdir(path) == 0; }

bool rename_file(const char* from, const char* to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the no-replace flag: look first.
  struct stat info;
  if (lstat(to, &info) == 0) {
    errno = EEXIST;
    return false;
  }
  return rename(from, to) == 0;
}

bool create_directory(const char* path) { return mkdir(path, 0777) == 0; }

bool file_exists(const char* path) {
  struct stat info;
  return stat(path, &info) == 0;
}

bool modified_time(const char* path, int64_t& seconds, int32_t& nanoseconds, bool& directory) {
  struct stat info;
  if (stat(path, &info) != 0) return false;
  seconds = int64_t(info.st_mtim.tv_sec);
  nanoseconds = int32_t(info.st_mtim.tv_nsec);
  directory = S_ISDIR(info.st_mode);
  return true;
}

bool list_directory(const char* path, std::vector<DirEntry>& entries) {
  DIR* dir = opendir(path);
  if (!dir) return false;
  entries.clear();
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (!entry) break;
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool directory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat info;
      directory = fstatat(dirfd(dir), entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
    }
    entries.push_back({std::string(name), directory});
  }
  const int failure = errno;
  closedir(dir);
  if (failure) {
    errno = failure;
    return false;
  }
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return true;
}

}  // namespace platform
