// SPDX-License-Identifier: ISC
// Signature text decoding: strtoul pairs for tagged lists, "%X" pairs for
// update and URL lists, and the piecewise digest behind large contents.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "hash/sha0.h"
#include "layouts/signature_text.h"
#include "signcheck/tagged_file_check.h"

namespace {

TEST(HexPairTest, ConvertsAsPercentX) {
  struct Case {
    char first, second;
    uint8_t expected;
  };
  const Case cases[] = {
      {'9', 'F', 0x9F},  {'9', 'f', 0x9F},  {'a', 'b', 0xAB},  // both cases
      {'A', 'G', 0x0A},                                        // one digit, then a non-digit
      {'7', '\0', 0x07},                                       // second character past the end
      {'\0', '5', 0x00}, {'G', '1', 0x00},  {'x', 'x', 0x00},  // nothing converts
      {'-', '1', 0xFF},  {'-', 'F', 0xF1},  {'+', 'F', 0x0F},  // signs
      {'-', 'x', 0x00},  {'+', '\0', 0x00}, {'0', 'x', 0x00},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeHexPair(c.first, c.second), c.expected) << "pair '" << c.first << "' '" << c.second << "'";
  }
}

// Guard bytes around the 41-byte buffer catch any write past its end.
struct GuardedBuffer {
  uint8_t bytes[kTaggedSignatureBufferSize + 8] = {};
  GuardedBuffer() { std::memset(bytes + kTaggedSignatureBufferSize, 0xCC, 8); }
  uint8_t* data() { return bytes; }
  bool guard_intact() const {
    for (size_t i = kTaggedSignatureBufferSize; i < sizeof bytes; ++i) {
      if (bytes[i] != 0xCC) return false;
    }
    return true;
  }
};

TEST(HexToBytesTest, DecodesPairsAsStrtoul) {
  GuardedBuffer buffer;
  HexToBytes("9fA0 5-1+F\r\n", buffer.data(), kTaggedSignatureBufferSize);
  const uint8_t expected[] = {0x9F, 0xA0, 0x05, 0xFF, 0x0F, 0x00};
  for (size_t i = 0; i < sizeof expected; ++i) EXPECT_EQ(buffer.bytes[i], expected[i]) << i;
  EXPECT_TRUE(buffer.guard_intact());
}

TEST(HexToBytesTest, OddOrEmptyTextsOnlyClearTheFirstByte) {
  for (const char* text : {"", "ABC", "0102\n"}) {
    GuardedBuffer buffer;
    std::memset(buffer.data(), 0x77, kTaggedSignatureBufferSize);
    HexToBytes(text, buffer.data(), kTaggedSignatureBufferSize);
    EXPECT_EQ(buffer.bytes[0], 0) << text;
    EXPECT_EQ(buffer.bytes[1], 0x77) << text;
  }
}

TEST(HexToBytesTest, NeverWritesPastTheBuffer) {
  // Up to 1017 characters can follow "sign=" in one piece.
  const std::string text(1016, 'E');
  GuardedBuffer buffer;
  HexToBytes(text.c_str(), buffer.data(), kTaggedSignatureBufferSize);
  EXPECT_TRUE(buffer.guard_intact());
  for (size_t i = 0; i < kTaggedSignatureBufferSize; ++i) EXPECT_EQ(buffer.bytes[i], 0xEE) << i;
}

// Contents past 4 GiB are hashed in pieces; the digest must not depend on
// where the pieces are cut.
TEST(PiecewiseDigestTest, AnySplitGivesTheDigestOfOneCall) {
  std::mt19937 random(7);
  std::vector<uint8_t> data(5000);
  for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
  Sha0Context whole;
  Sha0Init(whole);
  Sha0Update(whole, data.data(), static_cast<uint32_t>(data.size()));
  Sha0Final(whole);

  for (int round = 0; round < 50; ++round) {
    Sha0Context pieces;
    Sha0Init(pieces);
    size_t at = 0;
    while (at < data.size()) {
      const size_t piece = std::min<size_t>(random() % 200, data.size() - at);
      Sha0UpdateLarge(pieces, data.data() + at, piece);
      at += piece;
    }
    Sha0Final(pieces);
    EXPECT_EQ(std::memcmp(whole.state, pieces.state, sizeof whole.state), 0) << "round " << round;
  }
}

}  // namespace
