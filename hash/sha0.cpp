// SPDX-License-Identifier: ISC
#include "hash/sha0.h"

#include <sys/mman.h>

#include <cstring>

#include "cpu/variant.h"
#include "hash/sha0_paths.h"

namespace {

inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t LoadBigEndian(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, sizeof w);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  w = __builtin_bswap32(w);
#endif
  return w;
}

// The step functions of the three round kinds.
inline uint32_t Choose(uint32_t b, uint32_t c, uint32_t d) { return d ^ (b & (c ^ d)); }
inline uint32_t Parity(uint32_t b, uint32_t c, uint32_t d) { return b ^ c ^ d; }
inline uint32_t Majority(uint32_t b, uint32_t c, uint32_t d) { return (b & c) | (d & (b | c)); }

constexpr uint32_t kRound1 = 0x5A827999;
constexpr uint32_t kRound2 = 0x6ED9EBA1;
constexpr uint32_t kRound3 = 0x8F1BBCDC;
constexpr uint32_t kRound4 = 0xCA62C1D6;

// Expanded word t >= 16, stored back over word t - 16.  Unlike the later
// revision of the standard, the word is not rotated.
#define SHA0_EXPAND(w, t) ((w)[(t)&15] = (w)[((t)-3) & 15] ^ (w)[((t)-8) & 15] ^ (w)[((t)-14) & 15] ^ (w)[(t)&15])

// One step with the variables renamed instead of moved.
#define SHA0_STEP(f, k, a, b, c, d, e, x)         \
  do {                                            \
    (e) += Rotl(a, 5) + (f)(b, c, d) + (k) + (x); \
    (b) = Rotl(b, 30);                            \
  } while (0)

#define SHA0_FIVE(f, k, x0, x1, x2, x3, x4) \
  SHA0_STEP(f, k, a, b, c, d, e, x0);       \
  SHA0_STEP(f, k, e, a, b, c, d, x1);       \
  SHA0_STEP(f, k, d, e, a, b, c, x2);       \
  SHA0_STEP(f, k, c, d, e, a, b, x3);       \
  SHA0_STEP(f, k, b, c, d, e, a, x4)

#define SHA0_FIVE_LOADED(f, k, t) SHA0_FIVE(f, k, w[(t)], w[(t) + 1], w[(t) + 2], w[(t) + 3], w[(t) + 4])

#define SHA0_FIVE_EXPANDED(f, k, t)                                                                               \
  SHA0_FIVE(f, k, SHA0_EXPAND(w, (t)), SHA0_EXPAND(w, (t) + 1), SHA0_EXPAND(w, (t) + 2), SHA0_EXPAND(w, (t) + 3), \
            SHA0_EXPAND(w, (t) + 4))

// Compresses the block in w into state: all 80 steps in a straight line,
// with the expansion kept in the block's own sixteen words.  Afterwards the
// block holds expanded words 64..79.
void CompressWords(uint32_t* state, uint32_t* w) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];

  SHA0_FIVE_LOADED(Choose, kRound1, 0);
  SHA0_FIVE_LOADED(Choose, kRound1, 5);
  SHA0_FIVE_LOADED(Choose, kRound1, 10);
  SHA0_STEP(Choose, kRound1, a, b, c, d, e, w[15]);
  SHA0_STEP(Choose, kRound1, e, a, b, c, d, SHA0_EXPAND(w, 16));
  SHA0_STEP(Choose, kRound1, d, e, a, b, c, SHA0_EXPAND(w, 17));
  SHA0_STEP(Choose, kRound1, c, d, e, a, b, SHA0_EXPAND(w, 18));
  SHA0_STEP(Choose, kRound1, b, c, d, e, a, SHA0_EXPAND(w, 19));

  SHA0_FIVE_EXPANDED(Parity, kRound2, 20);
  SHA0_FIVE_EXPANDED(Parity, kRound2, 25);
  SHA0_FIVE_EXPANDED(Parity, kRound2, 30);
  SHA0_FIVE_EXPANDED(Parity, kRound2, 35);

  SHA0_FIVE_EXPANDED(Majority, kRound3, 40);
  SHA0_FIVE_EXPANDED(Majority, kRound3, 45);
  SHA0_FIVE_EXPANDED(Majority, kRound3, 50);
  SHA0_FIVE_EXPANDED(Majority, kRound3, 55);

  SHA0_FIVE_EXPANDED(Parity, kRound4, 60);
  SHA0_FIVE_EXPANDED(Parity, kRound4, 65);
  SHA0_FIVE_EXPANDED(Parity, kRound4, 70);
  SHA0_FIVE_EXPANDED(Parity, kRound4, 75);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

