// SPDX-License-Identifier: ISC
// The tagged-line layouts (modes nvl and msg), read in pieces: a piece runs
// through the next line feed, but never past kLongestPiece bytes, so a
// longer line arrives as several pieces and each is judged as a line of its
// own.  Every piece that begins with the mode's tag is signed, up to the
// first piece that begins with "sign=", which carries the signature.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
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

// What one piece is to the list: the bytes of it that are signed (empty
// when it does not begin with the tag; a tagged piece counts up to its
// first zero byte), whether a zero byte cut it so, and whether it is the
// signature line, which ends the list (its text is the piece after "sign=").
struct PieceRole {
  std::string_view signed_part;
  bool held_nul = false;
  bool signature_line = false;
};
PieceRole ClassifyPiece(std::string_view piece, std::string_view tag);

// A tagged list gathered piece by piece, up to its signature line.
struct TaggedList {
  // The tagged pieces as signed, each up to its first zero byte.
  std::string signed_data;
  // A signature is not taken over a piece that held a zero byte: the piece
  // would count only up to it, and a signed line could be printed as two.
  bool piece_held_nul = false;

  // Takes the next piece, zero bytes included.  Returns true when it is the
  // signature line, where the list ends; its text is the piece after "sign=".
  bool Take(std::string_view piece, std::string_view tag);
};

// The same over a whole content in memory.
struct TaggedLayout {
  TaggedList list;
  bool has_signature_line = false;
  std::string_view signature_text;  // after "sign=", up to the piece's first zero byte
};

TaggedLayout LocateTaggedLayout(std::string_view content, std::string_view tag);
