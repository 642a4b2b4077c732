// SPDX-License-Identifier: ISC
// A preloaded library that makes the system calls misbehave on one file, so
// the programs' failure paths can be driven end to end.  It acts only on the
// file named by FAULT_PATH; everything else passes straight through.
//
//   FAULT_OPEN_EINTR=N     the first N opens of the file fail with EINTR
//   FAULT_READ_EINTR=N     the first N reads (read or pread) fail with EINTR
//   FAULT_READ_MAX=K       every read returns at most K bytes
//   FAULT_READ_SHORT_AT=O  a read (read or pread) that would run past file
//                          offset O stops there: a short read at any offset
//   FAULT_READ_EIO_AT=OFF  reads fail with EIO once OFF bytes were delivered
//   FAULT_FSTAT_DELTA=D    fstat reports the size plus D (D < 0: the file grew
//                          after fstat; D > 0: it shrank)
//   FAULT_FSTAT_FAIL=1     fstat fails with EIO
//   FAULT_MMAP_FAIL=1      mmap of the file fails with ENOMEM
//   FAULT_MMAP_TRUNCATE=N  once the file is mapped, it is truncated to N bytes
//   FAULT_TRUNCATE_AFTER=S ... or only once the program has printed S
//   FAULT_BLOCK_SIGBUS=1   the program starts with SIGBUS blocked
//   FAULT_BLOCK_SIGBUS=2   ... and, as it exits, flushes its output and
//                          unblocks SIGBUS: a SIGBUS still pending kills it
//   FAULT_SEND_SIGBUS=1    the program sends itself SIGBUS as it maps the file
//   FAULT_SEND_SIGBUS=2    ... or once it has printed FAULT_TRUNCATE_AFTER
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

int g_fd = -1;
long g_open_eintr_left = -1;
long g_read_eintr_left = -1;
long long g_delivered = 0;

long EnvNumber(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::strtol(value, nullptr, 10) : fallback;
}

bool IsTarget(const char* path) {
  const char* target = std::getenv("FAULT_PATH");
  return target != nullptr && path != nullptr && std::strcmp(path, target) == 0;
}

template <typename Fn>
Fn Next(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

int OpenCommon(const char* symbol, int dirfd, const char* path, int flags, mode_t mode) {
  if (IsTarget(path)) {
    if (g_open_eintr_left < 0) g_open_eintr_left = EnvNumber("FAULT_OPEN_EINTR", 0);
    if (g_open_eintr_left > 0) {
      --g_open_eintr_left;
      errno = EINTR;
      return -1;
    }
  }
  int fd;
  if (dirfd == AT_FDCWD && std::strcmp(symbol, "openat") != 0 && std::strcmp(symbol, "openat64") != 0) {
    fd = Next<int (*)(const char*, int, ...)>(symbol)(path, flags, mode);
  } else {
    fd = Next<int (*)(int, const char*, int, ...)>(symbol)(dirfd, path, flags, mode);
  }
  if (fd >= 0 && IsTarget(path)) {
    g_fd = fd;
    g_delivered = 0;
  }
  return fd;
}

void AdjustStat(int fd, struct stat* st) {
  if (fd == g_fd && g_fd >= 0) st->st_size += EnvNumber("FAULT_FSTAT_DELTA", 0);
}

void TruncateAfterMapping(int fd, void* mapped) {
  if (mapped == MAP_FAILED || fd != g_fd || g_fd < 0) return;
  if (EnvNumber("FAULT_SEND_SIGBUS", 0) == 1) kill(getpid(), SIGBUS);
  const long size = EnvNumber("FAULT_MMAP_TRUNCATE", -1);
  if (size >= 0 && std::getenv("FAULT_TRUNCATE_AFTER") == nullptr) truncate(std::getenv("FAULT_PATH"), size);
}

void TruncateAfterOutput(const void* data, size_t size) {
  const char* after = std::getenv("FAULT_TRUNCATE_AFTER");
  if (after == nullptr || size != std::strlen(after) || std::memcmp(data, after, size) != 0) return;
  if (EnvNumber("FAULT_SEND_SIGBUS", 0) == 2) kill(getpid(), SIGBUS);
  const long truncate_to = EnvNumber("FAULT_MMAP_TRUNCATE", -1);
  if (truncate_to >= 0) truncate(std::getenv("FAULT_PATH"), truncate_to);
}

__attribute__((constructor)) void BlockSigbus() {
  if (EnvNumber("FAULT_BLOCK_SIGBUS", 0) == 0) return;
  sigset_t bus;
  sigemptyset(&bus);
  sigaddset(&bus, SIGBUS);
  sigprocmask(SIG_BLOCK, &bus, nullptr);
}

__attribute__((destructor)) void UnblockSigbus() {
  if (EnvNumber("FAULT_BLOCK_SIGBUS", 0) != 2) return;
  fflush(nullptr);
  sigset_t bus;
  sigemptyset(&bus);
  sigaddset(&bus, SIGBUS);
  sigprocmask(SIG_UNBLOCK, &bus, nullptr);
}

// The faults of a read of count bytes at offset; returns the count to ask
// for, or -1 with errno set for a read that fails.
ssize_t ReadFaults(size_t& count, off_t offset) {
  if (g_read_eintr_left < 0) g_read_eintr_left = EnvNumber("FAULT_READ_EINTR", 0);
  if (g_read_eintr_left > 0) {
    --g_read_eintr_left;
    errno = EINTR;
    return -1;
  }
  const long eio_at = EnvNumber("FAULT_READ_EIO_AT", -1);
  if (eio_at >= 0 && g_delivered >= eio_at) {
    errno = EIO;
    return -1;
  }
  const long max = EnvNumber("FAULT_READ_MAX", 0);
  if (max > 0 && count > static_cast<size_t>(max)) count = static_cast<size_t>(max);
  const long short_at = EnvNumber("FAULT_READ_SHORT_AT", -1);
  if (offset >= 0 && short_at > offset && count > static_cast<size_t>(short_at - offset)) {
    count = static_cast<size_t>(short_at - offset);
  }
  return 0;
}

ssize_t Delivered(ssize_t n) {
  if (n > 0) g_delivered += n;
  return n;
}

}  // namespace

