// SPDX-License-Identifier: ISC
// The choice of compression, kept in a file of its own so that a benchmark
// build can link a different one and pin the portable path without any
// switch in the shipped program.
#include "hash/sha256_compress.h"

namespace sha256 {

CompressFn SelectedCompress() {
  static const CompressFn chosen = [] {
#if SHA256_HAVE_SHANI
    if (cpu::Use(cpu::Feature::kShaNi)) {
      return &CompressShaNi;
    }
#endif
#if SHA256_HAVE_VECTOR
    if (cpu::Use(cpu::Feature::kAvx2Bmi)) {
      return &CompressAvx2;
    }
    if (cpu::Use(cpu::Feature::kSsse3)) {
      return &CompressSsse3;
    }
#endif
    return &CompressPortable;
  }();
  return chosen;
}

}  // namespace sha256
