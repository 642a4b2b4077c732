// SPDX-License-Identifier: ISC
// The compression with the expansion of two blocks at once on 256-bit
// vectors (AVX2), one block in each 128-bit half, and the steps on rorx and
// andn (BMI2, BMI1): chosen at run time on x86-64 CPUs that have them but
// not the SHA extensions.  The second block's steps run with no vector work
// at all, on sums expanded during the first block's.
#include "hash/sha256_compress.h"

#if SHA256_HAVE_VECTOR

#define SHA256_VECTOR_TARGET __attribute__((target("avx2,bmi,bmi2")))
#include "hash/sha256_vector.h"

namespace sha256 {

namespace {

template <int n>
SHA256_VECTOR_TARGET inline __m256i RotrPair(__m256i x) {
  return _mm256_or_si256(_mm256_srli_epi32(x, n), _mm256_slli_epi32(x, 32 - n));
}

SHA256_VECTOR_TARGET inline __m256i Sigma1Pair(__m256i x) {
  return _mm256_xor_si256(_mm256_xor_si256(RotrPair<17>(x), RotrPair<19>(x)), _mm256_srli_epi32(x, 10));
}

// NextWords on both halves: every lane shift and alignment of AVX2 stays
// within its 128-bit half.
SHA256_VECTOR_TARGET inline __m256i NextWordsPair(__m256i x0, __m256i x1, __m256i x2, __m256i x3) {
  const __m256i w15 = _mm256_alignr_epi8(x1, x0, 4);
  const __m256i w7 = _mm256_alignr_epi8(x3, x2, 4);
  const __m256i sigma0 =
      _mm256_xor_si256(_mm256_xor_si256(RotrPair<7>(w15), RotrPair<18>(w15)), _mm256_srli_epi32(w15, 3));
  const __m256i low =
      _mm256_add_epi32(_mm256_add_epi32(_mm256_add_epi32(x0, w7), sigma0), Sigma1Pair(_mm256_srli_si256(x3, 8)));
  return _mm256_add_epi32(low, Sigma1Pair(_mm256_slli_si256(low, 8)));
}

// Both blocks' words 4j..4j+3, big-endian, the first block's in the low
// half.
SHA256_VECTOR_TARGET inline __m256i LoadPair(const uint8_t* data, int j) {
  const __m256i swap =
      _mm256_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL, 0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  const auto* first = reinterpret_cast<const __m128i*>(data);
  const auto* second = reinterpret_cast<const __m128i*>(data + 64);
  return _mm256_shuffle_epi8(_mm256_set_m128i(_mm_loadu_si128(second + j), _mm_loadu_si128(first + j)), swap);
}

// Words t..t+3 of both blocks, plus their round constants, into wk; wk
// comes back as a pointer the compiler cannot see into (see vector::Compress).
SHA256_VECTOR_TARGET inline void StorePair(uint32_t*& wk, int t, __m256i x) {
  const __m256i k = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + t)));
  _mm256_store_si256(reinterpret_cast<__m256i*>(wk + 2 * t), _mm256_add_epi32(x, k));
  asm("" : "+r"(wk));
}

// wk holds, for each four words t..t+3, the first block's four sums and then
// the second's: word t of block `second` is at 2t - t % 4 + 4 * second.
#define SHA256_SUM(t, i, second) wk[2 * ((t) + (i)) - ((t) + (i)) % 4 + 4 * (second)]
#define SHA256_EIGHT(t, second)                                           \
  do {                                                                    \
    vector::Step(a, b, d, e, f, g, h, SHA256_SUM(t, 0, second), a_xor_b); \
    vector::Step(h, a, c, d, e, f, g, SHA256_SUM(t, 1, second), a_xor_b); \
    vector::Step(g, h, b, c, d, e, f, SHA256_SUM(t, 2, second), a_xor_b); \
    vector::Step(f, g, a, b, c, d, e, SHA256_SUM(t, 3, second), a_xor_b); \
    vector::Step(e, f, h, a, b, c, d, SHA256_SUM(t, 4, second), a_xor_b); \
    vector::Step(d, e, g, h, a, b, c, SHA256_SUM(t, 5, second), a_xor_b); \
    vector::Step(c, d, f, g, h, a, b, SHA256_SUM(t, 6, second), a_xor_b); \
    vector::Step(b, c, e, f, g, h, a, SHA256_SUM(t, 7, second), a_xor_b); \
  } while (0)

SHA256_VECTOR_TARGET inline void AddState(uint32_t* state, uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e,
                                          uint32_t f, uint32_t g, uint32_t h) {
  // clang-format off
  state[0] += a; state[1] += b; state[2] += c; state[3] += d;
  state[4] += e; state[5] += f; state[6] += g; state[7] += h;
  // clang-format on
}

}  // namespace

SHA256_VECTOR_TARGET void CompressAvx2(uint32_t* state, const uint8_t* data, size_t blocks) {
  for (; blocks >= 2; blocks -= 2, data += 128) {
    alignas(32) uint32_t sums[128];
    uint32_t* wk = sums;  // see vector::Compress
    __m256i x0 = LoadPair(data, 0), x1 = LoadPair(data, 1), x2 = LoadPair(data, 2), x3 = LoadPair(data, 3);
    StorePair(wk, 0, x0);
    StorePair(wk, 4, x1);
    StorePair(wk, 8, x2);
    StorePair(wk, 12, x3);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    uint32_t a_xor_b = b ^ c;
#pragma GCC unroll 8
    for (int t = 0; t < 64; t += 8) {
      if (t < 48) {
        x0 = NextWordsPair(x0, x1, x2, x3);
        StorePair(wk, t + 16, x0);
        x1 = NextWordsPair(x1, x2, x3, x0);
        StorePair(wk, t + 20, x1);
        const __m256i first = x0, second = x1;
        x0 = x2;
        x1 = x3;
        x2 = first;
        x3 = second;
      }
      SHA256_EIGHT(t, 0);
    }
    AddState(state, a, b, c, d, e, f, g, h);
    a = state[0], b = state[1], c = state[2], d = state[3];
    e = state[4], f = state[5], g = state[6], h = state[7];
    a_xor_b = b ^ c;
#pragma GCC unroll 8
    for (int t = 0; t < 64; t += 8) SHA256_EIGHT(t, 1);
    AddState(state, a, b, c, d, e, f, g, h);
  }
  if (blocks == 1) vector::Compress(state, data, 1);
}

#undef SHA256_EIGHT
#undef SHA256_SUM

}  // namespace sha256

#endif
