// SPDX-License-Identifier: ISC
// The word product on mulx/adcx/adox, chosen at run time by limbs.cpp on CPUs
// that have them; only this file is built for that target.  Each row runs two
// independent carry chains (adcx on the carry flag for the low halves, adox
// on the overflow flag for the high halves), which compilers do not produce
// from plain 128-bit arithmetic, hence the inline assembly.
#include "dsa/limbs_paths.h"

#if LIMBS_HAVE_MULX

#include <immintrin.h>

#include <cstring>

#include "dsa/limbs_words.h"

namespace limbs {

namespace {

// Assembly text, one instruction a line.
// clang-format off
#define MULX_STEP(j, lo_into, hi_into)          \
  "mulxq " #j "*8(%[x]), %[lo], %[hi]\n\t"      \
  "adcxq %[lo], %[" #lo_into "]\n\t"            \
  "adoxq %[hi], %[" #hi_into "]\n\t"

#define MULX_ROW                                                                        \
  MULX_STEP(0, t0, t1) MULX_STEP(1, t1, t2) MULX_STEP(2, t2, t3) MULX_STEP(3, t3, t4)   \
  MULX_STEP(4, t4, t5) MULX_STEP(5, t5, t6) MULX_STEP(6, t6, t7) MULX_STEP(7, t7, t8)
// clang-format on

// t0..t8 += x * d for the eight words at x (read straight from the limbs,
// which on this little-endian CPU are those words); the carry out of t8 (0 or
// 1 here) is returned.
__attribute__((target("bmi2,adx"))) inline uint64_t AddRow(const Limb* x, uint64_t d, uint64_t& t0, uint64_t& t1,
                                                           uint64_t& t2, uint64_t& t3, uint64_t& t4, uint64_t& t5,
                                                           uint64_t& t6, uint64_t& t7, uint64_t& t8) {
  uint64_t lo, hi;
  asm("xorl %k[lo], %k[lo]\n\t"  // clears both flags
      MULX_ROW
      "movl $0, %k[lo]\n\t"
      "movl $0, %k[hi]\n\t"
      "adcxq %[lo], %[t8]\n\t"
      "adoxq %[lo], %[hi]\n\t"
      "adcxq %[lo], %[hi]\n\t"
      : [lo] "=&r"(lo), [hi] "=&r"(hi), [t0] "+r"(t0), [t1] "+r"(t1), [t2] "+r"(t2), [t3] "+r"(t3), [t4] "+r"(t4),
        [t5] "+r"(t5), [t6] "+r"(t6), [t7] "+r"(t7), [t8] "+r"(t8)
      : [x] "r"(x), "d"(d)
      : "cc", "memory");
  return hi;
}

#undef MULX_ROW
#undef MULX_STEP

}  // namespace

__attribute__((target("bmi2,adx"))) void MontMul32MulxAdx(const Limb* a16, const Limb* b16, Limb* out16,
                                                          const Limb* m16, Limb factor) {
  uint64_t b[8], m0;
  std::memcpy(b, b16, sizeof b);
  std::memcpy(&m0, m16, sizeof m0);
  const uint64_t k = WordFactor(m0, factor);
  // The intermediate lives in a ring of ten words: each row adds into nine
  // of them and the reduction retires the lowest, which becomes the top of
  // the next row.  Written out so that the ring is renamed, never moved.
  uint64_t r0 = 0, r1 = 0, r2 = 0, r3 = 0, r4 = 0, r5 = 0, r6 = 0, r7 = 0, r8 = 0, r9 = 0;
#define MONT_ROW(i, t0, t1, t2, t3, t4, t5, t6, t7, t8, t9)     \
  (t9) = AddRow(a16, b[i], t0, t1, t2, t3, t4, t5, t6, t7, t8); \
  (t9) += AddRow(m16, (t0)*k, t0, t1, t2, t3, t4, t5, t6, t7, t8);
  MONT_ROW(0, r0, r1, r2, r3, r4, r5, r6, r7, r8, r9)
  MONT_ROW(1, r1, r2, r3, r4, r5, r6, r7, r8, r9, r0)
  MONT_ROW(2, r2, r3, r4, r5, r6, r7, r8, r9, r0, r1)
  MONT_ROW(3, r3, r4, r5, r6, r7, r8, r9, r0, r1, r2)
  MONT_ROW(4, r4, r5, r6, r7, r8, r9, r0, r1, r2, r3)
  MONT_ROW(5, r5, r6, r7, r8, r9, r0, r1, r2, r3, r4)
  MONT_ROW(6, r6, r7, r8, r9, r0, r1, r2, r3, r4, r5)
  MONT_ROW(7, r7, r8, r9, r0, r1, r2, r3, r4, r5, r6)
#undef MONT_ROW
  // After row 7 the result is r8, r9, r0, ..., r5 (low first), r6 its top bit.
  uint64_t t[8] = {r8, r9, r0, r1, r2, r3, r4, r5};
  if (r6 != 0) {  // reached 2^512; below 2^512 + m, so one subtraction brings it below 2^512
    unsigned char borrow = 0;
    for (int j = 0; j < 8; ++j) {
      uint64_t mj;
      std::memcpy(&mj, m16 + 4 * j, sizeof mj);
      unsigned long long d;
      borrow = _subborrow_u64(borrow, t[j], mj, &d);
      t[j] = d;
    }
  }
  std::memcpy(out16, t, sizeof t);
}

}  // namespace limbs

#endif
