// SPDX-License-Identifier: ISC
// Hash-then-verify over bytes in memory.  Kept apart from the verification
// of a finished digest, so that a build can pair them with a stand-in for it.
#include "dsa/reference.h"

int VerifySignatureLarge(const void* data, size_t length, const uint8_t* key, const uint8_t* signature) {
  Sha0Context context;
  Sha0Init(context);
  Sha0UpdateLarge(context, data, length);
  Sha0Final(context);
  return VerifyDigestSignature(key, signature, context);
}

int VerifySignature(const void* data, int length, const uint8_t* key, const uint8_t* signature) {
  return VerifySignatureLarge(data, length > 0 ? static_cast<size_t>(length) : 0, key, signature);
}
