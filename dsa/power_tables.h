// SPDX-License-Identifier: ISC
// The exponentiation over precomputed powers that VerifyDigestWithKey runs,
// and the building of those powers; the table layout is PowerTable's
// (dsa/public_key.h).
#pragma once

#include <cstdint>

#include "dsa/public_key.h"

// Reads the 20-byte exponent (least significant byte first) as the comb of
// dsa/public_key.h: digits[kCombColumns * j + c] is the digit of column c of
// block j, each bit i of it the exponent's bit kCombRowBits * i +
// kCombColumns * j + c.  0 means no product for that column.
void comb_digits(const uint8_t* exponent, uint8_t digits[kCombBlocks * kCombColumns]);

// acc (32 limbs) = g^exp1 * y^exp2 * 2^512 mod p, below 2^512 but possibly
// not below p, from g's and y's power tables; exponents as comb_digits
// takes them, p odd with factor_p = -p^-1 mod 2^16.  Both exponents zero give
// 0, as mont_multi_exp does.  acc may alias neither table.
void mont_multi_exp_powers(Limb* acc, const uint8_t* exp1, const PowerTable& powers1, const uint8_t* exp2,
                           const PowerTable& powers2, const Limb* p, Limb factor_p);

// Fills table with the powers of the base given in Montgomery form (below
// 2^512), every entry fully reduced below p, as the generated tables are.
void build_power_table(const Limb* base, PowerTable& table, const Limb* p, Limb factor_p);
