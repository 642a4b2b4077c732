// SPDX-License-Identifier: ISC
// Modular arithmetic for judging keys: exponentiation and Montgomery set-up
// over any odd modulus of up to 32 limbs, on the public limb routines.
// Variable-time, like those routines, except PowSecretExponent.
#pragma once

#include <cstdint>

#include "dsa/limbs.h"

inline constexpr int kMaxModulusLimbs = 32;

// An odd modulus of n limbs with its top bit set, and its Montgomery
// constants: factor = -m^-1 mod 2^16, one = 2^(16n) mod m, r_squared =
// 2^(32n) mod m, both fully reduced.
struct Modulus {
  const Limb* m;
  int16_t n;
  Limb factor;
  Limb one[kMaxModulusLimbs];
  Limb r_squared[kMaxModulusLimbs];
};

void SetUpModulus(const Limb* m, int16_t n, Modulus& mod);

bool IsZero(const Limb* a, int n);

// x = 2x mod m for x below m.
void ModDouble(Limb* x, const Limb* m, int16_t n);

// x below 2^(16n), so below 2m: fully reduced below m.
void ReduceOnce(Limb* x, const Limb* m, int16_t n);

// out = base^exponent in Montgomery form, fully reduced, for base in
// Montgomery form below 2^(16n) and an exponent of exponent_limbs limbs.
// out may alias base.
void MontPow(const Limb* base, const Limb* exponent, int exponent_limbs, const Modulus& mod, Limb* out);

// As MontPow, for a secret exponent: every window multiplies, by a table
// entry chosen without a secret-dependent address or branch.
void PowSecretExponent(const Limb* base, const Limb* exponent, int exponent_limbs, const Modulus& mod, Limb* out);
