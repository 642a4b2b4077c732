// SPDX-License-Identifier: ISC
// The digest against the NIST CAVP vectors on each variant of the compression,
// and the message bookkeeping that the variants share.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "cpu/variant.h"
#include "hash/sha256.h"
#include "hash/sha256_compress.h"

// Test parameters print as the variant's name.
namespace sha256 {
void PrintTo(const Variant* variant, std::ostream* os) { *os << variant->name; }
}  // namespace sha256

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string ToHex(const uint8_t* bytes, size_t n) {
  std::string out;
  char pair[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    out += pair;
  }
  return out;
}

// The committed copy first; the system's copy of the same files otherwise.
std::ifstream OpenVectors(const std::string& name) {
  std::ifstream in(std::string(SHA256_VECTOR_DIR) + "/" + name);
  if (!in) {
    in.open("/usr/lib/python3/dist-packages/cryptography_vectors/hashes/SHA2/" + name);
  }
  return in;
}

// "Key = value" lines of a CAVP response file, with its CRLF endings.
bool NextField(std::ifstream& in, std::string& key, std::string& value) {
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find(" = ");
    if (line.empty() || line[0] == '#' || line[0] == '[' || eq == std::string::npos) continue;
    key = line.substr(0, eq);
    value = line.substr(eq + 3);
    return true;
  }
  return false;
}

using Variant = const sha256::Variant*;

std::string DigestWith(sha256::CompressFn compress, const Bytes& message) {
  Sha256Context ctx;
  Sha256Init(ctx);
  sha256::UpdateWith(ctx, message.data(), static_cast<uint32_t>(message.size()), compress);
  uint8_t out[32];
  sha256::FinalWith(ctx, out, compress);
  return ToHex(out, 32);
}

class CompressionPath : public testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    if (!cpu::CanRun(*GetParam())) GTEST_SKIP() << "this CPU does not run the variant";
  }

  void CheckMessageFile(const char* name, int expected_count) {
    std::ifstream in = OpenVectors(name);
    ASSERT_TRUE(in) << name << " not found: the checked-in vectors are missing from this checkout";
    std::string key, value;
    size_t bit_length = 0;
    Bytes message;
    int count = 0;
    while (NextField(in, key, value)) {
      if (key == "Len") {
        bit_length = std::stoul(value);
      } else if (key == "Msg") {
        message = FromHex(value);
        message.resize(bit_length / 8);  // "Len = 0" comes with "Msg = 00"
      } else if (key == "MD") {
        EXPECT_EQ(DigestWith(GetParam()->compress, message), value) << name << " Len = " << bit_length;
        ++count;
      }
    }
    EXPECT_EQ(count, expected_count);
  }
};

TEST_P(CompressionPath, ShortMessages) { CheckMessageFile("SHA256ShortMsg.rsp", 65); }

TEST_P(CompressionPath, LongMessages) { CheckMessageFile("SHA256LongMsg.rsp", 64); }

// Each of the 100 checkpoints is the last of 1000 chained digests over the
// three digests before it.
TEST_P(CompressionPath, MonteCarlo) {
  std::ifstream in = OpenVectors("SHA256Monte.rsp");
  ASSERT_TRUE(in) << "SHA256Monte.rsp not found: the checked-in vectors are missing from this checkout";
  std::string key, value;
  Bytes seed;
  int checkpoints = 0;
  while (NextField(in, key, value)) {
    if (key == "Seed") {
      seed = FromHex(value);
    } else if (key == "MD") {
      Bytes md[3] = {seed, seed, seed};
      for (int i = 0; i < 1000; ++i) {
        Bytes message;
        for (const Bytes& part : md) message.insert(message.end(), part.begin(), part.end());
        md[0] = md[1];
        md[1] = md[2];
        md[2] = FromHex(DigestWith(GetParam()->compress, message));
      }
      seed = md[2];
      ASSERT_EQ(ToHex(seed.data(), seed.size()), value) << "checkpoint " << checkpoints;
      ++checkpoints;
    }
  }
  EXPECT_EQ(checkpoints, 100);
}

