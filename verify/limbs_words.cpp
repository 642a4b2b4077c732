// The 64-bit word variants of the Montgomery routines, for little-endian CPUs
// with a 128-bit product type.
#include "verify/limbs_paths.h"

#if LIMBS_HAVE_WORDS

#include "verify/limbs_words.h"

namespace limbs {

void MontMul32Words(const Limb* a, const Limb* b, Limb* out, const Limb* m, Limb factor) {
  MontMul32WordsBody(a, b, out, m, factor);
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

}  // namespace limbs

#endif
