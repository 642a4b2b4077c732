// SPDX-License-Identifier: ISC
// The reference verification: the 16-bit path over the 256-byte key record
// and the 64-entry base table, kept as it always was so that every faster
// path can be held to it.  It lives in the library verify_reference, which
// only tests, fuzzers and benchmarks link; the programs verify through
// dsa/public_key.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dsa/limbs.h"
#include "dsa/public_key.h"
#include "dsa/verify.h"
#include "hash/sha0.h"

inline constexpr int kVerifyKeySize = 256;

// The first compiled-in key in the reference's form, derived once from its
// PublicKey (dsa/builtin_key.h) on first use, so that each key is generated
// once.  Read them only once main has begun.
//
// kVerifyKey: Y0..Y3, 64 little-endian bytes each, Y_k = y^(2^(40k)) * 2^512
// mod p, fully reduced.  kBaseTable entry 16k + j: G_k^(2j + 1) * 2^512 mod p
// with G_k = g^(2^(40k)), fully reduced.  The domain as its limbs and
// factors: p, q, -p^-1 and -q^-1 mod 2^16, 2^320 and 2^672 mod q.
extern const uint8_t (&kVerifyKey)[kVerifyKeySize];
extern const uint16_t (&kBaseTable)[64][32];
extern const uint16_t (&kPrimeP)[32];
extern const uint16_t (&kPrimeQ)[10];
extern const uint16_t& kFactorP;
extern const uint16_t& kFactorQ;
extern const uint16_t (&kQRSquared)[10];
extern const uint16_t (&kQCorrection)[10];

// Finds the next window of set bits below position in a 40-bit exponent piece
// (5 bytes, least significant first).  position starts at 40; on return it is
// the window's lowest bit and digit = (window value - 1) / 2, or position is
// negative when the piece is exhausted (digit untouched).
void exp_window_next(const uint8_t* piece, int16_t& position, int16_t& digit, int16_t width);

// The reference's combined exponentiation modulo the odd 32-limb p with
// factor_p = -p^-1 mod 2^16, on 4 pieces of 40 bits: acc (32 limbs)
// becomes the Montgomery product of g^exp1 and y^exp2, congruent and below
// 2^512.  Entry 16k + j of base_table is G_k^(2j + 1) with G_k = g^(2^(40k));
// entries 2k and 2k + 1 of key_table are Y_k = y^(2^(40k)) and its cube; all
// in Montgomery form, below 2^512.  Exponents are 20 bytes, least significant
// first; at least one of them is nonzero.  acc may alias neither table.
void mont_multi_exp(Limb* acc, const uint8_t* exp1, const Limb (*base_table)[32], const Limb (*key_table)[32],
                    const uint8_t* exp2, const Limb* p, Limb factor_p);

// Hashes length bytes at data and verifies the signature over them under a
// key record in kVerifyKey's form.  A negative length is treated as no data.
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
