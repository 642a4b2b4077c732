// SPDX-License-Identifier: ISC
// The 1993 SHA digest: the standard's test vectors, a plain reference model
// for every padding length, and independence from how the message is split
// between calls, on every variant of the compression this CPU runs.
#include "hash/sha0.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "cpu/variant.h"
#include "hash/sha0_paths.h"

// Test parameters print as the variant's name.
namespace sha0 {
void PrintTo(const Variant* variant, std::ostream* os) { *os << variant->name; }
}  // namespace sha0

namespace {

// The variant under test: each test below runs once per variant.
const sha0::Variant* variant = &sha0::kPortable;

void Update(Sha0Context& ctx, const void* data, uint32_t length) { sha0::UpdateWith(ctx, data, length, *variant); }
void Final(Sha0Context& ctx) { sha0::FinalWith(ctx, *variant); }

class Sha0 : public ::testing::TestWithParam<const sha0::Variant*> {
 protected:
  void SetUp() override {
    variant = GetParam();
    if (!cpu::CanRun(*variant)) GTEST_SKIP() << "this CPU does not run the variant";
  }
  void TearDown() override { variant = &sha0::kPortable; }
};

// Every variant built here, named as the selection names it.
INSTANTIATE_TEST_SUITE_P(Variants, Sha0, ::testing::ValuesIn(sha0::Variants()),
                         [](const auto& test) { return std::string(test.param->name); });

using Digest = std::array<uint32_t, 5>;

uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// A deliberately naive model: pad the whole message, expand each block into
// 80 words (no rotation, unlike the later revision), run the steps in a loop.
Digest ReferenceDigest(const uint8_t* data, size_t length) {
  std::vector<uint8_t> message(data, data + length);
  message.push_back(0x80);
  while (message.size() % 64 != 56) message.push_back(0);
  const uint64_t bits = static_cast<uint64_t>(length) * 8;
  for (int i = 7; i >= 0; --i) message.push_back(static_cast<uint8_t>(bits >> (8 * i)));

  Digest h = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  for (size_t offset = 0; offset < message.size(); offset += 64) {
    uint32_t w[80];
    for (size_t t = 0; t < 16; ++t) {
      const uint8_t* p = &message[offset + 4 * t];
      w[t] = static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
             p[3];
    }
    for (int t = 16; t < 80; ++t) w[t] = w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16];
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int t = 0; t < 80; ++t) {
      uint32_t f, k;
      if (t < 20) {
        f = (b & c) | (~b & d);
        k = 0x5A827999;
      } else if (t < 40) {
        f = b ^ c ^ d;
        k = 0x6ED9EBA1;
      } else if (t < 60) {
        f = (b & c) | (b & d) | (c & d);
        k = 0x8F1BBCDC;
      } else {
        f = b ^ c ^ d;
        k = 0xCA62C1D6;
      }
      const uint32_t temp = Rotl(a, 5) + f + e + k + w[t];
      e = d;
      d = c;
      c = Rotl(b, 30);
      b = a;
      a = temp;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
  }
  return h;
}

Digest StateOf(const Sha0Context& ctx) {
  return {ctx.state[0], ctx.state[1], ctx.state[2], ctx.state[3], ctx.state[4]};
}

Digest DigestInOneCall(const void* data, size_t length) {
  Sha0Context ctx;
  Sha0Init(ctx);
  Update(ctx, data, static_cast<uint32_t>(length));
  Final(ctx);
  return StateOf(ctx);
}

// Feeds the message in pieces of the given sizes (the last piece takes the rest).
Digest DigestInPieces(const uint8_t* data, size_t length, const std::vector<size_t>& pieces) {
  Sha0Context ctx;
  Sha0Init(ctx);
  size_t offset = 0;
  for (size_t piece : pieces) {
    piece = std::min(piece, length - offset);
    Update(ctx, data + offset, static_cast<uint32_t>(piece));
    offset += piece;
  }
  Update(ctx, data + offset, static_cast<uint32_t>(length - offset));
  EXPECT_EQ(ctx.byteCount, static_cast<uint32_t>(length));
  Final(ctx);
  return StateOf(ctx);
}

std::vector<uint8_t> RandomMessage(std::mt19937_64& rng, size_t length) {
  std::vector<uint8_t> message(length);
  for (auto& byte : message) byte = static_cast<uint8_t>(rng());
  return message;
}

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

