// SPDX-License-Identifier: ISC
#include "dsa/power_tables.h"

#include <cstring>

namespace {

constexpr int kColumnsPerExponent = kCombBlocks * kCombColumns;

// out = a fully reduced below p, for a below 2^512 (so below 2p).
void ReduceOnce(Limb* a, const Limb* p) {
  if (limbs_compare(a, p, kPLimbs) >= 0) limbs_sub(a, p, kPLimbs);
}

}  // namespace

void comb_digits(const uint8_t* exponent, uint8_t digits[kColumnsPerExponent]) {
  std::memset(digits, 0, kColumnsPerExponent);
  for (int row = 0; row < kCombRows; ++row) {
    for (int column = 0; column < kColumnsPerExponent; ++column) {
      const int bit = kCombRowBits * row + column;
      digits[column] = static_cast<uint8_t>(digits[column] | ((exponent[bit / 8] >> (bit % 8)) & 1) << row);
    }
  }
}

void mont_multi_exp_powers(Limb* acc, const uint8_t* exp1, const PowerTable& powers1, const uint8_t* exp2,
                           const PowerTable& powers2, const Limb* p, Limb factor_p) {
  uint8_t digits1[kColumnsPerExponent], digits2[kColumnsPerExponent];
  comb_digits(exp1, digits1);
  comb_digits(exp2, digits2);
  // acc stands for 1 until the first product, which copies instead, so the
  // squarings begin at the highest column with a digit.
  bool started = false;
  auto multiply = [&](const PowerTable& powers, int block, uint8_t digit) {
    const Limb* const entry = powers[kCombDigits * block + digit - 1];
    if (started) {
      mont_mul(acc, entry, acc, p, factor_p, kPLimbs);
    } else {
      std::memcpy(acc, entry, kPLimbs * sizeof(Limb));
      started = true;
    }
  };
  for (int column = kCombColumns - 1; column >= 0; --column) {
    if (started) mont_mul(acc, acc, acc, p, factor_p, kPLimbs);
    for (int block = 0; block < kCombBlocks; ++block) {
      const int at = kCombColumns * block + column;
      if (digits1[at] != 0) multiply(powers1, block, digits1[at]);
      if (digits2[at] != 0) multiply(powers2, block, digits2[at]);
    }
  }
  if (!started) std::memset(acc, 0, kPLimbs * sizeof(Limb));
}

void build_power_table(const Limb* base, PowerTable& table, const Limb* p, Limb factor_p) {
  // power[kCombBlocks * row + block] = base^(2^(kCombColumns * (kCombBlocks
  // * row + block))), the factor that bit row of a digit of that block stands
  // for; each follows from the one before by kCombColumns squarings.
  Limb power[kCombRows * kCombBlocks][kPLimbs];
  std::memcpy(power[0], base, sizeof power[0]);
  ReduceOnce(power[0], p);
  for (int k = 1; k < kCombRows * kCombBlocks; ++k) {
    mont_mul(power[k - 1], power[k - 1], power[k], p, factor_p, kPLimbs);
    for (int s = 1; s < kCombColumns; ++s) mont_mul(power[k], power[k], power[k], p, factor_p, kPLimbs);
    ReduceOnce(power[k], p);
  }
  for (int block = 0; block < kCombBlocks; ++block) {
    Limb(*const entries)[kPLimbs] = table + kCombDigits * block;  // entries[d - 1] for digit d
    for (int digit = 1; digit <= kCombDigits; ++digit) {
      const int low_bit = __builtin_ctz(static_cast<unsigned>(digit));
      const Limb* const factor = power[kCombBlocks * low_bit + block];
      const int rest = digit & (digit - 1);
      if (rest == 0) {
        std::memcpy(entries[digit - 1], factor, sizeof power[0]);
      } else {
        mont_mul(entries[rest - 1], factor, entries[digit - 1], p, factor_p, kPLimbs);
        ReduceOnce(entries[digit - 1], p);
      }
    }
  }
}
