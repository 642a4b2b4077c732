// SPDX-License-Identifier: ISC
#include "dsa/key_primality.h"

#include <sys/random.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "dsa/key_modular.h"

namespace {

// Each random round passes an odd composite with probability at most 1/4,
// whatever the number: 40 rounds keep a crafted composite below 2^-80.
constexpr int kFullRounds = 40;

bool RandomBytes(void* buffer, size_t length) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (length > 0) {
    const ssize_t got = getrandom(bytes, length, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    length -= static_cast<size_t>(got);
  }
  return true;
}

// Whether a small odd prime divides m: most composites end here, before
// any exponentiation.
bool HasSmallFactor(const Limb* m, int16_t n) {
  for (uint32_t d = 3; d < 2000; d += 2) {
    bool prime = true;
    for (uint32_t k = 3; k * k <= d && prime; k += 2) prime = d % k != 0;
    if (!prime) continue;
    uint32_t remainder = 0;
    for (int i = n - 1; i >= 0; --i) remainder = ((remainder << 16) | m[i]) % d;
    if (remainder == 0) return true;
  }
  return false;
}

// a = a + b mod 2^(16n); the carry out.
uint32_t AddInto(Limb* a, const Limb* b, int16_t n) {
  uint32_t carry = 0;
  for (int i = 0; i < n; ++i) {
    const uint32_t t = uint32_t{a[i]} + b[i] + carry;
    a[i] = static_cast<Limb>(t);
    carry = t >> 16;
  }
  return carry;
}

// a = a + b mod m, a = a - b mod m, for a and b below m.
void ModAdd(Limb* a, const Limb* b, const Modulus& mod) {
  if (AddInto(a, b, mod.n) != 0 || limbs_compare(a, mod.m, mod.n) >= 0) limbs_sub(a, mod.m, mod.n);
}
void ModSub(Limb* a, const Limb* b, const Modulus& mod) {
  const bool under = limbs_compare(a, b, mod.n) < 0;
  limbs_sub(a, b, mod.n);
  if (under) AddInto(a, mod.m, mod.n);
}

// a = a / 2 mod m for a below m.
void ModHalve(Limb* a, const Modulus& mod) {
  const uint32_t carry = (a[0] & 1) != 0 ? AddInto(a, mod.m, mod.n) : 0;
  for (int i = 0; i < mod.n; ++i) {
    const uint32_t high = i + 1 < mod.n ? a[i + 1] : carry;
    a[i] = static_cast<Limb>((a[i] >> 1) | (high << 15));
  }
}

// out = a * b in Montgomery form, fully reduced; out may alias a or b.
void MulMod(const Limb* a, const Limb* b, Limb* out, const Modulus& mod) {
  mont_mul(a, b, out, mod.m, mod.factor, mod.n);
  ReduceOnce(out, mod.m, mod.n);
}

// The small signed number v in Montgomery form modulo m.
void SmallToMont(int32_t v, const Modulus& mod, Limb* out) {
  Limb plain[kMaxModulusLimbs] = {};
  plain[0] = static_cast<Limb>(v < 0 ? -v : v);
  MulMod(plain, mod.r_squared, out, mod);
  if (v < 0 && !IsZero(out, mod.n)) {
    Limb negated[kMaxModulusLimbs];
    std::memcpy(negated, mod.m, sizeof negated);
    limbs_sub(negated, out, mod.n);
    std::memcpy(out, negated, sizeof(Limb) * static_cast<size_t>(mod.n));
  }
}

// The Jacobi symbol (a / m) for an odd m > 0.
int Jacobi(uint32_t a, uint32_t m) {
  int sign = 1;
  a %= m;
  while (a != 0) {
    while ((a & 1) == 0) {
      a >>= 1;
      if (m % 8 == 3 || m % 8 == 5) sign = -sign;
    }
    const uint32_t t = a;
    a = m;
    m = t;
    if (a % 4 == 3 && m % 4 == 3) sign = -sign;
    a %= m;
  }
  return m == 1 ? sign : 0;
}

uint32_t SmallRemainder(const Limb* m, int16_t n, uint32_t d) {
  uint32_t remainder = 0;
  for (int i = n - 1; i >= 0; --i) remainder = ((remainder << 16) | m[i]) % d;
  return remainder;
}

// The strong Lucas test with Selfridge's parameters: D the first of 5, -7,
// 9, -11, ... with (D / m) = -1, P = 1, Q = (1 - D) / 4.  kProbablyPrime
// when U_d = 0 or V_(d 2^r) = 0 for some r < s, where m + 1 = d 2^s;
// kNoRandomness stands for "no D found" (m a square, or a prime with many
// small residues), which the caller answers with more random rounds.
Primality StrongLucas(const Limb* m, const Modulus& mod) {
  const int16_t n = mod.n;
  int32_t d_param = 5;
  for (int tries = 0;; ++tries, d_param = d_param > 0 ? -(d_param + 2) : -d_param + 2) {
    if (tries == 64) return Primality::kNoRandomness;
    const auto magnitude = static_cast<uint32_t>(d_param < 0 ? -d_param : d_param);
    int symbol = Jacobi(SmallRemainder(m, n, magnitude), magnitude);
    // (D / m) = (m / |D|) for D = 1 mod 4, which Selfridge's D are when
    // positive; a negative D adds (-1 / m) and the reciprocity sign.
    if (d_param < 0 && (m[0] & 3) == 3) symbol = -symbol;
    if (d_param < 0 && (magnitude & 3) == 3 && (m[0] & 3) == 3) symbol = -symbol;
    if (symbol == -1) break;
    if (symbol == 0) return Primality::kComposite;  // |D| shares a factor with m, which is larger
  }
  const int32_t q_param = (1 - d_param) / 4;
  Limb d_mont[kMaxModulusLimbs], q_mont[kMaxModulusLimbs];
  SmallToMont(d_param, mod, d_mont);
  SmallToMont(q_param, mod, q_mont);
  // m + 1 = d 2^s; m + 1 does not overflow, as m is odd.
  Limb exponent[kMaxModulusLimbs];
  std::memcpy(exponent, m, sizeof(Limb) * static_cast<size_t>(n));
  Limb one_limb[kMaxModulusLimbs] = {1};
  AddInto(exponent, one_limb, n);
  int s = 0;
  while (((exponent[s / 16] >> (s % 16)) & 1) == 0) ++s;
  int top = 16 * n - 1;
  while (((exponent[top / 16] >> (top % 16)) & 1) == 0) --top;

  Limb u[kMaxModulusLimbs], v[kMaxModulusLimbs], qk[kMaxModulusLimbs], t[kMaxModulusLimbs];
  std::memcpy(u, mod.one, sizeof u);  // U_1 = 1
  std::memcpy(v, mod.one, sizeof v);  // V_1 = P = 1
  std::memcpy(qk, q_mont, sizeof qk);
  for (int bit = top - 1; bit >= s; --bit) {
    MulMod(u, v, u, mod);  // U_2k = U_k V_k
    MulMod(v, v, v, mod);  // V_2k = V_k^2 - 2 Q^k
    ModSub(v, qk, mod);
    ModSub(v, qk, mod);
    MulMod(qk, qk, qk, mod);
    if ((exponent[bit / 16] >> (bit % 16)) & 1) {
      MulMod(d_mont, u, t, mod);  // U_k+1 = (U + V) / 2, V_k+1 = (D U + V) / 2
      ModAdd(u, v, mod);
      ModHalve(u, mod);
      ModAdd(v, t, mod);
      ModHalve(v, mod);
      MulMod(qk, q_mont, qk, mod);
    }
  }
  if (IsZero(u, n) || IsZero(v, n)) return Primality::kProbablyPrime;
  for (int r = 1; r < s; ++r) {
    MulMod(v, v, v, mod);
    ModSub(v, qk, mod);
    ModSub(v, qk, mod);
    if (IsZero(v, n)) return Primality::kProbablyPrime;
    MulMod(qk, qk, qk, mod);
  }
  return Primality::kComposite;
}

}  // namespace

