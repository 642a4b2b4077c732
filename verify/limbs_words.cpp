// The 64-bit word variants of the Montgomery routines, for little-endian CPUs
// with a 128-bit product type.
#include "verify/limbs_paths.h"

#if LIMBS_HAVE_WORDS

#include <cstring>

#include "verify/builtin_key.h"
#include "verify/limbs_words.h"

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

bool Same(const Number3& a, const Number3& b) { return a.w[0] == b.w[0] && a.w[1] == b.w[1] && a.w[2] == b.w[2]; }

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

// a = a - b mod q for a, b below q (below 2^160, so a + q cannot overflow).
void SubtractModQ(Number3& a, const Number3& b, const Number3& q) {
  if (Below(a, b)) Add(a, q);
  Subtract(a, b);
}

// Divides the even, nonzero x by its largest power of two 2^k and c (below q)
// by 2^k modulo q, 63 bits at a time: c + M * q is exact to divide for the M
// below 2^k that cancels its low k bits, and the quotient stays below q.
void StripTwos(Number3& x, Number3& c, const Number3& q, uint64_t q_inverse) {
  for (;;) {
    const int k = x.w[0] != 0 ? __builtin_ctzll(x.w[0]) : 63;
    if (k == 0) return;
    x.w[0] = x.w[0] >> k | x.w[1] << (64 - k);
    x.w[1] = x.w[1] >> k | x.w[2] << (64 - k);
    x.w[2] >>= k;
    const uint64_t multiple = (0 - c.w[0] * q_inverse) & ((uint64_t{1} << k) - 1);
    uint64_t t[4];
    u128 acc = 0;
    for (int i = 0; i < 3; ++i) {
      acc += static_cast<u128>(multiple) * q.w[i] + c.w[i];
      t[i] = static_cast<uint64_t>(acc);
      acc >>= 64;
    }
    t[3] = static_cast<uint64_t>(acc);
    for (int i = 0; i < 3; ++i) c.w[i] = t[i] >> k | t[i + 1] << (64 - k);
  }
}

}  // namespace

void ModInverseQWords(const uint8_t* s_bytes, Limb* out) {
  Number3 q = {}, u = {};
  std::memcpy(q.w, kPrimeQ, 20);
  std::memcpy(u.w, s_bytes, 20);
  if (!Below(u, q)) Subtract(u, q);  // one subtraction reduces any 160-bit s
  Number3 x1 = {{1, 0, 0}}, x2 = {}, v = q;
  if (u.w[0] == 0 && u.w[1] == 0 && u.w[2] == 0) {
    std::memcpy(out, x2.w, 20);
    return;
  }
  uint64_t q_inverse = q.w[0];  // q^-1 mod 2^64: Newton from 3 correct bits
  for (int i = 0; i < 5; ++i) q_inverse *= 2 - q.w[0] * q_inverse;

  // Binary extended Euclid: u = x1 * s and v = x2 * s modulo q, u and v odd;
  // the difference of the larger and the smaller is even and replaces the
  // larger, halved until odd.  They meet at gcd(s, q) = 1, where x1 = s^-1.
  if ((u.w[0] & 1) == 0) StripTwos(u, x1, q, q_inverse);
  while (!Same(u, v)) {
    if (Below(v, u)) {
      Subtract(u, v);
      SubtractModQ(x1, x2, q);
      StripTwos(u, x1, q, q_inverse);
    } else {
      Subtract(v, u);
      SubtractModQ(x2, x1, q);
      StripTwos(v, x2, q, q_inverse);
    }
  }
  std::memcpy(out, x1.w, 20);
}

}  // namespace limbs

#endif
