// SPDX-License-Identifier: ISC
// Preloaded, makes every malloc of more than FAULT_MALLOC_ABOVE bytes fail
// from the program's start, the C++ runtime's emergency reserve included.  It
// replaces the allocator, so it cannot share a process with a sanitizer's.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern "C" void* __libc_malloc(size_t size);

extern "C" void* malloc(size_t size) {
  static long limit = -2;  // asked before the environment is set up: no limit
  if (limit == -2 && environ != nullptr) {
    const char* value = std::getenv("FAULT_MALLOC_ABOVE");
    limit = value != nullptr ? std::atol(value) : -1;
  }
  if (limit >= 0 && size > static_cast<size_t>(limit)) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_malloc(size);
}
