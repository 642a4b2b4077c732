// SPDX-License-Identifier: ISC
// The SIGNCHECK_CPU setting: which features each value hides from the
// selectors.
#include <gtest/gtest.h>

#include <string>

#include "cpu/cpu.h"

namespace {

// The features the setting hides, by their names in the setting, in this
// order, comma-separated.
std::string Hidden(const char* setting) {
  const struct {
    const char* name;
    cpu::Feature feature;
  } features[] = {{"ssse3", cpu::Feature::kSsse3},      {"shani", cpu::Feature::kShaNi},
                  {"avx2", cpu::Feature::kAvx2},        {"avx2-bmi", cpu::Feature::kAvx2Bmi},
                  {"mulx-adx", cpu::Feature::kMulxAdx}, {"none", cpu::Feature::kNone}};
  std::string hidden;
  for (const auto& [name, feature] : features) {
    if (!cpu::Hides(setting, feature)) continue;
    hidden += hidden.empty() ? "" : ",";
    hidden += name;
  }
  return hidden;
}

// A word hides its feature and those built on it, never the variants that
// need nothing; words it does not know, in any letter case, hide nothing.
TEST(CpuSetting, HidesTheNamedFeaturesAndThoseBuiltOnThem) {
  EXPECT_EQ(Hidden(""), "");
  EXPECT_EQ(Hidden("baseline"), "ssse3,shani,avx2,avx2-bmi,mulx-adx");
  EXPECT_EQ(Hidden("no-ssse3"), "ssse3,shani");
  EXPECT_EQ(Hidden("no-shani"), "shani");
  EXPECT_EQ(Hidden("no-avx2"), "avx2,avx2-bmi");
  EXPECT_EQ(Hidden("no-avx2-bmi"), "avx2-bmi");
  EXPECT_EQ(Hidden("no-mulx-adx"), "mulx-adx");
  EXPECT_EQ(Hidden("no-mulx-adx,no-shani"), "shani,mulx-adx");
  EXPECT_EQ(Hidden("no-shani,,baseline,"), "ssse3,shani,avx2,avx2-bmi,mulx-adx");
  for (const char* unknown : {"portable", "no-sha", "no-", "NO-SHANI", "no-shani ", " baseline", "no-none"}) {
    EXPECT_EQ(Hidden(unknown), "") << unknown;
  }
}

}  // namespace
