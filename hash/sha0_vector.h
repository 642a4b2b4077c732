// SPDX-License-Identifier: ISC
// The digest's compression with the message expansion on 128-bit vectors,
// four words at a time, and the 80 steps on the general registers: for x86
// CPUs without the SHA extensions.  The including file defines
// SHA0_VECTOR_TARGET (the target attribute it is built for) first; every
// function here has internal linkage, so each includer gets its own build.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#ifndef SHA0_VECTOR_TARGET
#error "define SHA0_VECTOR_TARGET before including sha0_vector.h"
#endif

namespace sha0::vector {
namespace {

SHA0_VECTOR_TARGET inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Vectors hold four consecutive words, the earliest in the lowest lane.
// From w[t-16..t-1] in x0..x3 this returns w[t..t+3].  Without the later
// revision's rotation the words are plain XORs: lanes 0..2 take w[t-3+i]
// from x3, and lane 3, whose w[t] is this vector's own lane 0, gets it last.
SHA0_VECTOR_TARGET inline __m128i NextWords(__m128i x0, __m128i x1, __m128i x2, __m128i x3) {
  const __m128i w =
      _mm_xor_si128(_mm_xor_si128(x0, _mm_alignr_epi8(x1, x0, 8)), _mm_xor_si128(x2, _mm_srli_si128(x3, 4)));
  return _mm_xor_si128(w, _mm_slli_si128(w, 12));
}

// The step functions of the three round kinds.
SHA0_VECTOR_TARGET inline uint32_t Choose(uint32_t b, uint32_t c, uint32_t d) { return d ^ (b & (c ^ d)); }
SHA0_VECTOR_TARGET inline uint32_t Parity(uint32_t b, uint32_t c, uint32_t d) { return b ^ c ^ d; }
SHA0_VECTOR_TARGET inline uint32_t Majority(uint32_t b, uint32_t c, uint32_t d) { return (b & c) | (d & (b | c)); }

// One step; wk already holds the word plus the round constant.  The sum
// that waits on a comes last, so the rest is ready before a is.
#define SHA0_STEP(f, a, b, c, d, e, t) \
  do {                                 \
    (e) += wk[(t)] + f(b, c, d);       \
    (e) += Rotl(a, 5);                 \
    (b) = Rotl(b, 30);                 \
  } while (0)

#define SHA0_FIVE(f, t)                 \
  SHA0_STEP(f, a, b, c, d, e, (t));     \
  SHA0_STEP(f, e, a, b, c, d, (t) + 1); \
  SHA0_STEP(f, d, e, a, b, c, (t) + 2); \
  SHA0_STEP(f, c, d, e, a, b, (t) + 3); \
  SHA0_STEP(f, b, c, d, e, a, (t) + 4)

// Words 4g..4g+3 into x0, and with their round constant into wk; placed
// about sixteen steps before their first use, so the steps never wait.
#define SHA0_NEXT(g, x0, x1, x2, x3)                                                                \
  do {                                                                                              \
    (x0) = NextWords(x0, x1, x2, x3);                                                               \
    _mm_store_si128(reinterpret_cast<__m128i*>(wk + 4 * (g)),                                       \
                    _mm_add_epi32(x0, _mm_set1_epi32(static_cast<int>(kRoundConstants[(g) / 5])))); \
    asm("" : "+r"(wk));                                                                             \
  } while (0)

constexpr uint32_t kRoundConstants[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};

// Compresses the block in x0..x3 (words 0..15) into state; afterwards
// x0..x3 hold words 64..79.  Inlined, so that x0..x3 stay in registers.
SHA0_VECTOR_TARGET __attribute__((always_inline)) inline void Block(uint32_t* state, __m128i& x0, __m128i& x1,
                                                                    __m128i& x2, __m128i& x3) {
  alignas(16) uint32_t words_plus_constants[80];
  // Through a pointer the compiler cannot see into (made anew after each
  // store), the steps read the sums from memory, an operand of their
  // additions, rather than taking each out of a vector register in two
  // instructions.
  uint32_t* wk = words_plus_constants;
  asm("" : "+r"(wk));
  const __m128i k1 = _mm_set1_epi32(static_cast<int>(kRoundConstants[0]));
  _mm_store_si128(reinterpret_cast<__m128i*>(wk), _mm_add_epi32(x0, k1));
  _mm_store_si128(reinterpret_cast<__m128i*>(wk + 4), _mm_add_epi32(x1, k1));
  _mm_store_si128(reinterpret_cast<__m128i*>(wk + 8), _mm_add_epi32(x2, k1));
  _mm_store_si128(reinterpret_cast<__m128i*>(wk + 12), _mm_add_epi32(x3, k1));
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];

