// SPDX-License-Identifier: ISC
// The compression functions behind Sha256Transform and the message
// bookkeeping over an explicit one.  Only the digest itself, its tests and its
// benchmarks include this: the program sees nothing but sha256.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cpu/cpu.h"
#include "hash/sha256.h"

#if defined(__x86_64__)
#define SHA256_HAVE_SHANI 1
#define SHA256_HAVE_VECTOR 1
#else
#define SHA256_HAVE_SHANI 0
#define SHA256_HAVE_VECTOR 0
#endif

namespace sha256 {

// Compresses blocks consecutive 64-byte blocks at data (any alignment) into
// the eight chaining words at state.
using CompressFn = void (*)(uint32_t* state, const uint8_t* data, size_t blocks);

// The 64 round constants, in round order.
extern const uint32_t kRoundConstants[64];

// Runs on every CPU.
void CompressPortable(uint32_t* state, const uint8_t* data, size_t blocks);

#if SHA256_HAVE_SHANI
// Needs the SHA extensions and SSE4.1; call it only when CpuHasShaNi().
void CompressShaNi(uint32_t* state, const uint8_t* data, size_t blocks);
#endif

#if SHA256_HAVE_VECTOR
// The expansion on SSSE3 vectors; call it only when CpuHasSsse3().
void CompressSsse3(uint32_t* state, const uint8_t* data, size_t blocks);
// Two blocks at a time on AVX2, BMI1 and BMI2; call it only when CpuHasAvx2Bmi().
void CompressAvx2(uint32_t* state, const uint8_t* data, size_t blocks);
#endif

// True if this CPU can run CompressShaNi; always false where it is not built.
inline bool CpuHasShaNi() { return SHA256_HAVE_SHANI && cpu::Has(cpu::Feature::kShaNi); }

// True if this CPU can run CompressSsse3; always false where it is not built.
inline bool CpuHasSsse3() { return SHA256_HAVE_VECTOR && cpu::Has(cpu::Feature::kSsse3); }

// True if this CPU can run CompressAvx2; always false where it is not built.
inline bool CpuHasAvx2Bmi() { return SHA256_HAVE_VECTOR && cpu::Has(cpu::Feature::kAvx2Bmi); }

// The compression the program uses, chosen on the first call and the same
// for the rest of the process.
CompressFn SelectedCompress();

// SelectedCompress's name: "shani", "avx2", "ssse3" or "portable".
const char* Provider();

// Sha256Update and Sha256Final over the given compression; the two paths
// must agree on every input, and these let tests hold each to the vectors.
void UpdateWith(Sha256Context& ctx, const uint8_t* data, uint32_t length, CompressFn compress);
void FinalWith(Sha256Context& ctx, uint8_t* out, CompressFn compress);

}  // namespace sha256
