// SPDX-License-Identifier: ISC
// Any split of a message across Sha0Update calls gives the digest of one
// call, and every variant of the compression this CPU runs agrees with the
// portable one: the whole message goes through each variant, the pieces
// through the selected one.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cpu/variant.h"
#include "hash/sha0.h"
#include "hash/sha0_paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes seed the piece lengths; the rest is the message.
  unsigned seed = data[0] | (unsigned{data[1]} << 8);
  const uint8_t* message = data + 2;
  const size_t length = size - 2;

  Sha0Context whole;
  Sha0Init(whole);
  sha0::UpdateWith(whole, message, static_cast<uint32_t>(length), sha0::kPortable);
  sha0::FinalWith(whole, sha0::kPortable);

  Sha0Context pieces;
  Sha0Init(pieces);
  size_t done = 0;
  while (done < length) {
    seed = seed * 1103515245u + 12345u;
    // Mostly short pieces, now and then long ones that reach the fast path.
    size_t piece = (seed >> 16) % ((seed & 0x100) ? 200 : 9);
    if (piece > length - done) piece = length - done;
    Sha0Update(pieces, message + done, static_cast<uint32_t>(piece));
    done += piece;
  }
  Sha0Final(pieces);
  if (std::memcmp(whole.state, pieces.state, sizeof whole.state) != 0) __builtin_trap();

  for (const sha0::Variant* variant : sha0::Variants()) {
    if (variant == &sha0::kPortable || !cpu::CanRun(*variant)) continue;
    Sha0Context ctx;
    Sha0Init(ctx);
    sha0::UpdateWith(ctx, message, static_cast<uint32_t>(length), *variant);
    sha0::FinalWith(ctx, *variant);
    if (std::memcmp(whole.state, ctx.state, sizeof whole.state) != 0) __builtin_trap();
  }
  return 0;
}
