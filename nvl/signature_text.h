// Signature texts of the update list and URL list layouts: each pair of
// characters is converted on its own with sscanf's "%X".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

// Bytes that end a signature text and that are skipped around it: space,
// form feed, line feed, carriage return, horizontal tab and vertical tab.
// NUL and the bytes from 0x80 up are not among them, whatever the locale.
bool IsTextSpace(unsigned char byte);

// One signature byte from the pair (first, second), as "%X" converts the
// NUL-terminated string of the two: upper and lower case digits, an optional
// sign, a single digit when the second character is not one, 0 when nothing
// converts.  The low 8 bits of the converted int are kept.
uint8_t DecodeHexPair(char first, char second);

// Fills the 40 signature bytes from the first 80 characters of text; the
// characters past the end of the text read as NUL.
void DecodeSignatureText(std::string_view text, uint8_t (&signature)[40]);

// Prints text as "%s" would print it, up to its first zero byte, straight
// from where it lies: a signature text may be as long as the file.
void PrintText(FILE* out, std::string_view text);
