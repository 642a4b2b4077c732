// SPDX-License-Identifier: ISC
#include "cpu/cpu.h"

#include <cstdlib>

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
  switch (feature) {
    case Feature::kNone: return true;
    case Feature::kAvx2: return CPU_FEATURE_ACTIVE(AVX2);
    case Feature::kMulxAdx: return CPU_FEATURE_ACTIVE(BMI2) && CPU_FEATURE_ACTIVE(ADX);
    case Feature::kShaNi: return CPU_FEATURE_ACTIVE(SHA) && CPU_FEATURE_ACTIVE(SSSE3) && CPU_FEATURE_ACTIVE(SSE4_1);
    case Feature::kSsse3: return CPU_FEATURE_ACTIVE(SSSE3);
    case Feature::kAvx2Bmi: return CPU_FEATURE_ACTIVE(AVX2) && CPU_FEATURE_ACTIVE(BMI1) && CPU_FEATURE_ACTIVE(BMI2);
  }
  return false;
}

}  // namespace cpu

#else

namespace cpu {

bool Has(Feature feature) { return feature == Feature::kNone; }

}  // namespace cpu

#endif

namespace cpu {

namespace {

constexpr unsigned Bit(Feature feature) { return 1u << static_cast<unsigned>(feature); }

// The features a word of the setting hides: the named one and those that
// build on it, so that no-avx2 leaves no AVX2 variant of any routine.
struct NamedFeature {
  std::string_view name;
  unsigned hides;
};
constexpr NamedFeature kNames[] = {
    {"ssse3", Bit(Feature::kSsse3) | Bit(Feature::kShaNi)},
    {"shani", Bit(Feature::kShaNi)},
    {"avx2", Bit(Feature::kAvx2) | Bit(Feature::kAvx2Bmi)},
    {"avx2-bmi", Bit(Feature::kAvx2Bmi)},
    {"mulx-adx", Bit(Feature::kMulxAdx)},
};

unsigned HiddenBy(std::string_view setting) {
  unsigned hidden = 0;
  while (!setting.empty()) {
    const size_t comma = setting.find(',');
    const std::string_view word = setting.substr(0, comma);
    setting = comma == std::string_view::npos ? std::string_view() : setting.substr(comma + 1);
    if (word == "baseline") hidden |= ~Bit(Feature::kNone);
    if (!word.starts_with("no-")) continue;
    for (const NamedFeature& named : kNames) {
      if (word.substr(3) == named.name) hidden |= named.hides;
    }
  }
  return hidden;
}

// The default is the build's: the portable preset's programs run the
// baseline variants even outside their tests, unless told otherwise.
std::string_view Setting() {
  const char* const from_environment = std::getenv("SIGNCHECK_CPU");
  if (from_environment != nullptr) return from_environment;
#ifdef SIGNCHECK_CPU_DEFAULT
  return SIGNCHECK_CPU_DEFAULT;
#else
  return {};
#endif
}

}  // namespace

bool Hides(std::string_view setting, Feature feature) { return (HiddenBy(setting) & Bit(feature)) != 0; }

bool Use(Feature feature) {
  static const unsigned hidden = HiddenBy(Setting());
  return (hidden & Bit(feature)) == 0 && Has(feature);
}

}  // namespace cpu
