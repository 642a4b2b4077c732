// SPDX-License-Identifier: ISC
#include "dsa/limbs.h"

#include <cstring>
#include <utility>

#include "cpu/variant.h"
#include "dsa/limbs_paths.h"

namespace {

constexpr int kMaxLimbs = 32;

// The Montgomery product over n limbs; kN > 0 fixes n at compile time, so the
// two sizes of the verification (10 and 32) get fully scheduled loops, and
// kN = 0 takes n at run time.  Product and reduction run in one pass per limb
// of b, each with its own carry; the extra top limb is held in 32 bits
// because a * b[i] added to a lazy intermediate can carry past 16 bits there.
// Every intermediate stays below 2^(16n + 1), so at most one subtraction of m
// is needed at the end.
template <int kN>
inline void MontMulRows(const Limb* a, const Limb* b, Limb* out, const Limb* m, Limb factor, int runtime_n) {
  const int n = kN > 0 ? kN : runtime_n;
  Limb t[kMaxLimbs];
  uint32_t top = 0;
  std::memset(t, 0, sizeof t);
  for (int i = 0; i < n; ++i) {
    const uint32_t bi = b[i];
    uint32_t product = a[0] * bi + t[0];
    uint32_t product_carry = product >> 16;
    const uint32_t u = static_cast<Limb>((product & 0xFFFF) * factor);
    uint32_t reduced = u * m[0] + static_cast<Limb>(product);
    uint32_t reduce_carry = reduced >> 16;
    for (int j = 1; j < n; ++j) {
      product = a[j] * bi + t[j] + product_carry;
      product_carry = product >> 16;
      reduced = u * m[j] + static_cast<Limb>(product) + reduce_carry;
      reduce_carry = reduced >> 16;
      t[j - 1] = static_cast<Limb>(reduced);
    }
    const uint32_t high = top + product_carry + reduce_carry;
    t[n - 1] = static_cast<Limb>(high);
    top = high >> 16;
  }
  if (top != 0) limbs_sub(t, m, static_cast<int16_t>(n));
  std::memcpy(out, t, sizeof(Limb) * static_cast<size_t>(n));
}

// The reference as a variant: what runs where nothing faster is built.
void MontMul32Reference(const Limb* a, const Limb* b, Limb* out, const Limb* m, Limb factor) {
  MontMulRows<32>(a, b, out, m, factor, 32);
}

}  // namespace

void limbs_from_bytes(const uint8_t* bytes, Limb* limbs, int16_t count) {
  int i = 0;
  for (; i + 1 < count; i += 2) limbs[i / 2] = static_cast<Limb>(bytes[i] | (bytes[i + 1] << 8));
  if (i < count) limbs[i / 2] = bytes[i];
}

