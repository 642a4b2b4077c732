// SPDX-License-Identifier: ISC
// VerifySignature on arbitrary data and signatures: no crash, no read out of
// bounds, a defined result code, and never a valid signature by chance.
#include <cstddef>
#include <cstdint>

#include "dsa/builtin_key.h"
#include "dsa/reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kSignatureSize) return 0;
  const uint8_t* signature = data;
  const int result =
      VerifySignature(data + kSignatureSize, static_cast<int>(size - kSignatureSize), kVerifyKey, signature);
  if (result != kVerifyOutOfRange && result != kVerifyZero && result != kVerifyMismatch) __builtin_trap();
  return 0;
}
