// SPDX-License-Identifier: ISC
// library_check MODE FILE: libsigncheck's file check as a client runs it,
// for the fault tests: the signed spans on success, else the message, on
// standard output, and the check's status.
#include <cstdio>
#include <string>

#include "lib/signcheck.h"

int main(int argc, char** argv) {
  if (argc != 3) return SIGNCHECK_USAGE;
  signcheck_result* result = signcheck_result_new();
  if (result == nullptr) return SIGNCHECK_IO_ERROR;
  const int status = signcheck_check_file(result, argv[1], argv[2]);
  for (size_t i = 0; i < signcheck_result_span_count(result); ++i) {
    const signcheck_span span = signcheck_result_span(result, i);
    std::fwrite(span.data, 1, span.size, stdout);
  }
  std::string message(signcheck_result_message(result, nullptr, 0), '\0');
  signcheck_result_message(result, message.data(), message.size() + 1);
  std::fputs(message.c_str(), stdout);
  signcheck_result_free(result);
  return status;
}
