// SPDX-License-Identifier: ISC
// Multi-precision arithmetic on 16-bit limbs, least significant limb first,
// with 32-bit products.  Every routine works on caller-owned arrays, takes its
// lengths as signed 16-bit counts (a count of zero or less does nothing),
// allocates nothing and cannot fail.
//
// The arithmetic is variable-time: branches, loop counts and memory accesses
// depend on the values.  It is meant for public inputs only (signatures,
// digests, public keys), never for secret ones such as private keys.
#pragma once

#include <cstdint>

using Limb = uint16_t;

// Writes (count + 1) / 2 limbs from count little-endian bytes; for an odd
// count the last limb holds the last byte alone.
void limbs_from_bytes(const uint8_t* bytes, Limb* limbs, int16_t count);

// Writes exactly count little-endian bytes; for an odd count the high byte of
// the last limb is dropped.
void limbs_to_bytes(const Limb* limbs, uint8_t* bytes, int16_t count);

// <0, 0 or >0 as a is below, equal to or above b, both n limbs.
int limbs_compare(const Limb* a, const Limb* b, int16_t n);

// a = a - b modulo 2^(16n).  a and b may be the same array.
void limbs_sub(Limb* a, const Limb* b, int16_t n);

// out = a * b * 2^(-16n) mod m, lazily: congruent, and below 2^(16n) but not
// necessarily below m.  a and b may be anything below 2^(16n); m is odd, n is
// at most 32 and factor = -m^-1 mod 2^16.  out may alias a, b or both.
void mont_mul(const Limb* a, const Limb* b, Limb* out, const Limb* m, Limb factor, int16_t n);

// x = (x + M * m) / 2^(16 * steps) for the M below 2^(16 * steps) that makes
// the division exact, kept in xlen limbs; no final subtraction.  xlen >= mlen.
void mont_reduce(Limb* x, const Limb* m, Limb factor, int16_t xlen, int16_t mlen, int16_t steps);

// Finds the next window of set bits below position in a 40-bit exponent piece
// (5 bytes, least significant first).  position starts at 40; on return it is
// the window's lowest bit and digit = (window value - 1) / 2, or position is
// negative when the piece is exhausted (digit untouched).
void exp_window_next(const uint8_t* piece, int16_t& position, int16_t& digit, int16_t width);

// The verification's combined exponentiation modulo the odd 32-limb p with
// factor_p = -p^-1 mod 2^16, on 4 pieces of 40 bits: acc (32 limbs)
// becomes the Montgomery product of g^exp1 and y^exp2, congruent and below
// 2^512.  Entry 16k + j of base_table is G_k^(2j + 1) with G_k = g^(2^(40k));
// entries 2k and 2k + 1 of key_table are Y_k = y^(2^(40k)) and its cube; all
// in Montgomery form, below 2^512.  Exponents are 20 bytes, least significant
// first; at least one of them is nonzero.  acc may alias neither table.
void mont_multi_exp(Limb* acc, const uint8_t* exp1, const Limb (*base_table)[32], const Limb (*key_table)[32],
                    const uint8_t* exp2, const Limb* p, Limb factor_p);

// out (10 limbs) = s^-1 mod q, fully reduced, for the 20-byte little-endian s
// and a prime q of exactly 160 bits (10 limbs, top bit set).  s is taken
// modulo q first; s = 0 (mod q) gives 0.  out may not alias q.
void mod_inverse(const uint8_t* s, const Limb* q, Limb* out);
