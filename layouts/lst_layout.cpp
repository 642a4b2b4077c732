// SPDX-License-Identifier: ISC
#include "layouts/lst_layout.h"

#include "layouts/signature_text.h"

LstLayout LocateLstLayout(std::string_view content) {
  LstLayout layout;
  const size_t start = content.find(kLstStartMarker);
  const size_t end = content.find(kLstEndMarker);
  // An end marker ahead of the start marker encloses nothing.
  if (start == std::string_view::npos || end == std::string_view::npos || end < start) {
    return layout;
  }
  layout.has_region = true;
  layout.region_begin = start;
  layout.region_size = end + kLstEndMarker.size() - start;

  const size_t section = content.find(kLstSignatureSection);
  if (section == std::string_view::npos) {
    return layout;
  }
  const size_t key = content.find(kLstSignatureKey, section);
  if (key == std::string_view::npos) {
    return layout;
  }
  size_t text_begin = key + kLstSignatureKey.size();
  while (text_begin < content.size() && IsTextSpace(static_cast<unsigned char>(content[text_begin]))) {
    ++text_begin;
  }
  if (text_begin == content.size()) {
    return layout;
  }
  size_t text_end = text_begin;
  while (text_end < content.size() && !IsTextSpace(static_cast<unsigned char>(content[text_end]))) {
    ++text_end;
  }
  layout.has_signature = true;
  layout.signature_text = content.substr(text_begin, text_end - text_begin);
  return layout;
}
