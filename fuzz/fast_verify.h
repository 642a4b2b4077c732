// SPDX-License-Identifier: ISC
// The stand-in verification of the file checks' fuzz targets, and what it
// saw: the oracles compare the digest it was handed with the digest of the
// bytes that the layout says are signed.
#pragma once

#include <cstring>
#include <string_view>

#include "hash/sha0.h"

struct SeenDigest {
  bool seen = false;
  Sha0Context context;
};

// Cleared by the target before each run, filled by the verification.
SeenDigest& LastVerifiedDigest();

// Whether the last verification was handed the digest of bytes.
inline bool VerifiedDigestOf(std::string_view bytes) {
  const SeenDigest& seen = LastVerifiedDigest();
  if (!seen.seen) return false;
  Sha0Context expected;
  Sha0Init(expected);
  Sha0UpdateLarge(expected, bytes.data(), bytes.size());
  Sha0Final(expected);
  return std::memcmp(expected.state, seen.context.state, sizeof expected.state) == 0;
}
