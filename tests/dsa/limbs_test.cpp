// SPDX-License-Identifier: ISC
// The limb arithmetic, cross-checked against OpenSSL's BIGNUM on random
// inputs over the whole lazy range (anything below 2^(16n)), with random odd
// moduli and with the real p and q.
#include "dsa/limbs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "cpu/variant.h"
#include "dsa/builtin_key.h"
#include "dsa/limbs_paths.h"
#include "dsa/reference.h"
#include "tests/dsa/bignum_util.h"

namespace {

using namespace bnutil;

constexpr int kMaxLimbs = 32;
constexpr Limb kCanary = 0xA5C3;

struct Modulus {
  std::vector<Limb> limbs;
  Limb factor;
  int n() const { return static_cast<int>(limbs.size()); }
};

void SetFactor(Modulus& m) {
  uint32_t inverse = 1;  // m^-1 mod 2^16 by Newton's iteration
  for (int i = 0; i < 5; ++i) inverse *= 2u - m.limbs[0] * inverse;
  m.factor = static_cast<Limb>(0u - inverse);
}

// A random odd modulus of n limbs whose top limb is all ones (close to the
// radix) for shape 0, 1 (far below it) for shape 1 and random otherwise;
// without a shape, one of these at random.
Modulus RandomModulus(std::mt19937_64& rng, int n, int shape = -1) {
  Modulus m{std::vector<Limb>(static_cast<size_t>(n)), 0};
  RandomLimbs(rng, m.limbs.data(), n);
  m.limbs[0] |= 1;
  Limb& top = m.limbs.back();
  switch (shape >= 0 ? shape : static_cast<int>(rng() % 4)) {
    case 0: top = 0xFFFF; break;
    case 1: top = n == 1 ? top : 1; break;
    default:
      if (top == 0) top = 0x8000;
  }
  SetFactor(m);
  return m;
}

Modulus RealP() { return {std::vector<Limb>(kPrimeP, kPrimeP + 32), kFactorP}; }
Modulus RealQ() { return {std::vector<Limb>(kPrimeQ, kPrimeQ + 10), kFactorQ}; }

// A lazy operand: mostly uniform below 2^(16n), sometimes all ones, the
// modulus itself or just below it, or with its top limb all ones.
void RandomOperand(std::mt19937_64& rng, const Modulus& m, Limb* x) {
  const int n = m.n();
  RandomLimbs(rng, x, n);
  switch (rng() % 8) {
    case 0: std::fill(x, x + n, Limb{0xFFFF}); break;
    case 1:
      std::copy(m.limbs.begin(), m.limbs.end(), x);
      x[0] = static_cast<Limb>(x[0] - 1);
      break;
    case 2: std::copy(m.limbs.begin(), m.limbs.end(), x); break;
    case 3: x[n - 1] = 0xFFFF; break;
    default: break;
  }
}

using MulFunction = void (*)(const Limb*, const Limb*, Limb*, const Limb*, Limb, int16_t);

// The product as this CPU dispatches it, and the reference; both must meet
// the contract (the other variants must equal the reference, below).
struct Variant {
  const char* name;
  MulFunction mul;
};
const Variant kVariants[] = {{"mont_mul", mont_mul}, {"reference", limbs::MontMulReference}};

// One product: out * 2^(16n) = a * b (mod m), nothing written past n limbs,
// and the same result with out in place of a, of b, or of both when a = b.
void ExpectMontMul(const Limb* a, const Limb* b, const Modulus& m, BN_CTX* ctx, MulFunction mul) {
  const int n = m.n();
  const auto n16 = static_cast<int16_t>(n);
  Limb out[kMaxLimbs + 2];
  std::fill(std::begin(out), std::end(out), kCanary);
  mul(a, b, out, m.limbs.data(), m.factor, n16);
  for (int i = n; i < kMaxLimbs + 2; ++i) ASSERT_EQ(out[i], kCanary) << "limb " << i << " written, n = " << n;

  Bn mod = FromLimbs(m.limbs.data(), n);
  Bn lhs = NewBn(), rhs = NewBn();
  BN_lshift(lhs.get(), FromLimbs(out, n).get(), 16 * n);
  BN_mul(rhs.get(), FromLimbs(a, n).get(), FromLimbs(b, n).get(), ctx);
  ASSERT_TRUE(Congruent(lhs.get(), rhs.get(), mod.get(), ctx))
      << "n = " << n << "\n m = " << Hex(mod.get()) << "\n a = " << Hex(FromLimbs(a, n).get())
      << "\n b = " << Hex(FromLimbs(b, n).get()) << "\n out = " << Hex(FromLimbs(out, n).get());

  Limb into_a[kMaxLimbs], into_b[kMaxLimbs];
  std::copy(a, a + n, into_a);
  std::copy(b, b + n, into_b);
  if (a == b) {
    mul(into_a, into_a, into_a, m.limbs.data(), m.factor, n16);
  } else {
    mul(into_a, b, into_a, m.limbs.data(), m.factor, n16);
    mul(a, into_b, into_b, m.limbs.data(), m.factor, n16);
    ASSERT_TRUE(std::equal(out, out + n, into_b)) << "out aliasing b, n = " << n;
  }
  ASSERT_TRUE(std::equal(out, out + n, into_a)) << "out aliasing a, n = " << n;
}

TEST(Limbs, MontMulMatchesBignum) {
  std::mt19937_64 rng(10);
  BnCtx ctx = NewCtx();
  std::vector<Modulus> moduli;
  for (int i = 0; i < 8; ++i) moduli.insert(moduli.end(), {RealP(), RealQ()});
  for (int n : {1, 2, 5, 10, 17, 31, 32}) {
    for (int i = 0; i < (n == 10 || n == 32 ? 40 : 15); ++i) moduli.push_back(RandomModulus(rng, n));
  }
  for (const Variant& variant : kVariants) {
    SCOPED_TRACE(variant.name);
    for (const Modulus& m : moduli) {
      for (int j = 0; j < 25; ++j) {
        Limb a[kMaxLimbs], b[kMaxLimbs];
        RandomOperand(rng, m, a);
        RandomOperand(rng, m, b);
        ASSERT_NO_FATAL_FAILURE(ExpectMontMul(a, b, m, ctx.get(), variant.mul));
        if (j % 5 == 0) {
          ASSERT_NO_FATAL_FAILURE(ExpectMontMul(a, a, m, ctx.get(), variant.mul));
        }
      }
    }
  }
}

// The largest lazy inputs, a = b = 2^(16n) - 1: the top carry of the product
// no longer fits a 16-bit extra limb.
TEST(Limbs, MontMulOfAllOnesOperands) {
  std::mt19937_64 rng(12);
  BnCtx ctx = NewCtx();
  Limb ones[kMaxLimbs];
  std::fill(std::begin(ones), std::end(ones), Limb{0xFFFF});
  for (const Variant& variant : kVariants) {
    SCOPED_TRACE(variant.name);
    for (const Modulus& m : {RealP(), RealQ()})
      ASSERT_NO_FATAL_FAILURE(ExpectMontMul(ones, ones, m, ctx.get(), variant.mul));
    for (int n : {10, 32, 1, 5, 17}) {
      for (int i = 0; i < (n == 10 || n == 32 ? 800 : 100); ++i) {
        const Modulus m = RandomModulus(rng, n);
        ASSERT_NO_FATAL_FAILURE(ExpectMontMul(ones, ones, m, ctx.get(), variant.mul));
      }
    }
  }
}

// Every 32- and 10-limb product this CPU runs gives exactly the reference's
// result, on 1.3 million operand pairs: random lazy operands and the edges (0,
// 1, m - 1, m, m + 1, 2^(16n) - 1) under random moduli of every shape, moduli
// with high limbs zero, 2^(16n) - 1 and the real p and q; squaring in place too.
TEST(Limbs, ProductVariantsEqualReference) {
  using Variants = std::vector<std::pair<const char*, limbs::MontMul32Fn>>;
  Variants variants32, variants10;
  for (const limbs::MontMul32Variant* variant : limbs::MontMul32Variants()) {
    if (cpu::CanRun(*variant) && variant->name != std::string_view("limbs16")) {
      variants32.emplace_back(variant->name, variant->mul);
    }
  }
#if LIMBS_HAVE_WORDS
  variants10.emplace_back("words", limbs::MontMul10Words);
#endif
  std::mt19937_64 rng(19);
  for (const auto& [n, cases, variants] : {std::tuple{32, 1000000, variants32}, std::tuple{10, 300000, variants10}}) {
    Modulus m = n == 32 ? RealP() : RealQ();
    for (int i = 0; i < cases; ++i) {
      if (i % 64 == 0 && i > 0) {
        const int kind = (i / 64) % 8;
        m = kind == 0 ? (n == 32 ? RealP() : RealQ()) : RandomModulus(rng, n, kind < 4 ? kind - 1 : -1);
        if (kind == 4)
          std::fill(m.limbs.begin() + 1 + static_cast<long>(rng() % static_cast<unsigned>(n - 1)), m.limbs.end(),
                    Limb{0});
        if (kind == 5) std::fill(m.limbs.begin(), m.limbs.end(), Limb{0xFFFF});
        SetFactor(m);
      }
      Limb ab[2][32];
      for (Limb* x : ab) {
        RandomOperand(rng, m, x);
        switch (rng() % 16) {
          case 0:
            std::fill(x, x + n, Limb{0});
            x[0] = static_cast<Limb>(rng() % 2);
            break;
          case 1:
            std::copy(m.limbs.begin(), m.limbs.end(), x);
            x[0] = static_cast<Limb>(x[0] + 1);
            break;
          default: break;
        }
      }
      Limb expected[32], got[32];
      const bool square = i % 8 == 0;
      const Limb* b = square ? ab[0] : ab[1];
      limbs::MontMulReference(ab[0], b, expected, m.limbs.data(), m.factor, static_cast<int16_t>(n));
      for (const auto& [name, mul] : variants) {
        if (square) {
          std::copy(ab[0], ab[0] + n, got);
          mul(got, got, got, m.limbs.data(), m.factor);
        } else {
          mul(ab[0], b, got, m.limbs.data(), m.factor);
        }
        ASSERT_TRUE(std::equal(got, got + n, expected)) << name << ", n = " << n << ", case " << i;
      }
    }
  }
}

#if LIMBS_HAVE_WORDS
// The word reduction equals the reference wherever it accepts the shape, and
// refuses the rest untouched, and mont_reduce equals it everywhere; the word inverse equals the reference for s
// random, small, near q, at or above q (taken modulo q), zero and powers of two.
TEST(Limbs, ReductionAndInverseVariantsEqualReference) {
  std::mt19937_64 rng(23);
  const std::array<int, 3> shapes[] = {{32, 32, 32}, {32, 10, 32}, {16, 5, 8}, {8, 8, 4}, {12, 5, 3}, {5, 5, 4}};
  for (int i = 0; i < 200000; ++i) {
    const auto& [xlen, mlen, steps] = shapes[i % 6];
    const int kind = i / 6 % 4;
    Modulus m = kind == 0 && mlen == 32   ? RealP()
                : kind == 0 && mlen == 10 ? RealQ()
                                          : RandomModulus(rng, mlen, kind - 1);
    Limb x[kMaxLimbs], expected[kMaxLimbs];
    RandomLimbs(rng, x, xlen);
    if (i % 11 == 0) std::fill(x, x + xlen, Limb{static_cast<Limb>(i % 2 == 0 ? 0xFFFF : 0)});
    std::copy(x, x + xlen, expected);
    const auto [x16, m16, s16] =
        std::array<int16_t, 3>{static_cast<int16_t>(xlen), static_cast<int16_t>(mlen), static_cast<int16_t>(steps)};
    limbs::MontReduceReference(expected, m.limbs.data(), m.factor, x16, m16, s16);
    Limb dispatched[kMaxLimbs];  // whatever mont_reduce picks for the shape
    std::copy(x, x + xlen, dispatched);
    mont_reduce(dispatched, m.limbs.data(), m.factor, x16, m16, s16);
    ASSERT_TRUE(std::equal(dispatched, dispatched + xlen, expected)) << "mont_reduce, case " << i;
    const bool taken = limbs::MontReduceWords(x, m.limbs.data(), m.factor, x16, m16, s16);
    ASSERT_EQ(taken, xlen % 4 == 0 && steps % 4 == 0 && (mlen < xlen || m.limbs.back() != 0xFFFF)) << "case " << i;
    if (!taken) limbs::MontReduceReference(x, m.limbs.data(), m.factor, x16, m16, s16);
    ASSERT_TRUE(std::equal(x, x + xlen, expected)) << xlen << "/" << mlen << "/" << steps << ", case " << i;
  }

  uint8_t q[20];
  limbs_to_bytes(kPrimeQ, q, 20);
  for (int i = 0; i < 200000; ++i) {
    uint8_t s[20];
    RandomBytes(rng, s, 20);
    switch (i % 8) {
      case 0: std::fill(s + 1 + rng() % 8, s + 20, uint8_t{0}); break;  // small
      case 1:
        std::copy(q, q + 20, s);
        s[rng() % 3] ^= static_cast<uint8_t>(rng());
        break;                                                  // near q
      case 2: std::fill(s + 17, s + 20, uint8_t{0xFF}); break;  // above q
      case 3:
        if (i % 64 == 3) std::copy(q, q + 20, s);
        if (i % 64 == 11) std::fill(s, s + 20, uint8_t{0});
        break;
      case 4:
        std::fill(s, s + 20, uint8_t{0});
        s[rng() % 20] = static_cast<uint8_t>(1 << rng() % 8);
        break;
      default: break;
    }
    Limb expected[10], got[10];
    limbs::ModInverseReference(s, kPrimeQ, expected);
    limbs::ModInverseWords(s, kPrimeQ, got);
    ASSERT_TRUE(std::equal(got, got + 10, expected)) << "case " << i;
  }
}
// The batched division steps are exactly 62 single ones, as a plain model
// takes them, for random odd f, g dense and sparse, and eta from -200 to 200:
// the same eta and the same matrix, which bounds the numbers of the inverse.
TEST(Limbs, DivStepsMatchOneAtATime) {
  std::mt19937_64 rng(24);
  for (int i = 0; i < 200000; ++i) {
    const uint64_t f0 = rng() | 1;
    const uint64_t g0 = i % 3 == 0 ? rng() & rng() & rng() : rng();
    const auto eta0 = static_cast<int64_t>(i % 4 == 0 ? rng() % 4 : rng() % 401) - (i % 4 == 0 ? 2 : 200);
    int64_t eta = eta0;
    uint64_t f = f0, g = g0;
    __extension__ __int128 ff = 1, fg = 0, gf = 0, gg = 1;  // 2^j (f, g) = matrix (f0, g0) after j steps
    for (int step = 0; step < 62; ++step) {
      if ((g & 1) != 0 && eta < 0) {
        eta = -eta;
        std::tie(f, g, ff, fg, gf, gg) = std::tuple(g, 0 - f, gf, gg, -ff, -fg);
      }
      if ((g & 1) != 0) std::tie(g, gf, gg) = std::tuple(g + f, gf + ff, gg + fg);
      std::tie(g, ff, fg, eta) = std::tuple(g >> 1, 2 * ff, 2 * fg, eta - 1);
    }
    limbs::DivStepTransition t;
    ASSERT_EQ(limbs::DivSteps62(eta0, f0, g0, t), eta) << "case " << i;
    ASSERT_TRUE(t.ff == ff && t.fg == fg && t.gf == gf && t.gg == gg) << "case " << i;
  }
}
#endif

// The largest number below 2^(16n) congruent to x modulo m.
void RaiseToLargestForm(Limb* x, const Modulus& m, BN_CTX* ctx) {
  const int n = m.n();
  Bn mod = FromLimbs(m.limbs.data(), n);
  Bn residue = Mod(FromLimbs(x, n).get(), mod.get(), ctx);
  Bn room = Sub(Sub(PowerOfTwo(16 * n).get(), BN_value_one()).get(), residue.get());
  Bn multiples = NewBn();
  BN_div(multiples.get(), nullptr, room.get(), mod.get(), ctx);
  BN_mul(multiples.get(), multiples.get(), mod.get(), ctx);
  ToLimbs(Add(residue.get(), multiples.get()).get(), x, n);
}

// Long chains in which each lazy result is fed back in, in place and as
// either operand, tracked by BIGNUM modulo m.  Every few steps the running
// value and the other operand are raised to their largest congruent form,
// and every fifty the chain goes on from 2^(16n) - 1, squared.
TEST(Limbs, MontMulLazyChains) {
  std::mt19937_64 rng(13);
  BnCtx ctx = NewCtx();
  std::vector<Modulus> moduli = {RealP(), RealQ()};
  for (int n : {10, 32, 17, 5, 1}) {
    for (int shape = 0; shape < 3; ++shape) moduli.push_back(RandomModulus(rng, n, shape));
  }
  for (const Variant& variant : kVariants) {
    for (const Modulus& m : moduli) {
      SCOPED_TRACE(variant.name);
      const int n = m.n();
      const auto n16 = static_cast<int16_t>(n);
      Bn mod = FromLimbs(m.limbs.data(), n);
      Bn r_inverse = ModInverse(Mod(PowerOfTwo(16 * n).get(), mod.get(), ctx.get()).get(), mod.get(), ctx.get());
      ASSERT_TRUE(r_inverse);
      Limb x[kMaxLimbs];
      RandomOperand(rng, m, x);
      Bn expected = Mod(FromLimbs(x, n).get(), mod.get(), ctx.get());
      for (int step = 0; step < 1500; ++step) {
        Limb y[kMaxLimbs];
        RandomOperand(rng, m, y);
        if (step % 4 == 1) RaiseToLargestForm(y, m, ctx.get());
        if (step % 4 != 0) RaiseToLargestForm(x, m, ctx.get());
        if (step % 50 == 0) {
          std::fill(x, x + n, Limb{0xFFFF});
          expected = Mod(FromLimbs(x, n).get(), mod.get(), ctx.get());
        }
        Bn factor = FromLimbs(y, n);
        switch (step % 50 == 0 ? 2 : step % 3) {
          case 0: variant.mul(x, y, x, m.limbs.data(), m.factor, n16); break;
          case 1: variant.mul(y, x, x, m.limbs.data(), m.factor, n16); break;
          default:
            variant.mul(x, x, x, m.limbs.data(), m.factor, n16);
            factor = Copy(expected.get());
            break;
        }
        expected = ModMul(ModMul(expected.get(), factor.get(), mod.get(), ctx.get()).get(), r_inverse.get(), mod.get(),
                          ctx.get());
        ASSERT_TRUE(Congruent(FromLimbs(x, n).get(), expected.get(), mod.get(), ctx.get()))
            << "n = " << n << ", step " << step;
      }
    }
  }
}

// x = (x + M * m) / 2^(16 * steps) exactly, with M = -x * m^-1 mod 2^(16 * steps);
// so with 32 steps modulo p the result is X * 2^-512 mod p in [0, p], and
// modulo q (10 limbs) it is at most q.
TEST(Limbs, MontReduceIsExactDivision) {
  std::mt19937_64 rng(16);
  BnCtx ctx = NewCtx();
  const std::array<int, 3> shapes[] = {{32, 32, 32}, {32, 10, 32}, {12, 5, 3}, {5, 5, 7}, {7, 1, 7}, {20, 10, 1}};
  for (const auto& [xlen, mlen, steps] : shapes) {
    for (int i = 0; i < 300; ++i) {
      const bool real = i % 2 == 0 && (mlen == 32 || mlen == 10);
      const Modulus m = real ? (mlen == 32 ? RealP() : RealQ()) : RandomModulus(rng, mlen);
      Limb x[kMaxLimbs + 2];
      std::fill(std::begin(x), std::end(x), kCanary);
      RandomLimbs(rng, x, xlen);
      if (i == 0) std::fill(x, x + xlen, Limb{0xFFFF});
      Bn before = FromLimbs(x, xlen);
      mont_reduce(x, m.limbs.data(), m.factor, static_cast<int16_t>(xlen), static_cast<int16_t>(mlen),
                  static_cast<int16_t>(steps));
      for (int j = xlen; j < kMaxLimbs + 2; ++j) ASSERT_EQ(x[j], kCanary);

      Bn mod = FromLimbs(m.limbs.data(), mlen);
      Bn radix = PowerOfTwo(16 * steps);
      Bn multiplier = ModMul(before.get(), ModInverse(mod.get(), radix.get(), ctx.get()).get(), radix.get(), ctx.get());
      multiplier = Mod(Sub(radix.get(), multiplier.get()).get(), radix.get(), ctx.get());
      Bn expected = NewBn();
      BN_mul(expected.get(), multiplier.get(), mod.get(), ctx.get());
      BN_add(expected.get(), expected.get(), before.get());
      BN_rshift(expected.get(), expected.get(), 16 * steps);
      ASSERT_TRUE(Equal(FromLimbs(x, xlen).get(), expected.get()))
          << xlen << "/" << mlen << "/" << steps << " from " << Hex(before.get());
      if (real && xlen == 32) {
        ASSERT_LE(BN_cmp(expected.get(), mod.get()), 0);
      }
    }
  }

  Limb x[32] = {};
  mont_reduce(x, kPrimeP, kFactorP, 32, 32, 32);
  EXPECT_TRUE(std::all_of(x, x + 32, [](Limb l) { return l == 0; })) << "0 reduces to 0";
  std::copy(kPrimeP, kPrimeP + 32, x);
  mont_reduce(x, kPrimeP, kFactorP, 32, 32, 32);
  EXPECT_TRUE(std::equal(x, x + 32, kPrimeP)) << "p reduces to p";
  mont_reduce(x, kPrimeP, kFactorP, 32, 32, 0);
  mont_reduce(x, kPrimeP, kFactorP, 32, 32, -1);
  EXPECT_TRUE(std::equal(x, x + 32, kPrimeP)) << "no steps, no change";
}

TEST(Limbs, SubtractionAndByteConversions) {
  std::mt19937_64 rng(18);
  for (int n = 1; n <= 32; ++n) {
    for (int i = 0; i < 50; ++i) {
      Limb a[kMaxLimbs + 1], b[kMaxLimbs];
      RandomLimbs(rng, a, n);
      RandomLimbs(rng, b, n);
      if (i == 1) std::fill(a, a + n, Limb{0});
      a[n] = kCanary;
      Bn expected = Sub(FromLimbs(a, n).get(), FromLimbs(b, n).get());
      if (BN_is_negative(expected.get())) expected = Add(expected.get(), PowerOfTwo(16 * n).get());  // a < b wraps
      limbs_sub(a, b, static_cast<int16_t>(n));
      ASSERT_TRUE(Equal(FromLimbs(a, n).get(), expected.get())) << "n = " << n;
      ASSERT_EQ(a[n], kCanary);
    }
  }

  // Odd counts: 5 bytes fill three limbs, the last with byte 4 alone, and
  // three limbs give 5 bytes, dropping the high byte of the last.
  const uint8_t five[5] = {0x01, 0x02, 0x03, 0x04, 0x05};
  Limb limbs[4] = {kCanary, kCanary, kCanary, kCanary};
  limbs_from_bytes(five, limbs, 5);
  EXPECT_EQ((std::array<Limb, 4>{limbs[0], limbs[1], limbs[2], limbs[3]}),
            (std::array<Limb, 4>{0x0201, 0x0403, 0x0005, kCanary}));
  const Limb three[3] = {0x1234, 0x5678, 0x9ABC};
  uint8_t bytes[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  limbs_to_bytes(three, bytes, 5);
  EXPECT_EQ((std::array<uint8_t, 6>{bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5]}),
            (std::array<uint8_t, 6>{0x34, 0x12, 0x78, 0x56, 0xBC, 0xEE}));

  for (int count : {20, 64}) {
    uint8_t in[64], out[64];
    Limb as_limbs[32];
    RandomBytes(rng, in, 64);
    limbs_from_bytes(in, as_limbs, static_cast<int16_t>(count));
    EXPECT_TRUE(Equal(FromLimbs(as_limbs, count / 2).get(), FromBytes(in, count).get())) << count;
    limbs_to_bytes(as_limbs, out, static_cast<int16_t>(count));
    EXPECT_TRUE(std::equal(in, in + count, out)) << count;
  }
}

using Windows = std::vector<std::pair<int, int>>;  // (position, digit) in order found

Windows Scan(const uint8_t* piece, int width) {
  Windows windows;
  int16_t position = 40;
  int16_t digit = -7;
  for (int calls = 0; calls <= 41; ++calls) {
    const int16_t previous_digit = digit;
    exp_window_next(piece, position, digit, static_cast<int16_t>(width));
    if (position < 0) {
      EXPECT_EQ(digit, previous_digit) << "digit written for an exhausted piece";
      return windows;
    }
    windows.emplace_back(position, digit);
  }
  ADD_FAILURE() << "scanner does not end";
  return windows;
}

TEST(Limbs, WindowScannerCases) {
  const uint8_t zero[5] = {};
  int16_t position = 40, digit = 99;
  exp_window_next(zero, position, digit, 5);
  EXPECT_EQ(position, -1);

  const uint8_t bit0[5] = {1, 0, 0, 0, 0};
  EXPECT_EQ(Scan(bit0, 5), (Windows{{0, 0}}));
  // Bits 25 and 20: the window from bit 25 down to bit 21 is trimmed to bit 25.
  const uint8_t bits_25_20[5] = {0x00, 0x00, 0x10, 0x02, 0x00};
  EXPECT_EQ(Scan(bits_25_20, 5), (Windows{{25, 0}, {20, 0}}));
  // Across a byte boundary: bits 17..13 = 10011.
  const uint8_t across[5] = {0x00, 0x60, 0x02, 0x00, 0x00};
  EXPECT_EQ(Scan(across, 5), (Windows{{13, 9}}));

  const uint8_t ones[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  Windows pairs, fives;
  for (int pos = 38; pos >= 0; pos -= 2) pairs.emplace_back(pos, 1);
  for (int pos = 35; pos >= 0; pos -= 5) fives.emplace_back(pos, 15);
  EXPECT_EQ(Scan(ones, 2), pairs);
  EXPECT_EQ(Scan(ones, 5), fives);
}

// The plain bitwise description of the scanner: from the highest set bit
// still unconsumed take `width` bits (fewer at the bottom), drop trailing zeros.
Windows ModelWindows(uint64_t value, int width) {
  Windows windows;
  while (value != 0) {
    const int top = 63 - __builtin_clzll(value);
    int low = std::max(top - width + 1, 0);
    uint64_t v = (value >> low) & ((uint64_t{1} << (top - low + 1)) - 1);
    for (; (v & 1) == 0; v >>= 1) ++low;
    windows.emplace_back(low, static_cast<int>((v - 1) / 2));
    value &= (uint64_t{1} << low) - 1;
  }
  return windows;
}

TEST(Limbs, WindowScannerReconstructsThePiece) {
  std::mt19937_64 rng(20);
  for (int trial = 0; trial < 6000; ++trial) {
    uint8_t piece[5];
    RandomBytes(rng, piece, 5);
    // Sparse pieces too: whole zero bytes and single bits test the byte steps.
    for (auto& byte : piece) {
      if (trial % 3 == 1 && rng() % 3 != 0) byte = 0;
      if (trial % 3 == 2) byte &= static_cast<uint8_t>(rng() & rng() & rng());
    }
    uint64_t value = 0;
    for (int i = 4; i >= 0; --i) value = value << 8 | piece[i];
    for (int width = 1; width <= 8; ++width) {
      const Windows windows = Scan(piece, width);
      ASSERT_EQ(windows, ModelWindows(value, width)) << std::hex << value << std::dec << ", width " << width;
      uint64_t sum = 0;
      for (const auto& [pos, dig] : windows) {
        ASSERT_LT(2 * dig + 1, 1 << width);
        sum += static_cast<uint64_t>(2 * dig + 1) << pos;
      }
      ASSERT_EQ(sum, value) << "width " << width;
    }
  }
}

using InverseFunction = void (*)(const uint8_t*, const Limb*, Limb*);

// mod_inverse as dispatched and each variant built here, whatever the
// dispatch picks.
const std::pair<const char*, InverseFunction> kInverses[] = {
    {"mod_inverse", mod_inverse},
    {"reference", limbs::ModInverseReference},
#if LIMBS_HAVE_WORDS
    {"words", limbs::ModInverseWords},
#endif
};

// Checks every inverse on q against BIGNUM: 1, 2, q - 2, q - 1, (q + 1) / 2
// and q itself, then random s below q, small s (one-byte divisors), s just
// below q, s of random bit length, s of one to three set bits, s with q's
// leading bytes, and s >= q (taken mod q).
void ExpectInversesModulo(const BIGNUM* q, int cases, std::mt19937_64& rng, BN_CTX* ctx) {
  Limb q_limbs[10];
  ToLimbs(q, q_limbs, 10);
  auto expect_inverse = [&](const BIGNUM* s, const BIGNUM* expected) {
    uint8_t bytes[20];
    ToBytes(s, bytes, 20);
    for (const auto& [name, inverse] : kInverses) {
      Limb out[11];
      out[10] = kCanary;
      inverse(bytes, q_limbs, out);
      ASSERT_EQ(out[10], kCanary) << name;
      ASSERT_TRUE(Equal(FromLimbs(out, 10).get(), expected)) << name << ", s = " << Hex(s) << "\nq = " << Hex(q);
    }
  };
  const Bn one = Word(1), two = Word(2), q_minus_1 = Sub(q, one.get()), above_q = Sub(PowerOfTwo(160).get(), q);
  Bn half = Add(q, one.get());
  BN_rshift1(half.get(), half.get());
  expect_inverse(one.get(), one.get());
  expect_inverse(two.get(), half.get());
  expect_inverse(half.get(), two.get());
  expect_inverse(Sub(q, two.get()).get(), Sub(q, half.get()).get());
  expect_inverse(q_minus_1.get(), q_minus_1.get());
  expect_inverse(q, Word(0).get());
  for (int i = 0; i < cases && !::testing::Test::HasFatalFailure(); ++i) {
    Bn s;
    switch (i % 7) {
      case 0: s = Word(static_cast<unsigned long>(rng() % 65536 + 1)); break;
      case 1: s = Sub(q, Word(static_cast<unsigned long>(rng() % 65536 + 1)).get()); break;
      case 2: s = Add(q, RandomBelow(rng, above_q.get(), ctx).get()); break;
      case 3: s = RandomBelow(rng, PowerOfTwo(static_cast<int>(rng() % 160 + 1)).get(), ctx); break;
      case 4: {
        const int low_bits = static_cast<int>(8 * (rng() % 18 + 1));
        s = Copy(q);
        BN_rshift(s.get(), s.get(), low_bits);
        BN_lshift(s.get(), s.get(), low_bits);
        s = Add(s.get(), RandomBelow(rng, PowerOfTwo(low_bits).get(), ctx).get());
        break;
      }
      case 5:
        s = Word(0);
        for (int bit = 0; bit <= i % 3; ++bit) BN_set_bit(s.get(), static_cast<int>(rng() % 160));
        break;
      default: s = RandomBelow(rng, q, ctx); break;
    }
    Bn reduced = Mod(s.get(), q, ctx);
    if (BN_is_zero(reduced.get())) continue;
    expect_inverse(s.get(), ModInverse(reduced.get(), q, ctx).get());
  }
}

// The compiled-in q, then random 160-bit primes of every residue modulo 8
// (the Newton steps towards q^-1 start from 3 or 4 correct bits), some just
// above 2^159 and some just below 2^160.
TEST(Limbs, InverseModuloQ) {
  std::mt19937_64 rng(21);
  BnCtx ctx = NewCtx();
  ExpectInversesModulo(FromLimbs(kPrimeQ, 10).get(), 3000, rng, ctx.get());
  for (int i = 0; i < 200 && !HasFatalFailure(); ++i) {
    uint8_t bytes[20];
    Bn q;
    do {
      RandomBytes(rng, bytes, 20);
      bytes[0] = static_cast<uint8_t>((bytes[0] & ~7) | (2 * i + 1) % 8);
      bytes[19] = i % 3 == 0 ? 0x80 : i % 3 == 1 ? 0xFF : bytes[19] | 0x80;
      q = FromBytes(bytes, 20);
    } while (BN_check_prime(q.get(), ctx.get(), nullptr) != 1);
    ExpectInversesModulo(q.get(), 300, rng, ctx.get());
  }
}

// Checks the combined exponentiation against BIGNUM: acc, out of Montgomery
// form, is g^u1 * y^u2 mod p.  The key table is built with BIGNUM: entries 2k
// and 2k + 1 are y^(2^(40k)) and its cube in Montgomery form.
class MultiExp : public ::testing::Test {
 protected:
  void SetUp() override {
    signtool::DsaKey key;
    std::string error;
    ASSERT_TRUE(signtool::LoadKey(BUILTIN_PUBLIC_KEY, signtool::KeyKind::kPublic, key, error)) << error;
    p_ = std::move(key.p);
    g_ = std::move(key.g);
    y_ = std::move(key.y);
    MakeKeyTable();
  }

  void MakeKeyTable() {
    for (int k = 0; k < 4; ++k) {
      Bn power = ModSquarings(y_.get(), 40 * k, p_.get(), ctx_.get());
      Bn cube = ModExp(power.get(), Word(3).get(), p_.get(), ctx_.get());
      ToLimbs(MontForm(power.get(), p_.get(), ctx_.get()).get(), key_table_[2 * k], 32);
      ToLimbs(MontForm(cube.get(), p_.get(), ctx_.get()).get(), key_table_[2 * k + 1], 32);
    }
  }

  void Expect(const uint8_t* u1, const uint8_t* u2, const Limb (*base_table)[32] = kBaseTable) {
    Limb acc[33];
    acc[32] = kCanary;
    mont_multi_exp(acc, u1, base_table, key_table_, u2, kPrimeP, kFactorP);
    ASSERT_EQ(acc[32], kCanary);
    Bn r_inverse = ModInverse(Mod(PowerOfTwo(512).get(), p_.get(), ctx_.get()).get(), p_.get(), ctx_.get());
    Bn got = ModMul(FromLimbs(acc, 32).get(), r_inverse.get(), p_.get(), ctx_.get());
    Bn e1 = FromBytes(u1, 20), e2 = FromBytes(u2, 20);
    Bn expected = ModMul(ModExp(g_.get(), e1.get(), p_.get(), ctx_.get()).get(),
                         ModExp(y_.get(), e2.get(), p_.get(), ctx_.get()).get(), p_.get(), ctx_.get());
    ASSERT_TRUE(Equal(got.get(), expected.get())) << "u1 = " << Hex(e1.get()) << "\nu2 = " << Hex(e2.get());
  }

  // Takes a base and a public value whose Montgomery forms lie below
  // 2^512 - p, whatever p is, and rebuilds both tables for them; then adds p
  // to every entry where the sum stays below 2^512.  The multi-exponentiation
  // does not need the bases to lie in the subgroup.
  void RaiseEntries(std::mt19937_64& rng, Limb (*base_table)[32]) {
    const Bn room = Sub(PowerOfTwo(512).get(), p_.get());
    const Bn r_inverse = ModInverse(Mod(PowerOfTwo(512).get(), p_.get(), ctx_.get()).get(), p_.get(), ctx_.get());
    g_ = ModMul(RandomBelow(rng, room.get(), ctx_.get()).get(), r_inverse.get(), p_.get(), ctx_.get());
    y_ = ModMul(RandomBelow(rng, room.get(), ctx_.get()).get(), r_inverse.get(), p_.get(), ctx_.get());
    MakeKeyTable();
    MakeBaseTable(g_.get(), p_.get(), base_table, ctx_.get());
    EXPECT_GT(RaiseByP(base_table, 64), 0);
    EXPECT_GT(RaiseByP(key_table_, 8), 0);
  }

  // Adds p to every entry where the sum stays below 2^512; returns how many.
  int RaiseByP(Limb (*table)[32], int entries) {
    int raised = 0;
    for (int i = 0; i < entries; ++i) {
      Bn entry = Add(FromLimbs(table[i], 32).get(), p_.get());
      if (BN_num_bits(entry.get()) > 512) continue;
      ToLimbs(entry.get(), table[i], 32);
      ++raised;
    }
    return raised;
  }

  BnCtx ctx_ = NewCtx();
  Bn p_, g_, y_;
  Limb key_table_[8][32];
};

// A 20-byte exponent with the given bits set.
std::array<uint8_t, 20> Exponent(std::initializer_list<int> bits) {
  std::array<uint8_t, 20> e{};
  for (int bit : bits) e[static_cast<size_t>(bit / 8)] |= static_cast<uint8_t>(1 << (bit % 8));
  return e;
}

// Random exponents, dense and sparse, one of them zero, all ones; then with
// table entries not below p (raised by p where that stays below 2^512), on
// bases chosen so that some are, however little room p leaves.
TEST_F(MultiExp, MatchesBignum) {
  std::mt19937_64 rng(22);
  static Limb base_table[64][32];
  for (int i = 0; i < 400; ++i) {
    std::array<uint8_t, 20> u1, u2;
    RandomBytes(rng, u1.data(), 20);
    RandomBytes(rng, u2.data(), 20);
    for (size_t j = 0; i % 4 == 1 && j < 20; ++j) {  // long runs of squarings between windows
      u1[j] &= static_cast<uint8_t>(rng() & rng() & rng());
      u2[j] &= static_cast<uint8_t>(rng() & rng() & rng());
    }
    if (i == 2) u1.fill(0);
    if (i == 3) u2.fill(0);
    if (i == 4) u1.fill(0xFF), u2.fill(0xFF);
    if (i == 300) RaiseEntries(rng, base_table);
    ASSERT_NO_FATAL_FAILURE(Expect(u1.data(), u2.data(), i < 300 ? kBaseTable : base_table)) << "case " << i;
  }
}

// The first windows of several scanners share the greatest position: the
// first is copied, the others are multiplied in before any squaring.
TEST_F(MultiExp, TiedFirstWindows) {
  const std::pair<std::array<uint8_t, 20>, std::array<uint8_t, 20>> cases[] = {
      {Exponent({39}), Exponent({39})},                              // base 0 and key 0
      {Exponent({79, 3}), Exponent({159, 119, 1})},                  // base 1, keys 2 and 3
      {Exponent({}), Exponent({39, 79, 119, 159})},                  // all four key scanners
      {Exponent({39, 79, 119, 159}), Exponent({39, 79, 119, 159})},  // all eight
      {Exponent({114, 112, 110}), Exponent({31, 30})},               // base 2 and key 0, at 30
      {Exponent({0}), Exponent({0})},                                // at 0: no squaring at all
      {Exponent({40, 0}), Exponent({120})},
  };
  for (const auto& [u1, u2] : cases) ASSERT_NO_FATAL_FAILURE(Expect(u1.data(), u2.data()));
}

}  // namespace