TEST_P(Sha0, StandardVectors) {
  const std::string abc = "abc";
  const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  const std::string million(1000000, 'a');
  const Digest empty_digest = {0xf96cea19, 0x8ad1dd56, 0x17ac084a, 0x3d92c610, 0x7708c0ef};
  const Digest abc_digest = {0x0164b8a9, 0x14cd2a5e, 0x74c4f7ff, 0x082c4d97, 0xf1edf880};
  const Digest two_blocks_digest = {0xd2516ee1, 0xacfa5baf, 0x33dfc1c4, 0x71e43844, 0x9ef134c8};
  const Digest million_digest = {0x3232affa, 0x48628a26, 0x653b5aaa, 0x44541fd9, 0x0d690603};

  Sha0Context ctx;
  Sha0Init(ctx);
  Final(ctx);
  EXPECT_EQ(StateOf(ctx), empty_digest);
  EXPECT_EQ(DigestInOneCall(abc.data(), abc.size()), abc_digest);
  EXPECT_EQ(DigestInOneCall(two_blocks.data(), two_blocks.size()), two_blocks_digest);
  EXPECT_EQ(DigestInOneCall(million.data(), million.size()), million_digest);

  // The model that the other tests lean on must agree with the standard.
  EXPECT_EQ(ReferenceDigest(nullptr, 0), empty_digest);
  EXPECT_EQ(ReferenceDigest(Bytes(abc), abc.size()), abc_digest);
  EXPECT_EQ(ReferenceDigest(Bytes(two_blocks), two_blocks.size()), two_blocks_digest);
  EXPECT_EQ(ReferenceDigest(Bytes(million), million.size()), million_digest);
}

// Every length up to three blocks and more, so every padding case (the
// length field in the same block or the next) and every partial word meets
// the model; each message also starts at every alignment.
TEST_P(Sha0, MatchesModelForEveryLengthAndAlignment) {
  std::mt19937_64 rng(1);
  const std::vector<uint8_t> buffer = RandomMessage(rng, 300);
  for (size_t length = 0; length <= 260; ++length) {
    for (size_t offset = 0; offset < 4; ++offset) {
      ASSERT_EQ(DigestInOneCall(buffer.data() + offset, length), ReferenceDigest(buffer.data() + offset, length))
          << "length " << length << " offset " << offset;
    }
  }
}

// Splitting at any point, including a first part that ends in the middle of
// a word so that the second call finishes the block byte by byte and only
// then takes whole blocks as words.
TEST_P(Sha0, AnySplitEqualsOneCall) {
  std::mt19937_64 rng(2);
  const std::vector<uint8_t> message = RandomMessage(rng, 64 * 6 + 37);
  const Digest whole = ReferenceDigest(message.data(), message.size());
  ASSERT_EQ(DigestInOneCall(message.data(), message.size()), whole);

  for (size_t first = 0; first <= message.size(); ++first) {
    ASSERT_EQ(DigestInPieces(message.data(), message.size(), {first}), whole) << "split at " << first;
  }
  for (size_t first = 0; first <= 130; ++first) {
    for (size_t second = 0; second <= 200; second += 7) {
      ASSERT_EQ(DigestInPieces(message.data(), message.size(), {first, second}), whole)
          << "pieces " << first << ", " << second;
    }
  }
  std::vector<size_t> bytewise(message.size(), 1);
  EXPECT_EQ(DigestInPieces(message.data(), message.size(), bytewise), whole);

  for (int trial = 0; trial < 500; ++trial) {
    std::vector<size_t> pieces;
    for (size_t total = 0; total < message.size();) {
      const size_t piece = rng() % 4 == 0 ? rng() % 200 : rng() % 9;  // zero-length pieces included
      pieces.push_back(piece);
      total += piece;
    }
    ASSERT_EQ(DigestInPieces(message.data(), message.size(), pieces), whole) << "trial " << trial;
  }
}

// The buffer is never cleared between blocks: after a compression it holds
// expanded words, which packing and padding must shift out.  Garbage in every
// block word at a block boundary stands for any such leftover.
TEST_P(Sha0, LeftoversInBlockDoNotLeakIntoTheDigest) {
  std::mt19937_64 rng(3);
  const std::vector<uint8_t> message = RandomMessage(rng, 200);

  Sha0Context ctx;
  Sha0Init(ctx);
  Update(ctx, message.data(), 64);
  bool any_left = false;
  for (uint32_t word : ctx.block) any_left |= word != 0;
  EXPECT_TRUE(any_left) << "expected expanded words after a compression";

  for (size_t tail = 0; tail <= 136; ++tail) {
    Sha0Context after_block;
    Sha0Init(after_block);
    Update(after_block, message.data(), 64);
    Update(after_block, message.data() + 64, static_cast<uint32_t>(tail));
    Final(after_block);
    ASSERT_EQ(StateOf(after_block), ReferenceDigest(message.data(), 64 + tail)) << "tail " << tail;

    for (uint32_t pattern : {0xFFFFFFFFu, 0x80000001u, static_cast<uint32_t>(rng())}) {
      Sha0Context dirty;
      Sha0Init(dirty);
      for (auto& word : dirty.block) word = pattern ^ static_cast<uint32_t>(rng());
      Update(dirty, message.data(), static_cast<uint32_t>(tail));
      Final(dirty);
      ASSERT_EQ(StateOf(dirty), ReferenceDigest(message.data(), tail)) << "tail " << tail;
    }
  }

  // Init resets a context that holds anything at all.
  Sha0Context reused;
  std::memset(&reused, 0xA5, sizeof reused);
  Sha0Init(reused);
  Update(reused, "abc", 3);
  Final(reused);
  EXPECT_EQ(StateOf(reused), (Digest{0x0164b8a9, 0x14cd2a5e, 0x74c4f7ff, 0x082c4d97, 0xf1edf880}));
}

