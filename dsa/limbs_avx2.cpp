// SPDX-License-Identifier: ISC
// The 32-limb Montgomery product on AVX2, for CPUs that have it (chosen at
// run time by limbs.cpp).  It gives exactly the reference routine's result:
// the quotient digits u are the unique ones that make each step exact, and
// the single subtraction of m happens in the same case (result >= 2^512).
#include "dsa/limbs_paths.h"

#if LIMBS_HAVE_AVX2

#include <immintrin.h>

#include <cstring>

namespace {

// Adds the 32 products x[j] * factor (x widened to 32-bit lanes in xv) into
// the redundant accumulator at position `at`: the low halves into low[at + j],
// the high halves into high[at + j], which stands for position at + j + 1.
__attribute__((target("avx2"))) inline void AddRow(const __m256i xv[4], uint32_t factor, uint32_t* low, uint32_t* high,
                                                   int at) {
  const __m256i f = _mm256_set1_epi32(static_cast<int>(factor));
  const __m256i mask = _mm256_set1_epi32(0xFFFF);
  for (int k = 0; k < 4; ++k) {
    const __m256i p = _mm256_mullo_epi32(xv[k], f);  // below 2^32: exact
    auto* lo_at = reinterpret_cast<__m256i*>(low + at + 8 * k);
    auto* hi_at = reinterpret_cast<__m256i*>(high + at + 8 * k);
    _mm256_storeu_si256(lo_at, _mm256_add_epi32(_mm256_loadu_si256(lo_at), _mm256_and_si256(p, mask)));
    _mm256_storeu_si256(hi_at, _mm256_add_epi32(_mm256_loadu_si256(hi_at), _mm256_srli_epi32(p, 16)));
  }
}

}  // namespace

namespace limbs {

__attribute__((target("avx2"))) void MontMul32Avx2(const Limb* a, const Limb* b, Limb* out, const Limb* m,
                                                   Limb factor) {
  // Each position collects at most 64 half-products below 2^16 plus a
  // carry, so the 32-bit lanes never overflow.
  alignas(32) uint32_t low[64 + 8] = {};
  alignas(32) uint32_t high[64 + 8] = {};
  __m256i av[4], mv[4];
  for (int k = 0; k < 4; ++k) {
    av[k] = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8 * k)));
    mv[k] = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m + 8 * k)));
  }
  uint32_t carry = 0;  // into position i, from the retired positions below it
  for (int i = 0; i < 32; ++i) {
    AddRow(av, b[i], low, high, i);
    // Position i is complete now: later rows only touch positions above it.
    const uint32_t value = low[i] + (i > 0 ? high[i - 1] : 0) + carry;
    const uint32_t u = static_cast<uint16_t>((value & 0xFFFF) * factor);
    AddRow(mv, u, low, high, i);
    const uint32_t reduction_low = static_cast<uint16_t>(u * m[0]);
    carry = (value >> 16) + (((value & 0xFFFF) + reduction_low) >> 16);
  }
  uint16_t t[32];
  for (int k = 32; k < 64; ++k) {
    const uint32_t s = low[k] + high[k - 1] + carry;
    t[k - 32] = static_cast<uint16_t>(s);
    carry = s >> 16;
  }
  if (carry != 0) limbs_sub(t, m, 32);  // the result reached 2^512: one subtraction brings it below
  std::memcpy(out, t, sizeof t);
}

}  // namespace limbs

#else

namespace limbs {

// Never selected here; a call would be a dispatch fault, so it stops the
// program rather than leave out unwritten.
void MontMul32Avx2(const Limb*, const Limb*, Limb*, const Limb*, Limb) { __builtin_trap(); }

}  // namespace limbs

#endif
