// SPDX-License-Identifier: ISC
// library_check [--key PUBLIC_FILE] MODE FILE: libsigncheck's file check as
// a client runs it, for the fault tests, against the compiled-in key or the
// key file's: the signed spans on success, else the message (the ring's for
// a refused key file), on standard output, and the status.
#include <cstdio>
#include <string>

#include "lib/signcheck.h"

int main(int argc, char** argv) {
  signcheck_keyring* ring = nullptr;
  if (argc == 5 && std::string(argv[1]) == "--key") {
    ring = signcheck_keyring_new();
    if (const int status = signcheck_keyring_add_file(ring, argv[2]); status != SIGNCHECK_OK) {
      std::string message(signcheck_keyring_message(ring, nullptr, 0), '\0');
      signcheck_keyring_message(ring, message.data(), message.size() + 1);
      std::fputs(message.c_str(), stdout);
      signcheck_keyring_free(ring);
      return status;
    }
    argv += 2;
  } else if (argc != 3) {
    return SIGNCHECK_USAGE;
  }
  signcheck_result* result = signcheck_result_new();
  if (result == nullptr) return SIGNCHECK_IO_ERROR;
  const int status = signcheck_check_file_with(result, ring, argv[1], argv[2]);
  for (size_t i = 0; i < signcheck_result_span_count(result); ++i) {
    const signcheck_span span = signcheck_result_span(result, i);
    std::fwrite(span.data, 1, span.size, stdout);
  }
  std::string message(signcheck_result_message(result, nullptr, 0), '\0');
  signcheck_result_message(result, message.data(), message.size() + 1);
  std::fputs(message.c_str(), stdout);
  signcheck_result_free(result);
  signcheck_keyring_free(ring);
  return status;
}
