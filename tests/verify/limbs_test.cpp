// The limb arithmetic, cross-checked against OpenSSL's BIGNUM on random
// inputs over the whole lazy range (anything below 2^(16n)), with random odd
// moduli and with the real p and q.
#include "verify/limbs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/verify/bignum_util.h"
#include "tools/dsa_keys.h"
#include "verify/builtin_key.h"
#include "verify/limbs_avx2.h"

namespace {

using namespace bnutil;

constexpr int kMaxLimbs = 32;
constexpr Limb kCanary = 0xA5C3;

// -m^-1 mod 2^16 by Newton's iteration on the low limb.
Limb MontFactor(Limb m0) {
  uint32_t inverse = 1;
  for (int i = 0; i < 5; ++i) inverse *= 2u - m0 * inverse;
  return static_cast<Limb>(0u - inverse);
}

struct Modulus {
  std::vector<Limb> limbs;
  Limb factor;
  int n() const { return static_cast<int>(limbs.size()); }
};

// A random odd modulus of n limbs with a nonzero top limb.  Its top limb is
// all ones (close to the radix) for shape 0, 1 (far below it) for shape 1 and
// random otherwise; without a shape, one in four of each.
Modulus RandomModulus(std::mt19937_64& rng, int n, int shape = -1) {
  Modulus m{std::vector<Limb>(static_cast<size_t>(n)), 0};
  RandomLimbs(rng, m.limbs.data(), n);
  m.limbs[0] |= 1;
  Limb& top = m.limbs.back();
  switch (shape >= 0 ? shape : static_cast<int>(rng() % 4)) {
    case 0: top = 0xFFFF; break;
    case 1: top = n == 1 ? top : 1; break;
    default: if (top == 0) top = 0x8000;
  }
  m.factor = MontFactor(m.limbs[0]);
  return m;
}

Modulus RealP() { return {std::vector<Limb>(kPrimeP, kPrimeP + 32), kFactorP}; }
Modulus RealQ() { return {std::vector<Limb>(kPrimeQ, kPrimeQ + 10), kFactorQ}; }

// A lazy operand: mostly uniform below 2^(16n), sometimes all ones, sometimes
// just below or just above the modulus.
void RandomOperand(std::mt19937_64& rng, const Modulus& m, Limb* x) {
  const int n = m.n();
  RandomLimbs(rng, x, n);
  switch (rng() % 8) {
    case 0: std::fill(x, x + n, Limb{0xFFFF}); break;
    case 1: std::copy(m.limbs.begin(), m.limbs.end(), x); x[0] = static_cast<Limb>(x[0] - 1); break;
    case 2: std::copy(m.limbs.begin(), m.limbs.end(), x); break;
    case 3: x[n - 1] = 0xFFFF; break;
    default: break;
  }
}

using MulFunction = void (*)(const Limb*, const Limb*, Limb*, const Limb*, Limb, int16_t);

// The product as this CPU dispatches it, and the portable one that CPUs
// without the vector variant run; both must meet the contract.
struct Variant {
  const char* name;
  MulFunction mul;
};
const Variant kVariants[] = {{"mont_mul", mont_mul}, {"portable", MontMulPortable}};

// Checks out * 2^(16n) == a * b (mod m) for one product, and that nothing
// past n limbs of out is written.
void ExpectMontMul(const Limb* a, const Limb* b, const Modulus& m, BN_CTX* ctx, MulFunction mul = mont_mul) {
  const int n = m.n();
  Limb out[kMaxLimbs + 2];
  std::fill(std::begin(out), std::end(out), kCanary);
  mul(a, b, out, m.limbs.data(), m.factor, static_cast<int16_t>(n));
  for (int i = n; i < kMaxLimbs + 2; ++i) ASSERT_EQ(out[i], kCanary) << "limb " << i << " written, n = " << n;

  Bn mod = FromLimbs(m.limbs.data(), n);
  Bn lhs = NewBn(), rhs = NewBn();
  BN_lshift(lhs.get(), FromLimbs(out, n).get(), 16 * n);
  BN_mul(rhs.get(), FromLimbs(a, n).get(), FromLimbs(b, n).get(), ctx);
  ASSERT_TRUE(Congruent(lhs.get(), rhs.get(), mod.get(), ctx))
      << "n = " << n << "\n m = " << Hex(mod.get()) << "\n a = " << Hex(FromLimbs(a, n).get())
      << "\n b = " << Hex(FromLimbs(b, n).get()) << "\n out = " << Hex(FromLimbs(out, n).get());
}

const int kSizes[] = {1, 2, 5, 10, 17, 31, 32};

TEST(Limbs, MontMulMatchesBignumOnRandomModuli) {
  std::mt19937_64 rng(10);
  BnCtx ctx = NewCtx();
  for (const Variant& variant : kVariants) {
  SCOPED_TRACE(variant.name);
  for (int n : kSizes) {
    const int moduli = n == 10 || n == 32 ? 60 : 20;
    for (int i = 0; i < moduli; ++i) {
      const Modulus m = RandomModulus(rng, n);
      for (int j = 0; j < 25; ++j) {
        Limb a[kMaxLimbs], b[kMaxLimbs];
        RandomOperand(rng, m, a);
        RandomOperand(rng, m, b);
        ASSERT_NO_FATAL_FAILURE(ExpectMontMul(a, b, m, ctx.get(), variant.mul));
      }
    }
  }
  }
}

TEST(Limbs, MontMulMatchesBignumModuloPAndQ) {
  std::mt19937_64 rng(11);
  BnCtx ctx = NewCtx();
  for (const Variant& variant : kVariants) {
    SCOPED_TRACE(variant.name);
    for (const Modulus& m : {RealP(), RealQ()}) {
      for (int j = 0; j < 1000; ++j) {
        Limb a[kMaxLimbs], b[kMaxLimbs];
        RandomOperand(rng, m, a);
        RandomOperand(rng, m, b);
        ASSERT_NO_FATAL_FAILURE(ExpectMontMul(a, b, m, ctx.get(), variant.mul));
      }
    }
  }
}

// The largest lazy inputs: the top carry of the product no longer fits a
// 16-bit extra limb.
TEST(Limbs, MontMulOfAllOnesOperands) {
  std::mt19937_64 rng(12);
  BnCtx ctx = NewCtx();
  Limb ones[kMaxLimbs];
  std::fill(std::begin(ones), std::end(ones), Limb{0xFFFF});
  for (const Variant& variant : kVariants) {
    SCOPED_TRACE(variant.name);
    const MulFunction mul = variant.mul;
    for (int n : {10, 32}) {
      for (int i = 0; i < 1000; ++i) {
        const Modulus m = RandomModulus(rng, n);
        ASSERT_NO_FATAL_FAILURE(ExpectMontMul(ones, ones, m, ctx.get(), mul));
      }
    }
    for (int n : kSizes) {
      for (int i = 0; i < 60; ++i) {
        const Modulus m = RandomModulus(rng, n);
        Limb b[kMaxLimbs];
        RandomOperand(rng, m, b);
        ASSERT_NO_FATAL_FAILURE(ExpectMontMul(ones, ones, m, ctx.get(), mul));
        ASSERT_NO_FATAL_FAILURE(ExpectMontMul(ones, b, m, ctx.get(), mul));
        ASSERT_NO_FATAL_FAILURE(ExpectMontMul(b, ones, m, ctx.get(), mul));
      }
    }
    for (const Modulus& m : {RealP(), RealQ()}) ASSERT_NO_FATAL_FAILURE(ExpectMontMul(ones, ones, m, ctx.get(), mul));
  }
}

// Where the CPU has the vector product, it gives exactly the portable
// result, extreme operands and moduli included.
TEST(Limbs, VectorProductEqualsPortable) {
  if (!CpuHasAvx2()) GTEST_SKIP() << "no AVX2 on this CPU";
  std::mt19937_64 rng(19);
  for (int i = 0; i < 20000; ++i) {
    const Modulus m = i % 10 == 0 ? RealP() : RandomModulus(rng, 32);
    Limb a[32], b[32], vector[32], portable[32];
    RandomOperand(rng, m, a);
    RandomOperand(rng, m, b);
    MontMul32Avx2(a, b, vector, m.limbs.data(), m.factor);
    MontMulPortable(a, b, portable, m.limbs.data(), m.factor, 32);
    ASSERT_TRUE(std::equal(vector, vector + 32, portable)) << "case " << i;
    MontMulPortable(a, a, portable, m.limbs.data(), m.factor, 32);
    MontMul32Avx2(a, a, a, m.limbs.data(), m.factor);  // squaring in place
    ASSERT_TRUE(std::equal(a, a + 32, portable)) << "square, case " << i;
  }
}

std::vector<std::pair<Modulus, Variant>> Combinations(const std::vector<Modulus>& moduli) {
  std::vector<std::pair<Modulus, Variant>> all;
  for (const Variant& variant : kVariants) {
    for (const Modulus& m : moduli) all.emplace_back(m, variant);
  }
  return all;
}

// The largest number below 2^(16n) that is congruent to x modulo m: the
// laziest form of the same residue.
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
// either operand, tracked by BIGNUM modulo m, for each variant of the
// product.  Every few steps the running value and the other operand are
// raised to their largest congruent form, and every fifty the chain goes on
// from 2^(16n) - 1, squared.
TEST(Limbs, MontMulLazyChains) {
  std::mt19937_64 rng(13);
  BnCtx ctx = NewCtx();
  std::vector<Modulus> moduli = {RealP(), RealQ()};
  for (int n : {10, 32, 17, 5, 1}) {
    for (int shape = 0; shape < 3; ++shape) moduli.push_back(RandomModulus(rng, n, shape));
  }
  for (const auto& [m, variant] : Combinations(moduli)) {
    SCOPED_TRACE(variant.name);
    const MulFunction mul = variant.mul;
    const int n = m.n();
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
        case 0: mul(x, y, x, m.limbs.data(), m.factor, static_cast<int16_t>(n)); break;
        case 1: mul(y, x, x, m.limbs.data(), m.factor, static_cast<int16_t>(n)); break;
        default:
          mul(x, x, x, m.limbs.data(), m.factor, static_cast<int16_t>(n));
          factor = Copy(expected.get());
          break;
      }
      expected = ModMul(ModMul(expected.get(), factor.get(), mod.get(), ctx.get()).get(), r_inverse.get(),
                        mod.get(), ctx.get());
      ASSERT_TRUE(Congruent(FromLimbs(x, n).get(), expected.get(), mod.get(), ctx.get()))
          << "n = " << n << ", step " << step;
    }
  }
}

