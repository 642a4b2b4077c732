// SPDX-License-Identifier: ISC
#include "dsa/key_primality.h"

#include <cstddef>
#include <cstring>

#include "dsa/limbs_paths.h"
#include "io/io.h"

// A key load is mostly these exponentiations.  q's run on 64-bit words of
// their own, 3 to the number; p's on the verification's 512-bit product
// behind the CPU dispatch, whose Montgomery form (R = 2^512) is the same as
// that of eight words, with a portable squaring where that product has no
// mulx/adcx/adox.
namespace {

using Word = uint64_t;
__extension__ typedef unsigned __int128 Wide;
constexpr int kMaxWords = 8;

// Each random round passes an odd composite with probability at most 1/4,
// whatever the number: 40 rounds keep a crafted composite below 2^-80.
constexpr int kFullRounds = 40;

// An odd modulus of n words and its Montgomery constants for R = 2^(64n):
// inverse = -m^-1 mod 2^64, one = R mod m, r_squared = R^2 mod m.
struct WordModulus {
  Word m[kMaxWords] = {};
  int n = 0;
  Word inverse = 0;
  Word one[kMaxWords] = {}, r_squared[kMaxWords] = {};
  // m as 16-bit limbs and -m^-1 mod 2^16, for the verification's product.
  Limb m16[4 * kMaxWords] = {};
  Limb factor16 = 0;
  // Whether that product runs on mulx/adcx/adox, which outruns the portable
  // squaring; without them the squaring is the faster.
  bool mulx = false;
};

int Compare(const Word* a, const Word* b, int n) {
  for (int i = n - 1; i >= 0; --i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

bool IsZeroWords(const Word* a, int n) {
  for (int i = 0; i < n; ++i) {
    if (a[i] != 0) return false;
  }
  return true;
}

// a = a + b, a = a - b modulo 2^(64n); the carry or borrow out.
Word AddWords(Word* a, const Word* b, int n) {
  Word carry = 0;
  for (int i = 0; i < n; ++i) {
    const Wide t = Wide{a[i]} + b[i] + carry;
    a[i] = static_cast<Word>(t);
    carry = static_cast<Word>(t >> 64);
  }
  return carry;
}
Word SubWords(Word* a, const Word* b, int n) {
  Word borrow = 0;
  for (int i = 0; i < n; ++i) {
    const Wide t = Wide{a[i]} - b[i] - borrow;
    a[i] = static_cast<Word>(t);
    borrow = static_cast<Word>(t >> 64) & 1;
  }
  return borrow;
}

// Modulo m, for operands below m: a = a + b, a = a - b, a = a / 2.
void ModAdd(Word* a, const Word* b, const WordModulus& mod) {
  if (AddWords(a, b, mod.n) != 0 || Compare(a, mod.m, mod.n) >= 0) SubWords(a, mod.m, mod.n);
}
void ModSub(Word* a, const Word* b, const WordModulus& mod) {
  if (SubWords(a, b, mod.n) != 0) AddWords(a, mod.m, mod.n);
}
void ModHalve(Word* a, const WordModulus& mod) {
  const Word carry = (a[0] & 1) != 0 ? AddWords(a, mod.m, mod.n) : 0;
  for (int i = 0; i < mod.n; ++i) a[i] = (a[i] >> 1) | ((i + 1 < mod.n ? a[i + 1] : carry) << 63);
}

// out = a * b / R mod m, fully reduced, for a and b below m (CIOS).  out
// may alias a or b.
// Unrolled by the compiler for each size of key number (3 words for q, 8
// for p); n = 0 takes the count from mod.
template <int kWords>
void MontMulOf(const Word* a, const Word* b, Word* out, const WordModulus& mod) {
  const int n = kWords != 0 ? kWords : mod.n;
  Word t[kMaxWords + 2] = {};
  for (int i = 0; i < n; ++i) {
    Word carry = 0;
    for (int j = 0; j < n; ++j) {
      const Wide s = Wide{a[j]} * b[i] + t[j] + carry;
      t[j] = static_cast<Word>(s);
      carry = static_cast<Word>(s >> 64);
    }
    Wide s = Wide{t[n]} + carry;
    t[n] = static_cast<Word>(s);
    t[n + 1] = static_cast<Word>(s >> 64);
    const Word factor = t[0] * mod.inverse;
    s = Wide{factor} * mod.m[0] + t[0];
    carry = static_cast<Word>(s >> 64);
    for (int j = 1; j < n; ++j) {
      s = Wide{factor} * mod.m[j] + t[j] + carry;
      t[j - 1] = static_cast<Word>(s);
      carry = static_cast<Word>(s >> 64);
    }
    s = Wide{t[n]} + carry;
    t[n - 1] = static_cast<Word>(s);
    t[n] = t[n + 1] + static_cast<Word>(s >> 64);
  }
  if (t[n] != 0 || Compare(t, mod.m, n) >= 0) SubWords(t, mod.m, n);
  std::memcpy(out, t, sizeof(Word) * static_cast<size_t>(n));
}

// out = a^2 / R mod m, fully reduced, for a below m: MontMulOf<kWords>'s
// result with the cross products taken once and doubled, about three
// quarters of its word products.  out may alias a.
template <int kWords>
void MontSquareOf(const Word* a, Word* out, const WordModulus& mod) {
  constexpr int n = kWords;
  Word t[2 * n] = {};
  for (int i = 0; i < n; ++i) {
    Word carry = 0;
    for (int j = i + 1; j < n; ++j) {
      const Wide s = Wide{a[i]} * a[j] + t[i + j] + carry;
      t[i + j] = static_cast<Word>(s);
      carry = static_cast<Word>(s >> 64);
    }
    t[i + n] = carry;
  }
  Word shifted_out = 0;
  for (int k = 0; k < 2 * n; ++k) {
    const Word w = t[k];
    t[k] = (w << 1) | shifted_out;
    shifted_out = w >> 63;
  }
  Word carry = 0;  // a^2 < 2^(128n): none is left past the top word
  for (int i = 0; i < n; ++i) {
    Wide s = Wide{a[i]} * a[i] + t[2 * i] + carry;
    t[2 * i] = static_cast<Word>(s);
    s = Wide{t[2 * i + 1]} + static_cast<Word>(s >> 64);
    t[2 * i + 1] = static_cast<Word>(s);
    carry = static_cast<Word>(s >> 64);
  }
  // (a^2 + f m) / R < 2m: at most one carry past the top word.
  Word top = 0;
  for (int i = 0; i < n; ++i) {
    const Word factor = t[i] * mod.inverse;
    carry = 0;
    for (int j = 0; j < n; ++j) {
      const Wide s = Wide{factor} * mod.m[j] + t[i + j] + carry;
      t[i + j] = static_cast<Word>(s);
      carry = static_cast<Word>(s >> 64);
    }
    for (int k = i + n; k < 2 * n && carry != 0; ++k) {
      const Wide s = Wide{t[k]} + carry;
      t[k] = static_cast<Word>(s);
      carry = static_cast<Word>(s >> 64);
    }
    top += carry;
  }
  if (top != 0 || Compare(t + n, mod.m, n) >= 0) SubWords(t + n, mod.m, n);
  std::memcpy(out, t + n, sizeof(Word) * n);
}

// As MontMulOf<3>, on named words the compiler keeps in registers: q's
// forty rounds are most of a key load after p's exponentiations.
inline void MontMul3(const Word* a, const Word* b, Word* out, const WordModulus& mod) {
  const Word a0 = a[0], a1 = a[1], a2 = a[2];
  Word t0 = 0, t1 = 0, t2 = 0, t3 = 0;
  for (int i = 0; i < 3; ++i) {
    const Word bi = b[i];
    Wide s = Wide{a0} * bi + t0;
    t0 = static_cast<Word>(s);
    s = Wide{a1} * bi + t1 + static_cast<Word>(s >> 64);
    t1 = static_cast<Word>(s);
    s = Wide{a2} * bi + t2 + static_cast<Word>(s >> 64);
    t2 = static_cast<Word>(s);
    s = Wide{t3} + static_cast<Word>(s >> 64);
    t3 = static_cast<Word>(s);
    const Word t4 = static_cast<Word>(s >> 64);
    const Word factor = t0 * mod.inverse;
    s = Wide{factor} * mod.m[0] + t0;
    s = Wide{factor} * mod.m[1] + t1 + static_cast<Word>(s >> 64);
    t0 = static_cast<Word>(s);
    s = Wide{factor} * mod.m[2] + t2 + static_cast<Word>(s >> 64);
    t1 = static_cast<Word>(s);
    s = Wide{t3} + static_cast<Word>(s >> 64);
    t2 = static_cast<Word>(s);
    t3 = t4 + static_cast<Word>(s >> 64);
  }
  Word t[3] = {t0, t1, t2};
  if (t3 != 0 || Compare(t, mod.m, 3) >= 0) SubWords(t, mod.m, 3);
  out[0] = t[0];
  out[1] = t[1];
  out[2] = t[2];
}

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// As MontMulOf<8>, on the verification's 512-bit product behind the CPU
// dispatch (mulx/adcx/adox where the CPU has them), which outruns the
// portable words.  Its R is 2^512 too, so the Montgomery forms agree; it
// leaves its result below 2^512 but not always below m, hence the last
// subtraction.  Eight little-endian words are 32 limbs byte for byte.
void MontMul512(const Word* a, const Word* b, Word* out, const WordModulus& mod) {
  Limb a16[32], b16[32], t16[32];
  std::memcpy(a16, a, sizeof a16);
  std::memcpy(b16, b, sizeof b16);
  mont_mul(a16, b16, t16, mod.m16, mod.factor16, 32);
  Word t[8];
  std::memcpy(t, t16, sizeof t);
  if (Compare(t, mod.m, 8) >= 0) SubWords(t, mod.m, 8);
  std::memcpy(out, t, sizeof t);
}
#endif

inline void MontMul(const Word* a, const Word* b, Word* out, const WordModulus& mod) {
  switch (mod.n) {
    case 3: return MontMul3(a, b, out, mod);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    case 8: return MontMul512(a, b, out, mod);
#else
    case 8: return MontMulOf<8>(a, b, out, mod);
#endif
    default: return MontMulOf<0>(a, b, out, mod);
  }
}

// out = a^2 / R mod m, fully reduced, for a below m.  out may alias a.
inline void MontSquare(const Word* a, Word* out, const WordModulus& mod) {
  if (mod.n == 8 && !mod.mulx) return MontSquareOf<8>(a, out, mod);
  MontMul(a, a, out, mod);
}

void SetUp(const Limb* limbs, int16_t limb_count, WordModulus& mod) {
  mod.n = (limb_count + 3) / 4;
  for (int i = 0; i < limb_count; ++i) mod.m[i / 4] |= Word{limbs[i]} << (16 * (i % 4));
  Word inverse = mod.m[0];  // Newton's step doubles the correct low bits: 3, 6, ..., 96
  for (int i = 0; i < 5; ++i) inverse *= 2 - mod.m[0] * inverse;
  mod.inverse = 0 - inverse;
  std::memcpy(mod.m16, limbs, sizeof(Limb) * static_cast<size_t>(limb_count));
  mod.factor16 = static_cast<Limb>(mod.inverse);
  mod.mulx = limbs::SelectedMontMul32().needs == cpu::Feature::kMulxAdx;
  // R mod m and R^2 mod m by doubling 1, 128n times.
  Word x[kMaxWords] = {1};
  for (int i = 0; i < 128 * mod.n; ++i) {
    if (i == 64 * mod.n) std::memcpy(mod.one, x, sizeof x);
    const Word carry = AddWords(x, x, mod.n);
    if (carry != 0 || Compare(x, mod.m, mod.n) >= 0) SubWords(x, mod.m, mod.n);
  }
  std::memcpy(mod.r_squared, x, sizeof x);
}

int BitOf(const Word* a, int bit) { return static_cast<int>((a[bit / 64] >> (bit % 64)) & 1); }

// The bases one exponentiation runs side by side: the products of different
// bases are independent, so the CPU overlaps their carry chains, which bound
// the speed of a 3-word product run alone.
constexpr int kMaxLanes = 4;

// out[l] = bases[l]^exponent in Montgomery form for each of the lanes bases,
// in Montgomery form, over bits [0, bits) of exponent, by sliding windows:
// each window starts and ends on a set bit, so only odd powers are kept,
// and a 512-bit exponent takes about 85 products besides its squarings
// where fixed 4-bit windows take 128.  out may alias bases.
void MontPow(const Word (*bases)[kMaxWords], int lanes, const Word* exponent, int bits, const WordModulus& mod,
             Word (*out)[kMaxWords]) {
  const int window = bits > 256 ? 5 : 4;
  Word odd[kMaxLanes][16][kMaxWords];  // odd[l][i] = bases[l]^(2i + 1)
  Word square[kMaxLanes][kMaxWords];
  for (int l = 0; l < lanes; ++l) {
    std::memcpy(odd[l][0], bases[l], sizeof odd[l][0]);
    MontSquare(bases[l], square[l], mod);
  }
  for (int i = 1; i < 1 << (window - 1); ++i) {
    for (int l = 0; l < lanes; ++l) MontMul(odd[l][i - 1], square[l], odd[l][i], mod);
  }
  Word acc[kMaxLanes][kMaxWords];
  for (int l = 0; l < lanes; ++l) std::memcpy(acc[l], mod.one, sizeof acc[l]);
  bool started = false;  // squaring one is a waste
  for (int bit = bits - 1; bit >= 0;) {
    if (BitOf(exponent, bit) == 0) {
      for (int l = 0; l < lanes && started; ++l) MontSquare(acc[l], acc[l], mod);
      --bit;
      continue;
    }
    int low = bit - window + 1 < 0 ? 0 : bit - window + 1;
    while (BitOf(exponent, low) == 0) ++low;
    int digit = 0;
    for (int i = bit; i >= low; --i) {
      for (int l = 0; l < lanes && started; ++l) MontSquare(acc[l], acc[l], mod);
      digit = 2 * digit + BitOf(exponent, i);
    }
    for (int l = 0; l < lanes; ++l) {
      if (started) {
        MontMul(acc[l], odd[l][digit >> 1], acc[l], mod);
      } else {
        std::memcpy(acc[l], odd[l][digit >> 1], sizeof acc[l]);
      }
    }
    started = true;
    bit = low - 1;
  }
  for (int l = 0; l < lanes; ++l) std::memcpy(out[l], acc[l], sizeof(Word) * static_cast<size_t>(mod.n));
}

uint32_t SmallRemainder(const Limb* m, int16_t n, uint32_t d) {
  uint32_t remainder = 0;
  for (int i = n - 1; i >= 0; --i) remainder = ((remainder << 16) | m[i]) % d;
  return remainder;
}

// Whether an odd prime below 256 divides m: most composites end here, before
// any exponentiation.
bool HasSmallFactor(const Limb* m, int16_t n) {
  for (uint32_t d = 3; d < 256; d += 2) {
    bool prime = true;
    for (uint32_t k = 3; k * k <= d && prime; k += 2) prime = d % k != 0;
    if (prime && SmallRemainder(m, n, d) == 0) return true;
  }
  return false;
}

// a = v a mod m for a below m and a small signed v (|v| below 2^15), with
// one word product rather than a Montgomery product.  m's top word is at
// least 2^15, so the top words of |v| a over m's top word + 1 give a quotient
// below 2^64 and a few short of the true one at most; the subtractions
// finish it.
void MulSmall(Word* a, int32_t v, const WordModulus& mod) {
  const int n = mod.n;
  const auto c = static_cast<Word>(v < 0 ? -static_cast<int64_t>(v) : v);
  Word t[kMaxWords + 1];
  Word carry = 0;
  for (int i = 0; i < n; ++i) {
    const Wide s = Wide{a[i]} * c + carry;
    t[i] = static_cast<Word>(s);
    carry = static_cast<Word>(s >> 64);
  }
  t[n] = carry;
  const Wide top = (Wide{t[n]} << 64) | t[n - 1];
  const Word top_m = mod.m[n - 1];
  const Word quotient = top_m == ~Word{0} ? t[n] : static_cast<Word>(top / (Wide{top_m} + 1));
  Word borrow = 0;
  carry = 0;
  for (int i = 0; i < n; ++i) {
    const Wide product = Wide{quotient} * mod.m[i] + carry;
    carry = static_cast<Word>(product >> 64);
    const Wide difference = Wide{t[i]} - static_cast<Word>(product) - borrow;
    t[i] = static_cast<Word>(difference);
    borrow = static_cast<Word>(difference >> 64) & 1;
  }
  t[n] -= carry + borrow;
  while (t[n] != 0 || Compare(t, mod.m, n) >= 0) t[n] -= SubWords(t, mod.m, n);
  if (v < 0 && !IsZeroWords(t, n)) {
    Word negated[kMaxWords];
    std::memcpy(negated, mod.m, sizeof negated);
    SubWords(negated, t, n);
    std::memcpy(t, negated, sizeof negated);
  }
  std::memcpy(a, t, sizeof(Word) * static_cast<size_t>(n));
}

// The Jacobi symbol (a / m) for an odd m > 0.
int Jacobi(uint32_t a, uint32_t m) {
  int sign = 1;
  a %= m;
  while (a != 0) {
    while ((a & 1) == 0) {
      a >>= 1;
      if (m % 8 == 3 || m % 8 == 5) sign = -sign;
    }
    const uint32_t t = a;
    a = m;
    m = t;
    if (a % 4 == 3 && m % 4 == 3) sign = -sign;
    a %= m;
  }
  return m == 1 ? sign : 0;
}

// The strong Lucas test with Selfridge's parameters: D the first of 5, -7,
// 9, -11, ... with (D / m) = -1, P = 1, Q = (1 - D) / 4.  kProbablyPrime
// when U_d = 0 or V_(d 2^r) = 0 for some r < s, where m + 1 = d 2^s;
// kNoRandomness stands for "no D found" (m a square, or a prime with many
// small residues), which the caller answers with more random rounds.
Primality StrongLucas(const Limb* limbs, int16_t limb_count, const WordModulus& mod) {
  int32_t d_param = 5;
  for (int tries = 0;; ++tries, d_param = d_param > 0 ? -(d_param + 2) : -d_param + 2) {
    if (tries == 64) return Primality::kNoRandomness;
    // Every D here is 1 mod 4, so (D / m) = (m / |D|).
    const auto magnitude = static_cast<uint32_t>(d_param < 0 ? -d_param : d_param);
    const int symbol = Jacobi(SmallRemainder(limbs, limb_count, magnitude), magnitude);
    if (symbol == -1) break;
    if (symbol == 0) return Primality::kComposite;  // |D| shares a factor with m, which is larger
  }
  const int n = mod.n;
  const int32_t q_param = (1 - d_param) / 4;
  // m + 1 = d 2^s; no overflow, as m is odd.
  Word exponent[kMaxWords] = {};
  std::memcpy(exponent, mod.m, sizeof exponent);
  const Word one_word[kMaxWords] = {1};
  AddWords(exponent, one_word, n);
  int s = 0;
  while (BitOf(exponent, s) == 0) ++s;
  int top = 64 * n - 1;
  while (BitOf(exponent, top) == 0) --top;

  Word u[kMaxWords], v[kMaxWords], qk[kMaxWords], t[kMaxWords];
  std::memcpy(u, mod.one, sizeof u);  // U_1 = 1
  std::memcpy(v, mod.one, sizeof v);  // V_1 = P = 1
  // Q^2k from Q^k; for Q = -1 (D = 5, the first D for half of all primes)
  // that is 1, without a product.
  const auto square_q_power = [&](Word* power) {
    if (q_param == -1) {
      std::memcpy(power, mod.one, sizeof(Word) * static_cast<size_t>(n));
    } else {
      MontSquare(power, power, mod);
    }
  };
  std::memcpy(qk, mod.one, sizeof qk);  // Q^1
  MulSmall(qk, q_param, mod);
  for (int bit = top - 1; bit >= s; --bit) {
    MontMul(u, v, u, mod);  // U_2k = U_k V_k
    MontSquare(v, v, mod);  // V_2k = V_k^2 - 2 Q^k
    ModSub(v, qk, mod);
    ModSub(v, qk, mod);
    square_q_power(qk);
    if (BitOf(exponent, bit) != 0) {
      std::memcpy(t, u, sizeof t);  // U_k+1 = (U + V) / 2, V_k+1 = (D U + V) / 2
      MulSmall(t, d_param, mod);
      ModAdd(u, v, mod);
      ModHalve(u, mod);
      ModAdd(v, t, mod);
      ModHalve(v, mod);
      MulSmall(qk, q_param, mod);
    }
  }
  if (IsZeroWords(u, n) || IsZeroWords(v, n)) return Primality::kProbablyPrime;
  for (int r = 1; r < s; ++r) {
    MontSquare(v, v, mod);
    ModSub(v, qk, mod);
    ModSub(v, qk, mod);
    if (IsZeroWords(v, n)) return Primality::kProbablyPrime;
    square_q_power(qk);
  }
  return Primality::kComposite;
}

}  // namespace

Primality TestPrimality(const Limb* limbs, int16_t limb_count, int random_rounds) {
  if ((limbs[0] & 1) == 0 || HasSmallFactor(limbs, limb_count)) return Primality::kComposite;
  WordModulus mod;
  SetUp(limbs, limb_count, mod);
  const int n = mod.n, bits = 16 * limb_count;
  Word m_minus_1[kMaxWords], odd_part[kMaxWords] = {}, minus_one[kMaxWords];
  std::memcpy(m_minus_1, mod.m, sizeof m_minus_1);
  m_minus_1[0] -= 1;
  std::memcpy(minus_one, mod.m, sizeof minus_one);
  SubWords(minus_one, mod.one, n);
  // m - 1 = 2^twos * odd_part.
  int twos = 0;
  while (BitOf(m_minus_1, twos) == 0) ++twos;
  for (int bit = twos; bit < bits; ++bit) {
    if (BitOf(m_minus_1, bit) != 0) odd_part[(bit - twos) / 64] |= Word{1} << ((bit - twos) % 64);
  }
  // Strong tests to the lanes bases (plain, in [2, m - 2]): whether m
  // passes every one.
  const auto strong_probable_prime = [&](Word(*x)[kMaxWords], int lanes) {
    for (int l = 0; l < lanes; ++l) MontMul(x[l], mod.r_squared, x[l], mod);
    MontPow(x, lanes, odd_part, bits - twos, mod, x);
    for (int l = 0; l < lanes; ++l) {
      bool passes = Compare(x[l], mod.one, n) == 0 || Compare(x[l], minus_one, n) == 0;
      for (int s = 1; s < twos && !passes; ++s) {
        MontSquare(x[l], x[l], mod);
        if (Compare(x[l], mod.one, n) == 0) return false;
        passes = Compare(x[l], minus_one, n) == 0;
      }
      if (!passes) return false;
    }
    return true;
  };

  // Baillie-PSW: base 2, then the strong Lucas test.
  Word bases[kMaxLanes][kMaxWords] = {{2}};
  if (!strong_probable_prime(bases, 1)) return Primality::kComposite;
  switch (StrongLucas(limbs, limb_count, mod)) {
    case Primality::kComposite: return Primality::kComposite;
    case Primality::kNoRandomness: random_rounds = kFullRounds; break;
    case Primality::kProbablyPrime: break;
  }
  const Word one_word[kMaxWords] = {1};
  const Word top_mask = bits % 64 == 0 ? ~Word{0} : (Word{1} << (bits % 64)) - 1;
  // Candidate bases come eight to a call of getrandom(2), whose cost is
  // that of dozens of q's products; the last candidate drawn is used first.
  Word pool[8][kMaxWords];
  int pooled = 0;
  const auto draw_base = [&](Word* base) {
    do {
      if (pooled == 0) {
        if (io::FillRandom(pool, sizeof pool) != 0) return false;
        pooled = 8;
      }
      std::memcpy(base, pool[--pooled], sizeof pool[0]);
      base[n - 1] &= top_mask;
    } while (Compare(base, m_minus_1, n) >= 0 || Compare(base, one_word, n) <= 0);
    return true;
  };
  for (int done = 0; done < random_rounds;) {
    const int lanes = random_rounds - done < kMaxLanes ? random_rounds - done : kMaxLanes;
    for (int l = 0; l < lanes; ++l) {
      if (!draw_base(bases[l])) return Primality::kNoRandomness;
    }
    if (!strong_probable_prime(bases, lanes)) return Primality::kComposite;
    done += lanes;
  }
  return Primality::kProbablyPrime;
}
