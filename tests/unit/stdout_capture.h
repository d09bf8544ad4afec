// Test helper: sends standard output to a temporary file for the life of the object, with the
// console layer in the mode a file gets (redirected), and gives back the bytes written.
#pragma once
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/os/console.h"

class StdoutCapture {
 public:
  StdoutCapture() : file_(std::tmpfile()) {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    dup2(fileno(file_), STDOUT_FILENO);
    platform::init_console();
  }
  ~StdoutCapture() {
    restore();
    std::fclose(file_);
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  // Everything written so far; ends the capture.
  std::string text() {
    restore();
    std::string bytes;
    char chunk[4096];
    std::rewind(file_);
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0) bytes.append(chunk, n);
    return bytes;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
    platform::init_console();
  }

  FILE* file_;
  int saved_;
};