// out may be a, b or both; the result is the same as into a separate array.
TEST(Limbs, MontMulAliasing) {
  std::mt19937_64 rng(14);
  BnCtx ctx = NewCtx();
  for (const Variant& variant : kVariants) {
    SCOPED_TRACE(variant.name);
    const MulFunction mul = variant.mul;
    for (int n : kSizes) {
      for (int i = 0; i < 40; ++i) {
        const Modulus m = RandomModulus(rng, n);
        const auto n16 = static_cast<int16_t>(n);
        Limb a[kMaxLimbs], b[kMaxLimbs], separate[kMaxLimbs], square[kMaxLimbs];
        RandomOperand(rng, m, a);
        RandomOperand(rng, m, b);
        mul(a, b, separate, m.limbs.data(), m.factor, n16);
        mul(a, a, square, m.limbs.data(), m.factor, n16);

        Limb into_a[kMaxLimbs], into_b[kMaxLimbs], in_place[kMaxLimbs];
        std::copy(a, a + n, into_a);
        std::copy(b, b + n, into_b);
        std::copy(a, a + n, in_place);
        mul(into_a, b, into_a, m.limbs.data(), m.factor, n16);
        mul(a, into_b, into_b, m.limbs.data(), m.factor, n16);
        mul(in_place, in_place, in_place, m.limbs.data(), m.factor, n16);
        ASSERT_TRUE(std::equal(separate, separate + n, into_a)) << "n = " << n;
        ASSERT_TRUE(std::equal(separate, separate + n, into_b)) << "n = " << n;
        ASSERT_TRUE(std::equal(square, square + n, in_place)) << "n = " << n;
        ASSERT_NO_FATAL_FAILURE(ExpectMontMul(a, a, m, ctx.get(), mul));
      }
    }
  }
}

