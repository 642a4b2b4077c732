// SPDX-License-Identifier: ISC
// Any split of a message across Sha256Update calls gives the one-call digest,
// and every variant of the compression this CPU runs agrees with it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cpu/variant.h"
#include "hash/sha256.h"
#include "hash/sha256_compress.h"

namespace {

// Traps unless the digest over compress equals expected.
void Check(Sha256Context& ctx, const uint8_t* message, uint32_t length, const uint8_t* expected,
           sha256::CompressFn compress) {
  uint8_t digest[32];
  Sha256Init(ctx);
  sha256::UpdateWith(ctx, message, length, compress);
  sha256::FinalWith(ctx, digest, compress);
  if (std::memcmp(expected, digest, 32) != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  unsigned seed = data[0] | (unsigned{data[1]} << 8);
  const uint8_t* message = data + 2;
  const auto length = static_cast<uint32_t>(size - 2);

  uint8_t whole[32];
  Sha256Digest(message, length, whole);

  Sha256Context ctx;
  Sha256Init(ctx);
  uint32_t done = 0;
  while (done < length) {
    seed = seed * 1103515245u + 12345u;
    uint32_t piece = (seed >> 16) % ((seed & 0x100) ? 300 : 9);
    if (piece > length - done) piece = length - done;
    Sha256Update(ctx, message + done, piece);
    done += piece;
  }
  uint8_t pieces[32];
  Sha256Final(ctx, pieces);
  if (std::memcmp(whole, pieces, sizeof whole) != 0) __builtin_trap();

  for (const sha256::Variant* variant : sha256::Variants()) {
    if (cpu::CanRun(*variant)) Check(ctx, message, length, whole, variant->compress);
  }
  return 0;
}
