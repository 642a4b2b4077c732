// SPDX-License-Identifier: ISC
// The 64-bit word variants of the Montgomery routines, for little-endian CPUs
// with a 128-bit product type.
#include "dsa/limbs_paths.h"

#if LIMBS_HAVE_WORDS

#include <cstring>

#include "dsa/limbs_words.h"

namespace limbs {

// Coarsely integrated operand scanning over words.  The intermediate stays
// below 2 * 2^512 (t[8] is 0 or 1), and it is the same number the 16-bit
// routine reaches: (a * b + M * m) / 2^512 for the one M below 2^512 that
// makes the division exact.
void MontMul32Words(const Limb* a16, const Limb* b16, Limb* out16, const Limb* m16, Limb factor) {
  uint64_t a[8], b[8], m[8], t[9] = {};
  std::memcpy(a, a16, sizeof a);
  std::memcpy(b, b16, sizeof b);
  std::memcpy(m, m16, sizeof m);
  const uint64_t k = WordFactor(m[0], factor);
  for (int i = 0; i < 8; ++i) {
    uint64_t carry = 0;
    for (int j = 0; j < 8; ++j) {
      const u128 p = static_cast<u128>(a[j]) * b[i] + t[j] + carry;
      t[j] = static_cast<uint64_t>(p);
      carry = static_cast<uint64_t>(p >> 64);
    }
    const u128 top = static_cast<u128>(t[8]) + carry;
    const uint64_t u = t[0] * k;
    u128 r = static_cast<u128>(u) * m[0] + t[0];
    carry = static_cast<uint64_t>(r >> 64);
    for (int j = 1; j < 8; ++j) {
      r = static_cast<u128>(u) * m[j] + t[j] + carry;
      t[j - 1] = static_cast<uint64_t>(r);
      carry = static_cast<uint64_t>(r >> 64);
    }
    const u128 high = top + carry;
    t[7] = static_cast<uint64_t>(high);
    t[8] = static_cast<uint64_t>(high >> 64);
  }
  if (t[8] != 0) {  // reached 2^512; below 2^512 + m, so one subtraction brings it below 2^512
    uint64_t borrow = 0;
    for (int j = 0; j < 8; ++j) {
      const u128 d = static_cast<u128>(t[j]) - m[j] - borrow;
      t[j] = static_cast<uint64_t>(d);
      borrow = static_cast<uint64_t>(d >> 64) & 1;
    }
  }
  std::memcpy(out16, t, 8 * sizeof(uint64_t));
}

// The same for 10 limbs: R = 2^160 is two words and a half, so the quotient
// is taken as two 64-bit digits and a 32-bit one; M below 2^160 is the same
// unique number either way.  t collects a * b + M * m, below 2^321.
void MontMul10Words(const Limb* a16, const Limb* b16, Limb* out16, const Limb* m16, Limb factor) {
  uint64_t a[3] = {}, b[3] = {}, m[3] = {}, t[6] = {};
  std::memcpy(a, a16, 20);
  std::memcpy(b, b16, 20);
  std::memcpy(m, m16, 20);
  for (int i = 0; i < 3; ++i) {
    uint64_t carry = 0;
    for (int j = 0; j < 3; ++j) {
      const u128 p = static_cast<u128>(a[j]) * b[i] + t[i + j] + carry;
      t[i + j] = static_cast<uint64_t>(p);
      carry = static_cast<uint64_t>(p >> 64);
    }
    t[i + 3] = carry;
  }
  const uint64_t k = WordFactor(m[0], factor);
  for (int i = 0; i < 3; ++i) {
    uint64_t u = t[i] * k;
    if (i == 2) u &= 0xFFFFFFFF;
    uint64_t carry = 0;
    for (int j = 0; j < 3; ++j) {
      const u128 p = static_cast<u128>(u) * m[j] + t[i + j] + carry;
      t[i + j] = static_cast<uint64_t>(p);
      carry = static_cast<uint64_t>(p >> 64);
    }
    for (int j = i + 3; j < 6 && carry != 0; ++j) {
      const u128 s = static_cast<u128>(t[j]) + carry;
      t[j] = static_cast<uint64_t>(s);
      carry = static_cast<uint64_t>(s >> 64);
    }
  }
  uint64_t r[3] = {t[2] >> 32 | t[3] << 32, t[3] >> 32 | t[4] << 32, t[4] >> 32 | t[5] << 32};
  if ((r[2] >> 32) != 0) {  // reached 2^160; below 2^160 + m, so one subtraction brings it below 2^160
    uint64_t borrow = 0;
    for (int j = 0; j < 3; ++j) {
      const u128 d = static_cast<u128>(r[j]) - m[j] - borrow;
      r[j] = static_cast<uint64_t>(d);
      borrow = static_cast<uint64_t>(d >> 64) & 1;
    }
  }
  std::memcpy(out16, r, 20);
}

bool MontReduceWords(Limb* x16, const Limb* m16, Limb factor, int16_t xlen, int16_t mlen, int16_t steps) {
  if (xlen <= 0 || mlen <= 0 || xlen < mlen || xlen > 32 || xlen % 4 != 0 || steps <= 0 || steps % 4 != 0) {
    return false;
  }
  if (mlen == xlen && m16[mlen - 1] == 0xFFFF) return false;  // the reference may drop a carry there
  const int xw = xlen / 4, mw = (mlen + 3) / 4;
  uint64_t x[8], m[8] = {};
  std::memcpy(x, x16, sizeof(uint64_t) * static_cast<size_t>(xw));
  std::memcpy(m, m16, sizeof(Limb) * static_cast<size_t>(mlen));
  const uint64_t k = WordFactor(m[0], factor);
  for (int step = 0; step < steps / 4; ++step) {
    const uint64_t u = x[0] * k;
    u128 r = static_cast<u128>(u) * m[0] + x[0];
    uint64_t carry = static_cast<uint64_t>(r >> 64);
    for (int j = 1; j < mw; ++j) {
      r = static_cast<u128>(u) * m[j] + x[j] + carry;
      x[j - 1] = static_cast<uint64_t>(r);
      carry = static_cast<uint64_t>(r >> 64);
    }
    for (int j = mw; j < xw; ++j) {
      r = static_cast<u128>(x[j]) + carry;
      x[j - 1] = static_cast<uint64_t>(r);
      carry = static_cast<uint64_t>(r >> 64);
    }
    x[xw - 1] = carry;
  }
  std::memcpy(x16, x, sizeof(uint64_t) * static_cast<size_t>(xw));
  return true;
}

namespace {

// A number below 2^192 in three words, least significant first.
struct Number3 {
  uint64_t w[3];
};

bool Below(const Number3& a, const Number3& b) {
  for (int i = 2; i >= 0; --i) {
    if (a.w[i] != b.w[i]) return a.w[i] < b.w[i];
  }
  return false;
}

bool IsZero(const Number3& a) { return (a.w[0] | a.w[1] | a.w[2]) == 0; }

void Subtract(Number3& a, const Number3& b) {  // a >= b, or wrapping modulo 2^192 on purpose
  uint64_t borrow = 0;
  for (int i = 0; i < 3; ++i) {
    const u128 d = static_cast<u128>(a.w[i]) - b.w[i] - borrow;
    a.w[i] = static_cast<uint64_t>(d);
    borrow = static_cast<uint64_t>(d >> 64) & 1;
  }
}

void Add(Number3& a, const Number3& b) {  // the sum stays below 2^192
  uint64_t carry = 0;
  for (int i = 0; i < 3; ++i) {
    const u128 s = static_cast<u128>(a.w[i]) + b.w[i] + carry;
    a.w[i] = static_cast<uint64_t>(s);
    carry = static_cast<uint64_t>(s >> 64);
  }
}

// x >> k for 0 < k < 64, and x << k where the result stays below 2^192.
void ShiftRight(Number3& x, int k) {
  x.w[0] = x.w[0] >> k | x.w[1] << (64 - k);
  x.w[1] = x.w[1] >> k | x.w[2] << (64 - k);
  x.w[2] >>= k;
}

void ShiftLeft(Number3& x, int k) {
  x.w[2] = x.w[2] << k | x.w[1] >> (64 - k);
  x.w[1] = x.w[1] << k | x.w[0] >> (64 - k);
  x.w[0] <<= k;
}

// Removes the factors of two from the even, nonzero x; returns how many.
int StripTwos(Number3& x) {
  int count = 0;
  while (x.w[0] == 0) {
    x.w[0] = x.w[1];
    x.w[1] = x.w[2];
    x.w[2] = 0;
    count += 64;
  }
  const int k = __builtin_ctzll(x.w[0]);
  if (k > 0) ShiftRight(x, k);
  return count + k;
}

// c = c * 2^-k mod q for c below q, 63 bits at a time: c + M * q divides
// exactly for the M below 2^j that cancels its low j bits, and the quotient
// stays below q.
void DivideByPowerOfTwoModQ(Number3& c, int k, const Number3& q, uint64_t q_inverse) {
  for (; k > 0; k -= 63) {
    const int j = k < 63 ? k : 63;
    const uint64_t multiple = (0 - c.w[0] * q_inverse) & ((uint64_t{1} << j) - 1);
    uint64_t t[4];
    u128 acc = 0;
    for (int i = 0; i < 3; ++i) {
      acc += static_cast<u128>(multiple) * q.w[i] + c.w[i];
      t[i] = static_cast<uint64_t>(acc);
      acc >>= 64;
    }
    t[3] = static_cast<uint64_t>(acc);
    for (int i = 0; i < 3; ++i) c.w[i] = t[i] >> j | t[i + 1] << (64 - j);
  }
}

// Shifts x left by k bits, in steps of at most 63; the result stays below 2^192.
void ShiftLeftBy(Number3& x, int k) {
  for (; k > 0; k -= 63) ShiftLeft(x, k < 63 ? k : 63);
}

}  // namespace

void ModInverseWords(const uint8_t* s_bytes, const Limb* q16, Limb* out) {
  Number3 q = {}, v = {};
  std::memcpy(q.w, q16, 20);
  std::memcpy(v.w, s_bytes, 20);
  if (!Below(v, q)) Subtract(v, q);  // one subtraction reduces any 160-bit s
  Number3 r = {}, s = {{1, 0, 0}}, u = q;
  if (IsZero(v)) {
    std::memcpy(out, r.w, 20);
    return;
  }
  uint64_t q_inverse = q.w[0];  // q^-1 mod 2^64: Newton from 3 correct bits
  for (int i = 0; i < 5; ++i) q_inverse *= 2 - q.w[0] * q_inverse;

  // Binary Euclid that leaves the powers of two for the end: with k halvings
  // so far, v * 2^k = s * x and u * 2^k = -r * x modulo q for the input x,
  // and q = u * s + v * r keeps r and s at most q until the last step, which
  // may double r.  Odd u and v: the difference of the larger and the smaller
  // replaces the larger, freed of its factors of two.  When v reaches 0, u is
  // gcd(x, q) = 1, so q - r (r below q) is x^-1 * 2^k.
  int k = (v.w[0] & 1) == 0 ? StripTwos(v) : 0;  // r = 0: nothing to double
  while (!IsZero(v)) {
    if (Below(v, u)) {
      Subtract(u, v);
      const int j = StripTwos(u);
      Add(r, s);
      ShiftLeftBy(s, j);
      k += j;
    } else {
      Subtract(v, u);
      const int j = IsZero(v) ? 1 : StripTwos(v);
      Add(s, r);
      ShiftLeftBy(r, j);
      k += j;
    }
  }
  if (!Below(r, q)) Subtract(r, q);
  Number3 inverse = q;
  Subtract(inverse, r);
  DivideByPowerOfTwoModQ(inverse, k, q, q_inverse);
  std::memcpy(out, inverse.w, 20);
}

}  // namespace limbs

#endif
