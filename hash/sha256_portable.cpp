// SPDX-License-Identifier: ISC
// The compression in plain C++, for every CPU.
#include "hash/sha256_compress.h"

namespace sha256 {

alignas(64) const uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

namespace {

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t LoadBigEndian(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// One step of the 64.  Instead of shifting a..h down by one every step, the
// caller rotates the roles of its eight variables, so no values move.  Ch is
// written as g ^ (e & (f ^ g)): the same function, one operation fewer.
inline void Step(uint32_t a, uint32_t b, uint32_t c, uint32_t& d, uint32_t e, uint32_t f, uint32_t g, uint32_t& h,
                 uint32_t k_plus_w) {
  const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + (g ^ (e & (f ^ g))) + k_plus_w;
  const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & (b ^ c)) ^ (b & c));
  d += t1;
  h = t1 + t2;
}

// Computes w[t] (t >= 16) into the expansion array from the four earlier
// words it depends on, and returns it.
inline uint32_t Expand(uint32_t* w, int t) {
  const uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
  const uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
  w[t] = s1 + w[t - 7] + s0 + w[t - 16];
  return w[t];
}

}  // namespace

void CompressPortable(uint32_t* state, const uint8_t* data, size_t blocks) {
  for (; blocks > 0; --blocks, data += 64) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) {
      w[t] = LoadBigEndian(data + 4 * t);
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    // Eight steps per pass bring the roles back to where they started.  Each
    // word of the expansion is made just before its step rather than all
    // ahead: that work does not depend on the steps, so it fills the cycles
    // in which each step waits on the one before.  Unrolled whole, the
    // passes let the compiler interleave the two.
#pragma GCC unroll 2
    for (int t = 0; t < 16; t += 8) {
      Step(a, b, c, d, e, f, g, h, kRoundConstants[t] + w[t]);
      Step(h, a, b, c, d, e, f, g, kRoundConstants[t + 1] + w[t + 1]);
      Step(g, h, a, b, c, d, e, f, kRoundConstants[t + 2] + w[t + 2]);
      Step(f, g, h, a, b, c, d, e, kRoundConstants[t + 3] + w[t + 3]);
      Step(e, f, g, h, a, b, c, d, kRoundConstants[t + 4] + w[t + 4]);
      Step(d, e, f, g, h, a, b, c, kRoundConstants[t + 5] + w[t + 5]);
      Step(c, d, e, f, g, h, a, b, kRoundConstants[t + 6] + w[t + 6]);
      Step(b, c, d, e, f, g, h, a, kRoundConstants[t + 7] + w[t + 7]);
    }
#pragma GCC unroll 6
    for (int t = 16; t < 64; t += 8) {
      Step(a, b, c, d, e, f, g, h, kRoundConstants[t] + Expand(w, t));
      Step(h, a, b, c, d, e, f, g, kRoundConstants[t + 1] + Expand(w, t + 1));
      Step(g, h, a, b, c, d, e, f, kRoundConstants[t + 2] + Expand(w, t + 2));
      Step(f, g, h, a, b, c, d, e, kRoundConstants[t + 3] + Expand(w, t + 3));
      Step(e, f, g, h, a, b, c, d, kRoundConstants[t + 4] + Expand(w, t + 4));
      Step(d, e, f, g, h, a, b, c, kRoundConstants[t + 5] + Expand(w, t + 5));
      Step(c, d, e, f, g, h, a, b, kRoundConstants[t + 6] + Expand(w, t + 6));
      Step(b, c, d, e, f, g, h, a, kRoundConstants[t + 7] + Expand(w, t + 7));
    }
    // The eight words in two rows.
    // clang-format off
    state[0] += a; state[1] += b; state[2] += c; state[3] += d;
    state[4] += e; state[5] += f; state[6] += g; state[7] += h;
    // clang-format on
  }
}

}  // namespace sha256