// With a = b = R mod m (the Montgomery form of 1) the product is R mod m again.
TEST(Limbs, MontMulOfMontgomeryOne) {
  std::mt19937_64 rng(15);
  BnCtx ctx = NewCtx();
  std::vector<Modulus> moduli = {RealP(), RealQ()};
  for (int n : kSizes) moduli.push_back(RandomModulus(rng, n));
  for (const Modulus& m : moduli) {
    const int n = m.n();
    Bn mod = FromLimbs(m.limbs.data(), n);
    Bn one = Mod(PowerOfTwo(16 * n).get(), mod.get(), ctx.get());
    Limb x[kMaxLimbs];
    ToLimbs(one.get(), x, n);
    mont_mul(x, x, x, m.limbs.data(), m.factor, static_cast<int16_t>(n));
    EXPECT_TRUE(Congruent(FromLimbs(x, n).get(), one.get(), mod.get(), ctx.get())) << "n = " << n;
  }
}

// x = (x + M * m) / 2^(16 * steps) exactly, with M = -x * m^-1 mod 2^(16 * steps).
TEST(Limbs, MontReduceIsExactDivision) {
  std::mt19937_64 rng(16);
  BnCtx ctx = NewCtx();
  const std::array<int, 3> shapes[] = {{32, 32, 32}, {32, 10, 32}, {12, 5, 3}, {5, 5, 7}, {7, 1, 7}, {20, 10, 1}, {3, 3, 3}};
  for (const auto& [xlen, mlen, steps] : shapes) {
    for (int i = 0; i < 200; ++i) {
      const Modulus m = mlen == 32 && i % 2 == 0 ? RealP() : mlen == 10 && i % 2 == 0 ? RealQ() : RandomModulus(rng, mlen);
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
    }
  }
}

