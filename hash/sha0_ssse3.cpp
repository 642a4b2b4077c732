// SPDX-License-Identifier: ISC
// The digest's compression with the expansion on SSSE3 vectors, chosen at run
// time by sha0.cpp on x86 CPUs that have SSSE3 but not the SHA extensions.
#include "hash/sha0_paths.h"

#if SHA0_HAVE_VECTOR

#define SHA0_VECTOR_TARGET __attribute__((target("ssse3")))
#include "hash/sha0_vector.h"

namespace sha0 {

const Path kSsse3 = {vector::CompressWords, vector::CompressBytes, "ssse3"};

}  // namespace sha0

#endif
