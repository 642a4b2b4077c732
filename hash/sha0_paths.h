// SPDX-License-Identifier: ISC
// The variants of the compression behind the digest and the message
// bookkeeping over an explicit one.  Only the digest itself, its tests, fuzz
// targets and benchmarks include this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "cpu/cpu.h"
#include "hash/sha0.h"

#if defined(__x86_64__) || defined(__i386__)
#define SHA0_HAVE_SHANI 1
#define SHA0_HAVE_VECTOR 1
#else
#define SHA0_HAVE_SHANI 0
#define SHA0_HAVE_VECTOR 0
#endif

namespace sha0 {

// A variant of the compression.  Both functions leave the expanded words
// 64..79 of the last block compressed in block[0..15], as the context
// promises.
struct Variant {
  // Compresses the block held in block (big-endian words, already loaded).
  void (*words)(uint32_t* state, uint32_t* block);
  // Compresses count consecutive 64-byte blocks at data (any alignment).
  void (*bytes)(uint32_t* state, uint32_t* block, const uint8_t* data, size_t count);
  const char* name;  // as tests, benchmarks and profiles report it
  cpu::Feature needs;
};

// Runs on every CPU: "portable".
extern const Variant kPortable;

#if SHA0_HAVE_SHANI
// The SHA extensions: "shani".
extern const Variant kShaNi;
void CompressWordsShaNi(uint32_t* state, uint32_t* block);
void CompressBytesShaNi(uint32_t* state, uint32_t* block, const uint8_t* data, size_t count);
#endif

#if SHA0_HAVE_VECTOR
// The expansion on 128-bit vectors: "ssse3".
extern const Variant kSsse3;
void CompressWordsSsse3(uint32_t* state, uint32_t* block);
void CompressBytesSsse3(uint32_t* state, uint32_t* block, const uint8_t* data, size_t count);
#endif

// Every variant built for this architecture, best first.
std::span<const Variant* const> Variants();

// The variant the digest uses: the first of Variants that cpu::Use allows,
// chosen on the first call.
const Variant& Selected();

// Sha0Update and Sha0Final over the given variant.
void UpdateWith(Sha0Context& ctx, const void* data, uint32_t length, const Variant& variant);
void FinalWith(Sha0Context& ctx, const Variant& variant);

}  // namespace sha0
