// SPDX-License-Identifier: ISC
// The pieces of the 64-bit word variants that both the portable file and the
// one built for mulx/adcx/adox use.  Only those two files include it.
#pragma once

#include <cstdint>

#include "dsa/limbs.h"

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

}  // namespace limbs
