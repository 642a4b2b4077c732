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

// out (10 limbs) = s^-1 mod q, fully reduced, for the 20-byte little-endian s
// and a prime q of exactly 160 bits (10 limbs, top bit set).  s is taken
// modulo q first; s = 0 (mod q) gives 0.  out may not alias q.
void mod_inverse(const uint8_t* s, const Limb* q, Limb* out);
