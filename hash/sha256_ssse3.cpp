// SPDX-License-Identifier: ISC
// The compression with the expansion on SSSE3 vectors, chosen at run time on
// x86-64 CPUs that have SSSE3 but not the SHA extensions.
#include "hash/sha256_compress.h"

#if SHA256_HAVE_VECTOR

#define SHA256_VECTOR_TARGET __attribute__((target("ssse3")))
#include "hash/sha256_vector.h"

namespace sha256 {

SHA256_VECTOR_TARGET void CompressSsse3(uint32_t* state, const uint8_t* data, size_t blocks) {
  vector::Compress(state, data, blocks);
}

}  // namespace sha256

#endif
