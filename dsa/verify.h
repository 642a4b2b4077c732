// SPDX-License-Identifier: ISC
// DSA verification (512-bit p, 160-bit q) over the 1993 SHA digest against a
// key record in the form of kVerifyKey.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dsa/public_key.h"
#include "hash/sha0.h"

// Result codes; callers only tell kVerifyOk from the rest.
inline constexpr int kVerifyOk = 0;
inline constexpr int kVerifyOutOfRange = 0x7707;  // r >= q, or s >= q
inline constexpr int kVerifyZero = 0x0707;        // r = 0, or s = 0
inline constexpr int kVerifyMismatch = 0x0F0F;    // in range, but wrong

// A signature is 40 bytes: r then s, each 20 bytes least significant first.
inline constexpr int kSignatureSize = 40;
inline constexpr int kVerifyKeySize = 256;

// Hashes length bytes at data and verifies the signature over them.  A
// negative length is treated as no data.
int VerifySignature(const void* data, int length, const uint8_t* key, const uint8_t* signature);

// VerifySignature for contents of any size: the whole content is hashed, in
// pieces where it does not fit a 32-bit length, never a truncated prefix.
int VerifySignatureLarge(const void* data, size_t length, const uint8_t* key, const uint8_t* signature);

// Verifies against a context on which Sha0Final has run; reads only its state.
int VerifyDigestSignature(const uint8_t* key, const uint8_t* signature, const Sha0Context& context);

// The same with a base table other than kBaseTable (64 entries of 32 limbs
// in the form kBaseTable has); for tests of unreduced tables.
int VerifyDigestSignatureWithBase(const uint8_t* key, const uint8_t* signature, const Sha0Context& context,
                                  const uint16_t (*base_table)[32]);

// The same path in any domain: base_table in kBaseTable's form for the
// domain's g, key in kVerifyKey's form; for tests that hold other paths and
// other keys to it.
int VerifyDigestSignatureInDomain(const DsaDomain& domain, const uint16_t (*base_table)[32], const uint8_t* key,
                                  const uint8_t* signature, const Sha0Context& context);
