// SPDX-License-Identifier: ISC
// Keys as values: the path over precomputed powers gives the verdict of the
// reference path and of OpenSSL's DSA on every signature, under keys of
// their own domains; rings pick the first key that verifies; the loader
// builds the compiled-in key exactly and refuses every broken key file.
#include <gtest/gtest.h>
#include <openssl/dsa.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "dsa/builtin_key.h"
#include "dsa/key_loader.h"
#include "dsa/key_primality.h"
#include "dsa/power_tables.h"
#include "dsa/public_key.h"
#include "dsa/reference.h"
#include "tests/dsa/bignum_util.h"
#include "tests/dsa/signing_util.h"

namespace {

using namespace bnutil;
using namespace signing;
namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::unique_ptr<PublicKey> Load(const std::string& text) {
  auto key = std::make_unique<PublicKey>();
  std::string reason;
  EXPECT_TRUE(LoadPublicKey(text, "key.pub", *key, reason)) << reason;
  return key;
}

// One key with everything each verifier needs.
struct KeyUnderTest {
  signtool::DsaKey dsa;
  std::unique_ptr<PublicKey> loaded;
  KeyRecord record;
  uint16_t base_table[64][32];
  DSA* openssl = nullptr;

  explicit KeyUnderTest(signtool::DsaKey key) : dsa(std::move(key)) {
    loaded = Load(signtool::FormatKey(dsa, signtool::KeyKind::kPublic));
    record = MakeKeyRecord(dsa.p.get(), dsa.y.get());
    BnCtx ctx = NewCtx();
    MakeBaseTable(dsa.g.get(), dsa.p.get(), base_table, ctx.get());
    openssl = DSA_new();
    DSA_set0_pqg(openssl, BN_dup(dsa.p.get()), BN_dup(dsa.q.get()), BN_dup(dsa.g.get()));
    DSA_set0_key(openssl, BN_dup(dsa.y.get()), nullptr);
  }
  ~KeyUnderTest() { DSA_free(openssl); }
  KeyUnderTest(const KeyUnderTest&) = delete;
  KeyUnderTest& operator=(const KeyUnderTest&) = delete;

