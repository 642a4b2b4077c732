// The pieces in which the tagged-line layouts are read: a piece runs through
// the next line feed, but never past kLongestPiece bytes, so a longer line
// arrives as several pieces and each is judged as a line of its own.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

// Pieces of at most 1022 bytes are this layout's own line rule: a longer
// line is read on as further pieces, never rejected.
inline constexpr size_t kLongestPiece = 1022;

inline constexpr std::string_view kSignTag = "sign=";
inline constexpr size_t kEntryTagLength = 4;  // "url=" or "msg="

// The length of the piece at the start of rest (0 only when rest is empty).
size_t PieceLength(std::string_view rest);

// Reads the next piece of stream into buffer, which holds at least
// kLongestPiece + 1 bytes, and ends it with a zero byte.  Returns the
// piece's length, zero bytes it holds included; 0 at the end of the stream
// or after a read error, even one that cut a piece short.
size_t ReadPiece(FILE* stream, char* buffer);

// Whether piece begins with tag, comparing only the ASCII letters in either
// case (the C locale's folding).
bool PieceHasTag(std::string_view piece, std::string_view tag);
