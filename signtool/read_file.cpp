// SPDX-License-Identifier: ISC
#include "signtool/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

namespace signtool {

bool ReadWholeFile(const std::string& path, std::string& content, std::string& error, size_t max_size) {
  const bool standard_input = path == "-";
  const std::string name = standard_input ? "standard input" : path;
  const int fd = standard_input ? 0 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot read " + name + ": " + std::strerror(errno);
    return false;
  }
  content.clear();
  std::string failure;
  try {
    // A regular file's size is known: one allocation, and a file too large
    // for memory fails before anything is read.
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        static_cast<unsigned long long>(st.st_size) <= max_size) {
      content.reserve(static_cast<size_t>(st.st_size));
    }
    char buffer[65536];
    for (;;) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        failure = std::strerror(errno);
        break;
      }
      if (n == 0) break;
      if (static_cast<size_t>(n) > max_size - content.size()) {
        failure = "larger than " + std::to_string(max_size / 1024) + " KiB";
        break;
      }
      content.append(buffer, static_cast<size_t>(n));
    }
  } catch (const std::bad_alloc&) {
    failure = "not enough memory for its content";
  } catch (const std::length_error&) {
    failure = "not enough memory for its content";
  }
  if (!standard_input) close(fd);
  if (!failure.empty()) {
    std::string().swap(content);
    error = "cannot read " + name + ": " + failure;
    return false;
  }
  return true;
}

}  // namespace signtool
