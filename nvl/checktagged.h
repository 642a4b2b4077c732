// Tagged-line lists (modes nvl and msg): every line that begins with the
// mode's tag is an entry and is signed; the first "sign=" line carries the
// signature over them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

// The signature buffer holds one byte more than a signature: "sign=", 80
// digits and CR LF leave 82 characters, and the CR LF pair decodes to 0.
inline constexpr size_t kTaggedSignatureBufferSize = 41;

// Decodes text two characters a byte, each pair as strtoul converts it in
// base 16, into output (output_size bytes, zeroed by the caller).  A text of
// odd or zero length decodes to nothing but a zero first byte.  At most
// output_size bytes are written: the pairs past them are not decoded.
uint8_t* HexToBytes(const char* text, uint8_t* output, size_t output_size);

// Checks the tagged-line list file_name: prints its entries and returns 0, or
// prints one "Error: " message and returns 65, 70 or 74.
int TaggedFileCheckSign(const char* file_name, const char* tag);

// The same check over a stream open for reading, from where it stands; what
// it prints goes to out, and the caller closes the stream.
int TaggedStreamCheckSign(FILE* stream, const char* file_name, const char* tag, FILE* out);

// The same check over bytes held in memory, read through the same fgets
// pieces; what it prints goes to out.  file_name only goes into the messages.
int TaggedContentCheckSign(std::string_view content, const char* file_name, const char* tag, FILE* out);
