// SPDX-License-Identifier: ISC
// Primality of the numbers of a key file, which may be built to fool the
// test: trial division by the odd primes below 256, Baillie-PSW (a strong
// test to base 2 and a strong Lucas test with Selfridge's parameters), then
// Miller-Rabin rounds with bases drawn by getrandom(2).
#pragma once

#include <cstdint>

#include "dsa/limbs.h"

enum class Primality { kProbablyPrime, kComposite, kNoRandomness };

// For an odd m of n limbs (n at most 32) with its top bit set.  No composite
// is known to pass Baillie-PSW; whatever its form, a composite passes the
// random rounds besides with probability at most 4^-random_rounds.  When no
// Lucas parameter is found among the first 64 (m a square), 40 random rounds
// are run instead.
Primality TestPrimality(const Limb* m, int16_t n, int random_rounds);
