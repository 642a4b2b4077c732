// The choice of compression, kept in a file of its own so that a benchmark
// build can link a different one and pin the portable path without any
// switch in the shipped program.
#include "digest/sha256_compress.h"

namespace sha256 {

CompressFn SelectedCompress() {
  // Asked once: CPUID is slow, and the answer cannot change during a run.
  static const CompressFn chosen = [] {
#if SHA256_HAVE_SHANI
    if (CpuHasShaNi()) {
      return &CompressShaNi;
    }
#endif
    return &CompressPortable;
  }();
  return chosen;
}

}  // namespace sha256