  bool OpenSslAccepts(const Signature& sig, const BIGNUM* h) const {
    uint8_t digest[20];
    BN_bn2binpad(h, digest, 20);
    DSA_SIG* dsa_sig = DSA_SIG_new();
    DSA_SIG_set0(dsa_sig, BN_lebin2bn(sig.data(), 20, nullptr), BN_lebin2bn(sig.data() + 20, 20, nullptr));
    const int result = DSA_do_verify(digest, 20, dsa_sig, openssl);
    DSA_SIG_free(dsa_sig);
    return result == 1;
  }
};

// Fresh keys, each in a domain of its own, made once for all tests.
const std::vector<std::unique_ptr<KeyUnderTest>>& Keys() {
  static const auto keys = [] {
    std::vector<std::unique_ptr<KeyUnderTest>> made;
    for (int i = 0; i < 3; ++i) {
      signtool::DsaKey key;
      std::string error;
      EXPECT_TRUE(signtool::GenerateKey(key, error)) << error;
      made.push_back(std::make_unique<KeyUnderTest>(std::move(key)));
    }
    return made;
  }();
  return keys;
}

// Valid signatures, then every kind of wrong one: r or s 0, q, above q, the
// largest 160-bit number, single bit flips, random bytes, and a valid
// signature of another key.
TEST(KeyPath, SameVerdictAsReferenceAndOpenSsl) {
  std::mt19937_64 rng(2024);
  BnCtx ctx = NewCtx();
  const auto& keys = Keys();
  for (size_t k = 0; k < keys.size(); ++k) {
    const KeyUnderTest& key = *keys[k];
    const BIGNUM* q = key.dsa.q.get();
    int accepted = 0;
    for (int i = 0; i < 120; ++i) {
      const Bn h = RandomBelow(rng, PowerOfTwo(160).get(), ctx.get());
      Signature sig = SignNumber(key.dsa, h.get());
      uint8_t* const half = sig.data() + 20 * (i % 2);
      switch (i % 12) {
        case 0:
        case 1: break;
        case 2:
        case 3: std::memset(half, 0, 20); break;
        case 4:
        case 5: ToBytes(q, half, 20); break;
        case 6:
        case 7: ToBytes(Add(q, Word(rng() % 1000 + 1).get()).get(), half, 20); break;
        case 8: std::memset(half, 0xFF, 20); break;
        case 9: sig[rng() % 40] ^= static_cast<uint8_t>(1u << rng() % 8); break;
        case 10: RandomBytes(rng, sig.data(), 40); break;
        case 11: sig = SignNumber(keys[(k + 1) % keys.size()]->dsa, h.get()); break;
      }
      const Sha0Context context = ContextFor(h.get());
      const int fast = VerifyDigestWithKey(*key.loaded, sig.data(), context);
      const int reference =
          VerifyDigestSignatureInDomain(key.loaded->domain, key.base_table, key.record.data(), sig.data(), context);
      ASSERT_EQ(fast, reference) << "key " << k << ", case " << i;
      ASSERT_EQ(fast == kVerifyOk, key.OpenSslAccepts(sig, h.get())) << "key " << k << ", case " << i;
      accepted += fast == kVerifyOk;
    }
    EXPECT_GE(accepted, 20) << "key " << k;
  }
}

// The comb exponentiation on its own, against OpenSSL's, on exponents whose
// bits sit where the rows and blocks meet, at both ends, and all set.
TEST(KeyPath, CombExponentiationMatchesOpenSsl) {
  struct Row {
    const char* name;
    std::vector<int> bits1, bits2;  // the set bits of each exponent; {-1}: all 160
  };
  const Row rows[] = {
      {"g alone", {0, 77}, {}},
      {"y alone", {}, {5, 159}},
      {"lowest bits", {0}, {0}},
      {"highest bits", {159}, {159}},
      {"row ends", {19, 20, 39, 40, 139, 140}, {19, 20, 119, 120}},
      {"block ends", {9, 10, 29, 30, 149, 150}, {9, 10, 69, 70}},
      {"one column in every row", {4, 24, 44, 64, 84, 104, 124, 144}, {15, 35, 55, 75, 95, 115, 135, 155}},
      {"all bits", {-1}, {-1}},
  };
  BnCtx ctx = NewCtx();
  const KeyUnderTest& key = *Keys()[0];
  const BIGNUM* p = key.dsa.p.get();
  for (const Row& row : rows) {
    uint8_t exp1[20] = {}, exp2[20] = {};
    for (const auto& [bits, exp] : {std::pair{&row.bits1, exp1}, std::pair{&row.bits2, exp2}}) {
      for (const int bit : *bits) {
        if (bit < 0) std::memset(exp, 0xFF, 20);
        if (bit >= 0) exp[bit / 8] = static_cast<uint8_t>(exp[bit / 8] | 1 << bit % 8);
      }
    }
    Limb acc[kPLimbs];
    mont_multi_exp_powers(acc, exp1, key.loaded->generator_powers, exp2, key.loaded->key_powers, key.loaded->domain.p,
                          key.loaded->domain.factor_p);
    const Bn expected = ModMul(ModExp(key.dsa.g.get(), FromBytes(exp1, 20).get(), p, ctx.get()).get(),
                               ModExp(key.dsa.y.get(), FromBytes(exp2, 20).get(), p, ctx.get()).get(), p, ctx.get());
    EXPECT_TRUE(Congruent(FromLimbs(acc, kPLimbs).get(), MontForm(expected.get(), p, ctx.get()).get(), p, ctx.get()))
        << row.name;
  }
}

// The compiled-in key through the entry points that read the record, and
// through the ring; the ring answers with the first key that verifies.
TEST(KeyPath, CompiledKeyAndRings) {
  SKIP_WITHOUT_TEST_KEY();
  const KeyRing compiled = CompiledKeyRing();
  ASSERT_GE(compiled.size(), 1u);  // more while a key is rotated; the test key is the first
  EXPECT_STREQ(compiled[0]->id, kKeyId);
  const auto& keys = Keys();
  std::mt19937_64 rng(7);
  BnCtx ctx = NewCtx();
  for (int i = 0; i < 40; ++i) {
    const Bn h = RandomBelow(rng, PowerOfTwo(160).get(), ctx.get());
    Signature sig = SignNumber(TestKey(), h.get());
    if (i % 2 == 1) sig[rng() % 40] ^= static_cast<uint8_t>(1u << rng() % 8);
    const Sha0Context context = ContextFor(h.get());
    const int reference = VerifyDigestSignature(kVerifyKey, sig.data(), context);
    ASSERT_EQ(VerifyDigestWithKey(*compiled[0], sig.data(), context), reference) << "case " << i;
    const PublicKey* const ring[] = {keys[0]->loaded.get(), keys[1]->loaded.get(), compiled[0], compiled[0]};
    EXPECT_EQ(VerifyDigestWithRing(ring, sig.data(), context), reference == kVerifyOk ? 2 : -1) << "case " << i;
    EXPECT_EQ(VerifyDigestWithRing(KeyRing(ring, 2), sig.data(), context), -1);
  }
  const Bn h = Word(12345);
  EXPECT_EQ(VerifyDigestWithRing({}, SignNumber(TestKey(), h.get()).data(), ContextFor(h.get())), -1);
}

// The loader builds from the first compiled-in key's public key file exactly
// the constants that signtool generated for it, line ends and comments
// notwithstanding, whatever key the build compiles in.
TEST(KeyLoader, BuildsTheCompiledKey) {
  const std::string text = ReadText(BUILTIN_PUBLIC_KEY);
  std::string crlf = "# another comment\r\n\r\n";
  for (const char c : text) crlf += c == '\n' ? std::string("  # end\r\n") : std::string(1, c);
  for (const std::string& variant : {text, crlf}) {
    const auto key = Load(variant);
    const PublicKey& compiled = *CompiledKeyRing()[0];
    EXPECT_EQ(std::memcmp(&key->domain, &compiled.domain, sizeof compiled.domain), 0);
    EXPECT_EQ(std::memcmp(key->generator_powers, compiled.generator_powers, sizeof(PowerTable)), 0);
    EXPECT_EQ(std::memcmp(key->key_powers, compiled.key_powers, sizeof(PowerTable)), 0);
    EXPECT_STREQ(key->id, compiled.id);
  }
}

// Each file under tests/keys/bad breaks one rule, which its first line
// names ("# refused: WORDS"); the loader must refuse it for that reason and
// leave the key untouched.
TEST(KeyLoader, RefusesEachBrokenKey) {
  int files = 0;
  for (const auto& entry : fs::directory_iterator(SOURCE_DIR "/tests/keys/bad")) {
    if (entry.path().extension() != ".pub") continue;
    ++files;
    const std::string text = ReadText(entry.path());
    const std::string marker = "# refused: ";
    const size_t at = text.find(marker);
    ASSERT_NE(at, std::string::npos) << entry.path();
    const size_t end = text.find_first_of("\r\n", at);
    const std::string expected = text.substr(at + marker.size(), end - at - marker.size());
    auto key = std::make_unique<PublicKey>();
    std::memset(key.get(), 0x5A, sizeof *key);
    std::string reason;
    EXPECT_FALSE(LoadPublicKey(text, {}, *key, reason)) << entry.path();
    EXPECT_NE(reason.find(expected), std::string::npos) << entry.path() << ": " << reason;
    EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
    const auto* bytes = reinterpret_cast<const uint8_t*>(key.get());
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof *key, [](uint8_t b) { return b == 0x5A; })) << entry.path();
  }
  EXPECT_GE(files, 15);

  std::string reason;
  const std::string padded = ReadText(SOURCE_DIR "/keys/development.pub") + "#" + std::string(64 * 1024, ' ') + "\n";
  EXPECT_FALSE(LoadPublicKey(padded, "padded.pub", *std::make_unique<PublicKey>(), reason));
  EXPECT_NE(reason.find("64 KiB"), std::string::npos) << reason;
}

}  // namespace