void limbs_to_bytes(const Limb* limbs, uint8_t* bytes, int16_t count) {
  for (int i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(limbs[i / 2] >> (8 * (i & 1)));
}

int limbs_compare(const Limb* a, const Limb* b, int16_t n) {
  for (int i = n - 1; i >= 0; --i) {
    if (a[i] != b[i]) return a[i] > b[i] ? 1 : -1;
  }
  return 0;
}

void limbs_sub(Limb* a, const Limb* b, int16_t n) {
  uint32_t borrow = 0;
  for (int i = 0; i < n; ++i) {
    const uint32_t t = a[i] + 0x10000u - b[i] - borrow;
    a[i] = static_cast<Limb>(t);
    borrow = 1 - (t >> 16);
  }
}

namespace limbs {

void MontMulReference(const Limb* a, const Limb* b, Limb* out, const Limb* m, Limb factor, int16_t n) {
  if (n == 32) {
    MontMulRows<32>(a, b, out, m, factor, n);
  } else if (n == 10) {
    MontMulRows<10>(a, b, out, m, factor, n);
  } else if (n > 0 && n <= kMaxLimbs) {
    MontMulRows<0>(a, b, out, m, factor, n);
  }
}

std::span<const MontMul32Variant* const> MontMul32Variants() {
#if LIMBS_HAVE_MULX
  static constexpr MontMul32Variant kMulxAdx = {MontMul32MulxAdx, "mulx-adx", cpu::Feature::kMulxAdx};
#endif
#if LIMBS_HAVE_WORDS
  static constexpr MontMul32Variant kWords = {MontMul32Words, "words", cpu::Feature::kNone};
#endif
#if LIMBS_HAVE_AVX2
  static constexpr MontMul32Variant kAvx2 = {MontMul32Avx2, "avx2", cpu::Feature::kAvx2};
#endif
  static constexpr MontMul32Variant kLimbs16 = {MontMul32Reference, "limbs16", cpu::Feature::kNone};
  static constexpr const MontMul32Variant* kBestFirst[] = {
#if LIMBS_HAVE_MULX
    &kMulxAdx,
#endif
#if LIMBS_HAVE_WORDS
    &kWords,
#endif
#if LIMBS_HAVE_AVX2
    &kAvx2,
#endif
    &kLimbs16,
  };
  return kBestFirst;
}

const MontMul32Variant& SelectedMontMul32() {
  static const MontMul32Variant& chosen = cpu::Choose(MontMul32Variants());
  return chosen;
}

void MontReduceReference(Limb* x, const Limb* m, Limb factor, int16_t xlen, int16_t mlen, int16_t steps) {
  if (xlen <= 0 || mlen <= 0 || xlen < mlen) return;
  for (int step = 0; step < steps; ++step) {
    const uint32_t u = static_cast<Limb>(uint32_t{x[0]} * factor);
    uint32_t c = (u * m[0] + x[0]) >> 16;
    for (int j = 1; j < mlen; ++j) {
      const uint32_t t = u * m[j] + x[j] + c;
      x[j - 1] = static_cast<Limb>(t);
      c = t >> 16;
    }
    for (int j = mlen; j < xlen; ++j) {
      const uint32_t t = x[j] + c;
      x[j - 1] = static_cast<Limb>(t);
      c = t >> 16;
    }
    x[xlen - 1] = static_cast<Limb>(c);
  }
}

}  // namespace limbs

void mont_mul(const Limb* a, const Limb* b, Limb* out, const Limb* m, Limb factor, int16_t n) {
  if (n == 32) {
    limbs::SelectedMontMul32().mul(a, b, out, m, factor);
#if LIMBS_HAVE_WORDS
  } else if (n == 10) {
    limbs::MontMul10Words(a, b, out, m, factor);
#endif
  } else {
    limbs::MontMulReference(a, b, out, m, factor, n);
  }
}

void mont_reduce(Limb* x, const Limb* m, Limb factor, int16_t xlen, int16_t mlen, int16_t steps) {
  // Out of Montgomery form modulo a 32-limb m, the verification's first
  // reduction, is the product with 1: (x + M * m) / 2^512 for the same unique
  // M, at most m, so the product subtracts nothing.  On mulx/adcx/adox that
  // product takes about 60% of the time of the reduction on words; the other
  // variants of the product are slower than that reduction.
  if (xlen == 32 && mlen == 32 && steps == 32 && limbs::SelectedMontMul32().needs == cpu::Feature::kMulxAdx) {
    static constexpr Limb kOne[32] = {1};
    limbs::SelectedMontMul32().mul(x, kOne, x, m, factor);
    return;
  }
#if LIMBS_HAVE_WORDS
  if (limbs::MontReduceWords(x, m, factor, xlen, mlen, steps)) return;
#endif
  limbs::MontReduceReference(x, m, factor, xlen, mlen, steps);
}

namespace {

// A little-endian number of up to 21 bytes with the index of its most
// significant byte, for the base-256 extended Euclid of mod_inverse.
struct ByteNumber {
  uint8_t b[21];
  int top;

  void LowerTop() {
    while (top > 0 && b[top] == 0) --top;
  }
};

// d -= digit * v * 256^shift over bytes shift .. shift + v.top + 1; while that
// leaves a borrow out of the range, adds v * 256^shift back and lowers digit.
void SubtractMultiple(ByteNumber& d, const ByteNumber& v, unsigned& digit, int shift) {
  const int end = shift + v.top + 1;  // last byte of the range, at most 20
  unsigned borrow = 0;
  unsigned carry = 0;  // of digit * v
  for (int i = shift; i <= end; ++i) {
    const int k = i - shift;
    const unsigned product = (k <= v.top ? digit * v.b[k] : 0u) + carry;
    carry = product >> 8;
    const unsigned diff = d.b[i] + 0x100u - (product & 0xFF) - borrow;
    d.b[i] = static_cast<uint8_t>(diff);
    borrow = 1 - (diff >> 8);
  }
  borrow += carry;
  while (borrow != 0) {
    unsigned add_carry = 0;
    for (int i = shift; i <= end; ++i) {
      const int k = i - shift;
      const unsigned sum = d.b[i] + (k <= v.top ? v.b[k] : 0u) + add_carry;
      d.b[i] = static_cast<uint8_t>(sum);
      add_carry = sum >> 8;
    }
    --digit;
    borrow -= add_carry;
  }
}

// acc += digit * a * 256^shift, carrying upward; then fixes acc's top index.
void AddMultiple(ByteNumber& acc, const ByteNumber& a, unsigned digit, int shift) {
  unsigned carry = 0;
  int i = shift;
  for (int k = 0; k <= a.top && i < 21; ++k, ++i) {
    const unsigned sum = acc.b[i] + digit * a.b[k] + carry;
    acc.b[i] = static_cast<uint8_t>(sum);
    carry = sum >> 8;
  }
  for (; carry != 0 && i < 21; ++i) {
    const unsigned sum = acc.b[i] + carry;
    acc.b[i] = static_cast<uint8_t>(sum);
    carry = sum >> 8;
  }
  if (i - 1 > acc.top) acc.top = i - 1;
  acc.LowerTop();
}

// <0, 0, >0 as d is below, equal to or above v, comparing from v's top down;
// d has no set byte above v.top.
int CompareFromTop(const ByteNumber& d, const ByteNumber& v) {
  for (int i = v.top; i >= 0; --i) {
    if (d.b[i] != v.b[i]) return d.b[i] > v.b[i] ? 1 : -1;
  }
  return 0;
}

}  // namespace

namespace limbs {

void ModInverseReference(const uint8_t* s, const Limb* q, Limb* out) {
  ByteNumber d{}, v{}, a{}, b{};
  limbs_to_bytes(q, d.b, 20);
  std::memcpy(v.b, s, 20);

  // s >= q: take it modulo q, which one subtraction does for a 160-bit s.
  Limb s_limbs[10];
  limbs_from_bytes(v.b, s_limbs, 20);
  if (limbs_compare(s_limbs, q, 10) >= 0) {
    limbs_sub(s_limbs, q, 10);
    limbs_to_bytes(s_limbs, v.b, 20);
  }
  v.top = 19;
  v.LowerTop();
  if (v.top == 0 && v.b[0] == 0) {
    std::memset(out, 0, 10 * sizeof(Limb));
    return;
  }
  d.top = 19;
  a.b[0] = 1;
  a.top = 0;
  b.top = 0;
  int sign = 1;  // 1: v = +a * s mod q, 0: v = -a * s mod q

  for (;;) {
    unsigned digit;
    int shift;
    const int nt = d.top, dt = v.top;
    if (dt == 0) {
      if (v.b[0] == 1) break;
      if (d.b[nt] >= v.b[0]) {
        digit = d.b[nt] / v.b[0];
        shift = nt;
      } else {
        digit = (d.b[nt] * 256u + d.b[nt - 1]) / v.b[0];
        shift = nt - 1;
      }
    } else {
      const unsigned lead_d = d.b[nt] * 256u + d.b[nt - 1];
      const unsigned lead_v = v.b[dt] * 256u + v.b[dt - 1];
      if (lead_d > lead_v) {
        digit = lead_d / lead_v;
        shift = nt - dt;
      } else if (lead_d < lead_v) {
        digit = (lead_d * 256u + d.b[nt - 2]) / lead_v;
        shift = nt - dt - 1;
      } else if (nt == dt) {
        digit = 1;
        shift = 0;
      } else {
        digit = 255;
        shift = nt - dt - 1;
      }
    }
    SubtractMultiple(d, v, digit, shift);
    AddMultiple(b, a, digit, shift);
    d.LowerTop();
    if (d.top > v.top) continue;
    const int order = CompareFromTop(d, v);
    if (order < 0) {
      std::swap(d, v);
      std::swap(a, b);
      sign = 1 - sign;
    }
  }
  limbs_from_bytes(a.b, out, 20);
  if (sign == 0) {
    Limb q_minus_a[10];
    std::memcpy(q_minus_a, q, sizeof q_minus_a);
    limbs_sub(q_minus_a, out, 10);
    std::memcpy(out, q_minus_a, sizeof q_minus_a);
  }
}

}  // namespace limbs

void mod_inverse(const uint8_t* s, const Limb* q, Limb* out) {
#if LIMBS_HAVE_WORDS
  limbs::ModInverseWords(s, q, out);
#else
  limbs::ModInverseReference(s, q, out);
#endif
}