// Many blocks in one call, from every alignment: the SIMD path loads
// unaligned and must keep its chaining words right from block to block.
TEST_P(CompressionPath, AgreesWithPortableOnLongUnalignedRuns) {
  std::mt19937 random(7);
  Bytes data(64 * 40 + 8);
  for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
  for (size_t offset = 0; offset < 8; ++offset) {
    uint32_t ours[8], portable[8];
    for (int i = 0; i < 8; ++i) ours[i] = portable[i] = static_cast<uint32_t>(random());
    GetParam()->compress(ours, data.data() + offset, 40);
    sha256::CompressPortable(portable, data.data() + offset, 40);
    EXPECT_EQ(0, std::memcmp(ours, portable, sizeof ours)) << "offset " << offset;
  }
}

// Every variant built here, named as the selection names it.
INSTANTIATE_TEST_SUITE_P(Sha256, CompressionPath, testing::ValuesIn(sha256::Variants()),
                         [](const testing::TestParamInfo<Variant>& variant) { return variant.param->name; });

// Every way of cutting a message into three Sha256Update calls, empty calls
// included, gives the digest of one call.
TEST(Sha256, AnySplitOfTheInputEqualsOneCall) {
  std::mt19937 random(11);
  Bytes message(200);
  for (uint8_t& byte : message) byte = static_cast<uint8_t>(random());
  uint8_t whole[32];
  Sha256Digest(message.data(), static_cast<uint32_t>(message.size()), whole);

  const uint32_t n = static_cast<uint32_t>(message.size());
  for (uint32_t i = 0; i <= n; ++i) {
    for (uint32_t j = i; j <= n; ++j) {
      Sha256Context ctx;
      Sha256Init(ctx);
      Sha256Update(ctx, message.data(), i);
      Sha256Update(ctx, message.data() + i, j - i);
      Sha256Update(ctx, message.data() + j, n - j);
      uint8_t split[32];
      Sha256Final(ctx, split);
      ASSERT_EQ(0, std::memcmp(whole, split, 32)) << "split at " << i << " and " << j;
    }
  }
}

// Counts the blocks compressed, so that the padding boundaries can be seen.
uint32_t blocks_compressed = 0;
void CountingCompress(uint32_t* state, const uint8_t* data, size_t blocks) {
  blocks_compressed += static_cast<uint32_t>(blocks);
  sha256::CompressPortable(state, data, blocks);
}

// The 0x80 byte and the 8-byte length fit after at most 55 message bytes;
// from 56 on they need a second block.  An exact 64 leaves nothing pending.
TEST(Sha256, PaddingTakesASecondBlockFrom56PendingBytes) {
  const Bytes message(64, 0x61);
  const struct {
    uint32_t length, pending_after_update, total_after_update, blocks_in_final;
  } cases[] = {{55, 55, 0, 1}, {56, 56, 0, 2}, {63, 63, 0, 2}, {64, 0, 64, 1}};
  for (const auto& c : cases) {
    Sha256Context ctx;
    Sha256Init(ctx);
    sha256::UpdateWith(ctx, message.data(), c.length, CountingCompress);
    EXPECT_EQ(ctx.pendingLength, c.pending_after_update) << c.length;
    EXPECT_EQ(ctx.totalLength, c.total_after_update) << c.length;
    blocks_compressed = 0;
    uint8_t out[32];
    sha256::FinalWith(ctx, out, CountingCompress);
    EXPECT_EQ(blocks_compressed, c.blocks_in_final) << c.length;

    uint8_t expected[32];
    Sha256Digest(message.data(), c.length, expected);
    EXPECT_EQ(0, std::memcmp(out, expected, 32)) << c.length;
  }
}

}  // namespace
