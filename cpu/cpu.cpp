// SPDX-License-Identifier: ISC
#include "cpu/cpu.h"

#if defined(__x86_64__) || defined(__i386__)
// glibc has already run CPUID while starting the process; asking it costs
// nothing, whereas the compiler's own CPU check links a constructor that
// runs CPUID again on every start.
#if defined(__clang__)
// The header is written in C, whose boolean type clang's C++ lacks; the
// reserved name is the header's own, defined only around its inclusion.
#define _Bool bool  // NOLINT(bugprone-reserved-identifier)
#endif
#include <sys/platform/x86.h>
#undef _Bool

namespace cpu {

bool Has(Feature feature) {
  if (feature == Feature::kAvx2) return CPU_FEATURE_ACTIVE(AVX2);
  if (feature == Feature::kMulxAdx) return CPU_FEATURE_ACTIVE(BMI2) && CPU_FEATURE_ACTIVE(ADX);
  if (feature == Feature::kSsse3) return CPU_FEATURE_ACTIVE(SSSE3);
  if (feature == Feature::kAvx2Bmi) {
    return CPU_FEATURE_ACTIVE(AVX2) && CPU_FEATURE_ACTIVE(BMI1) && CPU_FEATURE_ACTIVE(BMI2);
  }
  return CPU_FEATURE_ACTIVE(SHA) && CPU_FEATURE_ACTIVE(SSSE3) && CPU_FEATURE_ACTIVE(SSE4_1);
}

}  // namespace cpu

#else

namespace cpu {

bool Has(Feature) { return false; }

}  // namespace cpu

#endif

namespace cpu {

bool Use(Feature feature) {
#ifdef SIGNCHECK_FORCE_PORTABLE
  (void)feature;
  return false;
#elif defined(SIGNCHECK_HIDE_SHA_EXTENSIONS)
  return feature != Feature::kShaNi && Has(feature);
#else
  return Has(feature);
#endif
}

}  // namespace cpu
