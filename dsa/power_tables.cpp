// SPDX-License-Identifier: ISC
#include "dsa/power_tables.h"

#include <cstring>

namespace {

constexpr int kColumnsPerExponent = kCombBlocks * kCombColumns;

// out = a fully reduced below p, for a below 2^512 (so below 2p).
void ReduceOnce(Limb* a, const Limb* p) {
  if (limbs_compare(a, p, kPLimbs) >= 0) limbs_sub(a, p, kPLimbs);
}

// The 8 x 8 bit matrix whose byte i is row i, transposed: bit i of
// columns[c] is bit c of byte i.  Three exchanges of blocks across the
// diagonal, as in Hacker's Delight.
void TransposeBits(uint64_t x, uint8_t columns[8]) {
  x = (x & 0xAA55AA55AA55AA55) | ((x & 0x00AA00AA00AA00AA) << 7) | ((x >> 7) & 0x00AA00AA00AA00AA);
  x = (x & 0xCCCC3333CCCC3333) | ((x & 0x0000CCCC0000CCCC) << 14) | ((x >> 14) & 0x0000CCCC0000CCCC);
  x = (x & 0xF0F0F0F00F0F0F0F) | ((x & 0x00000000F0F0F0F0) << 28) | ((x >> 28) & 0x00000000F0F0F0F0);
  for (int c = 0; c < 8; ++c) columns[c] = static_cast<uint8_t>(x >> (8 * c));
}

}  // namespace

void comb_digits(const uint8_t* exponent, uint8_t digits[kColumnsPerExponent]) {
  static_assert(kCombRows == 8 && kColumnsPerExponent <= 24, "one byte a row in each group of 8 columns");
  uint64_t rows[kCombRows];
  for (int row = 0; row < kCombRows; ++row) {
    const int first = kCombRowBits * row;  // 20 bits from bit `first` up: within 4 bytes from first / 8
    uint32_t window = 0;
    for (int i = 3; i >= 0; --i) window = window << 8 | (first / 8 + i < 20 ? exponent[first / 8 + i] : 0u);
    rows[row] = (window >> (first % 8)) & ((1u << kCombRowBits) - 1);
  }
  for (int group = 0; 8 * group < kColumnsPerExponent; ++group) {
    uint64_t matrix = 0;  // byte i: columns 8 * group .. + 7 of row i
    for (int row = 0; row < kCombRows; ++row) matrix |= (rows[row] >> (8 * group) & 0xFF) << (8 * row);
    uint8_t columns[8];
    TransposeBits(matrix, columns);
    for (int c = 0; c < 8 && 8 * group + c < kColumnsPerExponent; ++c) digits[8 * group + c] = columns[c];
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
