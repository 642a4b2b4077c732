// SPDX-License-Identifier: ISC
// The reference verification under a key record and a base table, and the
// first compiled-in key in that form.
#include "dsa/reference.h"

#include <cstring>

#include "dsa/builtin_key.h"
#include "dsa/limbs_paths.h"
#include "dsa/verify_steps.h"

namespace {

struct ReferenceConstants {
  uint8_t verify_key[kVerifyKeySize];
  uint16_t base_table[64][32];
  DsaDomain domain;
};

// a = a * b * 2^-512 mod p, fully reduced, on the 16-bit reference product
// alone, so that the reference's tables owe nothing to the faster variants.
void MulReduced(Limb* a, const Limb* b, const DsaDomain& domain) {
  limbs::MontMulReference(a, b, a, domain.p, domain.factor_p, kPLimbs);
  if (limbs_compare(a, domain.p, kPLimbs) >= 0) limbs_sub(a, domain.p, kPLimbs);
}

// Entry 0 of a power table is its base itself, in Montgomery form and fully
// reduced; the reference's powers follow from it by squarings and products,
// fully reduced like the ones signtool generated for it before.
ReferenceConstants Derive(const PublicKey& key) {
  ReferenceConstants c;
  c.domain = key.domain;
  Limb g_k[kPLimbs], y_k[kPLimbs], square[kPLimbs];
  std::memcpy(g_k, key.generator_powers[0], sizeof g_k);
  std::memcpy(y_k, key.key_powers[0], sizeof y_k);
  for (int k = 0; k < 4; ++k) {
    if (k > 0) {
      for (int s = 0; s < 40; ++s) {
        MulReduced(g_k, g_k, c.domain);
        MulReduced(y_k, y_k, c.domain);
      }
    }
    limbs_to_bytes(y_k, c.verify_key + 64 * k, 64);
    std::memcpy(square, g_k, sizeof square);
    MulReduced(square, g_k, c.domain);
    std::memcpy(c.base_table[16 * k], g_k, sizeof g_k);
    for (int j = 1; j < 16; ++j) {
      std::memcpy(c.base_table[16 * k + j], c.base_table[16 * k + j - 1], sizeof g_k);
      MulReduced(c.base_table[16 * k + j], square, c.domain);
    }
  }
  return c;
}

const ReferenceConstants& Derived() {
  static const ReferenceConstants constants = Derive(*CompiledKeyRing()[0]);
  return constants;
}

}  // namespace

const uint8_t (&kVerifyKey)[kVerifyKeySize] = Derived().verify_key;
const uint16_t (&kBaseTable)[64][32] = Derived().base_table;
const uint16_t (&kPrimeP)[32] = Derived().domain.p;
const uint16_t (&kPrimeQ)[10] = Derived().domain.q;
const uint16_t& kFactorP = Derived().domain.factor_p;
const uint16_t& kFactorQ = Derived().domain.factor_q;
const uint16_t (&kQRSquared)[10] = Derived().domain.q_r_squared;
const uint16_t (&kQCorrection)[10] = Derived().domain.q_correction;

int VerifyDigestSignatureInDomain(const DsaDomain& domain, const uint16_t (*base_table)[32], const uint8_t* key,
                                  const uint8_t* signature, const Sha0Context& context) {
  VerifyScalars scalars;
  if (const int code = PrepareScalars(domain, signature, context, scalars)) return code;

  // Entries 2k and 2k + 1: Y_k and its cube, y^(2^(40k)) and y^(3 * 2^(40k)).
  Limb key_table[8][kPLimbs] = {};
  for (int k = 0; k < 4; ++k) {
    limbs_from_bytes(key + 64 * k, key_table[2 * k], 64);
    mont_mul(key_table[2 * k], key_table[2 * k], key_table[2 * k + 1], domain.p, domain.factor_p, kPLimbs);
    mont_mul(key_table[2 * k], key_table[2 * k + 1], key_table[2 * k + 1], domain.p, domain.factor_p, kPLimbs);
  }

  Limb acc[kPLimbs] = {};
  mont_multi_exp(acc, scalars.u1, base_table, key_table, scalars.u2, domain.p, domain.factor_p);
  return CompareWithR(domain, acc, scalars.r);
}

int VerifyDigestSignatureWithBase(const uint8_t* key, const uint8_t* signature, const Sha0Context& context,
                                  const uint16_t (*base_table)[32]) {
  return VerifyDigestSignatureInDomain(Derived().domain, base_table, key, signature, context);
}

int VerifyDigestSignature(const uint8_t* key, const uint8_t* signature, const Sha0Context& context) {
  return VerifyDigestSignatureWithBase(key, signature, context, kBaseTable);
}
