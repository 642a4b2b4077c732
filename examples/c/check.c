/* SPDX-License-Identifier: ISC */
/* check MODE FILE: checks FILE's signature with libsigncheck and prints only
 * the bytes the signature covers, as they are in the file.  Exits with the
 * status signcheck would; on failure signcheck's message goes to stderr.
 *
 *   cc -std=c11 check.c $(pkg-config --cflags --libs signcheck) -o check */
#include <signcheck.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s MODE FILE\n", argv[0]);
    return SIGNCHECK_USAGE;
  }
  signcheck_result* result = signcheck_result_new();
  if (result == NULL) {
    fputs("check: out of memory\n", stderr);
    return SIGNCHECK_IO_ERROR;
  }
  int status = signcheck_check_file(result, argv[1], argv[2]);
  if (status == SIGNCHECK_OK) {
    size_t count = signcheck_result_span_count(result);
    for (size_t i = 0; i < count; ++i) {
      signcheck_span span = signcheck_result_span(result, i);
      fwrite(span.data, 1, span.size, stdout);
    }
    if (fflush(stdout) != 0 || ferror(stdout)) {
      perror("check: standard output");
      status = SIGNCHECK_IO_ERROR;
    }
  } else {
    char message[4096];
    signcheck_result_message(result, message, sizeof message);
    fputs(message, stderr);
  }
  signcheck_result_free(result);
  return status;
}
