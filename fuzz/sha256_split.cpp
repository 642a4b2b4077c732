// Any split of a message across Sha256Update calls gives the one-call digest,
// and the portable and the SHA-NI compression agree on every message.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "digest/sha256.h"
#include "digest/sha256_compress.h"

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

  uint8_t portable[32];
  Sha256Init(ctx);
  sha256::UpdateWith(ctx, message, length, sha256::CompressPortable);
  sha256::FinalWith(ctx, portable, sha256::CompressPortable);
  if (std::memcmp(whole, portable, sizeof whole) != 0) __builtin_trap();
#if SHA256_HAVE_SHANI
  if (sha256::CpuHasShaNi()) {
    uint8_t accelerated[32];
    Sha256Init(ctx);
    sha256::UpdateWith(ctx, message, length, sha256::CompressShaNi);
    sha256::FinalWith(ctx, accelerated, sha256::CompressShaNi);
    if (std::memcmp(whole, accelerated, sizeof whole) != 0) __builtin_trap();
  }
#endif
  return 0;
}
