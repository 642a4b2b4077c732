// SPDX-License-Identifier: ISC
#include "signtool/read_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

#include "io/io.h"

namespace signtool {

bool ReadWholeFile(const std::string& path, std::string& content, std::string& error, size_t max_size) {
  const bool standard_input = path == "-";
  const std::string name = standard_input ? "standard input" : path;
  const int fd = standard_input ? 0 : io::Open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot read " + name + ": " + std::strerror(errno);
    return false;
  }
  content.clear();
  std::string failure;
  try {
    if (const int read_error = io::ReadAll(fd, content, max_size); read_error == EFBIG) {
      failure = "larger than " + std::to_string(max_size / 1024) + " KiB";
    } else if (read_error != 0) {
      failure = std::strerror(read_error);
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
