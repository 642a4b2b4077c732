// SPDX-License-Identifier: ISC
// filedigest: prints the SHA-256 of one file as 64 lowercase hexadecimal
// digits and a newline.  It never prints anything else; a failure is told by
// the exit status alone:
//   0    the digest was printed
//   1    no file name was given
//   2    the file could not be opened, examined or read to its stated size
//        (or, where it states none, to its end, below 2^31 bytes),
//        or the digest could not be written
//   125  no memory for the file's content
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "hash/sha256.h"

namespace {

constexpr int kExitNoFileName = 1;
constexpr int kExitFileFailure = 2;
constexpr int kExitNoMemory = 125;

// The file is read in pieces of this size and each piece is hashed straight
// after its read, while it is still in the CPU cache.  The read's copy and
// the hash's loads of one piece fit together in the smallest level-2 cache
// of any x86-64 or ARM server core (256 KiB), and a piece is large enough
// that its system call costs about 1% of hashing it.
constexpr uint32_t kPieceSize = 64 * 1024;
constexpr size_t kBufferAlignment = 4096;

// The size is counted in 32 bits, as the status query of a build without
// large-file support reports it: there, a file of 2^31 bytes or more makes
// the query fail with EOVERFLOW.  Returns false for any failed query.
bool QueryFileSize(int fd, uint32_t& size) {
  struct stat status;
  if (fstat(fd, &status) != 0) {
    return false;
  }
  if (status.st_size < 0 || status.st_size > INT32_MAX) {
    errno = EOVERFLOW;
    return false;
  }
  size = static_cast<uint32_t>(status.st_size);
  return true;
}

// Reads one piece into buffer, retrying interrupted reads; returns what read
// returned otherwise.
ssize_t ReadPiece(int fd, uint8_t* buffer, uint32_t want) {
  ssize_t got;
  do {
    got = read(fd, buffer, want);
  } while (got < 0 && errno == EINTR);
  return got;
}

// Reads the size bytes of the file at fd through buffer, hashing each piece
// into ctx straight after its read, and returns size.  size is nonzero and
// buffer holds min(size, kPieceSize) bytes.  Does not return on failure: a
// failed read or an early end of file ends the process with status 2.  A file
// that has grown since the status query is digested over the size it gave.
uint32_t ReadAll(int fd, uint8_t* buffer, uint32_t size, Sha256Context& ctx) {
  uint32_t count = 0;
  while (count < size) {
    const uint32_t want = size - count < kPieceSize ? size - count : kPieceSize;
    const ssize_t got = ReadPiece(fd, buffer, want);
    if (got <= 0) {
      exit(kExitFileFailure);  // a failed read, or the end before the stated size
    }
    Sha256Update(ctx, buffer, static_cast<uint32_t>(got));
    count += static_cast<uint32_t>(got);
  }
  return count;
}

// A stated size of 0 is confirmed by reading to the end.  An empty file reads
// nothing; a pipe, a terminal or a file the kernel makes up as it is read
// (/proc) states 0 yet has content, and every byte of it is digested, under
// the same limit as a stated size.  Something that states 0 but cannot be
// read (a directory) fails.  Needs a buffer of kPieceSize bytes and ends the
// process with status 2 on failure.
void ReadToEnd(int fd, uint8_t* buffer, Sha256Context& ctx) {
  uint32_t count = 0;
  for (;;) {
    const ssize_t got = ReadPiece(fd, buffer, kPieceSize);
    if (got < 0) {
      exit(kExitFileFailure);
    }
    if (got == 0) {
      return;
    }
    if (static_cast<uint32_t>(got) > static_cast<uint32_t>(INT32_MAX) - count) {
      exit(kExitFileFailure);  // 2^31 bytes or more: too large for the count
    }
    Sha256Update(ctx, buffer, static_cast<uint32_t>(got));
    count += static_cast<uint32_t>(got);
  }
}

// One allocation of at least size bytes (never zero: a request for zero
// bytes may fairly return null, which must not read as a failed allocation),
// aligned to a page: the kernel copies into a page-aligned destination
// several times faster than into malloc's usual 16 bytes past a page start.
uint8_t* AllocateBuffer(uint32_t size) {
  void* buffer = nullptr;
  if (posix_memalign(&buffer, kBufferAlignment, size > 0 ? size : 1) != 0) {
    return nullptr;
  }
  return static_cast<uint8_t*>(buffer);
}

// Writes the 32 bytes at digest as 64 lowercase hexadecimal digits and a
// newline to standard output.
void PrintDigestHex(const uint8_t* digest) {
  for (int i = 0; i < 32; ++i) {
    printf("%02x", digest[i]);
  }
  putchar('\n');
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    return kExitNoFileName;
  }

  int fd;
  do {
    fd = open(argv[1], O_RDONLY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return kExitFileFailure;
  }

  uint32_t size = 0;
  if (!QueryFileSize(fd, size)) {
    return kExitFileFailure;
  }

  // The buffer has room for the whole file, so that a file larger than the
  // memory on offer ends with status 125 before anything is read.  The
  // pieces all pass through its start, though: a piece is of no use once
  // hashed, and the untouched rest costs neither page faults nor resident
  // memory, which on a large file is a good share of the run time.  A stated
  // size of 0 needs one piece's room, as its content may be of any length.
  uint8_t* buffer = AllocateBuffer(size > 0 ? size : kPieceSize);
  if (buffer == nullptr) {
    return kExitNoMemory;
  }

  Sha256Context ctx;
  Sha256Init(ctx);
  if (size > 0) {
    ReadAll(fd, buffer, size, ctx);
  } else {
    ReadToEnd(fd, buffer, ctx);
  }
  free(buffer);
  close(fd);
  uint8_t digest[32];
  Sha256Final(ctx, digest);

  PrintDigestHex(digest);
  // A digest that never reached its reader must not end with status 0.
  if (fflush(stdout) != 0) {
    return kExitFileFailure;
  }
  return 0;
}