void CompressBytes(uint32_t* state, uint32_t* block, const uint8_t* data, size_t count) {
  for (; count > 0; --count, data += 64) {
    for (int i = 0; i < 16; ++i) block[i] = LoadBigEndian(data + 4 * i);
    CompressWords(state, block);
  }
}

}  // namespace

namespace sha0 {

const Variant kPortable = {CompressWords, CompressBytes, "portable", cpu::Feature::kNone};
#if SHA0_HAVE_SHANI
const Variant kShaNi = {CompressWordsShaNi, CompressBytesShaNi, "shani", cpu::Feature::kShaNi};
#endif
#if SHA0_HAVE_VECTOR
const Variant kSsse3 = {CompressWordsSsse3, CompressBytesSsse3, "ssse3", cpu::Feature::kSsse3};
#endif

std::span<const Variant* const> Variants() {
  static constexpr const Variant* kBestFirst[] = {
#if SHA0_HAVE_SHANI
    &kShaNi,
#endif
#if SHA0_HAVE_VECTOR
    &kSsse3,
#endif
    &kPortable,
  };
  return kBestFirst;
}

const Variant& Selected() {
  static const Variant& chosen = cpu::Choose(Variants());
  return chosen;
}

void UpdateWith(Sha0Context& ctx, const void* data, uint32_t length, const Variant& variant) {
  if (length == 0) return;
  ctx.byteCount += length;

  const auto* in = static_cast<const uint8_t*>(data);
  const uint8_t* const end = in + length;
  uint32_t word_index = ctx.wordIndex;
  uint32_t bytes_left = ctx.bytesLeftInWord;

  // On a block boundary, whole blocks go straight to the fast path.
  if (word_index == 0 && bytes_left == 4 && length >= 64) {
    const size_t whole = length / 64;
    variant.bytes(ctx.state, ctx.block, in, whole);
    in += 64 * whole;
  }
  while (in != end) {
    // Byte path: shift each byte into the current word, so leftovers of an
    // earlier block are pushed out by the time the word is complete.
    ctx.block[word_index] = (ctx.block[word_index] << 8) | *in++;
    if (--bytes_left != 0) continue;
    bytes_left = 4;
    if (++word_index != 16) continue;
    variant.words(ctx.state, ctx.block);
    word_index = 0;
    // Fast path: right after a block boundary, whole blocks load as words.
    const size_t whole = static_cast<size_t>(end - in) / 64;
    if (whole > 0) {
      variant.bytes(ctx.state, ctx.block, in, whole);
      in += 64 * whole;
    }
  }
  ctx.wordIndex = word_index;
  ctx.bytesLeftInWord = bytes_left;
}

void FinalWith(Sha0Context& ctx, const Variant& variant) {
  const uint32_t i = ctx.wordIndex;
  ctx.block[i] = (ctx.block[i] << 8) | 0x80;
  // Shifting the partial word into its top bytes also drops any leftover of
  // an earlier block that still sat in its low bytes.
  const uint32_t k = ctx.bytesLeftInWord - 1;
  if (k != 0) ctx.block[i] <<= 8 * k;
  ctx.wordIndex = i + 1;
  for (uint32_t j = i + 1; j < 16; ++j) ctx.block[j] = 0;
  if (i + 1 > 14) {
    variant.words(ctx.state, ctx.block);
    std::memset(ctx.block, 0, sizeof ctx.block);
  }
  // The length field's high word stays 0: the count is kept in 32 bits.
  ctx.block[15] = ctx.byteCount * 8;
  variant.words(ctx.state, ctx.block);
}

}  // namespace sha0

