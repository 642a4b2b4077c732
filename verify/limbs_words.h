// The 8-word Montgomery product, shared by the portable word variant and the
// one compiled for mulx/adcx/adox (where the compiler turns the same 128-bit
// arithmetic into those instructions).  Only the variants' own files include it.
#pragma once

#include <cstdint>
#include <cstring>

#include "verify/limbs.h"

namespace limbs {

__extension__ using u128 = unsigned __int128;  // a GNU extension both compilers have

// -m^-1 mod 2^64 from the 16-bit factor: two Newton steps double the 16
// correct bits of m^-1 to 64.
inline uint64_t WordFactor(uint64_t m0, Limb factor) {
  uint64_t inverse = static_cast<Limb>(0u - factor);
  inverse *= 2 - m0 * inverse;
  inverse *= 2 - m0 * inverse;
  return 0 - inverse;
}

// Coarsely integrated operand scanning over words.  The intermediate stays
// below 2 * 2^512 (t[8] is 0 or 1), and it is the same number the 16-bit
// routine reaches: (a * b + M * m) / 2^512 for the one M below 2^512 that
// makes the division exact.
inline void MontMul32WordsBody(const Limb* a16, const Limb* b16, Limb* out16, const Limb* m16, Limb factor) {
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
  if (t[8] != 0) {  // reached 2^512: one subtraction brings it below m + 2^512 - m
    uint64_t borrow = 0;
    for (int j = 0; j < 8; ++j) {
      const u128 d = static_cast<u128>(t[j]) - m[j] - borrow;
      t[j] = static_cast<uint64_t>(d);
      borrow = static_cast<uint64_t>(d >> 64) & 1;
    }
  }
  std::memcpy(out16, t, 8 * sizeof(uint64_t));
}

}  // namespace limbs
