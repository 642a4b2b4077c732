// SPDX-License-Identifier: ISC
// The digest's compression on the x86 SHA extensions, chosen at run time by
// sha0.cpp on CPUs that have them; only these functions are built for that
// target.  The steps of this digest are those of its 1995 revision, so
// sha1rnds4 and sha1nexte run them; its expansion lacks the revision's
// rotation, so sha1msg2 does not fit, and the next four words come from
// sha1msg1 (which does not rotate) and two XORs instead.
#include "hash/sha0_paths.h"

#if SHA0_HAVE_SHANI

#include <immintrin.h>

#define SHA0_SHANI_TARGET __attribute__((target("sha,sse4.1,ssse3")))

namespace sha0 {

namespace {

// Vectors hold four consecutive words, the earliest in the highest lane, as
// the instructions want them.  From w[t-16..t-1] in m0..m3 this returns
// w[t..t+3]: sha1msg1 gives w[t-16+i] ^ w[t-14+i], m2 adds w[t-8+i], m3
// shifted up one lane adds w[t-3+i] for the first three, and the fourth,
// whose w[t-3 + 3] = w[t] is this vector's own first word, gets it last.
SHA0_SHANI_TARGET inline __m128i NextWords(__m128i m0, __m128i m1, __m128i m2, __m128i m3) {
  const __m128i w = _mm_xor_si128(_mm_xor_si128(_mm_sha1msg1_epu32(m0, m1), m2), _mm_slli_si128(m3, 4));
  return _mm_xor_si128(w, _mm_srli_si128(w, 12));
}

// Words in memory order <-> lanes with the earliest word highest.
SHA0_SHANI_TARGET inline __m128i ReverseLanes(__m128i v) { return _mm_shuffle_epi32(v, 0x1B); }

// Four steps with words w; e_next becomes the e input of the next four.
#define SHA0_FOUR(kind, w)                       \
  do {                                           \
    e = _mm_sha1nexte_epu32(before, (w));        \
    before = abcd;                               \
    abcd = _mm_sha1rnds4_epu32(abcd, e, (kind)); \
  } while (0)

#define SHA0_FOUR_EXPANDED(kind, m0, m1, m2, m3) \
  do {                                           \
    (m0) = NextWords(m0, m1, m2, m3);            \
    SHA0_FOUR(kind, m0);                         \
  } while (0)

// One block in m0..m3 (earliest word highest); afterwards m0..m3 hold words
// 64..79.
SHA0_SHANI_TARGET inline void Block(__m128i& abcd, __m128i& e0, __m128i& m0, __m128i& m1, __m128i& m2, __m128i& m3) {
  const __m128i abcd_before_block = abcd;
  const __m128i e_before_block = e0;
  __m128i e = _mm_add_epi32(e0, m0);
  __m128i before = abcd;
  abcd = _mm_sha1rnds4_epu32(abcd, e, 0);
  SHA0_FOUR(0, m1);
  SHA0_FOUR(0, m2);
  SHA0_FOUR(0, m3);
  SHA0_FOUR_EXPANDED(0, m0, m1, m2, m3);  // steps 16..19
  SHA0_FOUR_EXPANDED(1, m1, m2, m3, m0);
  SHA0_FOUR_EXPANDED(1, m2, m3, m0, m1);
  SHA0_FOUR_EXPANDED(1, m3, m0, m1, m2);
  SHA0_FOUR_EXPANDED(1, m0, m1, m2, m3);
  SHA0_FOUR_EXPANDED(1, m1, m2, m3, m0);  // steps 36..39
  SHA0_FOUR_EXPANDED(2, m2, m3, m0, m1);
  SHA0_FOUR_EXPANDED(2, m3, m0, m1, m2);
  SHA0_FOUR_EXPANDED(2, m0, m1, m2, m3);
  SHA0_FOUR_EXPANDED(2, m1, m2, m3, m0);
  SHA0_FOUR_EXPANDED(2, m2, m3, m0, m1);  // steps 56..59
  SHA0_FOUR_EXPANDED(3, m3, m0, m1, m2);
  SHA0_FOUR_EXPANDED(3, m0, m1, m2, m3);
  SHA0_FOUR_EXPANDED(3, m1, m2, m3, m0);
  SHA0_FOUR_EXPANDED(3, m2, m3, m0, m1);
  SHA0_FOUR_EXPANDED(3, m3, m0, m1, m2);  // steps 76..79
  e0 = _mm_sha1nexte_epu32(before, e_before_block);
  abcd = _mm_add_epi32(abcd, abcd_before_block);
}

#undef SHA0_FOUR_EXPANDED
#undef SHA0_FOUR

SHA0_SHANI_TARGET inline void LoadState(const uint32_t* state, __m128i& abcd, __m128i& e0) {
  abcd = ReverseLanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)));
  e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
}

SHA0_SHANI_TARGET inline void StoreState(uint32_t* state, __m128i abcd, __m128i e0) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), ReverseLanes(abcd));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

// Words 64..79 of the last block back into the context's block.
SHA0_SHANI_TARGET inline void StoreWords(uint32_t* block, __m128i m0, __m128i m1, __m128i m2, __m128i m3) {
  auto* out = reinterpret_cast<__m128i*>(block);
  _mm_storeu_si128(out, ReverseLanes(m0));
  _mm_storeu_si128(out + 1, ReverseLanes(m1));
  _mm_storeu_si128(out + 2, ReverseLanes(m2));
  _mm_storeu_si128(out + 3, ReverseLanes(m3));
}

}  // namespace

SHA0_SHANI_TARGET void CompressWordsShaNi(uint32_t* state, uint32_t* block) {
  __m128i abcd, e0;
  LoadState(state, abcd, e0);
  const auto* in = reinterpret_cast<const __m128i*>(block);
  __m128i m0 = ReverseLanes(_mm_loadu_si128(in));
  __m128i m1 = ReverseLanes(_mm_loadu_si128(in + 1));
  __m128i m2 = ReverseLanes(_mm_loadu_si128(in + 2));
  __m128i m3 = ReverseLanes(_mm_loadu_si128(in + 3));
  Block(abcd, e0, m0, m1, m2, m3);
  StoreState(state, abcd, e0);
  StoreWords(block, m0, m1, m2, m3);
}

SHA0_SHANI_TARGET void CompressBytesShaNi(uint32_t* state, uint32_t* block, const uint8_t* data, size_t count) {
  if (count == 0) return;
  // Reverses all sixteen bytes: big-endian words, the first one highest.
  const __m128i reverse = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd, e0, m0, m1, m2, m3;
  LoadState(state, abcd, e0);
  for (; count > 0; --count, data += 64) {
    const auto* in = reinterpret_cast<const __m128i*>(data);
    m0 = _mm_shuffle_epi8(_mm_loadu_si128(in), reverse);
    m1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), reverse);
    m2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), reverse);
    m3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), reverse);
    Block(abcd, e0, m0, m1, m2, m3);
  }
  StoreState(state, abcd, e0);
  StoreWords(block, m0, m1, m2, m3);
}

}  // namespace sha0

#endif
