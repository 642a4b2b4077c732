// SPDX-License-Identifier: ISC
// The 160-bit digest of the 1993 secure hash standard (SHA-0: SHA-1 without
// the one-bit rotation in the message expansion).  Every signature that
// signcheck verifies is made over this digest.
#pragma once

#include <cstddef>
#include <cstdint>

struct Sha0Context {
  uint32_t state[5];         // H0..H4; after Sha0Final, the digest
  uint32_t byteCount;        // bytes passed to Sha0Update, modulo 2^32
  uint32_t wordIndex;        // block word being filled, 0..15
  uint32_t block[16];        // current block, big-endian words; also the
                             // compression's circular buffer of expanded words
  uint32_t bytesLeftInWord;  // bytes still missing from block[wordIndex], 1..4
};

// Resets every field; the caller need not clear the record first.
void Sha0Init(Sha0Context& ctx);

// Appends length bytes at data to the message.  A length of 0 changes nothing.
void Sha0Update(Sha0Context& ctx, const void* data, uint32_t length);

// Pads and compresses the tail; afterwards ctx.state holds the digest and the
// rest of the context is spent until the next Sha0Init.
void Sha0Final(Sha0Context& ctx);

// The digest number that signatures are made over: the 160-bit number whose
// 32-bit digits, least significant first, are H0..H4 of a finished context,
// written as 20 bytes, least significant first.
void Sha0DigestBytes(const Sha0Context& ctx, uint8_t* out);

// Appends a message part of any size, in pieces that fit Sha0Update's 32-bit
// length.  The byte count stays modulo 2^32, so for any size this is the same
// digest that one hypothetical call with the whole length would give.  A
// part over a megabyte has its pages mapped ahead of the hash (a file
// mapping's, say), which changes nothing for memory already in place.
void Sha0UpdateLarge(Sha0Context& ctx, const void* data, size_t length);
