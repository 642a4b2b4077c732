// SPDX-License-Identifier: ISC
// The exponentiation over precomputed powers that VerifyDigestWithKey runs,
// and the building of those powers; the table layout is PowerTable's
// (dsa/public_key.h).
#pragma once

#include <cstdint>

#include "dsa/public_key.h"

// Cuts the 20-byte exponent (least significant byte first) into
// kExponentPieces pieces of kPieceBits bits and each piece into sliding
// windows of at most kWindowBits bits with a set lowest bit.  digits[i] is
// (window value - 1) / 2 where a window's lowest bit is bit i, otherwise -1,
// so the windows' values times 2^i add up to the exponent.
void recode_exponent(const uint8_t* exponent, int8_t digits[160]);

// acc (32 limbs) = g^exp1 * y^exp2 * 2^512 mod p, below 2^512 but possibly
// not below p, from g's and y's power tables; exponents as recode_exponent
// takes them, p odd with factor_p = -p^-1 mod 2^16.  Both exponents zero give
// 0, as mont_multi_exp does.  acc may alias neither table.
void mont_multi_exp_powers(Limb* acc, const uint8_t* exp1, const PowerTable& powers1, const uint8_t* exp2,
                           const PowerTable& powers2, const Limb* p, Limb factor_p);

// Fills table with the powers of the base given in Montgomery form (below
// 2^512), every entry fully reduced below p, as the generated tables are.
void build_power_table(const Limb* base, PowerTable& table, const Limb* p, Limb factor_p);
