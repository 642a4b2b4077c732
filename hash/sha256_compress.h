// SPDX-License-Identifier: ISC
// The variants of the compression behind Sha256Transform and the message
// bookkeeping over an explicit one.  Only the digest itself, its tests and its
// benchmarks include this: the program sees nothing but sha256.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

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

// A variant of the compression.
struct Variant {
  CompressFn compress;
  const char* name;  // as tests, benchmarks and profiles report it
  cpu::Feature needs;
};

// Runs on every CPU: "portable".
void CompressPortable(uint32_t* state, const uint8_t* data, size_t blocks);
extern const Variant kPortable;

#if SHA256_HAVE_SHANI
// The SHA extensions and SSE4.1: "shani".
void CompressShaNi(uint32_t* state, const uint8_t* data, size_t blocks);
extern const Variant kShaNi;
#endif

#if SHA256_HAVE_VECTOR
// The expansion on SSSE3 vectors: "ssse3".
void CompressSsse3(uint32_t* state, const uint8_t* data, size_t blocks);
extern const Variant kSsse3;
// Two blocks at a time on AVX2, BMI1 and BMI2: "avx2".
void CompressAvx2(uint32_t* state, const uint8_t* data, size_t blocks);
extern const Variant kAvx2;
#endif

// Every variant built for this architecture, best first.
std::span<const Variant* const> Variants();

// The variant the program uses: the first of Variants that cpu::Use allows,
// chosen on the first call.
const Variant& Selected();

// Sha256Update and Sha256Final over the given compression; the variants
// must agree on every input, and these let tests hold each to the vectors.
void UpdateWith(Sha256Context& ctx, const uint8_t* data, uint32_t length, CompressFn compress);
void FinalWith(Sha256Context& ctx, uint8_t* out, CompressFn compress);

}  // namespace sha256
