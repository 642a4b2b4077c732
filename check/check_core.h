// SPDX-License-Identifier: ISC
// The checks as a core that decides and prints nothing: each gives a report
// (status, and which message with what arguments) and, on success, the
// signed bytes where they lie.  signcheck prints from the report; the library
// hands both back.  Every rule of the layouts lives here or below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "check/file_content.h"
#include "check/messages.h"
#include "check/report.h"
#include "dsa/public_key.h"
#include "hash/sha0.h"
#include "layouts/mode.h"
#include "layouts/tagged_pieces.h"
#include "layouts/url_layout.h"

// Every check accepts a signature that verifies under any key of its ring,
// tried in the ring's order; a ring without keys accepts none.

// The tagged-line check (modes nvl and msg), fed piece by piece up to the
// signature line.  It hashes the signed pieces as they come and keeps
// nothing of them: the caller keeps what it wants to hand back.
class TaggedCheck {
 public:
  TaggedCheck(CheckMode mode, KeyRing keys);

  // Takes the next piece, zero bytes included.  signed_part is set to the
  // bytes of it that are signed (empty when it is not tagged).  Returns true
  // at the signature line, after which the outcome is decided.
  bool Take(std::string_view piece, std::string_view& signed_part);

  // The outcome after the last piece taken.
  CheckReport Report() const;

  // The tagged pieces taken so far.
  size_t entries() const { return entries_; }

 private:
  // Hashes the staged bytes in whole blocks, or all of them when last.
  void HashStaged(bool last);

  CheckMode mode_;
  KeyRing keys_;
  const char* tag_;
  Sha0Context digest_;
  // The signed parts are staged here and hashed in whole blocks: a line is
  // rarely a multiple of the hash's 64-byte block, and the hash takes bytes
  // that leave a block unfinished one at a time.
  static constexpr size_t kStageSize = 2048;
  static_assert(kStageSize >= 64 + kLongestPiece);
  char stage_[kStageSize];
  size_t staged_ = 0;
  size_t entries_ = 0;
  bool piece_held_nul_ = false;
  bool signature_valid_ = false;
  int key_index_ = -1;
};

// The tagged-line check over content in memory.  On success entries holds
// each entry without its tag, in file order, pointing into content; the
// table is only grown when too small (std::bad_alloc otherwise escapes).
CheckReport TaggedContentCheck(std::string_view content, CheckMode mode, KeyRing keys,
                               std::vector<std::string_view>& entries);

// The tagged-line check over a stream, read in pieces from where it stands
// up to the signature line; a read error counts as the end of the file.  On
// success signed_data holds the signed pieces (split them with
// SplitTaggedEntries); memory running out gives kTaggedCannotRead with ENOMEM.
// size_hint, when not 0, reserves the signed data ahead.
CheckReport TaggedStreamCheck(FILE* stream, CheckMode mode, KeyRing keys, size_t size_hint, std::string& signed_data);

// Calls take(entry) for each entry of the signed data that TaggedStreamCheck
// passed: each piece without its tag.  On success no piece held a zero
// byte, so splitting the data again by the piece rule gives back exactly the
// pieces read.
template <typename Take>
void SplitTaggedEntries(std::string_view signed_data, Take&& take) {
  while (!signed_data.empty()) {
    const size_t length = PieceLength(signed_data);
    take(signed_data.substr(kEntryTagLength, length - kEntryTagLength));
    signed_data.remove_prefix(length);
  }
}

// The update list check (mode lst) over the file's content.  On success
// region is the signed region.
CheckReport LstContentCheck(std::string_view content, KeyRing keys, std::string_view& region);

// The URL list check (mode url) in its two steps, so that a caller can print
// between them: finding the marker and the signature text, then hashing the
// signed content and verifying.  UrlContentCheck runs both; on success
// signed_content is the signed content (possibly empty).
// UrlLocate in turn takes two steps, so that a caller can show the signature
// text before anything past it is read: UrlFindSignature gives the verdict
// on the marker and finds the text, UrlFindSignedContent then where the
// signed content begins.
CheckReport UrlLocate(std::string_view content, UrlLayout& layout);
CheckReport UrlFindSignature(std::string_view content, UrlLayout& layout);
void UrlFindSignedContent(std::string_view content, UrlLayout& layout);
CheckReport UrlVerify(std::string_view content, const UrlLayout& layout, KeyRing keys,
                      std::string_view& signed_content);
// UrlVerify's verdict on a finished digest of the signed content, for a
// caller that hashes the content itself.
CheckReport UrlVerifyDigest(const UrlLayout& layout, KeyRing keys, const Sha0Context& digest);
CheckReport UrlContentCheck(std::string_view content, KeyRing keys, std::string_view& signed_content);
