// SPDX-License-Identifier: ISC
// The compressions behind the digest and the message bookkeeping over an
// explicit one.  Only the digest itself, its tests, fuzz targets and
// benchmarks include this.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hash/sha0.h"

#if defined(__x86_64__) || defined(__i386__)
#define SHA0_HAVE_SHANI 1
#define SHA0_HAVE_VECTOR 1
#else
#define SHA0_HAVE_SHANI 0
#define SHA0_HAVE_VECTOR 0
#endif

namespace sha0 {

// A compression path.  Both functions leave the expanded words 64..79 of the
// last block compressed in block[0..15], as the context promises.
struct Path {
  // Compresses the block held in block (big-endian words, already loaded).
  void (*words)(uint32_t* state, uint32_t* block);
  // Compresses count consecutive 64-byte blocks at data (any alignment).
  void (*bytes)(uint32_t* state, uint32_t* block, const uint8_t* data, size_t count);
  // The variant's name as tests, benchmarks and profiles report it.
  const char* name;
};

// Runs on every CPU.
extern const Path kPortable;

#if SHA0_HAVE_SHANI
// The SHA extensions; use only when cpu::Has(cpu::Feature::kShaNi).
extern const Path kShaNi;
#endif

#if SHA0_HAVE_VECTOR
// The expansion on 128-bit vectors; use only when cpu::Has(cpu::Feature::kSsse3).
extern const Path kSsse3;
#endif

// The path the digest uses, chosen on the first call.
const Path& SelectedPath();

// SelectedPath's name: "portable", "ssse3" or "shani".
const char* Provider();

// Sha0Update and Sha0Final over the given path.
void UpdateWith(Sha0Context& ctx, const void* data, uint32_t length, const Path& path);
void FinalWith(Sha0Context& ctx, const Path& path);

}  // namespace sha0
