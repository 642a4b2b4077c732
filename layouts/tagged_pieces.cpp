// SPDX-License-Identifier: ISC
#include "layouts/tagged_pieces.h"

#include <stdio.h>

#include <algorithm>

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

size_t PieceLength(std::string_view rest) {
  // Only the piece's own bytes are searched: a long content without line
  // feeds would otherwise be scanned to its end for every piece.
  const size_t feed = rest.substr(0, kLongestPiece).find('\n');
  const size_t through_feed = feed == std::string_view::npos ? rest.size() : feed + 1;
  return std::min({through_feed, kLongestPiece, rest.size()});
}

size_t ReadPiece(FILE* stream, char* buffer) {
  size_t length = 0;
  while (length < kLongestPiece) {
    const int c = getc_unlocked(stream);
    if (c == EOF) {
      // A read error ends the list even inside a piece, as an end of file does.
      if (ferror(stream) != 0) {
        length = 0;
      }
      break;
    }
    buffer[length++] = static_cast<char>(c);
    if (c == '\n') {
      break;
    }
  }
  buffer[length] = '\0';
  return length;
}

bool PieceHasTag(std::string_view piece, std::string_view tag) {
  if (piece.size() < tag.size()) {
    return false;
  }
  for (size_t i = 0; i < tag.size(); ++i) {
    if (AsciiLower(piece[i]) != AsciiLower(tag[i])) {
      return false;
    }
  }
  return true;
}

PieceRole ClassifyPiece(std::string_view piece, std::string_view tag) {
  PieceRole role;
  if (PieceHasTag(piece, tag)) {
    role.signed_part = piece.substr(0, piece.find('\0'));
    role.held_nul = role.signed_part.size() != piece.size();
  }
  role.signature_line = PieceHasTag(piece, kSignTag);
  return role;
}

bool TaggedList::Take(std::string_view piece, std::string_view tag) {
  const PieceRole role = ClassifyPiece(piece, tag);
  piece_held_nul = piece_held_nul || role.held_nul;
  signed_data.append(role.signed_part);
  return role.signature_line;
}

TaggedLayout LocateTaggedLayout(std::string_view content, std::string_view tag) {
  TaggedLayout layout;
  while (!content.empty()) {
    const std::string_view piece = content.substr(0, PieceLength(content));
    content.remove_prefix(piece.size());
    if (layout.list.Take(piece, tag)) {
      layout.has_signature_line = true;
      const std::string_view text = piece.substr(kSignTag.size());
      layout.signature_text = text.substr(0, text.find('\0'));
      break;
    }
  }
  return layout;
}
