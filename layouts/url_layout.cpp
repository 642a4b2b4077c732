// SPDX-License-Identifier: ISC
#include "layouts/url_layout.h"

#include <algorithm>

#include "layouts/signature_text.h"

size_t FindUrlMarker(std::string_view content) {
  // Window by window, so that the search ends at the first NUL byte, and
  // within a window the NUL is looked for only ahead of the marker: no byte
  // past the marker is read.  A marker that starts in a window may end in the
  // next; the lookahead takes its remaining bytes, and a NUL found there ends
  // the search as well, since no marker fits between the window and it.
  constexpr size_t kLookahead = kUrlMarker.size() - 1;
  for (size_t begin = 0; begin < content.size(); begin += kUrlSearchWindow) {
    const std::string_view piece = content.substr(begin, kUrlSearchWindow + kLookahead);
    const size_t marker = piece.find(kUrlMarker);
    if (piece.substr(0, marker).find('\0') != std::string_view::npos) {
      break;
    }
    if (marker != std::string_view::npos) {
      return begin + marker;
    }
  }
  return std::string_view::npos;
}

UrlLayout LocateUrlLayout(std::string_view content) {
  UrlLayout layout;
  const size_t marker = FindUrlMarker(content);
  if (marker == std::string_view::npos) {
    return layout;
  }
  layout.has_marker = true;
  const auto is_space = [&content](size_t at) { return IsTextSpace(static_cast<unsigned char>(content[at])); };
  size_t position = std::min(marker + kUrlMarkerStep, content.size());
  while (position < content.size() && is_space(position)) {
    ++position;
  }
  const size_t text_begin = position;
  while (position < content.size() && !is_space(position)) {
    ++position;
  }
  layout.signature_text = content.substr(text_begin, position - text_begin);
  while (position < content.size() && is_space(position)) {
    ++position;
  }
  layout.signed_begin = position;
  return layout;
}
