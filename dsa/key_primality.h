// SPDX-License-Identifier: ISC
// Primality of the numbers of a key file, which may be built to fool the
// test: trial division, then Miller-Rabin with bases drawn by getrandom(2).
#pragma once

#include <cstdint>

#include "dsa/limbs.h"

enum class Primality { kProbablyPrime, kComposite, kNoRandomness };

// For an odd m of n limbs (n at most 32) with its top bit set.  A composite
// passes with probability at most 2^-80, whatever its form.
Primality TestPrimality(const Limb* m, int16_t n);