TEST(Limbs, MontReduceRanges) {
  std::mt19937_64 rng(17);
  BnCtx ctx = NewCtx();
  Bn p = FromLimbs(kPrimeP, 32), q = FromLimbs(kPrimeQ, 10);
  Bn r_inverse_p = ModInverse(Mod(PowerOfTwo(512).get(), p.get(), ctx.get()).get(), p.get(), ctx.get());
  Bn r_inverse_q = ModInverse(Mod(PowerOfTwo(512).get(), q.get(), ctx.get()).get(), q.get(), ctx.get());

  // Out of Montgomery form modulo p: 0 <= result <= p.
  Limb x[32] = {};
  mont_reduce(x, kPrimeP, kFactorP, 32, 32, 32);
  EXPECT_TRUE(std::all_of(x, x + 32, [](Limb l) { return l == 0; }));
  std::copy(kPrimeP, kPrimeP + 32, x);
  mont_reduce(x, kPrimeP, kFactorP, 32, 32, 32);
  EXPECT_TRUE(std::equal(x, x + 32, kPrimeP)) << "p reduces to p";

  for (int i = 0; i < 2000; ++i) {
    RandomLimbs(rng, x, 32);
    if (i == 0) std::fill(x, x + 32, Limb{0xFFFF});
    Bn before = FromLimbs(x, 32);
    Limb y[32];
    std::copy(x, x + 32, y);

    mont_reduce(x, kPrimeP, kFactorP, 32, 32, 32);
    Bn after = FromLimbs(x, 32);
    ASSERT_LE(BN_cmp(after.get(), p.get()), 0);
    ASSERT_TRUE(Congruent(after.get(), ModMul(before.get(), r_inverse_p.get(), p.get(), ctx.get()).get(), p.get(), ctx.get()));

    // Towards q: a 32-limb number shrinks to at most q, congruent to X * 2^-512.
    mont_reduce(y, kPrimeQ, kFactorQ, 32, 10, 32);
    after = FromLimbs(y, 32);
    ASSERT_LE(BN_cmp(after.get(), q.get()), 0);
    ASSERT_TRUE(Congruent(after.get(), ModMul(before.get(), r_inverse_q.get(), q.get(), ctx.get()).get(), q.get(), ctx.get()));
  }

  // No steps, no change.
  RandomLimbs(rng, x, 32);
  Limb copy[32];
  std::copy(x, x + 32, copy);
  mont_reduce(x, kPrimeP, kFactorP, 32, 32, 0);
  mont_reduce(x, kPrimeP, kFactorP, 32, 32, -1);
  EXPECT_TRUE(std::equal(x, x + 32, copy));
}

