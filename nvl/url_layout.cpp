#include "nvl/url_layout.h"

#include <algorithm>

#include "nvl/signature_text.h"

UrlLayout LocateUrlLayout(std::string_view content) {
  UrlLayout layout;
  // The marker is searched as text: a NUL byte ahead of it ends the search.
  const size_t marker = content.find(kUrlMarker);
  if (marker == std::string_view::npos || content.substr(0, marker).find('\0') != std::string_view::npos) {
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
