// SPDX-License-Identifier: ISC
#include "dsa/key_primality.h"

#include <sys/random.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "dsa/key_modular.h"

namespace {

// Each round passes an odd composite with probability at most 1/4, whatever
// the number: 40 rounds keep a crafted composite below 2^-80.
constexpr int kMillerRabinRounds = 40;

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

}  // namespace

Primality TestPrimality(const Limb* m, int16_t n) {
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

  Limb one_limb[kMaxModulusLimbs] = {1};
  for (int round = 0; round < kMillerRabinRounds; ++round) {
    Limb base[kMaxModulusLimbs] = {};
    do {
      if (!RandomBytes(base, sizeof(Limb) * static_cast<size_t>(n))) return Primality::kNoRandomness;
    } while (limbs_compare(base, m_minus_1, n) >= 0 || limbs_compare(base, one_limb, n) <= 0);
    Limb x[kMaxModulusLimbs];
    mont_mul(base, mod.r_squared, x, m, mod.factor, n);
    MontPow(x, odd_part, n, mod, x);
    if (limbs_compare(x, mod.one, n) == 0 || limbs_compare(x, minus_one, n) == 0) continue;
    bool reached_minus_one = false;
    for (int s = 1; s < twos && !reached_minus_one; ++s) {
      mont_mul(x, x, x, m, mod.factor, n);
      ReduceOnce(x, m, n);
      if (limbs_compare(x, mod.one, n) == 0) return Primality::kComposite;
      reached_minus_one = limbs_compare(x, minus_one, n) == 0;
    }
    if (!reached_minus_one) return Primality::kComposite;
  }
  return Primality::kProbablyPrime;
}