TEST(Limbs, SubtractionWrapsModuloTheRadix) {
  std::mt19937_64 rng(18);
  BnCtx ctx = NewCtx();
  for (int n = 1; n <= 32; ++n) {
    for (int i = 0; i < 50; ++i) {
      Limb a[kMaxLimbs + 1], b[kMaxLimbs];
      RandomLimbs(rng, a, n);
      RandomLimbs(rng, b, n);
      if (i % 3 == 0) std::swap_ranges(a, a + n, b);  // no order implied
      if (i == 1) std::fill(a, a + n, Limb{0});
      a[n] = kCanary;
      Bn expected = Sub(FromLimbs(a, n).get(), FromLimbs(b, n).get());
      if (BN_is_negative(expected.get())) expected = Add(expected.get(), PowerOfTwo(16 * n).get());
      limbs_sub(a, b, static_cast<int16_t>(n));
      ASSERT_TRUE(Equal(FromLimbs(a, n).get(), expected.get())) << "n = " << n;
      ASSERT_EQ(a[n], kCanary);
    }
  }
  Limb a[3] = {1, 0, 0}, b[3] = {2, 0, 0};
  limbs_sub(a, b, 3);
  EXPECT_EQ((std::array<Limb, 3>{a[0], a[1], a[2]}), (std::array<Limb, 3>{0xFFFF, 0xFFFF, 0xFFFF}));
  limbs_sub(a, a, 3);
  EXPECT_EQ((std::array<Limb, 3>{a[0], a[1], a[2]}), (std::array<Limb, 3>{0, 0, 0}));
}

TEST(Limbs, ByteConversions) {
  const uint8_t five[5] = {0x01, 0x02, 0x03, 0x04, 0x05};
  Limb limbs[4] = {kCanary, kCanary, kCanary, kCanary};
  limbs_from_bytes(five, limbs, 5);
  EXPECT_EQ(limbs[0], 0x0201);
  EXPECT_EQ(limbs[1], 0x0403);
  EXPECT_EQ(limbs[2], 0x0005);
  EXPECT_EQ(limbs[3], kCanary);

  const Limb three[3] = {0x1234, 0x5678, 0x9ABC};
  uint8_t bytes[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  limbs_to_bytes(three, bytes, 5);
  EXPECT_EQ((std::array<uint8_t, 6>{bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5]}),
            (std::array<uint8_t, 6>{0x34, 0x12, 0x78, 0x56, 0xBC, 0xEE}));

  std::mt19937_64 rng(19);
  for (int count : {1, 2, 19, 20, 64}) {
    uint8_t in[64], out[65];
    RandomBytes(rng, in, 64);
    Limb as_limbs[33];
    std::fill(std::begin(as_limbs), std::end(as_limbs), kCanary);
    std::fill(std::begin(out), std::end(out), uint8_t{0xEE});
    limbs_from_bytes(in, as_limbs, static_cast<int16_t>(count));
    EXPECT_EQ(as_limbs[(count + 1) / 2], kCanary) << count;
    EXPECT_TRUE(Equal(FromLimbs(as_limbs, (count + 1) / 2).get(), FromBytes(in, count).get())) << count;
    limbs_to_bytes(as_limbs, out, static_cast<int16_t>(count));
    EXPECT_TRUE(std::equal(in, in + count, out)) << count;
    EXPECT_EQ(out[count], 0xEE) << count;
  }
}

