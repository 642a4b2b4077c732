// SPDX-License-Identifier: ISC
// The 64-bit word variants of the Montgomery routines and of the inverse
// modulo q, for little-endian CPUs with a 128-bit product type.
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

// Several steps at once: the halvings by a count of trailing zeros, and k of
// the others as g = (g + w f) / 2^k for the w below 2^k that makes it exact,
// k at most 6, eta + 1 (past it eta could turn negative again) and the steps
// left.
int64_t DivSteps62(int64_t eta, uint64_t f, uint64_t g, DivStepTransition& t) {
  uint64_t ff = 1, fg = 0, gf = 0, gg = 1;  // on 64-bit words, two's complement
  int left = 62;
  for (;;) {
    // The halvings at once; the bit at `left` stops the count there.
    const int zeros = __builtin_ctzll(g | UINT64_MAX << left);
    g >>= zeros;
    ff <<= zeros;
    fg <<= zeros;
    eta -= zeros;
    left -= zeros;
    if (left == 0) break;
    if (eta < 0) {
      eta = -eta;
      const uint64_t f0 = f, ff0 = ff, fg0 = fg;
      f = g;
      ff = gf;
      fg = gg;
      g = 0 - f0;
      gf = 0 - ff0;
      gg = 0 - fg0;
    }
    const int limit = eta + 1 > left ? left : static_cast<int>(eta + 1);
    // f g (f^2 - 2) is -g / f modulo 2^6, f being odd.
    const uint64_t w = (f * g * (f * f - 2)) & 63 & UINT64_MAX >> (64 - limit);
    g += f * w;
    gf += ff * w;
    gg += fg * w;
  }
  t = {static_cast<int64_t>(ff), static_cast<int64_t>(fg), static_cast<int64_t>(gf), static_cast<int64_t>(gg)};
  return eta;
}

namespace {

__extension__ using i128 = __int128;  // a GNU extension both compilers have

constexpr uint64_t kLow62 = UINT64_MAX >> 2;

// A signed number as three limbs of 62 bits, least significant first: the
// lower two in [0, 2^62), the top one signed and carrying the sign.  Any
// value in (-2^185, 2^185) has exactly one such form.
struct Signed62 {
  int64_t v[3];
};

// (d, e) = (t (d, e) + q (md, me)) / 2^62 for the md and me that make both
// divisions exact, which keeps d and e in (-2q, q) where they start there:
// q is odd, below 2^160, and q_inverse = q^-1 mod 2^62 (or mod 2^64).
void UpdateCofactors(Signed62& d, Signed62& e, const DivStepTransition& t, const Signed62& q, uint64_t q_inverse) {
  // A negative d or e counts as d + q or e + q: its multiple of q starts
  // from the matrix's entries for it.
  const int64_t d_negative = d.v[2] >> 63, e_negative = e.v[2] >> 63;
  int64_t md = (t.ff & d_negative) + (t.fg & e_negative);
  int64_t me = (t.gf & d_negative) + (t.gg & e_negative);
  i128 cd = static_cast<i128>(t.ff) * d.v[0] + static_cast<i128>(t.fg) * e.v[0];
  i128 ce = static_cast<i128>(t.gf) * d.v[0] + static_cast<i128>(t.gg) * e.v[0];
  md -= static_cast<int64_t>((q_inverse * static_cast<uint64_t>(cd) + static_cast<uint64_t>(md)) & kLow62);
  me -= static_cast<int64_t>((q_inverse * static_cast<uint64_t>(ce) + static_cast<uint64_t>(me)) & kLow62);
  cd = (cd + static_cast<i128>(q.v[0]) * md) >> 62;  // the low 62 bits are zero now
  ce = (ce + static_cast<i128>(q.v[0]) * me) >> 62;
  for (int i = 1; i < 3; ++i) {
    cd += static_cast<i128>(t.ff) * d.v[i] + static_cast<i128>(t.fg) * e.v[i] + static_cast<i128>(q.v[i]) * md;
    ce += static_cast<i128>(t.gf) * d.v[i] + static_cast<i128>(t.gg) * e.v[i] + static_cast<i128>(q.v[i]) * me;
    d.v[i - 1] = static_cast<int64_t>(static_cast<uint64_t>(cd) & kLow62);
    e.v[i - 1] = static_cast<int64_t>(static_cast<uint64_t>(ce) & kLow62);
    cd >>= 62;
    ce >>= 62;
  }
  d.v[2] = static_cast<int64_t>(cd);
  e.v[2] = static_cast<int64_t>(ce);
}

// (f, g) = t (f, g) / 2^62, exact by the choice of t.
void UpdateValues(Signed62& f, Signed62& g, const DivStepTransition& t) {
  i128 cf = static_cast<i128>(t.ff) * f.v[0] + static_cast<i128>(t.fg) * g.v[0];
  i128 cg = static_cast<i128>(t.gf) * f.v[0] + static_cast<i128>(t.gg) * g.v[0];
  cf >>= 62;
  cg >>= 62;
  for (int i = 1; i < 3; ++i) {
    cf += static_cast<i128>(t.ff) * f.v[i] + static_cast<i128>(t.fg) * g.v[i];
    cg += static_cast<i128>(t.gf) * f.v[i] + static_cast<i128>(t.gg) * g.v[i];
    f.v[i - 1] = static_cast<int64_t>(static_cast<uint64_t>(cf) & kLow62);
    g.v[i - 1] = static_cast<int64_t>(static_cast<uint64_t>(cg) & kLow62);
    cf >>= 62;
    cg >>= 62;
  }
  f.v[2] = static_cast<int64_t>(cf);
  g.v[2] = static_cast<int64_t>(cg);
}

// x = sign x + k q for sign = +-1 and |k| <= 2, back in the form of Signed62.
void Combine(Signed62& x, int64_t sign, const Signed62& q, int64_t k) {
  i128 c = 0;
  for (int i = 0; i < 2; ++i) {
    c += static_cast<i128>(sign) * x.v[i] + static_cast<i128>(k) * q.v[i];
    x.v[i] = static_cast<int64_t>(static_cast<uint64_t>(c) & kLow62);
    c >>= 62;
  }
  x.v[2] = static_cast<int64_t>(c + sign * x.v[2] + k * q.v[2]);
}

Signed62 ToSigned62(const uint64_t* w) {  // w below 2^160 in three words
  return {{static_cast<int64_t>(w[0] & kLow62), static_cast<int64_t>((w[0] >> 62 | w[1] << 2) & kLow62),
           static_cast<int64_t>(w[1] >> 60 | w[2] << 4)}};
}

void FromSigned62(const Signed62& x, uint64_t* w) {  // x in [0, 2^160)
  const auto v0 = static_cast<uint64_t>(x.v[0]), v1 = static_cast<uint64_t>(x.v[1]), v2 = static_cast<uint64_t>(x.v[2]);
  w[0] = v0 | v1 << 62;
  w[1] = v1 >> 2 | v2 << 60;
  w[2] = v2 >> 4;
}

}  // namespace

