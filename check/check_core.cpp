// SPDX-License-Identifier: ISC
#include "check/check_core.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "check/exit_status.h"
#include "dsa/verify.h"
#include "layouts/lst_layout.h"
#include "layouts/signature_text.h"

namespace {

// The index in keys of the first key under which signature verifies over
// the bytes, or -1.
int VerifyBytesWithRing(std::string_view bytes, KeyRing keys, const uint8_t* signature) {
  Sha0Context context;
  Sha0Init(context);
  Sha0UpdateLarge(context, bytes.data(), bytes.size());
  Sha0Final(context);
  return VerifyDigestWithRing(keys, signature, context);
}

}  // namespace

TaggedCheck::TaggedCheck(CheckMode mode, KeyRing keys) : mode_(mode), keys_(keys), tag_(ModeTag(mode)) {
  Sha0Init(digest_);
}

bool TaggedCheck::Take(std::string_view piece, std::string_view& signed_part) {
  const PieceRole role = ClassifyPiece(piece, tag_);
  signed_part = role.signed_part;
  if (!role.signed_part.empty()) {
    if (role.signed_part.size() > kStageSize - staged_) {
      HashStaged(false);
    }
    std::memcpy(stage_ + staged_, role.signed_part.data(), role.signed_part.size());
    staged_ += role.signed_part.size();
    ++entries_;
    piece_held_nul_ = piece_held_nul_ || role.held_nul;
  }
  if (!role.signature_line) {
    return false;
  }
  // HexToBytes reads a NUL-terminated text: the piece's own, up to its first
  // zero byte.  A piece is at most kLongestPiece bytes.
  char text[kLongestPiece + 1];
  const std::string_view after_tag = piece.substr(kSignTag.size());
  const size_t text_length = std::min(after_tag.find('\0'), after_tag.size());
  std::memcpy(text, after_tag.data(), text_length);
  text[text_length] = '\0';
  uint8_t signature[kTaggedSignatureBufferSize] = {};
  HexToBytes(text, signature, sizeof signature);
  HashStaged(true);
  Sha0Final(digest_);
  // A signature is not taken over a piece that held a zero byte: the piece
  // counts only up to it, and a signed line could be handed back as two.
  key_index_ = VerifyDigestWithRing(keys_, signature, digest_);
  signature_valid_ = key_index_ >= 0 && !piece_held_nul_;
  return true;
}

void TaggedCheck::HashStaged(bool last) {
  const size_t hashed = last ? staged_ : staged_ / 64 * 64;
  Sha0Update(digest_, stage_, static_cast<uint32_t>(hashed));
  std::memmove(stage_, stage_ + hashed, staged_ - hashed);
  staged_ -= hashed;
}

CheckReport TaggedCheck::Report() const {
  if (!signature_valid_) {
    return FailedCheck(mode_, kExitSoftware, CheckMessage::kTaggedNoSignature);
  }
  if (entries_ == 0) {
    return FailedCheck(mode_, kExitDataError, CheckMessage::kTaggedNoEntries);
  }
  return PassedCheck(mode_, key_index_);
}

CheckReport TaggedContentCheck(std::string_view content, CheckMode mode, KeyRing keys,
                               std::vector<std::string_view>& entries) {
  entries.clear();
  TaggedCheck check(mode, keys);
  std::string_view signed_part;
  for (std::string_view rest = content; !rest.empty();) {
    const std::string_view piece = rest.substr(0, PieceLength(rest));
    rest.remove_prefix(piece.size());
    if (check.Take(piece, signed_part)) {
      break;
    }
  }
  const CheckReport report = check.Report();
  if (report.status != kExitOk) {
    return report;
  }
  // The entries are gathered only once the signature holds, in a second walk
  // over the same pieces, into a table of exactly their number.
  entries.reserve(check.entries());
  for (std::string_view rest = content; entries.size() < check.entries();) {
    const std::string_view piece = rest.substr(0, PieceLength(rest));
    rest.remove_prefix(piece.size());
    const PieceRole role = ClassifyPiece(piece, ModeTag(mode));
    if (!role.signed_part.empty()) {
      entries.push_back(role.signed_part.substr(kEntryTagLength));
    }
  }
  return report;
}

