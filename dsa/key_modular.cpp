// SPDX-License-Identifier: ISC
#include "dsa/key_modular.h"

#include <cstddef>
#include <cstring>

bool IsZero(const Limb* a, int n) {
  for (int i = 0; i < n; ++i) {
    if (a[i] != 0) return false;
  }
  return true;
}

void ModDouble(Limb* x, const Limb* m, int16_t n) {
  uint32_t carry = 0;
  for (int i = 0; i < n; ++i) {
    const uint32_t t = (uint32_t{x[i]} << 1) | carry;
    x[i] = static_cast<Limb>(t);
    carry = t >> 16;
  }
  if (carry != 0 || limbs_compare(x, m, n) >= 0) limbs_sub(x, m, n);
}

void ReduceOnce(Limb* x, const Limb* m, int16_t n) {
  if (limbs_compare(x, m, n) >= 0) limbs_sub(x, m, n);
}

void SetUpModulus(const Limb* m, int16_t n, Modulus& mod) {
  mod.m = m;
  mod.n = n;
  // Newton's step doubles the correct low bits of m^-1: 3, 6, 12, 24.
  uint32_t inverse = m[0];
  for (int i = 0; i < 3; ++i) inverse = static_cast<Limb>(inverse * (2 - m[0] * inverse));
  mod.factor = static_cast<Limb>(0u - inverse);
  // With the top bit of m set, 2^(16n) - m is already below m.
  std::memset(mod.one, 0, sizeof mod.one);
  limbs_sub(mod.one, m, n);
  std::memcpy(mod.r_squared, mod.one, sizeof mod.one);
  for (int i = 0; i < 16 * n; ++i) ModDouble(mod.r_squared, m, n);
}

namespace {

void Powers(const Limb* base, const Modulus& mod, Limb (*powers)[kMaxModulusLimbs]) {
  std::memcpy(powers[0], mod.one, sizeof powers[0]);
  for (int i = 1; i < 16; ++i) mont_mul(powers[i - 1], base, powers[i], mod.m, mod.factor, mod.n);
}

int Nibble(const Limb* exponent, int nibble) { return (exponent[nibble / 4] >> (4 * (nibble % 4))) & 15; }

}  // namespace

void MontPow(const Limb* base, const Limb* exponent, int exponent_limbs, const Modulus& mod, Limb* out) {
  Limb powers[16][kMaxModulusLimbs];
  Powers(base, mod, powers);
  Limb acc[kMaxModulusLimbs];
  std::memcpy(acc, mod.one, sizeof acc);
  for (int nibble = 4 * exponent_limbs - 1; nibble >= 0; --nibble) {
    for (int s = 0; s < 4; ++s) mont_mul(acc, acc, acc, mod.m, mod.factor, mod.n);
    const int digit = Nibble(exponent, nibble);
    if (digit != 0) mont_mul(acc, powers[digit], acc, mod.m, mod.factor, mod.n);
  }
  ReduceOnce(acc, mod.m, mod.n);
  std::memcpy(out, acc, sizeof(Limb) * static_cast<size_t>(mod.n));
}

void PowSecretExponent(const Limb* base, const Limb* exponent, int exponent_limbs, const Modulus& mod, Limb* out) {
  Limb powers[16][kMaxModulusLimbs];
  Powers(base, mod, powers);
  Limb acc[kMaxModulusLimbs], factor[kMaxModulusLimbs];
  std::memcpy(acc, mod.one, sizeof acc);
  for (int nibble = 4 * exponent_limbs - 1; nibble >= 0; --nibble) {
    for (int s = 0; s < 4; ++s) mont_mul(acc, acc, acc, mod.m, mod.factor, mod.n);
    const auto digit = static_cast<unsigned>(Nibble(exponent, nibble));
    for (int i = 0; i < mod.n; ++i) {
      unsigned picked = 0;
      for (unsigned j = 0; j < 16; ++j) {
        const unsigned mask = 0u - static_cast<unsigned>(((j ^ digit) - 1u) >> 31);
        picked |= powers[j][i] & mask;
      }
      factor[i] = static_cast<Limb>(picked);
    }
    mont_mul(acc, factor, acc, mod.m, mod.factor, mod.n);
  }
  ReduceOnce(acc, mod.m, mod.n);
  std::memcpy(out, acc, sizeof(Limb) * static_cast<size_t>(mod.n));
  volatile Limb* wipe = &factor[0];
  for (int i = 0; i < kMaxModulusLimbs; ++i) wipe[i] = 0;
}
