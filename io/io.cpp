// SPDX-License-Identifier: ISC
#include "io/io.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

// The text of a system error, thread-safe: strerror_r comes in two forms,
// and either gives the text strerror would.
[[maybe_unused]] const char* ErrorText(int result, const char* buffer) {
  return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* ErrorText(const char* result, const char*) { return result; }

// Calls call() until it fails with anything but EINTR.
template <typename Call>
auto Retried(Call call) {
  auto result = call();
  while (result < 0 && errno == EINTR) {
    result = call();
  }
  return result;
}

}  // namespace

namespace io {

int Open(const char* path, int flags) {
  // The mode, unused without O_CREAT, is passed so that a fortified build
  // calls open itself for flags it cannot see, not __open_2.
  return Retried([&] { return ::open(path, flags, 0); });
}

ssize_t Read(int fd, void* buffer, size_t size) {
  return Retried([&] { return ::read(fd, buffer, size); });
}

ssize_t ReadAt(int fd, void* buffer, size_t size, off_t offset) {
  return Retried([&] { return ::pread(fd, buffer, size, offset); });
}

Filled ReadFull(int fd, void* buffer, size_t size) {
  Filled filled;
  while (filled.count < size) {
    const ssize_t got = Read(fd, static_cast<char*>(buffer) + filled.count, size - filled.count);
    if (got <= 0) {
      filled.error = got < 0 ? errno : 0;
      break;
    }
    filled.count += static_cast<size_t>(got);
  }
  return filled;
}

Filled ReadFullAt(int fd, void* buffer, size_t size, off_t offset) {
  Filled filled;
  while (filled.count < size) {
    const ssize_t got = ReadAt(fd, static_cast<char*>(buffer) + filled.count, size - filled.count,
                               offset + static_cast<off_t>(filled.count));
    if (got <= 0) {
      filled.error = got < 0 ? errno : 0;
      break;
    }
    filled.count += static_cast<size_t>(got);
  }
  return filled;
}

int ReadAll(int fd, std::string& content, size_t limit) {
  struct stat status;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
      static_cast<unsigned long long>(status.st_size) <= limit - std::min(limit, content.size())) {
    content.reserve(content.size() + static_cast<size_t>(status.st_size));
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = Read(fd, buffer, sizeof buffer);
    if (got <= 0) {
      return got < 0 ? errno : 0;
    }
    if (content.size() > limit || static_cast<size_t>(got) > limit - content.size()) {
      return EFBIG;
    }
    content.append(buffer, static_cast<size_t>(got));
  }
}

int WriteAll(int fd, const void* data, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t put = Retried([&] { return ::write(fd, static_cast<const char*>(data) + done, size - done); });
    if (put < 0) {
      return errno;
    }
    // A write that takes nothing would be asked again forever.
    if (put == 0) return EIO;
    done += static_cast<size_t>(put);
  }
  return 0;
}

int FillRandom(void* buffer, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t got = Retried([&] { return ::getrandom(static_cast<char*>(buffer) + done, size - done, 0); });
    if (got < 0) return errno;
    if (got == 0) return EIO;
    done += static_cast<size_t>(got);
  }
  return 0;
}

}  // namespace io

const char* SystemErrorText(int error, ErrorTextBuffer& buffer) {
  return ErrorText(strerror_r(error, buffer, sizeof buffer), buffer);
}
