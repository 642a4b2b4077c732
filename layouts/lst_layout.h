// SPDX-License-Identifier: ISC
// Update lists (mode lst): the region from the start marker through the line
// feed of the end marker is signed, and the signature text follows
// "Signature=" at or after the "[Signature]" section header.
#pragma once

#include <cstddef>
#include <string_view>

inline constexpr std::string_view kLstStartMarker = "[NorvuUpdateList]";
// The end marker's CR LF belongs to it: a line ended by a line feed alone
// closes no region.
inline constexpr std::string_view kLstEndMarker = "[NorvuUpdateListEnd]\r\n";
inline constexpr std::string_view kLstSignatureSection = "[Signature]";
inline constexpr std::string_view kLstSignatureKey = "Signature=";

// Where the check finds the signed region and the signature text.
struct LstLayout {
  bool has_region = false;
  size_t region_begin = 0;
  size_t region_size = 0;
  bool has_signature = false;
  std::string_view signature_text;  // whole run of non-whitespace bytes
};

LstLayout LocateLstLayout(std::string_view content);
