// SPDX-License-Identifier: ISC
#include "hash/sha256.h"

#include <cstring>

#include "hash/sha256_compress.h"

namespace sha256 {

void UpdateWith(Sha256Context& ctx, const uint8_t* data, uint32_t length, CompressFn compress) {
  const uint32_t room = 64 - ctx.pendingLength;
  const uint32_t take = length < room ? length : room;
  if (take > 0) {
    std::memcpy(ctx.block + ctx.pendingLength, data, take);
  }
  // Compared in 64 bits: pendingLength + length may pass 2^32.
  if (uint64_t{ctx.pendingLength} + length < 64) {
    ctx.pendingLength += length;
    return;
  }
  const uint32_t rest = length - take;
  const uint32_t whole = rest / 64;
  compress(ctx.state, ctx.block, 1);
  compress(ctx.state, data + take, whole);
  const uint32_t tail = rest % 64;
  if (tail > 0) {
    std::memcpy(ctx.block, data + take + size_t{whole} * 64, tail);
  }
  ctx.pendingLength = tail;
  ctx.totalLength += (whole + 1) * 64;  // modulo 2^32 by design
}

void FinalWith(Sha256Context& ctx, uint8_t* out, CompressFn compress) {
  const uint32_t pending = ctx.pendingLength % 64;
  // The 0x80 byte and the 8-byte length need 9 bytes after the message.
  const uint32_t blocks = pending > 55 ? 2 : 1;
  const uint32_t end = blocks * 64;
  const uint32_t bit_length = (ctx.totalLength + pending) * 8;

  std::memset(ctx.block + pending, 0, end - pending);
  ctx.block[pending] = 0x80;
  // The high half of the 64-bit length field stays 0: the count is 32 bits.
  ctx.block[end - 4] = static_cast<uint8_t>(bit_length >> 24);
  ctx.block[end - 3] = static_cast<uint8_t>(bit_length >> 16);
  ctx.block[end - 2] = static_cast<uint8_t>(bit_length >> 8);
  ctx.block[end - 1] = static_cast<uint8_t>(bit_length);
  compress(ctx.state, ctx.block, blocks);

  for (int i = 0; i < 8; ++i) {
    out[4 * i] = static_cast<uint8_t>(ctx.state[i] >> 24);
    out[4 * i + 1] = static_cast<uint8_t>(ctx.state[i] >> 16);
    out[4 * i + 2] = static_cast<uint8_t>(ctx.state[i] >> 8);
    out[4 * i + 3] = static_cast<uint8_t>(ctx.state[i]);
  }
}

}  // namespace sha256

void Sha256Transform(Sha256Context& ctx, const uint8_t* data, int32_t blocks) {
  if (blocks > 0) {
    sha256::Selected().compress(ctx.state, data, static_cast<size_t>(blocks));
  }
}

void Sha256Init(Sha256Context& ctx) {
  static constexpr uint32_t kInitialState[8] = {
      0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
  };
  std::memcpy(ctx.state, kInitialState, sizeof ctx.state);
  ctx.totalLength = 0;
  ctx.pendingLength = 0;
}

void Sha256Update(Sha256Context& ctx, const uint8_t* data, uint32_t length) {
  sha256::UpdateWith(ctx, data, length, sha256::Selected().compress);
}

void Sha256Final(Sha256Context& ctx, uint8_t* out) { sha256::FinalWith(ctx, out, sha256::Selected().compress); }

void Sha256Digest(const uint8_t* data, uint32_t length, uint8_t* out) {
  Sha256Context ctx;
  Sha256Init(ctx);
  Sha256Update(ctx, data, length);
  Sha256Final(ctx, out);
}
