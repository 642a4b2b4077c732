// SPDX-License-Identifier: ISC
// Owns an open file descriptor and closes it once, early or at scope exit.
#pragma once

#include <unistd.h>

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Close(); }

  int get() const { return fd_; }

  // Messages are printed only after the descriptor is closed; callers that
  // need errno for a message take it before calling this.
  void Close() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

 private:
  int fd_;
};
