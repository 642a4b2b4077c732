// SPDX-License-Identifier: ISC
// The variants behind mont_mul, mont_reduce and mod_inverse.  The
// references are the 16-bit routines exactly as their contracts in limbs.h
// describe them; every other variant gives bit for bit the reference's
// result for every input the contract allows, and the public routines pick
// one once per process.  Exposed so that tests and benchmarks can hold each
// variant against its reference on this machine, whatever the dispatch picks.
#pragma once

#include <cstdint>
#include <span>

#include "cpu/cpu.h"
#include "dsa/limbs.h"

// The word variants read 16 limbs as four 64-bit words in place, which only
// a little-endian layout allows; big-endian CPUs keep the 16-bit routines.
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && defined(__SIZEOF_INT128__)
#define LIMBS_HAVE_WORDS 1
#else
#define LIMBS_HAVE_WORDS 0
#endif

#if defined(__x86_64__) || defined(__i386__)
#define LIMBS_HAVE_AVX2 1
#else
#define LIMBS_HAVE_AVX2 0
#endif

#if LIMBS_HAVE_WORDS && defined(__x86_64__)
#define LIMBS_HAVE_MULX 1
#else
#define LIMBS_HAVE_MULX 0
#endif

namespace limbs {

// mont_mul for n = 32: same contract, same result.
using MontMul32Fn = void (*)(const Limb* a, const Limb* b, Limb* out, const Limb* m, Limb factor);

// The reference product, for any n up to 32.
void MontMulReference(const Limb* a, const Limb* b, Limb* out, const Limb* m, Limb factor, int16_t n);

// 32 limbs on 32-bit vector lanes; call only when cpu::Has(kAvx2).
void MontMul32Avx2(const Limb* a, const Limb* b, Limb* out, const Limb* m, Limb factor);

#if LIMBS_HAVE_WORDS
// 32 limbs as eight 64-bit words, with 128-bit products.  The Montgomery
// quotient modulo 2^512 is unique, so word digits reach the same intermediate
// as limb digits, and the subtraction condition (intermediate >= 2^512) is
// the same.
void MontMul32Words(const Limb* a, const Limb* b, Limb* out, const Limb* m, Limb factor);

// mont_mul for n = 10 on words, the same way: same contract, same result.
void MontMul10Words(const Limb* a, const Limb* b, Limb* out, const Limb* m, Limb factor);
#endif

#if LIMBS_HAVE_MULX
// MontMul32Words on mulx/adcx/adox; call only when cpu::Has(kMulxAdx).
void MontMul32MulxAdx(const Limb* a, const Limb* b, Limb* out, const Limb* m, Limb factor);
#endif

// A variant of mont_mul for n = 32.
struct MontMul32Variant {
  MontMul32Fn mul;
  const char* name;  // as tests, benchmarks and profiles report it
  cpu::Feature needs;
};

// Every variant built for this architecture, best first: "mulx-adx",
// "words" (64-bit words in portable code), "avx2" and "limbs16" (the
// reference), as far as each is built here.  Where the words are, they come
// before the vectors, which they outrun.
std::span<const MontMul32Variant* const> MontMul32Variants();

// The variant mont_mul runs for n = 32: the first of MontMul32Variants that
// cpu::Use allows, chosen on the first call.
const MontMul32Variant& SelectedMontMul32();

// The reference reduction.
void MontReduceReference(Limb* x, const Limb* m, Limb factor, int16_t xlen, int16_t mlen, int16_t steps);

#if LIMBS_HAVE_WORDS
// mont_reduce on 64-bit words where xlen and steps are multiples of 4 and the
// reference's steps all stay below 2^(16 xlen) (mlen < xlen, or m's top limb
// below 0xFFFF): then both compute the unique exact quotient.  Returns false,
// having done nothing, for any other shape.
bool MontReduceWords(Limb* x, const Limb* m, Limb factor, int16_t xlen, int16_t mlen, int16_t steps);
#endif

// The reference inverse: base-256 extended Euclid, for any q mod_inverse takes.
void ModInverseReference(const uint8_t* s, const Limb* q, Limb* out);

#if LIMBS_HAVE_WORDS
// What 62 division steps do to (f, g): 2^62 f' = ff f + fg g and
// 2^62 g' = gf f + gg g.  |ff| + |fg| and |gf| + |gg| are at most 2^62.
struct DivStepTransition {
  int64_t ff, fg, gf, gg;
};

// 62 division steps of Bernstein and Yang on (eta, f, g), eta being minus
// their delta: with g even, g = g / 2 and eta = eta - 1; with g odd, first
// (eta, f, g) = (-eta, g, -f) where eta is negative, then g = (g + f) / 2 and
// eta = eta - 1.  Every step is decided by the low bits of f and g alone, so
// their low words suffice; f odd.  Returns eta after the steps and their
// transition in t.
int64_t DivSteps62(int64_t eta, uint64_t f, uint64_t g, DivStepTransition& t);

// mod_inverse by division steps, 62 at a time from the low words, on signed
// 62-bit limbs.  The inverse below q is unique, so it equals the
// reference's.
void ModInverseWords(const uint8_t* s, const Limb* q, Limb* out);
#endif

}  // namespace limbs
