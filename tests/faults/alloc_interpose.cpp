// A preloaded library that makes every allocation of more than
// FAULT_MALLOC_ABOVE bytes fail with ENOMEM, from the program's start: the
// C++ runtime's own reserves, made before main, fail as well.  It replaces
// the allocator outright, so it cannot share a process with a sanitizer's.
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
}

namespace {

// Asked before the environment is set up, the limit is taken as absent.
bool AllocationFails(size_t size) {
  static long limit = -2;
  if (limit == -2 && environ != nullptr) {
    const char* value = std::getenv("FAULT_MALLOC_ABOVE");
    limit = value != nullptr ? std::strtol(value, nullptr, 10) : -1;
  }
  if (limit < 0 || size <= static_cast<size_t>(limit)) return false;
  errno = ENOMEM;
  return true;
}

}  // namespace

extern "C" {

void* malloc(size_t size) { return AllocationFails(size) ? nullptr : __libc_malloc(size); }

void* calloc(size_t count, size_t size) {
  return count != 0 && AllocationFails(count * size) ? nullptr : __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) { return AllocationFails(size) ? nullptr : __libc_realloc(block, size); }

}  // extern "C"
