// SPDX-License-Identifier: ISC
// The compression with the message expansion on 128-bit vectors, four words
// at a time, and the 64 steps on the general registers: for x86 CPUs without
// the SHA extensions.  The including file defines SHA256_VECTOR_TARGET (the
// target attribute it is built for) first; everything here has internal
// linkage, so each includer gets its own build.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "hash/sha256_compress.h"

#ifndef SHA256_VECTOR_TARGET
#error "define SHA256_VECTOR_TARGET before including sha256_vector.h"
#endif

namespace sha256::vector {
namespace {

SHA256_VECTOR_TARGET inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

template <int n>
SHA256_VECTOR_TARGET inline __m128i RotrLanes(__m128i x) {
  return _mm_or_si128(_mm_srli_epi32(x, n), _mm_slli_epi32(x, 32 - n));
}

SHA256_VECTOR_TARGET inline __m128i Sigma0Lanes(__m128i x) {
  return _mm_xor_si128(_mm_xor_si128(RotrLanes<7>(x), RotrLanes<18>(x)), _mm_srli_epi32(x, 3));
}

SHA256_VECTOR_TARGET inline __m128i Sigma1Lanes(__m128i x) {
  return _mm_xor_si128(_mm_xor_si128(RotrLanes<17>(x), RotrLanes<19>(x)), _mm_srli_epi32(x, 10));
}

// Vectors hold four consecutive words, the earliest in the lowest lane.
// From w[t-16..t-1] in x0..x3 this returns w[t..t+3].  Lanes 2 and 3 need
// w[t] and w[t+1] for their sigma1, so the vector is finished in two halves;
// lanes shifted in as zeros add nothing, as sigma1(0) = 0.
SHA256_VECTOR_TARGET inline __m128i NextWords(__m128i x0, __m128i x1, __m128i x2, __m128i x3) {
  const __m128i w15 = _mm_alignr_epi8(x1, x0, 4);  // w[t-15..t-12]
  const __m128i w7 = _mm_alignr_epi8(x3, x2, 4);   // w[t-7..t-4]
  const __m128i partial = _mm_add_epi32(_mm_add_epi32(x0, w7), Sigma0Lanes(w15));
  // Lanes 0 and 1 done, from w[t-2] and w[t-1].
  const __m128i low = _mm_add_epi32(partial, Sigma1Lanes(_mm_srli_si128(x3, 8)));
  // Lanes 2 and 3, from w[t] and w[t+1].
  return _mm_add_epi32(low, Sigma1Lanes(_mm_slli_si128(low, 8)));
}

// One step of the 64, with the roles of the eight variables rotated by the
// caller (c enters only through a_xor_b).  The sums are ordered so that the
// new e and a each take one addition after the sigma of the old e: the rest
// is ready before it.  Maj(a, b, c) is b ^ ((a ^ b) & (b ^ c)), where b ^ c
// is the a ^ b of the step before: the caller keeps it in a_xor_b.
SHA256_VECTOR_TARGET inline void Step(uint32_t a, uint32_t b, uint32_t& d, uint32_t e, uint32_t f, uint32_t g,
                                      uint32_t& h, uint32_t k_plus_w, uint32_t& a_xor_b) {
  const uint32_t partial = h + k_plus_w + (g ^ (e & (f ^ g)));
  const uint32_t big_sigma1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
  const uint32_t big_sigma0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
  const uint32_t b_xor_c = a_xor_b;
  a_xor_b = a ^ b;
  d = (d + partial) + big_sigma1;
  h = (partial + big_sigma0 + (b ^ (a_xor_b & b_xor_c))) + big_sigma1;
}

// Words t..t+3 in x, plus their round constants, into wk[t..t+3]; wk comes
// back as a pointer the compiler cannot see into (see Compress).
SHA256_VECTOR_TARGET inline void StoreWithConstants(uint32_t*& wk, int t, __m128i x) {
  const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + t));
  _mm_store_si128(reinterpret_cast<__m128i*>(wk + t), _mm_add_epi32(x, k));
  asm("" : "+r"(wk));
}

SHA256_VECTOR_TARGET void Compress(uint32_t* state, const uint8_t* data, size_t blocks) {
  // Reverses the bytes of each word: big-endian words, in memory order.
  const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  for (; blocks > 0; --blocks, data += 64) {
    alignas(16) uint32_t words_plus_constants[64];
    // Through a pointer the compiler cannot see into (made anew after each
    // store), the steps read the sums from memory, an operand of their
    // additions, rather than taking each out of a vector register in two
    // instructions.
    uint32_t* wk = words_plus_constants;
    const auto* in = reinterpret_cast<const __m128i*>(data);
    __m128i x0 = _mm_shuffle_epi8(_mm_loadu_si128(in), swap);
    __m128i x1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), swap);
    __m128i x2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), swap);
    __m128i x3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), swap);
    StoreWithConstants(wk, 0, x0);
    StoreWithConstants(wk, 4, x1);
    StoreWithConstants(wk, 8, x2);
    StoreWithConstants(wk, 12, x3);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    uint32_t a_xor_b = b ^ c;  // as the step before the first would leave it
                               // Each pass of eight steps first expands the eight words sixteen steps
                               // ahead of it: that work does not wait on the steps, so it fills the
                               // cycles in which each step waits on the one before.
#pragma GCC unroll 8
    for (int t = 0; t < 64; t += 8) {
      if (t < 48) {
        x0 = NextWords(x0, x1, x2, x3);
        StoreWithConstants(wk, t + 16, x0);
        x1 = NextWords(x1, x2, x3, x0);
        StoreWithConstants(wk, t + 20, x1);
        const __m128i first = x0, second = x1;
        x0 = x2;
        x1 = x3;
        x2 = first;
        x3 = second;
      }
      Step(a, b, d, e, f, g, h, wk[t], a_xor_b);
      Step(h, a, c, d, e, f, g, wk[t + 1], a_xor_b);
      Step(g, h, b, c, d, e, f, wk[t + 2], a_xor_b);
      Step(f, g, a, b, c, d, e, wk[t + 3], a_xor_b);
      Step(e, f, h, a, b, c, d, wk[t + 4], a_xor_b);
      Step(d, e, g, h, a, b, c, wk[t + 5], a_xor_b);
      Step(c, d, f, g, h, a, b, wk[t + 6], a_xor_b);
      Step(b, c, e, f, g, h, a, wk[t + 7], a_xor_b);
    }
    // clang-format off
    state[0] += a; state[1] += b; state[2] += c; state[3] += d;
    state[4] += e; state[5] += f; state[6] += g; state[7] += h;
    // clang-format on
  }
}

}  // namespace
}  // namespace sha256::vector
