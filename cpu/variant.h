// SPDX-License-Identifier: ISC
// How a routine with CPU-specific variants runs one.  Each family (a
// digest's compression, a product) describes a variant with a struct of its
// own: its function or functions, the name that tests, benchmarks and
// tests/cpu print, and the one feature it needs (Feature::kNone for the
// variants every CPU runs).  The family lists the variants built for the
// architecture, best first and ending with one that needs nothing, and
// chooses once per process, on first use:
//
//   const Variant& Selected() {
//     static const Variant& chosen = cpu::Choose(Variants());
//     return chosen;
//   }
#pragma once

#include <concepts>
#include <span>

#include "cpu/cpu.h"

namespace cpu {

template <typename V>
concept Variant = requires(const V& variant) {
  { variant.name } -> std::convertible_to<const char*>;
  { variant.needs } -> std::convertible_to<Feature>;
};

// The first of the variants that Use allows.
template <Variant V>
const V& Choose(std::span<const V* const> best_first) {
  for (const V* variant : best_first) {
    if (Use(variant->needs)) return *variant;
  }
  return *best_first.back();  // needs nothing, so never reached
}

// Whether this CPU can run the variant, whatever SIGNCHECK_CPU hides: tests
// and benchmarks run every variant that it can.
template <Variant V>
bool CanRun(const V& variant) {
  return Has(variant.needs);
}

}  // namespace cpu