// The primality test against OpenSSL's: primes of each key size pass (each
// through the Lucas test, under whatever D its residues pick), products of
// two primes fail, and the crafted q = p1 (2 p1 - 1) fails on every load,
// with or without random rounds.
TEST(KeyPrimality, AgreesWithOpenSslOnPrimesProductsAndAPseudoprime) {
  const BnCtx ctx = NewCtx();
  struct Row {
    int16_t limbs;
    int primes;
  };
  for (const Row& row : {Row{10, 60}, Row{32, 12}}) {
    SCOPED_TRACE(row.limbs);
    const int bits = 16 * row.limbs;
    std::vector<uint16_t> limbs(static_cast<size_t>(row.limbs));
    for (int i = 0; i < row.primes; ++i) {
      const Bn prime = NewBn(), other = NewBn();
      ASSERT_EQ(BN_generate_prime_ex(prime.get(), bits, 0, nullptr, nullptr, nullptr), 1);
      ToLimbs(prime.get(), limbs.data(), row.limbs);
      EXPECT_EQ(TestPrimality(limbs.data(), row.limbs, 2), Primality::kProbablyPrime) << Hex(prime.get());
      // Two primes of half the size whose product keeps the top bit.
      do {
        ASSERT_EQ(BN_generate_prime_ex(prime.get(), bits / 2, 0, nullptr, nullptr, nullptr), 1);
        ASSERT_EQ(BN_generate_prime_ex(other.get(), bits / 2, 0, nullptr, nullptr, nullptr), 1);
        ASSERT_EQ(BN_mul(prime.get(), prime.get(), other.get(), ctx.get()), 1);
      } while (BN_num_bits(prime.get()) != bits);
      ToLimbs(prime.get(), limbs.data(), row.limbs);
      EXPECT_EQ(TestPrimality(limbs.data(), row.limbs, 2), Primality::kComposite) << Hex(prime.get());
    }
  }
  const std::string text = ReadText(SOURCE_DIR "/tests/keys/bad/q-pseudoprime.pub");
  const size_t at = text.find("q = ") + 4;
  BIGNUM* raw = nullptr;
  ASSERT_GT(BN_hex2bn(&raw, text.substr(at, text.find('\n', at) - at).c_str()), 0);
  const Bn pseudo(raw);
  uint16_t q[10];
  ToLimbs(pseudo.get(), q, 10);
  for (int load = 0; load < 200; ++load) ASSERT_EQ(TestPrimality(q, 10, load % 2 == 0 ? 0 : 40), Primality::kComposite);
}
