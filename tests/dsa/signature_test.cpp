// SPDX-License-Identifier: ISC
// Signature verification against the built-in key: signatures made with the
// development private key verify, every change of data or signature fails,
// each result code on its range case, and unreduced key and table entries.
#include "dsa/reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dsa/builtin_key.h"
#include "tests/dsa/bignum_util.h"
#include "tests/dsa/signing_util.h"

namespace {

using namespace bnutil;
using namespace signing;

std::vector<uint8_t> RandomMessage(std::mt19937_64& rng, size_t length) {
  std::vector<uint8_t> message(length);
  RandomBytes(rng, message.data(), length);
  return message;
}

int Verify(const std::vector<uint8_t>& message, const Signature& sig) {
  return VerifySignature(message.data(), static_cast<int>(message.size()), kVerifyKey, sig.data());
}

TEST(Verification, SignaturesOfTheDevelopmentKeyVerify) {
  SKIP_WITHOUT_TEST_KEY();
  std::mt19937_64 rng(30);
  const signtool::DsaKey& key = TestKey();
  std::vector<size_t> lengths = {0, 1, 3, 55, 56, 63, 64, 65, 1000, 70000};
  for (int i = 0; i < 30; ++i) lengths.push_back(rng() % 600);
  for (size_t length : lengths) {
    const std::vector<uint8_t> message = RandomMessage(rng, length);
    std::string text, error;
    ASSERT_TRUE(signtool::SignatureText(key, message.data(), message.size(), text, error)) << error;
    Signature sig;
    ASSERT_TRUE(DecodeHex(text, sig)) << text;
    EXPECT_EQ(Verify(message, sig), kVerifyOk) << "length " << length;
    EXPECT_EQ(VerifySignatureLarge(message.data(), message.size(), kVerifyKey, sig.data()), kVerifyOk);

    // The same digest built up in pieces by the caller.
    Sha0Context ctx;
    Sha0Init(ctx);
    const size_t half = length / 3;
    Sha0Update(ctx, message.data(), static_cast<uint32_t>(half));
    Sha0Update(ctx, message.data() + half, static_cast<uint32_t>(length - half));
    Sha0Final(ctx);
    EXPECT_EQ(VerifyDigestSignature(kVerifyKey, sig.data(), ctx), kVerifyOk);

    const Signature direct = SignData(key, message.data(), message.size());
    EXPECT_EQ(Verify(message, direct), kVerifyOk);
  }
}

// The digest number is H0 + H1 * 2^32 + ... + H4 * 2^128, built here from
// the standard's digest words rather than by the signing library.
TEST(Verification, DigestNumberTakesChainingWordsLeastSignificantFirst) {
  SKIP_WITHOUT_TEST_KEY();
  auto number = [](std::initializer_list<uint32_t> words) {
    Bn h = Word(0);
    int shift = 0;
    for (uint32_t word : words) {
      Bn part = Word(word);
      BN_lshift(part.get(), part.get(), shift);
      h = Add(h.get(), part.get());
      shift += 32;
    }
    return h;
  };
  const signtool::DsaKey& key = TestKey();
  const Signature abc = SignNumber(key, number({0x0164b8a9, 0x14cd2a5e, 0x74c4f7ff, 0x082c4d97, 0xf1edf880}).get());
  EXPECT_EQ(VerifySignature("abc", 3, kVerifyKey, abc.data()), kVerifyOk);
  EXPECT_EQ(VerifySignature("abd", 3, kVerifyKey, abc.data()), kVerifyMismatch);

  // A zero-length message is verified against the digest of the empty string;
  // a negative length counts as no data.
  const Signature empty = SignNumber(key, number({0xf96cea19, 0x8ad1dd56, 0x17ac084a, 0x3d92c610, 0x7708c0ef}).get());
  EXPECT_EQ(VerifySignature("", 0, kVerifyKey, empty.data()), kVerifyOk);
  EXPECT_EQ(VerifySignature("x", 0, kVerifyKey, empty.data()), kVerifyOk);
  EXPECT_EQ(VerifySignature("x", -5, kVerifyKey, empty.data()), kVerifyOk);
  EXPECT_EQ(VerifySignatureLarge("x", 0, kVerifyKey, empty.data()), kVerifyOk);
  EXPECT_EQ(VerifySignature("x", 1, kVerifyKey, empty.data()), kVerifyMismatch);
}

TEST(Verification, EverySignatureBitMatters) {
  SKIP_WITHOUT_TEST_KEY();
  std::mt19937_64 rng(31);
  const std::vector<uint8_t> message = RandomMessage(rng, 123);
  const Signature sig = SignData(TestKey(), message.data(), message.size());
  ASSERT_EQ(Verify(message, sig), kVerifyOk);
  for (size_t bit = 0; bit < 320; ++bit) {
    Signature changed = sig;
    changed[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    EXPECT_NE(Verify(message, changed), kVerifyOk) << "bit " << bit;
  }
}

TEST(Verification, DataChangesFail) {
  SKIP_WITHOUT_TEST_KEY();
  std::mt19937_64 rng(32);
  const std::vector<uint8_t> message = RandomMessage(rng, 200);
  const Signature sig = SignData(TestKey(), message.data(), message.size());
  ASSERT_EQ(Verify(message, sig), kVerifyOk);
  std::vector<size_t> bits;
  for (size_t bit = 0; bit < 16; ++bit) bits.push_back(bit);                   // first bytes
  for (size_t bit = 8 * 199; bit < 8 * 200; ++bit) bits.push_back(bit);        // last byte
  for (int i = 0; i < 150; ++i) bits.push_back(rng() % (8 * message.size()));  // a sample
  for (size_t bit : bits) {
    std::vector<uint8_t> changed = message;
    changed[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    EXPECT_EQ(Verify(changed, sig), kVerifyMismatch) << "bit " << bit;
  }
  std::vector<uint8_t> longer = message;
  longer.push_back(0);
  EXPECT_EQ(Verify(longer, sig), kVerifyMismatch);
  std::vector<uint8_t> shorter(message.begin(), message.end() - 1);
  EXPECT_EQ(Verify(shorter, sig), kVerifyMismatch);
}

// r is tested before s: each range case gives its own code.
TEST(Verification, ResultCodesOfOutOfRangeSignatures) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string message = "range cases";
  const Signature valid = SignData(TestKey(), message.data(), message.size());
  const Bn r = FromBytes(valid.data(), 20), s = FromBytes(valid.data() + 20, 20);
  const Bn q = FromLimbs(kPrimeQ, 10);
  const Bn zero = Word(0), one = Word(1);
  const Bn q_plus_1 = Add(q.get(), one.get()), q_minus_1 = Sub(q.get(), one.get());
  const Bn all_ones = Sub(PowerOfTwo(160).get(), one.get());
  auto verify = [&](const Bn& r_value, const Bn& s_value) {
    const Signature sig = FromNumbers(r_value.get(), s_value.get());
    return VerifySignature(message.data(), static_cast<int>(message.size()), kVerifyKey, sig.data());
  };

  ASSERT_EQ(verify(r, s), kVerifyOk);
  EXPECT_EQ(verify(q, s), kVerifyOutOfRange);
  EXPECT_EQ(verify(q_plus_1, s), kVerifyOutOfRange);
  EXPECT_EQ(verify(all_ones, s), kVerifyOutOfRange);
  EXPECT_EQ(verify(zero, s), kVerifyZero);
  EXPECT_EQ(verify(zero, q), kVerifyZero);
  EXPECT_EQ(verify(zero, all_ones), kVerifyZero);
  EXPECT_EQ(verify(q, zero), kVerifyOutOfRange);
  EXPECT_EQ(verify(all_ones, zero), kVerifyOutOfRange);
  EXPECT_EQ(verify(r, q), kVerifyOutOfRange);
  EXPECT_EQ(verify(r, q_plus_1), kVerifyOutOfRange);
  EXPECT_EQ(verify(r, all_ones), kVerifyOutOfRange);
  EXPECT_EQ(verify(r, zero), kVerifyZero);
  // Just inside the range the arithmetic runs and finds no match.
  EXPECT_EQ(verify(q_minus_1, s), kVerifyMismatch);
  EXPECT_EQ(verify(r, q_minus_1), kVerifyMismatch);
  EXPECT_EQ(verify(one, one), kVerifyMismatch);

  Signature fixed{};
  EXPECT_EQ(VerifySignature(message.data(), 11, kVerifyKey, fixed.data()), kVerifyZero);
  fixed.fill(0xFF);
  EXPECT_EQ(VerifySignature(message.data(), 11, kVerifyKey, fixed.data()), kVerifyOutOfRange);

  // r and s written most significant byte first.
  Signature reversed{};
  ToBytes(r.get(), reversed.data(), 20);
  ToBytes(s.get(), reversed.data() + 20, 20);
  std::reverse(reversed.begin(), reversed.begin() + 20);
  std::reverse(reversed.begin() + 20, reversed.end());
  EXPECT_NE(VerifySignature(message.data(), 11, kVerifyKey, reversed.data()), kVerifyOk);
  Bn r_big_endian = NewBn(), s_big_endian = NewBn();
  BN_bin2bn(valid.data(), 20, r_big_endian.get());
  BN_bin2bn(valid.data() + 20, 20, s_big_endian.get());
  EXPECT_TRUE(Equal(FromBytes(reversed.data(), 20).get(), r_big_endian.get()));
}

// h is used as it is, even when it is q or more, and h and h + q are the
// same number modulo q.
TEST(Verification, DigestNumberIsNotReduced) {
  SKIP_WITHOUT_TEST_KEY();
  std::mt19937_64 rng(33);
  BnCtx ctx = NewCtx();
  const signtool::DsaKey& key = TestKey();
  const Bn q = FromLimbs(kPrimeQ, 10);

  const Bn top = Sub(PowerOfTwo(160).get(), Word(1).get());
  std::vector<Bn> numbers;
  numbers.push_back(Word(0));
  numbers.push_back(Copy(q.get()));  // u1 = 0 mod q
  numbers.push_back(Add(q.get(), Word(1).get()));
  numbers.push_back(Copy(top.get()));
  for (const Bn& h : numbers) {
    const Signature sig = SignNumber(key, h.get());
    EXPECT_EQ(VerifyDigestSignature(kVerifyKey, sig.data(), ContextFor(h.get())), kVerifyOk) << Hex(h.get());
  }
  for (int i = 0; i < 10; ++i) {
    const Bn h = RandomBelow(rng, Sub(PowerOfTwo(160).get(), q.get()).get(), ctx.get());
    const Signature sig = SignNumber(key, h.get());
    EXPECT_EQ(VerifyDigestSignature(kVerifyKey, sig.data(), ContextFor(h.get())), kVerifyOk);
    EXPECT_EQ(VerifyDigestSignature(kVerifyKey, sig.data(), ContextFor(Add(h.get(), q.get()).get())), kVerifyOk);
    EXPECT_EQ(VerifyDigestSignature(kVerifyKey, sig.data(), ContextFor(Add(h.get(), Word(1).get()).get())),
              kVerifyMismatch);
  }
}

// Adds p to each 64-byte key entry or 32-limb table entry where the sum stays
// below 2^512; returns how many were raised.
int RaiseKeyRecord(KeyRecord& record, const BIGNUM* p) {
  int raised = 0;
  for (int k = 0; k < 4; ++k) {
    Bn entry = Add(FromBytes(record.data() + 64 * k, 64).get(), p);
    if (BN_num_bits(entry.get()) > 512) continue;
    ToBytes(entry.get(), record.data() + 64 * k, 64);
    ++raised;
  }
  return raised;
}

int RaiseBaseTable(uint16_t (*table)[32], const BIGNUM* p) {
  int raised = 0;
  for (int i = 0; i < 64; ++i) {
    Bn entry = Add(FromLimbs(table[i], 32).get(), p);
    if (BN_num_bits(entry.get()) > 512) continue;
    ToLimbs(entry.get(), table[i], 32);
    ++raised;
  }
  return raised;
}

// Steps a through a * step, a * step^2, ... modulo p until its Montgomery
// form has a second form above p; returns how many steps that took.  About
// p / (2^512 - p) steps on average: at most some 2^16 for any key signtool
// makes.
int StepToFormAboveP(Bn& a, const BIGNUM* step, const BIGNUM* p, BN_CTX* ctx) {
  int steps = 0;
  for (; !HasFormAboveP(a.get(), p, ctx) && steps < (1 << 22); ++steps) a = ModMul(a.get(), step, p, ctx);
  return steps;
}

TEST(Verification, KeyAndTableEntriesAboveP) {
  SKIP_WITHOUT_TEST_KEY();
  std::mt19937_64 rng(34);
  BnCtx ctx = NewCtx();
  const signtool::DsaKey& key = TestKey();
  const BIGNUM* p = key.p.get();

  // The built-in record and table with every entry raised that can be: for a
  // p near 2^512 that may be none.
  static uint16_t base_table[64][32];
  std::memcpy(base_table, kBaseTable, sizeof base_table);
  RaiseBaseTable(base_table, p);

  KeyRecord development{};
  std::memcpy(development.data(), kVerifyKey, 256);
  ASSERT_EQ(development, MakeKeyRecord(p, key.y.get())) << "the built-in key record is not the test key's";
  KeyRecord raised_development = development;
  RaiseKeyRecord(raised_development, p);

  // Another key on the same domain, with another generator of the subgroup,
  // whose first table entry and first key entry can be raised whatever p is.
  signtool::DsaKey other;
  other.p = Copy(key.p.get());
  other.q = Copy(key.q.get());
  other.g = ModExp(key.g.get(), RandomBelow(rng, key.q.get(), ctx.get()).get(), p, ctx.get());
  ASSERT_LT(StepToFormAboveP(other.g, key.g.get(), p, ctx.get()), 1 << 22);
  other.x = RandomBelow(rng, key.q.get(), ctx.get());
  other.y = ModExp(other.g.get(), other.x.get(), p, ctx.get());
  const int x_steps = StepToFormAboveP(other.y, other.g.get(), p, ctx.get());
  ASSERT_LT(x_steps, 1 << 22);
  BN_add_word(other.x.get(), static_cast<BN_ULONG>(x_steps));
  other.x = Mod(other.x.get(), key.q.get(), ctx.get());
  static uint16_t other_table[64][32], raised_other_table[64][32];
  MakeBaseTable(other.g.get(), p, other_table, ctx.get());
  std::memcpy(raised_other_table, other_table, sizeof other_table);
  EXPECT_GT(RaiseBaseTable(raised_other_table, p), 0);
  const KeyRecord other_record = MakeKeyRecord(p, other.y.get());
  KeyRecord raised_other = other_record;
  EXPECT_GT(RaiseKeyRecord(raised_other, p), 0);

  for (int i = 0; i < 12; ++i) {
    const std::vector<uint8_t> message = RandomMessage(rng, 1 + rng() % 100);
    Sha0Context ctx_message;
    Sha0Init(ctx_message);
    Sha0Update(ctx_message, message.data(), static_cast<uint32_t>(message.size()));
    Sha0Final(ctx_message);

    const Signature sig = SignData(key, message.data(), message.size());
    EXPECT_EQ(VerifyDigestSignatureWithBase(raised_development.data(), sig.data(), ctx_message, base_table), kVerifyOk);
    EXPECT_EQ(VerifyDigestSignatureWithBase(raised_development.data(), sig.data(), ctx_message, kBaseTable), kVerifyOk);
    EXPECT_EQ(VerifyDigestSignatureWithBase(development.data(), sig.data(), ctx_message, base_table), kVerifyOk);

    const Signature other_sig = SignData(other, message.data(), message.size());
    EXPECT_EQ(VerifyDigestSignatureWithBase(other_record.data(), other_sig.data(), ctx_message, other_table),
              kVerifyOk);
    EXPECT_EQ(VerifyDigestSignatureWithBase(raised_other.data(), other_sig.data(), ctx_message, other_table),
              kVerifyOk);
    EXPECT_EQ(VerifyDigestSignatureWithBase(raised_other.data(), other_sig.data(), ctx_message, raised_other_table),
              kVerifyOk);
    // Each signature verifies under its own key only.
    EXPECT_EQ(VerifyDigestSignature(kVerifyKey, other_sig.data(), ctx_message), kVerifyMismatch);
    EXPECT_EQ(VerifyDigestSignatureWithBase(raised_other.data(), sig.data(), ctx_message, raised_other_table),
              kVerifyMismatch);

    Signature changed = sig;
    changed[rng() % 40] ^= static_cast<uint8_t>(1u << (rng() % 8));
    EXPECT_NE(VerifyDigestSignatureWithBase(raised_development.data(), changed.data(), ctx_message, base_table),
              kVerifyOk);
  }
}

}  // namespace
