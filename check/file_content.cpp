// SPDX-License-Identifier: ISC
#include "check/file_content.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "io/file_descriptor.h"
#include "io/io.h"

namespace {

constexpr size_t kReadSize = 1024;

}  // namespace

void FreeBlock::operator()(char* block) const { std::free(block); }

CheckReport ReadFileContent(const char* file_name, CheckMode mode, FileContent& content) {
  content.size = 0;
  const int fd = io::Open(file_name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return FailedCheck(mode, kExitIoError, CheckMessage::kOpenFailed, errno);
  }
  FileDescriptor file(fd);

  struct stat status;
  if (fstat(file.get(), &status) != 0) {
    return FailedCheck(mode, kExitIoError,
                       mode == CheckMode::kUrl ? CheckMessage::kStatFailed : CheckMessage::kFstatFailed, errno);
  }
  if (status.st_size <= 0) {
    return FailedCheck(mode, kExitIoError, CheckMessage::kEmptyFile);
  }
  // The content is exactly the size fstat reported: each read asks for no
  // more than is still missing, so a file that grows meanwhile is cut there,
  // and one that shrinks ends in an early end of file.
  const auto size = static_cast<size_t>(status.st_size);
  if (content.capacity < size) {
    content.buffer.reset(static_cast<char*>(std::malloc(size)));
    content.capacity = content.buffer ? size : 0;
    if (!content.buffer) {
      return FailedCheck(mode, kExitIoError, CheckMessage::kReadFailed, ENOMEM);
    }
  }
  size_t count = 0;
  do {
    const ssize_t got = io::Read(file.get(), content.buffer.get() + count, std::min(kReadSize, size - count));
    if (got < 0) {
      return FailedCheck(mode, kExitIoError, CheckMessage::kReadFailed, errno);
    }
    if (got == 0) {
      return FailedCheck(mode, kExitIoError, CheckMessage::kUnexpectedEof);
    }
    count += static_cast<size_t>(got);
  } while (count < size);
  content.size = size;
  return PassedCheck(mode, -1);
}
