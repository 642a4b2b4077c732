/* SPDX-License-Identifier: ISC */
/* fetch MODE [NAME] < FILE: checks a file that arrives on standard input, as
 * a download held in memory would, and prints only the bytes its signature
 * covers.  NAME is what the failure message calls the input ("standard
 * input" by default).  Exits with the status signcheck would; on failure the
 * message goes to stderr.
 *
 *   cc -std=c11 fetch.c $(pkg-config --cflags --libs signcheck) -o fetch */
#include <signcheck.h>
#include <stdio.h>
#include <stdlib.h>

/* Reads all of stream into a buffer that doubles as it fills.  Returns the
 * buffer, for the caller to free, and its length in *size; sets *failed
 * when reading or memory failed. */
static unsigned char* read_all(FILE* stream, size_t* size, int* failed) {
  unsigned char* buffer = NULL;
  size_t capacity = 0;
  *size = 0;
  *failed = 0;
  for (;;) {
    if (*size == capacity) {
      size_t grown = capacity == 0 ? 65536 : capacity * 2;
      unsigned char* larger = grown > capacity ? realloc(buffer, grown) : NULL;
      if (larger == NULL) {
        fputs("fetch: out of memory\n", stderr);
        *failed = 1;
        return buffer;
      }
      buffer = larger;
      capacity = grown;
    }
    size_t got = fread(buffer + *size, 1, capacity - *size, stream);
    *size += got;
    if (got == 0) {
      if (ferror(stream)) {
        perror("fetch: standard input");
        *failed = 1;
      }
      return buffer;
    }
  }
}

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    fprintf(stderr, "usage: %s MODE [NAME] < FILE\n", argv[0]);
    return SIGNCHECK_USAGE;
  }
  size_t size;
  int failed;
  unsigned char* data = read_all(stdin, &size, &failed);
  if (failed) {
    free(data);
    return SIGNCHECK_IO_ERROR;
  }
  signcheck_result* result = signcheck_result_new();
  if (result == NULL) {
    fputs("fetch: out of memory\n", stderr);
    free(data);
    return SIGNCHECK_IO_ERROR;
  }
  /* The spans point into data: it stays until they have been printed. */
  int status = signcheck_check_buffer(result, argv[1], data, size, argc == 3 ? argv[2] : "standard input");
  if (status == SIGNCHECK_OK) {
    size_t count = signcheck_result_span_count(result);
    for (size_t i = 0; i < count; ++i) {
      signcheck_span span = signcheck_result_span(result, i);
      fwrite(span.data, 1, span.size, stdout);
    }
    if (fflush(stdout) != 0 || ferror(stdout)) {
      perror("fetch: standard output");
      status = SIGNCHECK_IO_ERROR;
    }
  } else {
    /* A wrong-signature message quotes the signature text from the input,
     * so it can be as long as that line: size the buffer from its length. */
    size_t length = signcheck_result_message(result, NULL, 0);
    char* message = malloc(length + 1);
    if (message != NULL) {
      signcheck_result_message(result, message, length + 1);
      fputs(message, stderr);
      free(message);
    }
  }
  signcheck_result_free(result);
  free(data);
  return status;
}