extern "C" {

// The mode argument is there only when a file may be created.
#define MODE_ARGUMENT(flags, mode)                                  \
  mode_t mode = 0;                                                  \
  if (((flags)&O_CREAT) != 0 || ((flags)&O_TMPFILE) == O_TMPFILE) { \
    va_list ap;                                                     \
    va_start(ap, flags);                                            \
    mode = static_cast<mode_t>(va_arg(ap, int));                    \
    va_end(ap);                                                     \
  }

int open(const char* path, int flags, ...) {
  MODE_ARGUMENT(flags, mode)
  return OpenCommon("open", AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  MODE_ARGUMENT(flags, mode)
  return OpenCommon("open64", AT_FDCWD, path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
  MODE_ARGUMENT(flags, mode)
  return OpenCommon("openat", dirfd, path, flags, mode);
}

ssize_t read(int fd, void* buffer, size_t count) {
  static auto real_read = Next<ssize_t (*)(int, void*, size_t)>("read");
  if (fd != g_fd || g_fd < 0) return real_read(fd, buffer, count);
  if (ReadFaults(count, lseek(fd, 0, SEEK_CUR)) < 0) return -1;
  return Delivered(real_read(fd, buffer, count));
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  static auto real_pread = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
  if (fd != g_fd || g_fd < 0) return real_pread(fd, buffer, count, offset);
  if (ReadFaults(count, offset) < 0) return -1;
  return Delivered(real_pread(fd, buffer, count, offset));
}

ssize_t pread64(int fd, void* buffer, size_t count, off64_t offset) {
  static auto real_pread64 = Next<ssize_t (*)(int, void*, size_t, off64_t)>("pread64");
  if (fd != g_fd || g_fd < 0) return real_pread64(fd, buffer, count, offset);
  if (ReadFaults(count, static_cast<off_t>(offset)) < 0) return -1;
  return Delivered(real_pread64(fd, buffer, count, offset));
}

int close(int fd) {
  static auto real_close = Next<int (*)(int)>("close");
  if (fd == g_fd) g_fd = -1;
  return real_close(fd);
}

int fstat(int fd, struct stat* st) {
  static auto real_fstat = Next<int (*)(int, struct stat*)>("fstat");
  if (fd == g_fd && g_fd >= 0 && EnvNumber("FAULT_FSTAT_FAIL", 0) != 0) {
    errno = EIO;
    return -1;
  }
  const int result = real_fstat(fd, st);
  if (result == 0) AdjustStat(fd, st);
  return result;
}

int fstat64(int fd, struct stat64* st) {
  static auto real_fstat64 = Next<int (*)(int, struct stat64*)>("fstat64");
  if (fd == g_fd && g_fd >= 0 && EnvNumber("FAULT_FSTAT_FAIL", 0) != 0) {
    errno = EIO;
    return -1;
  }
  const int result = real_fstat64(fd, st);
  if (result == 0 && fd == g_fd && g_fd >= 0) st->st_size += EnvNumber("FAULT_FSTAT_DELTA", 0);
  return result;
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
  static auto real_mmap = Next<void* (*)(void*, size_t, int, int, int, off_t)>("mmap");
  if (fd == g_fd && g_fd >= 0 && EnvNumber("FAULT_MMAP_FAIL", 0) != 0) {
    errno = ENOMEM;
    return MAP_FAILED;
  }
  void* mapped = real_mmap(address, length, protection, flags, fd, offset);
  TruncateAfterMapping(fd, mapped);
  return mapped;
}

void* mmap64(void* address, size_t length, int protection, int flags, int fd, off64_t offset) {
  static auto real_mmap64 = Next<void* (*)(void*, size_t, int, int, int, off64_t)>("mmap64");
  if (fd == g_fd && g_fd >= 0 && EnvNumber("FAULT_MMAP_FAIL", 0) != 0) {
    errno = ENOMEM;
    return MAP_FAILED;
  }
  void* mapped = real_mmap64(address, length, protection, flags, fd, offset);
  TruncateAfterMapping(fd, mapped);
  return mapped;
}

size_t fwrite(const void* data, size_t size, size_t count, FILE* stream) {
  static auto real_fwrite = Next<size_t (*)(const void*, size_t, size_t, FILE*)>("fwrite");
  const size_t written = real_fwrite(data, size, count, stream);
  TruncateAfterOutput(data, size * count);
  return written;
}

int fputs(const char* text, FILE* stream) {
  static auto real_fputs = Next<int (*)(const char*, FILE*)>("fputs");
  const int result = real_fputs(text, stream);
  TruncateAfterOutput(text, std::strlen(text));
  return result;
}

}  // extern "C"
