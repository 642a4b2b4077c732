// SPDX-License-Identifier: ISC
// The digest's compression with the expansion on SSSE3 vectors, chosen at run
// time by sha0.cpp on x86 CPUs that have SSSE3 but not the SHA extensions.
#include "hash/sha0_paths.h"

#if SHA0_HAVE_VECTOR

#define SHA0_VECTOR_TARGET __attribute__((target("ssse3")))
#include "hash/sha0_vector.h"

namespace sha0 {

SHA0_VECTOR_TARGET void CompressWordsSsse3(uint32_t* state, uint32_t* block) { vector::CompressWords(state, block); }

SHA0_VECTOR_TARGET void CompressBytesSsse3(uint32_t* state, uint32_t* block, const uint8_t* data, size_t count) {
  vector::CompressBytes(state, block, data, count);
}

}  // namespace sha0

#endif
