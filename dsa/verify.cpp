// SPDX-License-Identifier: ISC
#include "dsa/verify.h"

#include "dsa/limbs.h"
#include "dsa/verify_steps.h"

namespace {

bool IsZero(const Limb* a, int n) {
  for (int i = 0; i < n; ++i) {
    if (a[i] != 0) return false;
  }
  return true;
}

// 0 when 0 < x < q, else the result code for x.
int RangeCode(const Limb* x, const Limb* q) {
  if (limbs_compare(x, q, kQLimbs) >= 0) return kVerifyOutOfRange;
  if (IsZero(x, kQLimbs)) return kVerifyZero;
  return kVerifyOk;
}

// Whether the 32-limb p lies below 2^512 - 2^496.
bool ModulusFitsReduction(const Limb* p) { return p[kPLimbs - 1] != 0xFFFF; }

}  // namespace

int PrepareScalars(const DsaDomain& domain, const uint8_t* signature, const Sha0Context& context,
                   VerifyScalars& scalars) {
  Limb w[kQLimbs] = {};
  Limb scratch[kQLimbs] = {};

  // r is tested in full before s is looked at.
  limbs_from_bytes(signature, scalars.r, 20);
  if (const int code = RangeCode(scalars.r, domain.q)) return code;
  limbs_from_bytes(signature + 20, w, 20);
  if (const int code = RangeCode(w, domain.q)) return code;

  mod_inverse(signature + 20, domain.q, w);

  uint8_t digest[20];
  Sha0DigestBytes(context, digest);
  limbs_from_bytes(digest, scratch, 20);

  // Each product with q_r_squared cancels the 2^-160 of the one before it.
  mont_mul(w, scratch, scratch, domain.q, domain.factor_q, kQLimbs);
  mont_mul(scratch, domain.q_r_squared, scratch, domain.q, domain.factor_q, kQLimbs);
  limbs_to_bytes(scratch, scalars.u1, 20);
  mont_mul(w, scalars.r, scratch, domain.q, domain.factor_q, kQLimbs);
  mont_mul(scratch, domain.q_r_squared, scratch, domain.q, domain.factor_q, kQLimbs);
  limbs_to_bytes(scratch, scalars.u2, 20);
  return kVerifyOk;
}

int CompareWithR(const DsaDomain& domain, Limb* acc, const Limb* r) {
  // Out of Montgomery form modulo p (0 <= v <= p), then towards q: the second
  // reduction leaves v * 2^-512 (at most q), which the product with
  // q_correction = 2^672 turns back into v modulo q.  The first keeps no limb
  // above the accumulator's 32: each of its steps stays below 2^512 only
  // while p < 2^512 - 2^496, that is while p's top limb is not 0xFFFF.
  // signtool makes and accepts no other key, nor does the loader; should one
  // be compiled in all the same, every signature is refused rather than
  // checked wrongly.
  if (!ModulusFitsReduction(domain.p)) return kVerifyMismatch;
  mont_reduce(acc, domain.p, domain.factor_p, kPLimbs, kPLimbs, 32);
  mont_reduce(acc, domain.q, domain.factor_q, kPLimbs, kQLimbs, 32);
  mont_mul(acc, domain.q_correction, acc, domain.q, domain.factor_q, kQLimbs);
  if (limbs_compare(acc, domain.q, kQLimbs) >= 0) limbs_sub(acc, domain.q, kQLimbs);
  return limbs_compare(acc, r, kQLimbs) == 0 ? kVerifyOk : kVerifyMismatch;
}
