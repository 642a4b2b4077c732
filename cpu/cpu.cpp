#include "cpu/cpu.h"

#if defined(__x86_64__) || defined(__i386__)
// glibc has already run CPUID while starting the process; asking it costs
// nothing, whereas the compiler's own CPU check links a constructor that
// runs CPUID again on every start.
#include <sys/platform/x86.h>

namespace cpu {

bool Has(Feature feature) {
  switch (feature) {
    case Feature::kAvx2:
      return CPU_FEATURE_ACTIVE(AVX2);
    case Feature::kMulxAdx:
      return CPU_FEATURE_ACTIVE(BMI2) && CPU_FEATURE_ACTIVE(ADX);
    case Feature::kShaNi:
      return CPU_FEATURE_ACTIVE(SHA) && CPU_FEATURE_ACTIVE(SSSE3) && CPU_FEATURE_ACTIVE(SSE4_1);
  }
  return false;
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
#else
  return Has(feature);
#endif
}

}  // namespace cpu
