// CPU-specific variant of the 32-limb Montgomery product.
#pragma once

#include <cstdint>

// True when this CPU runs MontMul32Avx2.
bool CpuHasAvx2();

// mont_mul for n = 32 (same contract and same result); only on AVX2 CPUs.
void MontMul32Avx2(const uint16_t* a, const uint16_t* b, uint16_t* out, const uint16_t* m, uint16_t factor);

// The portable product for any n up to 32, whatever the CPU; mont_mul uses it
// where the CPU lacks AVX2.  Exposed so tests can hold the variants together.
void MontMulPortable(const uint16_t* a, const uint16_t* b, uint16_t* out, const uint16_t* m, uint16_t factor,
                     int16_t n);
