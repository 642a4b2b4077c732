// The C interface of libsigncheck over the checks that signcheck runs.
#include "lib/signcheck.h"

#include <new>

#include "verify/builtin_key.h"

struct signcheck_result {
  int status = SIGNCHECK_USAGE;
};

extern "C" {

signcheck_result* signcheck_result_new(void) { return new (std::nothrow) signcheck_result; }

void signcheck_result_free(signcheck_result* result) { delete result; }

int signcheck_check_buffer(signcheck_result* result, const char*, const void*, size_t, const char*) {
  return result == nullptr ? SIGNCHECK_USAGE : (result->status = SIGNCHECK_USAGE);
}

int signcheck_check_file(signcheck_result* result, const char*, const char*) {
  return result == nullptr ? SIGNCHECK_USAGE : (result->status = SIGNCHECK_USAGE);
}

int signcheck_result_status(const signcheck_result* result) {
  return result == nullptr ? SIGNCHECK_USAGE : result->status;
}

size_t signcheck_result_span_count(const signcheck_result*) { return 0; }

signcheck_span signcheck_result_span(const signcheck_result*, size_t) { return {nullptr, 0}; }

size_t signcheck_result_message(const signcheck_result*, char* buffer, size_t size) {
  if (buffer != nullptr && size > 0) {
    buffer[0] = '\0';
  }
  return 0;
}

const char* signcheck_key_id(void) { return kKeyId; }

const char* signcheck_version(void) { return "1.0.0"; }

}  // extern "C"