void ModInverseWords(const uint8_t* s_bytes, const Limb* q16, Limb* out) {
  uint64_t q_words[3] = {}, s_words[3] = {};
  std::memcpy(q_words, q16, 20);
  std::memcpy(s_words, s_bytes, 20);
  // One subtraction takes any 160-bit s below a q of 160 bits.
  uint64_t borrow = 0, reduced[3];
  for (int i = 0; i < 3; ++i) {
    const u128 d = static_cast<u128>(s_words[i]) - q_words[i] - borrow;
    reduced[i] = static_cast<uint64_t>(d);
    borrow = static_cast<uint64_t>(d >> 64) & 1;
  }
  if (borrow == 0) std::memcpy(s_words, reduced, sizeof s_words);
  uint64_t q_inverse = q_words[0];  // q^-1 mod 2^64: Newton from 3 correct bits
  for (int i = 0; i < 5; ++i) q_inverse *= 2 - q_words[0] * q_inverse;

  // With x = s mod q, d x = f and e x = g modulo q throughout.  The steps end
  // with g = 0 and f = +-gcd(x, q) = +-1 within 464 of them (the bound
  // Bernstein and Yang prove for numbers below 2^160), so d is +-x^-1.  x = 0
  // needs no case of its own: g = 0 from the start, one batch of halvings
  // leaves d = 0.  f is odd from the first swap
  // on, which comes before any other step than a halving, so the steps end
  // for any q, even ones outside the contract.
  const Signed62 q = ToSigned62(q_words);
  Signed62 d = {}, e = {{1, 0, 0}}, f = q, g = ToSigned62(s_words);
  int64_t eta = -1;
  do {
    DivStepTransition t;
    eta = DivSteps62(eta, static_cast<uint64_t>(f.v[0]), static_cast<uint64_t>(g.v[0]), t);
    UpdateCofactors(d, e, t, q, q_inverse);
    UpdateValues(f, g, t);
  } while ((g.v[0] | g.v[1] | g.v[2]) != 0);

  // d in (-2q, q); times the sign of f, then into [0, q).
  Combine(d, f.v[2] < 0 ? -1 : 1, q, 0);
  if (d.v[2] < 0) Combine(d, 1, q, 1);
  if (d.v[2] < 0) Combine(d, 1, q, 1);
  Signed62 minus_q = d;
  Combine(minus_q, 1, q, -1);
  if (minus_q.v[2] >= 0) d = minus_q;
  uint64_t inverse[3];
  FromSigned62(d, inverse);
  std::memcpy(out, inverse, 20);
}

}  // namespace limbs

#endif
