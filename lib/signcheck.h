/* SPDX-License-Identifier: ISC */
/* libsigncheck: checks the signature of a signed update-information file
 * held in memory or named by path, and hands back only the bytes the
 * signature covers.  The layouts, the verification and the compiled-in key
 * are those of the signcheck program, which is built on this library.
 *
 * Every call is reentrant: the library keeps no global state, installs no
 * signal handlers, writes nothing to standard output or standard error and
 * never ends the process.  A check writes into its result, so a result being
 * checked into or freed belongs to that one thread; give each thread its
 * own.  The readers (the functions taking a const result) only read: any
 * number of threads may read one result at once, as long as no thread checks
 * into it or frees it meanwhile.  Usable from C11 and C++. */
#ifndef SIGNCHECK_H
#define SIGNCHECK_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define SIGNCHECK_API __attribute__((visibility("default")))
#else
#define SIGNCHECK_API
#endif

/* The outcomes, the same numbers as signcheck's exit statuses. */
enum {
  SIGNCHECK_OK = 0,          /* the signature is valid: the spans are the signed bytes */
  SIGNCHECK_USAGE = 64,      /* an unknown mode word, or a null argument (never a crash) */
  SIGNCHECK_DATA_ERROR = 65, /* nvl, msg: the signature is valid but the list has no entries */
  SIGNCHECK_SOFTWARE = 70,   /* the signature is missing or wrong, or the signed data was not found */
  SIGNCHECK_IO_ERROR = 74    /* the file cannot be opened, examined or read, or memory ran out */
};

/* The same outcomes named for what the caller got (since 1.1.0). */
enum {
  SIGNCHECK_BAD_ARGUMENT = SIGNCHECK_USAGE,     /* a null argument, an unknown mode, a ring without keys */
  SIGNCHECK_NO_ENTRIES = SIGNCHECK_DATA_ERROR,  /* a valid signature over a list without entries */
  SIGNCHECK_BAD_SIGNATURE = SIGNCHECK_SOFTWARE, /* no signature, a wrong one, or no signed data */
  SIGNCHECK_READ_ERROR = SIGNCHECK_IO_ERROR     /* the file could not be read, or memory ran out */
};

/* Bytes of the caller's buffer or of the result's copy of the file. */
typedef struct signcheck_span {
  const unsigned char* data;
  size_t size;
} signcheck_span;

/* The outcome of one check and what it hands back.  Opaque: made once with
 * signcheck_result_new and reused for any number of checks.  Every check
 * call first forgets all the last one left (status, spans, message), even a
 * call refused for a null argument or an unknown mode, so the result only
 * ever tells the latest call.  Spans from a check stay valid until the next
 * check into the same result or its release. */
typedef struct signcheck_result signcheck_result;

/* A new, empty result (status SIGNCHECK_USAGE, no spans), or NULL when
 * memory ran out. */
SIGNCHECK_API signcheck_result* signcheck_result_new(void);

/* Releases the result and everything it holds; NULL is allowed. */
SIGNCHECK_API void signcheck_result_free(signcheck_result* result);

/* Checks the size bytes at data in the layout that mode names ("nvl", "msg",
 * "lst", "url"; matched as signcheck matches it: the first three letters, in
 * any letter case).  name only goes into the message, but may not be NULL: a
 * null name, like a null mode, or a null data with a size above 0, gives
 * SIGNCHECK_USAGE with no spans and an empty message (pass "" for no name).
 * Returns the status and records it with the spans in result.  The spans, and
 * the signature text that a wrong-signature message shows, point into data,
 * which must outlive their use; mode and name are copied.  data may be NULL
 * when size is 0.  The verification allocates nothing; lst and url allocate
 * nothing at all (for names of up to 4095 bytes); nvl and msg grow the
 * result's table of entries, one span per entry, only when it is too small. */
SIGNCHECK_API int signcheck_check_buffer(signcheck_result* result, const char* mode, const void* data, size_t size,
                                         const char* name);

