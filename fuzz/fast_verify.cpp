// SPDX-License-Identifier: ISC
// A stand-in for the verification of a finished digest under a ring of keys, linked into the fuzz
// targets of the file checks so that they spend their time on parsing rather
// than on modular exponentiation (the real verification has a target of its
// own).  The hashing in front of it is the real one, so every signed byte is
// still read; a signature that begins with the bytes 5A A5 is accepted, so
// that the fuzzer reaches the success paths too.
#include "fuzz/fast_verify.h"

#include "dsa/public_key.h"
#include "dsa/verify.h"

SeenDigest& LastVerifiedDigest() {
  static SeenDigest seen;
  return seen;
}

// The checks verify through the ring; the first key "signs" what the
// stand-in accepts.
int VerifyDigestWithRing(KeyRing ring, const uint8_t* signature, const Sha0Context& context) {
  LastVerifiedDigest().seen = true;
  LastVerifiedDigest().context = context;
  return !ring.empty() && signature[0] == 0x5A && signature[1] == 0xA5 ? 0 : -1;
}
