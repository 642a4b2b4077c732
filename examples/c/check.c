/* SPDX-License-Identifier: ISC */
/* check [--key PUBLIC_FILE]... MODE FILE: checks FILE's signature with
 * libsigncheck and prints only the bytes the signature covers, as they are in
 * the file.  Without --key the keys compiled into the library decide; with
 * it, the keys of those files (up to 8), any one of which will do.  Exits
 * with the status signcheck would; on failure signcheck's message goes to
 * stderr, and a key file that is refused is named with the reason.
 *
 *   cc -std=c11 check.c $(pkg-config --cflags --libs signcheck) -o check */
#include <signcheck.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  signcheck_keyring* ring = NULL; /* NULL: the compiled-in keys */
  int arg = 1;
  for (; arg + 1 < argc && strcmp(argv[arg], "--key") == 0; arg += 2) {
    if (ring == NULL && (ring = signcheck_keyring_new()) == NULL) {
      fputs("check: out of memory\n", stderr);
      return SIGNCHECK_IO_ERROR;
    }
    int status = signcheck_keyring_add_file(ring, argv[arg + 1]);
    if (status != SIGNCHECK_OK) {
      char message[4096];
      signcheck_keyring_message(ring, message, sizeof message);
      fputs(message, stderr);
      signcheck_keyring_free(ring);
      return status;
    }
  }
  if (argc - arg != 2) {
    fprintf(stderr, "usage: %s [--key PUBLIC_FILE]... MODE FILE\n", argv[0]);
    signcheck_keyring_free(ring);
    return SIGNCHECK_USAGE;
  }
  signcheck_result* result = signcheck_result_new();
  if (result == NULL) {
    fputs("check: out of memory\n", stderr);
    signcheck_keyring_free(ring);
    return SIGNCHECK_IO_ERROR;
  }
  int status = signcheck_check_file_with(result, ring, argv[arg], argv[arg + 1]);
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
    /* The message can be as long as the signature text it quotes: size the
     * buffer from its length. */
    size_t length = signcheck_result_message(result, NULL, 0);
    char* message = malloc(length + 1);
    if (message != NULL) {
      signcheck_result_message(result, message, length + 1);
      fputs(message, stderr);
      free(message);
    }
  }
  signcheck_result_free(result);
  signcheck_keyring_free(ring);
  return status;
}
