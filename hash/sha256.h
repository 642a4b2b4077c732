// SPDX-License-Identifier: ISC
// SHA-256 (FIPS 180-2) with the message length counted in 32 bits: the
// digest is the standard one for every input shorter than 2^29 bytes.  For
// longer inputs the padding carries 8*n modulo 2^32 as the length, so the
// value differs from the standard's.
#pragma once

#include <cstdint>

struct Sha256Context {
  uint32_t totalLength;    // bytes already compressed, a multiple of 64, mod 2^32
  uint32_t pendingLength;  // bytes waiting in block, 0..63 between calls
  uint8_t block[128];      // Sha256Update fills the first 64 bytes only;
                           // Sha256Final may pad into both halves
  uint32_t state[8];       // chaining words H0..H7
};

// Compresses blocks consecutive 64-byte blocks at data into ctx.state.  A
// count of 0 or less does nothing.  data need not be aligned.
void Sha256Transform(Sha256Context& ctx, const uint8_t* data, int32_t blocks);

// Starts a new message.  block is left as it is.
void Sha256Init(Sha256Context& ctx);

// Appends length bytes at data to the message.  A length of 0 changes nothing.
void Sha256Update(Sha256Context& ctx, const uint8_t* data, uint32_t length);

// Pads, compresses the tail and writes the 32-byte digest to out.  The
// context is spent until the next Sha256Init.
void Sha256Final(Sha256Context& ctx, uint8_t* out);

// The digest of length bytes at data, into the 32 bytes at out.
void Sha256Digest(const uint8_t* data, uint32_t length, uint8_t* out);