/* Checks the file file_name, read as signcheck reads it in that mode but
 * never mapped: nvl and msg through a stream, up to the signature line, the
 * signed lines kept in the result; lst and url whole into the result, in
 * reads no larger than the size the file had when opened, so that a file
 * that shrinks meanwhile ends in SIGNCHECK_IO_ERROR ("unexpected EOF for
 * file NAME"), never in a signal.  The spans point into the result's one
 * copy, where they lie in file order: the bytes from the first span's start
 * to the last one's end may be read at once.
 * A failure to open, examine or read the file gives signcheck's message for
 * it; where signcheck, mapping a url file, would name mmap, the library names
 * what failed instead: "empty file NAME" for a file of 0 bytes, and the
 * read error or the early end of the file.  A null mode or file_name gives
 * SIGNCHECK_USAGE with no spans and an empty message. */
SIGNCHECK_API int signcheck_check_file(signcheck_result* result, const char* mode, const char* file_name);

/* The status of the last check. */
SIGNCHECK_API int signcheck_result_status(const signcheck_result* result);

/* The number of signed spans of the last check: 0 unless it returned
 * SIGNCHECK_OK.  nvl and msg: one span per entry, the line without its tag
 * but with its line end as in the file ("\n" or "\r\n"; a line longer than
 * 1022 bytes is taken in pieces of that size, each an entry of its own when
 * it begins with the tag), so that the spans one after another are what
 * signcheck prints.  lst and url: exactly one span, the signed region of lst
 * or the signed content of url (which may be empty: a span of size 0). */
SIGNCHECK_API size_t signcheck_result_span_count(const signcheck_result* result);

/* Span index of the last check, in file order; {NULL, 0} when index is out
 * of range (span count or above), after a failure as well. */
SIGNCHECK_API signcheck_span signcheck_result_span(const signcheck_result* result, size_t index);

/* Writes the failure message signcheck prints for the last check's outcome
 * into buffer as snprintf does: at most size - 1 bytes and a NUL, nothing
 * when size is 0 (buffer may then be NULL).  Returns the message's full
 * length, without the NUL.  The message is empty after a success or after a
 * null argument; otherwise one line ending in a line feed, which takes the
 * name (or an unknown mode word) byte for byte as given: no encoding is
 * assumed or checked, and a line feed within the name would split the line.
 * A wrong-signature message quotes the file's signature text (its run of
 * non-space bytes, up to any NUL byte), which has no limit of length but the
 * file's: no fixed buffer is always enough, so size it from the length this
 * returns for a size of 0, plus one.  After a buffer check that quote is read
 * from data, which must still be there.  In mode url signcheck prints its
 * parse and signature lines ahead of the message; they are not part of it. */
SIGNCHECK_API size_t signcheck_result_message(const signcheck_result* result, char* buffer, size_t size);

/* The ID of the compiled-in key, as signtool id prints it.  This and the
 * version below are static strings of the library, never to be freed or
 * written: they stay valid as long as the library stays loaded (for the life
 * of the process, unless it is unloaded with dlclose). */
SIGNCHECK_API const char* signcheck_key_id(void);

/* The library's version, "MAJOR.MINOR.PATCH". */
SIGNCHECK_API const char* signcheck_version(void);

/* Keys loaded at run time.  A check through signcheck_check_buffer or
 * signcheck_check_file accepts the keys compiled into the library; a check
 * through the _with calls below accepts the keys of a ring instead, so that
 * an update client can ship its publisher's public key file beside the
 * program and check against it with the installed library.  A ring holds
 * up to 8 keys, tried in the order they were added: a file is accepted when
 * its signature verifies under any of them, which lets a publisher move from
 * one key to the next without a moment when a file checks under neither.
 * Added in version 1.1.0. */
typedef struct signcheck_keyring signcheck_keyring;

/* A new ring without keys, or NULL when memory ran out.  A ring without
 * keys accepts nothing: a check against it returns SIGNCHECK_USAGE. */
