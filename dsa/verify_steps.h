// SPDX-License-Identifier: ISC
// The steps before and after the exponentiation, shared by every
// verification path so that the paths differ in the exponentiation alone and
// so reach the same verdict on every input.
#pragma once

#include <cstdint>

#include "dsa/public_key.h"
#include "hash/sha0.h"

struct VerifyScalars {
  Limb r[kQLimbs];
  uint8_t u1[20];  // h * s^-1 mod q, least significant byte first
  uint8_t u2[20];  // r * s^-1 mod q
};

// Range-checks r, then s, against domain.q and computes the scalars of the
// exponentiation from the finished context's digest.  kVerifyOk, or the
// range code of the first number out of range (scalars then undefined).
int PrepareScalars(const DsaDomain& domain, const uint8_t* signature, const Sha0Context& context,
                   VerifyScalars& scalars);

// kVerifyOk when acc (32 limbs, a Montgomery form modulo domain.p below
// 2^512) is congruent to r modulo p and then modulo q, else kVerifyMismatch.
// Overwrites acc.
int CompareWithR(const DsaDomain& domain, Limb* acc, const Limb* r);
