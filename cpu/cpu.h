// SPDX-License-Identifier: ISC
// What this CPU can run, for the few routines that have a variant on
// instructions not every CPU of the architecture has.  Every such choice is
// made through here, once per process, in the callers' own selectors
// (a function-local static pointer chosen on first use).
#pragma once

namespace cpu {

enum class Feature {
  kAvx2,     // 256-bit integer vectors
  kMulxAdx,  // mulx (BMI2) and the two-flag additions adcx/adox (ADX)
  kShaNi,    // the SHA extensions with the SSSE3 and SSE4.1 they are used with
  kSsse3,    // byte shuffles and lane alignment on 128-bit vectors
  kAvx2Bmi,  // 256-bit integer vectors with andn (BMI1) and rorx (BMI2)
};

// True when the CPU and the operating system let this process run the
// feature; always false on other architectures.  Tests ask this to run every
// variant the machine can.
bool Has(Feature feature);

// Whether the selectors should take the feature's variant: Has, except in
// builds configured with SIGNCHECK_FORCE_PORTABLE, where every selector
// takes the path that needs no particular CPU feature (the one other CPUs of
// the same word size and byte order run), and in benchmark builds configured
// with SIGNCHECK_HIDE_SHA_EXTENSIONS, where kShaNi is never used.
bool Use(Feature feature);

}  // namespace cpu
