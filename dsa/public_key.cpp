// SPDX-License-Identifier: ISC
#include "dsa/public_key.h"

#include "dsa/power_tables.h"
#include "dsa/verify.h"
#include "dsa/verify_steps.h"

int VerifyDigestWithKey(const PublicKey& key, const uint8_t* signature, const Sha0Context& context) {
  VerifyScalars scalars;
  if (const int code = PrepareScalars(key.domain, signature, context, scalars)) return code;
  Limb acc[kPLimbs];
  mont_multi_exp_powers(acc, scalars.u1, key.generator_powers, scalars.u2, key.key_powers, key.domain.p,
                        key.domain.factor_p);
  return CompareWithR(key.domain, acc, scalars.r);
}

int VerifyDigestWithRing(KeyRing ring, const uint8_t* signature, const Sha0Context& context) {
  for (size_t i = 0; i < ring.size() && i < kMaxRingKeys; ++i) {
    if (VerifyDigestWithKey(*ring[i], signature, context) == kVerifyOk) return static_cast<int>(i);
  }
  return -1;
}