  SHA0_NEXT(4, x0, x1, x2, x3);
  SHA0_NEXT(5, x1, x2, x3, x0);
  SHA0_FIVE(Choose, 0);
  SHA0_NEXT(6, x2, x3, x0, x1);
  SHA0_FIVE(Choose, 5);
  SHA0_NEXT(7, x3, x0, x1, x2);
  SHA0_FIVE(Choose, 10);
  SHA0_NEXT(8, x0, x1, x2, x3);
  SHA0_FIVE(Choose, 15);
  SHA0_NEXT(9, x1, x2, x3, x0);
  SHA0_NEXT(10, x2, x3, x0, x1);
  SHA0_FIVE(Parity, 20);
  SHA0_NEXT(11, x3, x0, x1, x2);
  SHA0_FIVE(Parity, 25);
  SHA0_NEXT(12, x0, x1, x2, x3);
  SHA0_FIVE(Parity, 30);
  SHA0_NEXT(13, x1, x2, x3, x0);
  SHA0_FIVE(Parity, 35);
  SHA0_NEXT(14, x2, x3, x0, x1);
  SHA0_NEXT(15, x3, x0, x1, x2);
  SHA0_FIVE(Majority, 40);
  SHA0_NEXT(16, x0, x1, x2, x3);
  SHA0_FIVE(Majority, 45);
  SHA0_NEXT(17, x1, x2, x3, x0);
  SHA0_FIVE(Majority, 50);
  SHA0_NEXT(18, x2, x3, x0, x1);
  SHA0_FIVE(Majority, 55);
  SHA0_NEXT(19, x3, x0, x1, x2);
  SHA0_FIVE(Parity, 60);
  SHA0_FIVE(Parity, 65);
  SHA0_FIVE(Parity, 70);
  SHA0_FIVE(Parity, 75);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

#undef SHA0_NEXT
#undef SHA0_FIVE
#undef SHA0_STEP

// Words 64..79 of the last block back into the context's block.
SHA0_VECTOR_TARGET inline void StoreWords(uint32_t* block, __m128i x0, __m128i x1, __m128i x2, __m128i x3) {
  auto* out = reinterpret_cast<__m128i*>(block);
  _mm_storeu_si128(out, x0);
  _mm_storeu_si128(out + 1, x1);
  _mm_storeu_si128(out + 2, x2);
  _mm_storeu_si128(out + 3, x3);
}

SHA0_VECTOR_TARGET void CompressWords(uint32_t* state, uint32_t* block) {
  const auto* in = reinterpret_cast<const __m128i*>(block);
  __m128i x0 = _mm_loadu_si128(in);
  __m128i x1 = _mm_loadu_si128(in + 1);
  __m128i x2 = _mm_loadu_si128(in + 2);
  __m128i x3 = _mm_loadu_si128(in + 3);
  Block(state, x0, x1, x2, x3);
  StoreWords(block, x0, x1, x2, x3);
}

SHA0_VECTOR_TARGET void CompressBytes(uint32_t* state, uint32_t* block, const uint8_t* data, size_t count) {
  if (count == 0) return;
  // Reverses the bytes of each word: big-endian words, in memory order.
  const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  __m128i x0, x1, x2, x3;
  for (; count > 0; --count, data += 64) {
    const auto* in = reinterpret_cast<const __m128i*>(data);
    x0 = _mm_shuffle_epi8(_mm_loadu_si128(in), swap);
    x1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), swap);
    x2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), swap);
    x3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), swap);
    Block(state, x0, x1, x2, x3);
  }
  StoreWords(block, x0, x1, x2, x3);
}

}  // namespace
}  // namespace sha0::vector
