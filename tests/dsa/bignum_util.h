// SPDX-License-Identifier: ISC
// BIGNUM helpers for checking the limb arithmetic and the verification against
// OpenSSL: conversions between limbs, little-endian bytes and BIGNUM, and a
// few modular shorthands.  Aborts the test on any OpenSSL failure.
#pragma once

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "signtool/dsa_keys.h"

namespace bnutil {

using signtool::Bn;

struct CtxFree {
  void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};
using BnCtx = std::unique_ptr<BN_CTX, CtxFree>;

inline BnCtx NewCtx() { return BnCtx(BN_CTX_new()); }
inline Bn NewBn() { return Bn(BN_new()); }
inline Bn Copy(const BIGNUM* a) { return Bn(BN_dup(a)); }

inline Bn Word(unsigned long w) {
  Bn r = NewBn();
  BN_set_word(r.get(), w);
  return r;
}

inline Bn PowerOfTwo(int bits) {
  Bn r = NewBn();
  BN_set_bit(r.get(), bits);
  return r;
}

inline Bn FromBytes(const uint8_t* bytes, int count) { return Bn(BN_lebin2bn(bytes, count, nullptr)); }

inline Bn FromLimbs(const uint16_t* limbs, int n) {
  std::vector<uint8_t> bytes(2 * static_cast<size_t>(n));
  for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
    bytes[2 * i] = static_cast<uint8_t>(limbs[i]);
    bytes[2 * i + 1] = static_cast<uint8_t>(limbs[i] >> 8);
  }
  return FromBytes(bytes.data(), 2 * n);
}

// The value must fit in count bytes.
inline void ToBytes(const BIGNUM* a, uint8_t* bytes, int count) {
  ASSERT_EQ(BN_bn2lebinpad(a, bytes, count), count) << "value does not fit in " << count << " bytes";
}

inline void ToLimbs(const BIGNUM* a, uint16_t* limbs, int n) {
  std::vector<uint8_t> bytes(2 * static_cast<size_t>(n));
  ToBytes(a, bytes.data(), 2 * n);
  for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
    limbs[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
}

inline Bn Add(const BIGNUM* a, const BIGNUM* b) {
  Bn r = NewBn();
  BN_add(r.get(), a, b);
  return r;
}

inline Bn Sub(const BIGNUM* a, const BIGNUM* b) {
  Bn r = NewBn();
  BN_sub(r.get(), a, b);
  return r;
}

inline Bn Mod(const BIGNUM* a, const BIGNUM* m, BN_CTX* ctx) {
  Bn r = NewBn();
  BN_nnmod(r.get(), a, m, ctx);
  return r;
}

inline Bn ModMul(const BIGNUM* a, const BIGNUM* b, const BIGNUM* m, BN_CTX* ctx) {
  Bn r = NewBn();
  BN_mod_mul(r.get(), a, b, m, ctx);
  return r;
}

inline Bn ModExp(const BIGNUM* a, const BIGNUM* e, const BIGNUM* m, BN_CTX* ctx) {
  Bn r = NewBn();
  BN_mod_exp(r.get(), a, e, m, ctx);
  return r;
}

inline Bn ModInverse(const BIGNUM* a, const BIGNUM* m, BN_CTX* ctx) { return Bn(BN_mod_inverse(nullptr, a, m, ctx)); }

// a^(2^bits) mod m.
inline Bn ModSquarings(const BIGNUM* a, int bits, const BIGNUM* m, BN_CTX* ctx) {
  Bn r = Copy(a);
  for (int i = 0; i < bits; ++i) BN_mod_sqr(r.get(), r.get(), m, ctx);
  return r;
}

// a * 2^512 mod p: the Montgomery form modulo p.
inline Bn MontForm(const BIGNUM* a, const BIGNUM* p, BN_CTX* ctx) { return ModMul(a, PowerOfTwo(512).get(), p, ctx); }

inline bool Equal(const BIGNUM* a, const BIGNUM* b) { return BN_cmp(a, b) == 0; }

inline bool Congruent(const BIGNUM* a, const BIGNUM* b, const BIGNUM* m, BN_CTX* ctx) {
  return Equal(Mod(a, m, ctx).get(), Mod(b, m, ctx).get());
}

inline std::string Hex(const BIGNUM* a) {
  char* text = BN_bn2hex(a);
  std::string s(text);
  OPENSSL_free(text);
  return s;
}

inline void RandomLimbs(std::mt19937_64& rng, uint16_t* limbs, int n) {
  for (int i = 0; i < n; ++i) limbs[i] = static_cast<uint16_t>(rng());
}

inline void RandomBytes(std::mt19937_64& rng, uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(rng());
}

// A value in [0, m), close enough to uniform, from the test's own seeded
// generator so that a failure can be replayed.
inline Bn RandomBelow(std::mt19937_64& rng, const BIGNUM* m, BN_CTX* ctx) {
  std::vector<uint8_t> bytes(static_cast<size_t>(BN_num_bytes(m)) + 8);
  RandomBytes(rng, bytes.data(), bytes.size());
  return Mod(FromBytes(bytes.data(), static_cast<int>(bytes.size())).get(), m, ctx);
}

// The base table's layout for the base g: entry 16k + j is the Montgomery
// form of G_k^(2j + 1) with G_k = g^(2^(40k)).
inline void MakeBaseTable(const BIGNUM* g, const BIGNUM* p, uint16_t (*table)[32], BN_CTX* ctx) {
  for (int k = 0; k < 4; ++k) {
    const Bn base = ModSquarings(g, 40 * k, p, ctx), square = ModMul(base.get(), base.get(), p, ctx);
    Bn power = Copy(base.get());
    for (int j = 0; j < 16; ++j) {
      ToLimbs(MontForm(power.get(), p, ctx).get(), table[16 * k + j], 32);
      power = ModMul(power.get(), square.get(), p, ctx);
    }
  }
}

// Whether the Montgomery form of a, which is below p, has a second form a
// multiple of p higher that is still below 2^512.  Only a share of about
// (2^512 - p) / p of all residues have one: for a p near the top, few.
inline bool HasFormAboveP(const BIGNUM* a, const BIGNUM* p, BN_CTX* ctx) {
  return BN_num_bits(Add(MontForm(a, p, ctx).get(), p).get()) <= 512;
}

}  // namespace bnutil
