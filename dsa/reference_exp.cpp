// SPDX-License-Identifier: ISC
// The reference's exponentiation: sliding windows over four 40-bit pieces of
// each exponent, on the tables of dsa/reference.h.
#include <cstring>

#include "dsa/reference.h"

namespace {

int HighestBit(unsigned v) { return 32 - __builtin_clz(v); }  // v != 0

}  // namespace

void exp_window_next(const uint8_t* piece, int16_t& position, int16_t& digit, int16_t width) {
  --position;
  if (position < 0) return;
  int byte = position / 8;
  const int low_bits = position % 8 + 1;
  unsigned v = piece[byte] & ((1u << low_bits) - 1);
  if (v == 0) {
    do {
      --byte;
    } while (byte >= 0 && piece[byte] == 0);
    if (byte < 0) {
      position = -1;
      return;
    }
    v = piece[byte];
  }
  int h = HighestBit(v);
  if (h < width && byte > 0) {
    v = v * 256 + piece[byte - 1];
    h += 8;
    --byte;
  }
  int lowest = 8 * byte;
  if (h > width) {
    lowest += h - width;
    v >>= h - width;
  }
  while ((v & 1) == 0) {
    v >>= 1;
    ++lowest;
  }
  position = static_cast<int16_t>(lowest);
  digit = static_cast<int16_t>((v - 1) / 2);
}

void mont_multi_exp(Limb* acc, const uint8_t* exp1, const Limb (*base_table)[32], const Limb (*key_table)[32],
                    const uint8_t* exp2, const Limb* p, Limb factor_p) {
  // Scanner 2k reads piece k of exp1 (width 5, base table), scanner 2k + 1
  // piece k of exp2 (width 2, key table); this is also the visiting order.
  int16_t position[8];
  int16_t digit[8] = {};
  auto advance = [&](int s) {
    const bool fixed_base = (s & 1) == 0;
    const uint8_t* piece = (fixed_base ? exp1 : exp2) + 5 * (s / 2);
    exp_window_next(piece, position[s], digit[s], static_cast<int16_t>(fixed_base ? 5 : 2));
  };
  auto entry = [&](int s) -> const Limb* {
    return (s & 1) == 0 ? base_table[16 * (s / 2) + digit[s]] : key_table[2 * (s / 2) + digit[s]];
  };

  int16_t top = -1;
  int first = -1;
  for (int s = 0; s < 8; ++s) {
    position[s] = 40;
    advance(s);
    if (position[s] > top) {
      top = position[s];
      first = s;
    }
  }
  if (first < 0) {  // both exponents zero: the verification never asks for it
    std::memset(acc, 0, 32 * sizeof(Limb));
    return;
  }
  std::memcpy(acc, entry(first), 32 * sizeof(Limb));
  advance(first);
  for (int j = top;; --j) {
    for (int s = 0; s < 8; ++s) {
      if (position[s] == j) {
        mont_mul(acc, entry(s), acc, p, factor_p, 32);
        advance(s);
      }
    }
    if (j == 0) break;
    mont_mul(acc, acc, acc, p, factor_p, 32);
  }
}