Primality TestPrimality(const Limb* m, int16_t n, int random_rounds) {
  if ((m[0] & 1) == 0 || HasSmallFactor(m, n)) return Primality::kComposite;
  Modulus mod;
  SetUpModulus(m, n, mod);
  Limb m_minus_1[kMaxModulusLimbs], odd_part[kMaxModulusLimbs] = {}, minus_one[kMaxModulusLimbs];
  std::memcpy(m_minus_1, m, sizeof(Limb) * static_cast<size_t>(n));
  m_minus_1[0] = static_cast<Limb>(m_minus_1[0] - 1);
  std::memcpy(minus_one, m, sizeof(Limb) * static_cast<size_t>(n));
  limbs_sub(minus_one, mod.one, n);
  // m - 1 = 2^twos * odd_part.
  int twos = 0;
  while (((m_minus_1[twos / 16] >> (twos % 16)) & 1) == 0) ++twos;
  for (int bit = twos; bit < 16 * n; ++bit) {
    const int to = bit - twos;
    if ((m_minus_1[bit / 16] >> (bit % 16)) & 1)
      odd_part[to / 16] = static_cast<Limb>(odd_part[to / 16] | 1u << (to % 16));
  }
  // One strong test to the base (plain, in [2, m - 2]).
  const auto strong_probable_prime = [&](const Limb* base) {
    Limb x[kMaxModulusLimbs];
    mont_mul(base, mod.r_squared, x, m, mod.factor, n);
    MontPow(x, odd_part, n, mod, x);
    if (limbs_compare(x, mod.one, n) == 0 || limbs_compare(x, minus_one, n) == 0) return true;
    for (int s = 1; s < twos; ++s) {
      MulMod(x, x, x, mod);
      if (limbs_compare(x, mod.one, n) == 0) return false;
      if (limbs_compare(x, minus_one, n) == 0) return true;
    }
    return false;
  };

  // Baillie-PSW: base 2, then the strong Lucas test.
  Limb base[kMaxModulusLimbs] = {2};
  if (!strong_probable_prime(base)) return Primality::kComposite;
  switch (StrongLucas(m, mod)) {
    case Primality::kComposite: return Primality::kComposite;
    case Primality::kNoRandomness: random_rounds = kFullRounds; break;
    case Primality::kProbablyPrime: break;
  }
  Limb one_limb[kMaxModulusLimbs] = {1};
  for (int round = 0; round < random_rounds; ++round) {
    std::memset(base, 0, sizeof base);
    do {
      if (!RandomBytes(base, sizeof(Limb) * static_cast<size_t>(n))) return Primality::kNoRandomness;
    } while (limbs_compare(base, m_minus_1, n) >= 0 || limbs_compare(base, one_limb, n) <= 0);
    if (!strong_probable_prime(base)) return Primality::kComposite;
  }
  return Primality::kProbablyPrime;
}
