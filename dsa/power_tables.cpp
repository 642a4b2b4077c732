// SPDX-License-Identifier: ISC
#include "dsa/power_tables.h"

#include <cstring>

namespace {

int ExponentBit(const uint8_t* exponent, int bit) { return (exponent[bit / 8] >> (bit % 8)) & 1; }

// out = a fully reduced below p, for a below 2^512 (so below 2p).
void ReduceOnce(Limb* a, const Limb* p) {
  if (limbs_compare(a, p, kPLimbs) >= 0) limbs_sub(a, p, kPLimbs);
}

}  // namespace

void recode_exponent(const uint8_t* exponent, int8_t digits[160]) {
  std::memset(digits, -1, 160);
  for (int piece = 0; piece < kExponentPieces; ++piece) {
    const int low_end = piece * kPieceBits;
    // From the piece's top down: each set bit opens a window of up to
    // kWindowBits bits, shortened to end on a set bit and never crossing
    // into the piece below.
    for (int top = low_end + kPieceBits - 1; top >= low_end;) {
      if (ExponentBit(exponent, top) == 0) {
        --top;
        continue;
      }
      int low = top - kWindowBits + 1 < low_end ? low_end : top - kWindowBits + 1;
      while (ExponentBit(exponent, low) == 0) ++low;
      int value = 0;
      for (int bit = top; bit >= low; --bit) value = 2 * value + ExponentBit(exponent, bit);
      digits[low] = static_cast<int8_t>((value - 1) / 2);
      top = low - 1;
    }
  }
}

void mont_multi_exp_powers(Limb* acc, const uint8_t* exp1, const PowerTable& powers1, const uint8_t* exp2,
                           const PowerTable& powers2, const Limb* p, Limb factor_p) {
  int8_t digits1[160], digits2[160];
  recode_exponent(exp1, digits1);
  recode_exponent(exp2, digits2);
  // acc stands for 1 until the first product, which copies instead, so the
  // squarings begin at the highest window of any piece.
  bool started = false;
  auto multiply = [&](const Limb* entry) {
    if (started) {
      mont_mul(acc, entry, acc, p, factor_p, kPLimbs);
    } else {
      std::memcpy(acc, entry, kPLimbs * sizeof(Limb));
      started = true;
    }
  };
  for (int bit = kPieceBits - 1; bit >= 0; --bit) {
    if (started) mont_mul(acc, acc, acc, p, factor_p, kPLimbs);
    for (int piece = 0; piece < kExponentPieces; ++piece) {
      const int at = piece * kPieceBits + bit;
      if (digits1[at] >= 0) multiply(powers1[kPowersPerPiece * piece + digits1[at]]);
      if (digits2[at] >= 0) multiply(powers2[kPowersPerPiece * piece + digits2[at]]);
    }
  }
  if (!started) std::memset(acc, 0, kPLimbs * sizeof(Limb));
}

void build_power_table(const Limb* base, PowerTable& table, const Limb* p, Limb factor_p) {
  Limb piece_base[kPLimbs], square[kPLimbs];
  std::memcpy(piece_base, base, sizeof piece_base);
  ReduceOnce(piece_base, p);
  for (int piece = 0; piece < kExponentPieces; ++piece) {
    Limb* const row = table[kPowersPerPiece * piece];
    std::memcpy(row, piece_base, sizeof piece_base);
    mont_mul(piece_base, piece_base, square, p, factor_p, kPLimbs);
    for (int j = 1; j < kPowersPerPiece; ++j) {
      Limb* const entry = table[kPowersPerPiece * piece + j];
      mont_mul(table[kPowersPerPiece * piece + j - 1], square, entry, p, factor_p, kPLimbs);
      ReduceOnce(entry, p);
    }
    if (piece + 1 == kExponentPieces) break;
    // B_(k+1) = B_k^(2^kPieceBits): the square already taken is the first.
    std::memcpy(piece_base, square, sizeof square);
    for (int s = 1; s < kPieceBits; ++s) mont_mul(piece_base, piece_base, piece_base, p, factor_p, kPLimbs);
    ReduceOnce(piece_base, p);
  }
}