SIGNCHECK_API signcheck_keyring* signcheck_keyring_new(void);

/* Loads the public key file at path (as signtool keygen writes it) and adds
 * the key to ring.  The key is refused, and ring left as it was, when the
 * file is not a public key file by the grammar of signtool(1) (a private key
 * file among them) or its key breaks a key rule: the numbers' sizes, p and q
 * prime, q dividing p - 1, g and y of order q are all tested, by the same
 * reader and rules that signtool and the build use.  Returns SIGNCHECK_OK, SIGNCHECK_DATA_ERROR for
 * a refused key, SIGNCHECK_IO_ERROR when the file cannot be opened or read
 * (or is not a regular file), or SIGNCHECK_USAGE for a null argument, a
 * ninth key, or a ring already used by a check: a ring is immutable once
 * used, and may then be shared by any number of threads. */
SIGNCHECK_API int signcheck_keyring_add_file(signcheck_keyring* ring, const char* path);

/* The same for the size bytes of a public key file's text at text. */
SIGNCHECK_API int signcheck_keyring_add_text(signcheck_keyring* ring, const char* text, size_t size);

/* Writes the message of the ring's last failed addition (one line naming
 * the file, or "<text>", the line for a fault of the key file's grammar, and
 * the reason, with its line feed; an empty text after a success or for a
 * NULL ring) into buffer as snprintf does, and returns its full length;
 * buffer may be NULL when size is 0. */
SIGNCHECK_API size_t signcheck_keyring_message(const signcheck_keyring* ring, char* buffer, size_t size);

/* The errno of the ring's last failed addition when it failed with
 * SIGNCHECK_IO_ERROR, else 0 (and 0 for a NULL ring). */
SIGNCHECK_API int signcheck_keyring_errno(const signcheck_keyring* ring);

/* The number of keys in ring; 0 for a NULL ring. */
SIGNCHECK_API size_t signcheck_keyring_size(const signcheck_keyring* ring);

/* The ID of the ring's key index, in the order the keys were added (as
 * signtool id prints it, valid until the ring is freed), or NULL when index
 * is the number of keys or above.  Added in version 1.2.0. */
SIGNCHECK_API const char* signcheck_keyring_key_id(const signcheck_keyring* ring, size_t index);

/* Releases the ring; NULL is allowed.  No check may be using it. */
SIGNCHECK_API void signcheck_keyring_free(signcheck_keyring* ring);

/* signcheck_check_buffer and signcheck_check_file against the keys of ring;
 * a NULL ring means the compiled-in keys. */
SIGNCHECK_API int signcheck_check_buffer_with(signcheck_result* result, const signcheck_keyring* ring, const char* mode,
                                              const void* data, size_t size, const char* name);
SIGNCHECK_API int signcheck_check_file_with(signcheck_result* result, const signcheck_keyring* ring, const char* mode,
                                            const char* file_name);

/* The ID of the key under which the last check's signature verified (as
 * signtool id prints it, valid until the result is freed or the ring it came
 * from is freed), or NULL when the last check did not return SIGNCHECK_OK. */
SIGNCHECK_API const char* signcheck_result_key_id(const signcheck_result* result);

/* Copies the spans of the last check, in file order, into spans: at most
 * count of them (spans may be NULL when count is 0).  Returns the number of
 * spans the check has, so that one call with count 0 sizes the array and a
 * second fills it.  One call in place of one signcheck_result_span per
 * entry, for callers that pay for each call. */
SIGNCHECK_API size_t signcheck_result_spans(const signcheck_result* result, signcheck_span* spans, size_t count);

/* The errno of the failing call when the last check returned
 * SIGNCHECK_IO_ERROR and the message names one (ENOMEM when memory ran out),
 * else 0. */
SIGNCHECK_API int signcheck_result_errno(const signcheck_result* result);

#ifdef __cplusplus
}
#endif

#endif /* SIGNCHECK_H */