// Windows of one piece, in the order found, with the position and digit of each.
std::vector<std::pair<int, int>> Windows(const uint8_t* piece, int width) {
  std::vector<std::pair<int, int>> windows;
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

uint64_t PieceValue(const uint8_t* piece) {
  uint64_t v = 0;
  for (int i = 4; i >= 0; --i) v = v << 8 | piece[i];
  return v;
}

TEST(Limbs, WindowScannerCases) {
  const uint8_t zero[5] = {};
  int16_t position = 40, digit = 99;
  exp_window_next(zero, position, digit, 5);
  EXPECT_EQ(position, -1);
  EXPECT_EQ(digit, 99);

  const uint8_t bit0[5] = {1, 0, 0, 0, 0};
  EXPECT_EQ(Windows(bit0, 5), (std::vector<std::pair<int, int>>{{0, 0}}));
  EXPECT_EQ(Windows(bit0, 2), (std::vector<std::pair<int, int>>{{0, 0}}));

  // Bits 25 and 20: the window from bit 25 down to bit 21 is trimmed to bit 25.
  const uint8_t bits_25_20[5] = {0x00, 0x00, 0x10, 0x02, 0x00};
  EXPECT_EQ(Windows(bits_25_20, 5), (std::vector<std::pair<int, int>>{{25, 0}, {20, 0}}));

  const uint8_t bit39[5] = {0, 0, 0, 0, 0x80};
  EXPECT_EQ(Windows(bit39, 5), (std::vector<std::pair<int, int>>{{39, 0}}));

  // Width 5 across a byte boundary: bits 17..13 = 10011.
  const uint8_t across[5] = {0x00, 0x60, 0x02, 0x00, 0x00};
  EXPECT_EQ(Windows(across, 5), (std::vector<std::pair<int, int>>{{13, 9}}));

  // All ones: width 2 gives digit 1 (value 3) everywhere; width 5 digit 15.
  const uint8_t ones[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  std::vector<std::pair<int, int>> expected;
  for (int pos = 38; pos >= 0; pos -= 2) expected.emplace_back(pos, 1);
  EXPECT_EQ(Windows(ones, 2), expected);
  expected.clear();
  for (int pos = 35; pos >= 0; pos -= 5) expected.emplace_back(pos, 15);
  EXPECT_EQ(Windows(ones, 5), expected);
}

// The plain bitwise description of the scanner: from the highest set bit
// still unconsumed, take `width` bits (fewer at the bottom), drop trailing
// zeros.
std::vector<std::pair<int, int>> ModelWindows(uint64_t value, int width) {
  std::vector<std::pair<int, int>> windows;
  while (value != 0) {
    const int top = 63 - __builtin_clzll(value);
    int low = std::max(top - width + 1, 0);
    uint64_t v = (value >> low) & ((uint64_t{1} << (top - low + 1)) - 1);
    while ((v & 1) == 0) {
      v >>= 1;
      ++low;
    }
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
    if (trial % 3 == 1) {
      for (auto& byte : piece) byte = rng() % 3 == 0 ? byte : uint8_t{0};
    } else if (trial % 3 == 2) {
      for (auto& byte : piece) byte &= static_cast<uint8_t>(rng() & rng() & rng());
    }
    const uint64_t value = PieceValue(piece);
    for (int width = 1; width <= 8; ++width) {
      const auto windows = Windows(piece, width);
      ASSERT_EQ(windows, ModelWindows(value, width)) << "piece " << std::hex << value << std::dec << " width " << width;
      if (width != 2 && width != 5) continue;
      uint64_t sum = 0;
      int previous = 40;
      for (const auto& [position, digit] : windows) {
        ASSERT_LT(position, previous);
        ASSERT_GE(digit, 0);
        ASSERT_LT(2 * digit + 1, 1 << width);
        sum += static_cast<uint64_t>(2 * digit + 1) << position;
        previous = position;
      }
      ASSERT_EQ(sum, value) << "width " << width;
    }
  }
}

TEST(Limbs, InverseModuloQ) {
  std::mt19937_64 rng(21);
  BnCtx ctx = NewCtx();
  Bn q = FromLimbs(kPrimeQ, 10);
  auto check = [&](const BIGNUM* s, const BIGNUM* expected) {
    uint8_t bytes[20];
    ToBytes(s, bytes, 20);
    Limb out[11];
    out[10] = kCanary;
    mod_inverse_q(bytes, out);
    EXPECT_EQ(out[10], kCanary);
    EXPECT_TRUE(Equal(FromLimbs(out, 10).get(), expected)) << "s = " << Hex(s) << "\n got " << Hex(FromLimbs(out, 10).get());
    return !::testing::Test::HasFailure();
  };
  auto inverse = [&](const BIGNUM* s) { return ModInverse(Mod(s, q.get(), ctx.get()).get(), q.get(), ctx.get()); };

  Bn q_plus_1_half = Add(q.get(), BN_value_one());
  BN_rshift1(q_plus_1_half.get(), q_plus_1_half.get());
  Bn q_minus_1 = Sub(q.get(), BN_value_one());
  check(Word(1).get(), Word(1).get());
  check(Word(2).get(), q_plus_1_half.get());
  check(q_minus_1.get(), q_minus_1.get());
  check(q.get(), Word(0).get());
  check(Word(0).get(), Word(0).get());

  // Random s below q, small s (one-byte divisor steps), s near q, and s >= q
  // (taken modulo q).
  Bn top = PowerOfTwo(160);
  for (int i = 0; i < 3000; ++i) {
    Bn s;
    switch (i % 6) {
      case 0: s = Word(static_cast<unsigned long>(rng() % 65536 + 1)); break;
      case 1: s = Sub(q.get(), Word(static_cast<unsigned long>(rng() % 65536 + 1)).get()); break;
      case 2: s = Add(q.get(), RandomBelow(rng, Sub(top.get(), q.get()).get(), ctx.get()).get()); break;
      case 3: {  // leading bytes equal to q's
        s = RandomBelow(rng, PowerOfTwo(static_cast<int>(8 * (rng() % 18 + 1))).get(), ctx.get());
        Bn high = Copy(q.get());
        BN_rshift(high.get(), high.get(), BN_num_bits(s.get()) + 8);
        BN_lshift(high.get(), high.get(), BN_num_bits(s.get()) + 8);
        s = Add(high.get(), s.get());
        break;
      }
      case 4: s = RandomBelow(rng, PowerOfTwo(static_cast<int>(rng() % 160 + 1)).get(), ctx.get()); break;
      default: s = RandomBelow(rng, q.get(), ctx.get()); break;
    }
    if (BN_is_zero(Mod(s.get(), q.get(), ctx.get()).get())) continue;
    ASSERT_TRUE(check(s.get(), inverse(s.get()).get())) << "case " << i;
  }
}

// The key table of the verification built with BIGNUM: entries 2k and 2k + 1
// are y^(2^(40k)) and its cube, in Montgomery form.
struct Domain {
  Bn p, q, g, y;
};

Domain DevelopmentDomain() {
  signtool::DsaKey key;
  std::string error;
  EXPECT_TRUE(signtool::LoadKey(SOURCE_DIR "/keys/development.pub", signtool::KeyKind::kPublic, key, error)) << error;
  return {std::move(key.p), std::move(key.q), std::move(key.g), std::move(key.y)};
}

void BuildKeyTable(const Domain& d, Limb (*table)[32], BN_CTX* ctx) {
  for (int k = 0; k < 4; ++k) {
    Bn power = ModSquarings(d.y.get(), 40 * k, d.p.get(), ctx);
    Bn cube = ModExp(power.get(), Word(3).get(), d.p.get(), ctx);
    ToLimbs(MontForm(power.get(), d.p.get(), ctx).get(), table[2 * k], 32);
    ToLimbs(MontForm(cube.get(), d.p.get(), ctx).get(), table[2 * k + 1], 32);
  }
}

// Adds p to every entry where the sum stays below 2^512; returns how many.
int RaiseByP(Limb (*table)[32], int entries, const BIGNUM* p) {
  int raised = 0;
  for (int i = 0; i < entries; ++i) {
    Bn raised_entry = Add(FromLimbs(table[i], 32).get(), p);
    if (BN_num_bits(raised_entry.get()) > 512) continue;
    ToLimbs(raised_entry.get(), table[i], 32);
    ++raised;
  }
  return raised;
}

void ExpectMultiExp(const Domain& d, const Limb (*base_table)[32], const Limb (*key_table)[32], const uint8_t* u1,
                    const uint8_t* u2, BN_CTX* ctx) {
  Limb acc[34];
  acc[32] = acc[33] = kCanary;
  if (base_table == kBaseTable) {
    mont_multi_exp(acc, u1, key_table, u2);
  } else {
    mont_multi_exp_with_base(acc, u1, base_table, key_table, u2);
  }
  ASSERT_EQ(acc[32], kCanary);
  Bn r_inverse = ModInverse(Mod(PowerOfTwo(512).get(), d.p.get(), ctx).get(), d.p.get(), ctx);
  Bn got = ModMul(FromLimbs(acc, 32).get(), r_inverse.get(), d.p.get(), ctx);
  Bn e1 = FromBytes(u1, 20), e2 = FromBytes(u2, 20);
  Bn expected = ModMul(ModExp(d.g.get(), e1.get(), d.p.get(), ctx).get(),
                       ModExp(d.y.get(), e2.get(), d.p.get(), ctx).get(), d.p.get(), ctx);
  ASSERT_TRUE(Equal(got.get(), expected.get())) << "u1 = " << Hex(e1.get()) << "\nu2 = " << Hex(e2.get());
}

// A 20-byte exponent with the given bits set.
std::array<uint8_t, 20> Exponent(std::initializer_list<int> bits) {
  std::array<uint8_t, 20> e{};
  for (int bit : bits) e[static_cast<size_t>(bit / 8)] |= static_cast<uint8_t>(1 << (bit % 8));
  return e;
}

TEST(Limbs, MultiExpMatchesBignum) {
  std::mt19937_64 rng(22);
  BnCtx ctx = NewCtx();
  const Domain d = DevelopmentDomain();
  Limb key_table[8][32];
  BuildKeyTable(d, key_table, ctx.get());

  for (int i = 0; i < 300; ++i) {
    std::array<uint8_t, 20> u1, u2;
    RandomBytes(rng, u1.data(), 20);
    RandomBytes(rng, u2.data(), 20);
    if (i % 4 == 1) {  // sparse exponents: long runs of squarings between windows
      for (size_t j = 0; j < 20; ++j) {
        u1[j] &= static_cast<uint8_t>(rng() & rng() & rng());
        u2[j] &= static_cast<uint8_t>(rng() & rng() & rng());
      }
    }
    if (i == 2) u1.fill(0);
    if (i == 3) u2.fill(0);
    if (i == 4) u1.fill(0xFF), u2.fill(0xFF);
    ASSERT_NO_FATAL_FAILURE(ExpectMultiExp(d, kBaseTable, key_table, u1.data(), u2.data(), ctx.get())) << "case " << i;
  }
}

// The first windows of several scanners share the greatest position: the
// first is copied, the others are multiplied in before any squaring.
TEST(Limbs, MultiExpWithTiedFirstWindows) {
  BnCtx ctx = NewCtx();
  const Domain d = DevelopmentDomain();
  Limb key_table[8][32];
  BuildKeyTable(d, key_table, ctx.get());
  const std::pair<std::array<uint8_t, 20>, std::array<uint8_t, 20>> cases[] = {
      {Exponent({39}), Exponent({39})},                          // base 0 and key 0
      {Exponent({79, 3}), Exponent({159, 119, 1})},              // base 1, keys 3 and 2
      {Exponent({}), Exponent({39, 79, 119, 159})},              // all four key scanners
      {Exponent({39, 79, 119, 159}), Exponent({39, 79, 119, 159})},  // all eight
      {Exponent({0}), Exponent({0})},                            // at position 0: no squaring at all
      {Exponent({40, 0}), Exponent({120})},                      // every window at position 0
      {Exponent({114, 112, 110}), Exponent({31, 30})},           // base 2 and key 0, both at 30
      {Exponent({37, 36, 35}), Exponent({})},
  };
  for (const auto& [u1, u2] : cases) {
    ASSERT_NO_FATAL_FAILURE(ExpectMultiExp(d, kBaseTable, key_table, u1.data(), u2.data(), ctx.get()));
  }
}

// Entries not below p (raised by p where that stays below 2^512) are used as
// they are.
TEST(Limbs, MultiExpWithUnreducedTables) {
  std::mt19937_64 rng(23);
  BnCtx ctx = NewCtx();
  const Domain d = DevelopmentDomain();
  Limb key_table[8][32];
  BuildKeyTable(d, key_table, ctx.get());
  static Limb base_table[64][32];
  std::memcpy(base_table, kBaseTable, sizeof base_table);
  EXPECT_GT(RaiseByP(base_table, 64, d.p.get()), 10);
  RaiseByP(key_table, 8, d.p.get());
  for (int i = 0; i < 100; ++i) {
    std::array<uint8_t, 20> u1, u2;
    RandomBytes(rng, u1.data(), 20);
    RandomBytes(rng, u2.data(), 20);
    ASSERT_NO_FATAL_FAILURE(ExpectMultiExp(d, base_table, key_table, u1.data(), u2.data(), ctx.get()));
  }
}

}  // namespace
