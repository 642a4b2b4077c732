// SPDX-License-Identifier: ISC
#include "dsa/verify.h"

#include "dsa/builtin_key.h"
#include "dsa/limbs.h"

namespace {

constexpr int16_t kQLimbs = 10;
constexpr int16_t kPLimbs = 32;

bool IsZero(const Limb* a, int n) {
  for (int i = 0; i < n; ++i) {
    if (a[i] != 0) return false;
  }
  return true;
}

// 0 when 0 < x < q, else the result code for x.
int RangeCode(const Limb* x) {
  if (limbs_compare(x, kPrimeQ, kQLimbs) >= 0) return kVerifyOutOfRange;
  if (IsZero(x, kQLimbs)) return kVerifyZero;
  return kVerifyOk;
}

// Whether the 32-limb p lies below 2^512 - 2^496.
bool ModulusFitsReduction(const Limb* p) { return p[kPLimbs - 1] != 0xFFFF; }

}  // namespace

int VerifyDigestSignatureWithBase(const uint8_t* key, const uint8_t* signature, const Sha0Context& context,
                                  const uint16_t (*base_table)[32]) {
  Limb r[kQLimbs] = {};
  Limb w[kQLimbs] = {};
  Limb scratch[kQLimbs] = {};
  uint8_t u1[20] = {};
  uint8_t u2[20] = {};
  Limb key_table[8][kPLimbs] = {};
  Limb acc[kPLimbs] = {};

  // r is tested in full before s is looked at.
  limbs_from_bytes(signature, r, 20);
  if (const int code = RangeCode(r)) return code;
  limbs_from_bytes(signature + 20, w, 20);
  if (const int code = RangeCode(w)) return code;

  // Entries 2k and 2k + 1: Y_k and its cube, y^(2^(40k)) and y^(3 * 2^(40k)).
  for (int k = 0; k < 4; ++k) {
    limbs_from_bytes(key + 64 * k, key_table[2 * k], 64);
    mont_mul(key_table[2 * k], key_table[2 * k], key_table[2 * k + 1], kPrimeP, kFactorP, kPLimbs);
    mont_mul(key_table[2 * k], key_table[2 * k + 1], key_table[2 * k + 1], kPrimeP, kFactorP, kPLimbs);
  }

  mod_inverse_q(signature + 20, w);

  uint8_t digest[20];
  Sha0DigestBytes(context, digest);
  limbs_from_bytes(digest, scratch, 20);

  // Each product with kQRSquared cancels the 2^-160 of the one before it.
  mont_mul(w, scratch, scratch, kPrimeQ, kFactorQ, kQLimbs);
  mont_mul(scratch, kQRSquared, scratch, kPrimeQ, kFactorQ, kQLimbs);
  limbs_to_bytes(scratch, u1, 20);
  mont_mul(w, r, scratch, kPrimeQ, kFactorQ, kQLimbs);
  mont_mul(scratch, kQRSquared, scratch, kPrimeQ, kFactorQ, kQLimbs);
  limbs_to_bytes(scratch, u2, 20);

  mont_multi_exp_with_base(acc, u1, base_table, key_table, u2);

  // Out of Montgomery form modulo p (0 <= v <= p), then towards q: the second
  // reduction leaves v * 2^-512 (at most q), which the product with
  // kQCorrection = 2^672 turns back into v modulo q.  The first keeps no limb
  // above the accumulator's 32: each of its steps stays below 2^512 only
  // while p < 2^512 - 2^496, that is while p's top limb is not 0xFFFF.
  // signtool makes and accepts no other key; should one be compiled in all
  // the same, every signature is refused rather than checked wrongly.
  if (!ModulusFitsReduction(kPrimeP)) return kVerifyMismatch;
  mont_reduce(acc, kPrimeP, kFactorP, kPLimbs, kPLimbs, 32);
  mont_reduce(acc, kPrimeQ, kFactorQ, kPLimbs, kQLimbs, 32);
  mont_mul(acc, kQCorrection, acc, kPrimeQ, kFactorQ, kQLimbs);
  if (limbs_compare(acc, kPrimeQ, kQLimbs) >= 0) limbs_sub(acc, kPrimeQ, kQLimbs);

  return limbs_compare(acc, r, kQLimbs) == 0 ? kVerifyOk : kVerifyMismatch;
}

int VerifyDigestSignature(const uint8_t* key, const uint8_t* signature, const Sha0Context& context) {
  return VerifyDigestSignatureWithBase(key, signature, context, kBaseTable);
}
