// SPDX-License-Identifier: ISC
// Signing with the compiled-in key's private half for the verification tests, and the
// forms the verification takes: 40-byte signatures, digest contexts and key
// records.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "dsa/verify.h"
#include "hash/sha0.h"
#include "signtool/dsa_keys.h"
#include "tests/dsa/bignum_util.h"

namespace signing {

using Signature = std::array<uint8_t, 40>;
using KeyRecord = std::array<uint8_t, 256>;

// Tests that sign with the compiled-in key's private half skip without it.
#define SKIP_WITHOUT_TEST_KEY()                   \
  if (std::string_view(TEST_PRIVATE_KEY).empty()) \
  GTEST_SKIP() << "no SIGNCHECK_TEST_PRIVATE_KEY: this test signs with the private half of the compiled-in key"

// The private half of the compiled-in key, loaded once per process.
inline const signtool::DsaKey& TestKey() {
  static const signtool::DsaKey key = [] {
    signtool::DsaKey k;
    std::string error;
    if (!signtool::LoadKey(TEST_PRIVATE_KEY, signtool::KeyKind::kPrivate, k, error)) {
      ADD_FAILURE() << error;
    }
    return k;
  }();
  return key;
}

inline Signature SignNumber(const signtool::DsaKey& key, const BIGNUM* h) {
  Signature sig{};
  std::string error;
  EXPECT_TRUE(signtool::SignDigest(key, h, sig.data(), error)) << error;
  return sig;
}

inline Signature SignData(const signtool::DsaKey& key, const void* data, size_t length) {
  return SignNumber(key, signtool::DigestNumber(data, length).get());
}

inline Signature FromNumbers(const BIGNUM* r, const BIGNUM* s) {
  Signature sig{};
  bnutil::ToBytes(r, sig.data(), 20);
  bnutil::ToBytes(s, sig.data() + 20, 20);
  return sig;
}

// A finished context whose chaining words are the digest number h: H0 holds
// its least significant 32 bits.
inline Sha0Context ContextFor(const BIGNUM* h) {
  uint8_t bytes[20];
  bnutil::ToBytes(h, bytes, 20);
  Sha0Context ctx{};
  for (int i = 0; i < 5; ++i) {
    ctx.state[i] = static_cast<uint32_t>(bytes[4 * i]) | static_cast<uint32_t>(bytes[4 * i + 1]) << 8 |
                   static_cast<uint32_t>(bytes[4 * i + 2]) << 16 | static_cast<uint32_t>(bytes[4 * i + 3]) << 24;
  }
  ctx.wordIndex = 16;
  return ctx;
}

// Y_k = y^(2^(40k)) * 2^512 mod p, 64 little-endian bytes each.
inline KeyRecord MakeKeyRecord(const BIGNUM* p, const BIGNUM* y) {
  bnutil::BnCtx ctx = bnutil::NewCtx();
  KeyRecord record{};
  for (int k = 0; k < 4; ++k) {
    bnutil::Bn power = bnutil::ModSquarings(y, 40 * k, p, ctx.get());
    bnutil::ToBytes(bnutil::MontForm(power.get(), p, ctx.get()).get(), record.data() + 64 * k, 64);
  }
  return record;
}

inline bool DecodeHex(const std::string& text, Signature& sig) {
  if (text.size() != 80) return false;
  for (size_t i = 0; i < 40; ++i) {
    unsigned value = 0;
    for (size_t j = 0; j < 2; ++j) {
      const char c = text[2 * i + j];
      unsigned digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<unsigned>(c - '0');
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<unsigned>(c - 'A' + 10);
      } else {
        return false;
      }
      value = value * 16 + digit;
    }
    sig[i] = static_cast<uint8_t>(value);
  }
  return true;
}

}  // namespace signing
