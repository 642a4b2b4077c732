// SPDX-License-Identifier: ISC
// The compression on the x86 SHA extensions.  Only these functions are
// compiled for that target (function attributes, not a global -msha), so the
// rest of the program still runs on x86-64 CPUs without them; the dispatch
// calls in here only after the CPU check has said yes.
#include "hash/sha256_compress.h"

#if SHA256_HAVE_SHANI

#include <immintrin.h>

#define SHA256_SHANI_TARGET __attribute__((target("sha,sse4.1,ssse3")))

namespace sha256 {

namespace {

// Four steps with the message words in msg.  sha256rnds2 does two steps and
// takes its two words from the low half, hence the shuffle for the other two.
SHA256_SHANI_TARGET inline void FourSteps(__m128i& abef, __m128i& cdgh, __m128i msg, int t) {
  const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + t));
  const __m128i wk = _mm_add_epi32(msg, k);
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
  abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
}

// From the sixteen words w[t-16..t-1] in m0..m3, replaces m0 with w[t..t+3].
SHA256_SHANI_TARGET inline void NextWords(__m128i& m0, __m128i m1, __m128i m2, __m128i m3) {
  const __m128i w_minus_7 = _mm_alignr_epi8(m3, m2, 4);
  m0 = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(m0, m1), w_minus_7), m3);
}

}  // namespace

SHA256_SHANI_TARGET void CompressShaNi(uint32_t* state, const uint8_t* data, size_t blocks) {
  // The message words are big-endian; this shuffle swaps the bytes of each.
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

  // The instructions want the chaining words as ABEF and CDGH.
  const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  const __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abef_before = abef;
    const __m128i cdgh_before = cdgh;
    const __m128i* in = reinterpret_cast<const __m128i*>(data);
    __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(in), byte_swap);
    __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byte_swap);
    __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byte_swap);
    __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byte_swap);

    // Written out rather than looped so that m0..m3 stay in registers.
    // A table: one row per four steps.
    // clang-format off
    FourSteps(abef, cdgh, m0, 0);   NextWords(m0, m1, m2, m3);
    FourSteps(abef, cdgh, m1, 4);   NextWords(m1, m2, m3, m0);
    FourSteps(abef, cdgh, m2, 8);   NextWords(m2, m3, m0, m1);
    FourSteps(abef, cdgh, m3, 12);  NextWords(m3, m0, m1, m2);
    FourSteps(abef, cdgh, m0, 16);  NextWords(m0, m1, m2, m3);
    FourSteps(abef, cdgh, m1, 20);  NextWords(m1, m2, m3, m0);
    FourSteps(abef, cdgh, m2, 24);  NextWords(m2, m3, m0, m1);
    FourSteps(abef, cdgh, m3, 28);  NextWords(m3, m0, m1, m2);
    FourSteps(abef, cdgh, m0, 32);  NextWords(m0, m1, m2, m3);
    FourSteps(abef, cdgh, m1, 36);  NextWords(m1, m2, m3, m0);
    FourSteps(abef, cdgh, m2, 40);  NextWords(m2, m3, m0, m1);
    FourSteps(abef, cdgh, m3, 44);  NextWords(m3, m0, m1, m2);
    // clang-format on
    FourSteps(abef, cdgh, m0, 48);
    FourSteps(abef, cdgh, m1, 52);
    FourSteps(abef, cdgh, m2, 56);
    FourSteps(abef, cdgh, m3, 60);

    abef = _mm_add_epi32(abef, abef_before);
    cdgh = _mm_add_epi32(cdgh, cdgh_before);
  }

  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

}  // namespace sha256

#endif
