// SPDX-License-Identifier: ISC
// The entry points that verify under the compiled-in key, apart from the
// verification itself so that a program that brings its own keys (signtool,
// which generates the compiled-in key) needs none compiled in.
#include <cstring>

#include "dsa/builtin_key.h"
#include "dsa/verify.h"

namespace {

// The compiled-in domain, which the entry points without one default to.
DsaDomain CompiledDomain() {
  DsaDomain domain;
  std::memcpy(domain.p, kPrimeP, sizeof domain.p);
  std::memcpy(domain.q, kPrimeQ, sizeof domain.q);
  domain.factor_p = kFactorP;
  domain.factor_q = kFactorQ;
  std::memcpy(domain.q_r_squared, kQRSquared, sizeof domain.q_r_squared);
  std::memcpy(domain.q_correction, kQCorrection, sizeof domain.q_correction);
  return domain;
}

}  // namespace

int VerifyDigestSignatureWithBase(const uint8_t* key, const uint8_t* signature, const Sha0Context& context,
                                  const uint16_t (*base_table)[32]) {
  return VerifyDigestSignatureInDomain(CompiledDomain(), base_table, key, signature, context);
}

int VerifyDigestSignature(const uint8_t* key, const uint8_t* signature, const Sha0Context& context) {
  return VerifyDigestSignatureWithBase(key, signature, context, kBaseTable);
}
