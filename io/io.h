// SPDX-License-Identifier: ISC
// Reading and writing files: the one place that retries a call the system
// interrupted (EINTR), and the system's text for an error.  Each caller
// keeps its own messages; these report only the errno of the failing call.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace io {

// open(path, flags), again while a signal interrupts it.  The descriptor, or
// -1 with errno set.
int Open(const char* path, int flags);

// One read(2) or pread(2), again while a signal interrupts it: the count
// read (0 at the end of the file), or -1 with errno set.
ssize_t Read(int fd, void* buffer, size_t size);
ssize_t ReadAt(int fd, void* buffer, size_t size, off_t offset);

// What a reading of several calls got: count bytes, then error (0 when it
// stopped at the end of the file or with the buffer full).
struct Filled {
  size_t count = 0;
  int error = 0;
};

// Reads into buffer until its size bytes are filled, the file ends, or a
// read fails.  ReadFullAt reads from offset on, leaving the file's position.
Filled ReadFull(int fd, void* buffer, size_t size);
Filled ReadFullAt(int fd, void* buffer, size_t size, off_t offset);

// Reads fd from where it stands to its end, appending to content, which
// takes no more than limit bytes in all: EFBIG when the file holds more
// (content then holds the first limit bytes and possibly some more read
// with them), else 0 or the errno of the failing read.  A regular file's
// size reserves the content ahead.  std::bad_alloc escapes.
int ReadAll(int fd, std::string& content, size_t limit);

// Writes all size bytes of data: 0, or the errno of the failing write.
int WriteAll(int fd, const void* data, size_t size);

// Fills buffer with size bytes from the system's random source (getrandom(2),
// blocking until it is seeded): 0, or the errno of the failing call.
int FillRandom(void* buffer, size_t size);

}  // namespace io

// The system's text for error, as strerror gives it but thread-safe: in
// buffer, or a constant text.
using ErrorTextBuffer = char[256];
const char* SystemErrorText(int error, ErrorTextBuffer& buffer);
