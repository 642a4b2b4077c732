// SPDX-License-Identifier: ISC
// The variants of the compression and the choice among them.
#include "cpu/variant.h"
#include "hash/sha256_compress.h"

namespace sha256 {

const Variant kPortable = {CompressPortable, "portable", cpu::Feature::kNone};
#if SHA256_HAVE_SHANI
const Variant kShaNi = {CompressShaNi, "shani", cpu::Feature::kShaNi};
#endif
#if SHA256_HAVE_VECTOR
const Variant kSsse3 = {CompressSsse3, "ssse3", cpu::Feature::kSsse3};
const Variant kAvx2 = {CompressAvx2, "avx2", cpu::Feature::kAvx2Bmi};
#endif

std::span<const Variant* const> Variants() {
  static constexpr const Variant* kBestFirst[] = {
#if SHA256_HAVE_SHANI
    &kShaNi,
#endif
#if SHA256_HAVE_VECTOR
    &kAvx2,
    &kSsse3,
#endif
    &kPortable,
  };
  return kBestFirst;
}

const Variant& Selected() {
  static const Variant& chosen = cpu::Choose(Variants());
  return chosen;
}

}  // namespace sha256
