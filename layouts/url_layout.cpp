// SPDX-License-Identifier: ISC
#include "layouts/url_layout.h"

#include <algorithm>

#include "layouts/signature_text.h"

namespace {

bool IsSpaceAt(std::string_view content, size_t at) { return IsTextSpace(static_cast<unsigned char>(content[at])); }

}  // namespace

size_t FindUrlMarker(std::string_view content) {
  // Window by window, and in each the NUL first: a marker counts only ahead
  // of it, and the search reads nothing of the content past the window that
  // decides.  A marker that starts in a window may end in the next; the
  // lookahead takes its remaining bytes, which cannot hold a NUL if they
  // complete it.  Over a mapping of a file that shrank, a page that is gone
  // is touched only when the search has not ended ahead of it.
  constexpr size_t kLookahead = kUrlMarker.size() - 1;
  for (size_t begin = 0; begin < content.size(); begin += kUrlSearchWindow) {
    const size_t nul = content.substr(begin, kUrlSearchWindow).find('\0');
    const size_t reach = nul != std::string_view::npos ? nul : kUrlSearchWindow + kLookahead;
    const size_t marker = content.substr(begin, reach).find(kUrlMarker);
    if (marker != std::string_view::npos) {
      return begin + marker;
    }
    if (nul != std::string_view::npos) {
      break;
    }
  }
  return std::string_view::npos;
}

UrlLayout LocateUrlSignature(std::string_view content) {
  UrlLayout layout;
  const size_t marker = FindUrlMarker(content);
  if (marker == std::string_view::npos) {
    return layout;
  }
  layout.has_marker = true;
  size_t position = std::min(marker + kUrlMarkerStep, content.size());
  while (position < content.size() && IsSpaceAt(content, position)) {
    ++position;
  }
  const size_t text_begin = position;
  while (position < content.size() && !IsSpaceAt(content, position)) {
    ++position;
  }
  layout.signature_text = content.substr(text_begin, position - text_begin);
  layout.signed_begin = position;
  return layout;
}

void FindUrlSignedBegin(std::string_view content, UrlLayout& layout) {
  size_t position = layout.signed_begin;
  while (position < content.size() && IsSpaceAt(content, position)) {
    ++position;
  }
  layout.signed_begin = position;
}

UrlLayout LocateUrlLayout(std::string_view content) {
  UrlLayout layout = LocateUrlSignature(content);
  if (layout.has_marker) {
    FindUrlSignedBegin(content, layout);
  }
  return layout;
}