TEST_P(Sha0, ZeroLengthUpdateChangesNothing) {
  std::mt19937_64 rng(4);
  const std::vector<uint8_t> message = RandomMessage(rng, 100);
  for (uint32_t prefix : {0u, 1u, 3u, 4u, 63u, 64u, 67u}) {
    Sha0Context ctx;
    Sha0Init(ctx);
    Update(ctx, message.data(), prefix);
    Sha0Context before;
    std::memcpy(&before, &ctx, sizeof ctx);
    Update(ctx, message.data() + prefix, 0);
    Update(ctx, nullptr, 0);
    EXPECT_EQ(std::memcmp(&before, &ctx, sizeof ctx), 0) << "after " << prefix << " bytes";
  }
}

// Each other compression leaves exactly the portable one's chaining words and
// expanded words, on a million random blocks (every eighth all zeros or all
// ones) and chaining values: one block from words, or up to four from bytes
// at any alignment.
TEST_P(Sha0, CompressionEqualsPortable) {
  if (variant == &sha0::kPortable) GTEST_SKIP() << "the reference itself";
  std::mt19937_64 rng(6);
  uint8_t data[4 * 64 + 8];
  for (int i = 0; i < 1000000; ++i) {
    uint32_t state[2][5], block[2][16];
    for (uint32_t& word : state[0]) word = static_cast<uint32_t>(rng());
    for (uint32_t& word : block[0])
      word = i % 8 == 0 ? 0u - static_cast<uint32_t>(i % 16 == 0) : static_cast<uint32_t>(rng());
    std::memcpy(state[1], state[0], sizeof state[0]);
    std::memcpy(block[1], block[0], sizeof block[0]);
    if (i % 2 == 0) {
      sha0::kPortable.words(state[0], block[0]);
      variant->words(state[1], block[1]);
    } else {
      const size_t count = 1 + static_cast<size_t>(i / 2 % 4), offset = rng() % 8;
      for (size_t j = 0; j < 64 * count; j += 8) {
        const uint64_t v = rng();
        std::memcpy(data + offset + j, &v, 8);
      }
      sha0::kPortable.bytes(state[0], block[0], data + offset, count);
      variant->bytes(state[1], block[1], data + offset, count);
    }
    ASSERT_EQ(std::memcmp(state[0], state[1], sizeof state[0]), 0) << "case " << i;
    ASSERT_EQ(std::memcmp(block[0], block[1], sizeof block[0]), 0) << "case " << i;
  }
}

// Several megabytes, fed whole and in pieces of any size, mixed with plain
// updates.
TEST(Sha0Selected, UpdateLargeEqualsUpdate) {
  std::mt19937_64 rng(5);
  std::vector<uint8_t> message((3u << 20) + 123);
  for (size_t i = 0; i + 8 <= message.size(); i += 8) {
    const uint64_t v = rng();
    std::memcpy(&message[i], &v, 8);
  }
  const Digest whole = DigestInOneCall(message.data(), message.size());
  EXPECT_EQ(whole, ReferenceDigest(message.data(), message.size()));

  Sha0Context ctx;
  Sha0Init(ctx);
  Sha0UpdateLarge(ctx, message.data(), message.size());
  Sha0Final(ctx);
  EXPECT_EQ(StateOf(ctx), whole);

  for (int trial = 0; trial < 3; ++trial) {
    Sha0Context pieces;
    Sha0Init(pieces);
    size_t offset = 0;
    while (offset < message.size()) {
      size_t piece = rng() % 2 == 0 ? rng() % 70 : rng() % 400000;
      piece = std::min(piece, message.size() - offset);
      if (rng() % 2 == 0) {
        Sha0UpdateLarge(pieces, message.data() + offset, piece);
      } else {
        Sha0Update(pieces, message.data() + offset, static_cast<uint32_t>(piece));
      }
      offset += piece;
    }
    Sha0UpdateLarge(pieces, message.data(), 0);
    EXPECT_EQ(pieces.byteCount, static_cast<uint32_t>(message.size()));
    Sha0Final(pieces);
    EXPECT_EQ(StateOf(pieces), whole) << "trial " << trial;
  }
}

}  // namespace