void Sha0Init(Sha0Context& ctx) {
  ctx.state[0] = 0x67452301;
  ctx.state[1] = 0xEFCDAB89;
  ctx.state[2] = 0x98BADCFE;
  ctx.state[3] = 0x10325476;
  ctx.state[4] = 0xC3D2E1F0;
  ctx.byteCount = 0;
  ctx.wordIndex = 0;
  std::memset(ctx.block, 0, sizeof ctx.block);
  ctx.bytesLeftInWord = 4;
}

void Sha0Update(Sha0Context& ctx, const void* data, uint32_t length) {
  sha0::UpdateWith(ctx, data, length, sha0::Selected());
}

void Sha0Final(Sha0Context& ctx) { sha0::FinalWith(ctx, sha0::Selected()); }

void Sha0DigestBytes(const Sha0Context& ctx, uint8_t* out) {
  for (int i = 0; i < 5; ++i) {
    for (int b = 0; b < 4; ++b) out[4 * i + b] = static_cast<uint8_t>(ctx.state[i] >> (8 * b));
  }
}

namespace {

// Asks the kernel to map the pages under [begin, end) now, in one call,
// rather than one fault at a time inside the hash loop.  Pages already
// mapped stay as they are, and nothing is written.  False when it cannot (a
// kernel without the request, or a page past the end of a file that shrank:
// the hash's own load then meets that page as it would have anyway).
bool MapAhead(const uint8_t* begin, const uint8_t* end) {
#ifdef MADV_POPULATE_READ
  constexpr uintptr_t kPageMask = 4095;  // the smallest page of every supported CPU
  const uint8_t* const first = begin - (reinterpret_cast<uintptr_t>(begin) & kPageMask);
  return madvise(const_cast<uint8_t*>(first), static_cast<size_t>(end - first), MADV_POPULATE_READ) == 0;
#else
  (void)begin;
  (void)end;
  return false;
#endif
}

}  // namespace

void Sha0UpdateLarge(Sha0Context& ctx, const void* data, size_t length) {
  // A large part is usually a file's mapping, read once from memory (or
  // disk).  Hashing it straight through makes the compression wait on memory
  // at every page, where the hardware's prefetch stops, and at every page
  // fault.  So the pages are mapped a window ahead in one call each, and the
  // next piece's cache lines are requested while the current piece is
  // hashed, far enough ahead to cover a memory access, near enough to stay
  // in the first-level cache.  Nothing here touches data that the hash
  // itself would not: a fault on a vanished page still comes from the hash's
  // own loads, in order.
  constexpr size_t kPiece = 16 * 1024;
  constexpr size_t kWindow = 1024 * 1024;
  const auto* in = static_cast<const uint8_t*>(data);
  const uint8_t* const end = in + length;
  const uint8_t* mapped = in;
  bool map_ahead = length > kWindow;
  // The first piece ends on a block boundary of the message, so every later
  // one is whole blocks and takes the compression's fast path throughout.
  size_t piece = kPiece - ctx.byteCount % 64;
  while (in != end) {
    if (piece > static_cast<size_t>(end - in)) piece = static_cast<size_t>(end - in);
    const uint8_t* const next = in + piece;
    if (map_ahead && mapped < end && static_cast<size_t>(mapped - in) < kWindow / 2) {
      const uint8_t* const stop = static_cast<size_t>(end - mapped) > kWindow ? mapped + kWindow : end;
      map_ahead = MapAhead(mapped, stop);
      mapped = stop;
    }
    const uint8_t* const prefetch_end = static_cast<size_t>(end - next) > kPiece ? next + kPiece : end;
    for (const uint8_t* line = next; line < prefetch_end; line += 64) __builtin_prefetch(line, 0, 3);
    Sha0Update(ctx, in, static_cast<uint32_t>(piece));
    in = next;
    piece = kPiece;
  }
}