CheckReport TaggedStreamCheck(FILE* stream, CheckMode mode, KeyRing keys, size_t size_hint, std::string& signed_data) {
  signed_data.clear();
  try {
    try {
      signed_data.reserve(size_hint);
    } catch (const std::bad_alloc&) {
      // Only a hint: the data may still fit as it grows.
    }
    TaggedCheck check(mode, keys);
    char piece[kLongestPiece + 1];
    std::string_view signed_part;
    while (const size_t length = ReadPiece(stream, piece)) {
      const bool last = check.Take(std::string_view(piece, length), signed_part);
      signed_data.append(signed_part);
      if (last) {
        break;
      }
    }
    const CheckReport report = check.Report();
    if (report.status != kExitOk) {
      signed_data.clear();
    }
    return report;
  } catch (const std::bad_alloc&) {
    signed_data.clear();
    return FailedCheck(mode, kExitIoError, CheckMessage::kTaggedCannotRead, ENOMEM);
  }
}

CheckReport LstContentCheck(std::string_view content, KeyRing keys, std::string_view& region) {
  constexpr CheckMode kMode = CheckMode::kLst;
  const LstLayout layout = LocateLstLayout(content);
  if (!layout.has_region) {
    return FailedCheck(kMode, kExitSoftware, CheckMessage::kLstNoRegion);
  }
  if (!layout.has_signature) {
    return FailedCheck(kMode, kExitSoftware, CheckMessage::kLstNoSignature);
  }
  uint8_t signature[kSignatureSize];
  DecodeSignatureText(layout.signature_text, signature);
  const std::string_view signed_region = content.substr(layout.region_begin, layout.region_size);
  const int key_index = VerifyBytesWithRing(signed_region, keys, signature);
  if (key_index < 0) {
    CheckReport report = FailedCheck(kMode, kExitSoftware, CheckMessage::kLstWrongSignature);
    report.signature_text = layout.signature_text;
    return report;
  }
  // The file is shown as text, up to its first NUL byte.  A NUL ahead of the
  // region's end would show unsigned bytes alone or a part of the region,
  // so the region is then not taken as found.
  if (std::min(content.find('\0'), content.size()) < layout.region_begin + layout.region_size) {
    return FailedCheck(kMode, kExitSoftware, CheckMessage::kLstNoRegion);
  }
  region = signed_region;
  return PassedCheck(kMode, key_index);
}

CheckReport UrlFindSignature(std::string_view content, UrlLayout& layout) {
  layout = LocateUrlSignature(content);
  if (!layout.has_marker) {
    return FailedCheck(CheckMode::kUrl, kExitSoftware, CheckMessage::kUrlNoSignature);
  }
  return PassedCheck(CheckMode::kUrl, -1);
}

void UrlFindSignedContent(std::string_view content, UrlLayout& layout) { FindUrlSignedBegin(content, layout); }

CheckReport UrlLocate(std::string_view content, UrlLayout& layout) {
  const CheckReport found = UrlFindSignature(content, layout);
  if (found.status == kExitOk) {
    UrlFindSignedContent(content, layout);
  }
  return found;
}

CheckReport UrlVerifyDigest(const UrlLayout& layout, KeyRing keys, const Sha0Context& digest) {
  uint8_t signature[kSignatureSize];
  DecodeSignatureText(layout.signature_text, signature);
  const int key_index = VerifyDigestWithRing(keys, signature, digest);
  if (key_index < 0) {
    CheckReport report = FailedCheck(CheckMode::kUrl, kExitSoftware, CheckMessage::kUrlWrongSignature);
    report.signature_text = layout.signature_text;
    return report;
  }
  return PassedCheck(CheckMode::kUrl, key_index);
}

CheckReport UrlVerify(std::string_view content, const UrlLayout& layout, KeyRing keys,
                      std::string_view& signed_content) {
  const std::string_view signed_bytes = content.substr(layout.signed_begin);
  Sha0Context context;
  Sha0Init(context);
  Sha0UpdateLarge(context, signed_bytes.data(), signed_bytes.size());
  Sha0Final(context);
  const CheckReport report = UrlVerifyDigest(layout, keys, context);
  if (report.status == kExitOk) {
    signed_content = signed_bytes;
  }
  return report;
}

CheckReport UrlContentCheck(std::string_view content, KeyRing keys, std::string_view& signed_content) {
  UrlLayout layout;
  const CheckReport located = UrlLocate(content, layout);
  return located.status != kExitOk ? located : UrlVerify(content, layout, keys, signed_content);
}
