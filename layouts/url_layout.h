// SPDX-License-Identifier: ISC
// URL lists (mode url): the signature text stands after "[signature]" and
// signs everything from the first non-whitespace byte after it to the end
// of the file.
#pragma once

#include <cstddef>
#include <string_view>

inline constexpr std::string_view kUrlMarker = "[signature]";
// The one byte after the marker is skipped unexamined, by this layout's
// design: normally the line feed, or the carriage return of CR LF.
inline constexpr size_t kUrlMarkerStep = kUrlMarker.size() + 1;

// Where the check finds the signature text and the signed content.
struct UrlLayout {
  bool has_marker = false;
  std::string_view signature_text;
  size_t signed_begin = 0;  // the signed content runs to the end of the file
};

// The marker is searched as text: it is found only ahead of the first NUL
// byte.  The search goes through the content in windows of this size, the
// smallest page of every supported CPU, at offsets that are multiples of it:
// over a mapping, each window lies within one page.
inline constexpr size_t kUrlSearchWindow = size_t{4} << 10;

// Where the first marker ahead of the first NUL byte starts, or npos.
size_t FindUrlMarker(std::string_view content);

// The layout in two steps, so that a caller can show the signature text
// before anything past it is read: LocateUrlSignature finds the marker and
// the text and leaves signed_begin at the end of the text; FindUrlSignedBegin
// then moves signed_begin over the whitespace that follows.  LocateUrlLayout
// takes both.
UrlLayout LocateUrlSignature(std::string_view content);
void FindUrlSignedBegin(std::string_view content, UrlLayout& layout);
UrlLayout LocateUrlLayout(std::string_view content);
