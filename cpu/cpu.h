// SPDX-License-Identifier: ISC
// What this CPU can run, for the few routines that have a variant on
// instructions not every CPU of the architecture has.  Each such routine
// chooses among its variants once per process, the way cpu/variant.h
// describes.
#pragma once

#include <string_view>

namespace cpu {

enum class Feature {
  kNone,     // nothing beyond what every CPU of the architecture has
  kAvx2,     // 256-bit integer vectors
  kMulxAdx,  // mulx (BMI2) and the two-flag additions adcx/adox (ADX)
  kShaNi,    // the SHA extensions with the SSSE3 and SSE4.1 they are used with
  kSsse3,    // byte shuffles and lane alignment on 128-bit vectors
  kAvx2Bmi,  // 256-bit integer vectors with andn (BMI1) and rorx (BMI2)
};

// True when the CPU and the operating system let this process run the
// feature; for kNone always, for the others always false on other
// architectures.  Tests ask this to run every variant the machine can.
bool Has(Feature feature);

// Whether the selectors may take the feature's variant: Has, less what the
// setting SIGNCHECK_CPU hides.  The setting comes from the environment, or,
// when the environment has none, from the build (the CMake cache entry of
// the same name, "baseline" in the portable preset); it is read on the first
// call and holds for the rest of the process.  It is there to measure and
// test the variants slower CPUs run; every variant gives the same results,
// so it changes nothing but speed.  Its value is a comma-separated list:
//   baseline      hides every feature: the variants every CPU of the
//                 architecture runs
//   no-NAME       hides one feature and those built on it, NAME being ssse3
//                 (and with it shani), shani, avx2 (and avx2-bmi), avx2-bmi
//                 or mulx-adx
// Other words are ignored, and an empty value hides nothing.
bool Use(Feature feature);

// Whether the setting, a value of SIGNCHECK_CPU, hides the feature from Use.
bool Hides(std::string_view setting, Feature feature);

}  // namespace cpu
