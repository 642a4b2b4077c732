// SPDX-License-Identifier: ISC
// Signature texts: the strtoul pairs of the tagged lists, and the "%X" pairs
// of the update and URL lists, where each pair of characters is converted
// on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "dsa/verify.h"

// The tagged lists' signature buffer holds one byte more than a signature:
// "sign=", 80 digits and CR LF leave 82 characters, and the CR LF pair
// decodes to 0.
inline constexpr size_t kTaggedSignatureBufferSize = kSignatureSize + 1;

// Decodes text two characters a byte, each pair as strtoul converts it in
// base 16, into output (output_size bytes, zeroed by the caller).  A text of
// odd or zero length decodes to nothing but a zero first byte.  At most
// output_size bytes are written: the pairs past them are not decoded.
uint8_t* HexToBytes(const char* text, uint8_t* output, size_t output_size);

// Bytes that end a signature text and that are skipped around it: space,
// form feed, line feed, carriage return, horizontal tab and vertical tab.
// NUL and the bytes from 0x80 up are not among them, whatever the locale.
bool IsTextSpace(unsigned char byte);

// One signature byte from the pair (first, second), as "%X" converts the
// NUL-terminated string of the two: upper and lower case digits, an optional
// sign, a single digit when the second character is not one, 0 when nothing
// converts.  The low 8 bits of the converted int are kept.
uint8_t DecodeHexPair(char first, char second);

// Fills the signature from the first 80 characters of text, a pair a byte;
// the characters past the end of the text read as NUL.
void DecodeSignatureText(std::string_view text, uint8_t (&signature)[kSignatureSize]);

// Prints text as "%s" would print it, up to its first zero byte, straight
// from where it lies: a signature text may be as long as the file.
void PrintText(FILE* out, std::string_view text);
