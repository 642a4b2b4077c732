// SPDX-License-Identifier: ISC
// The scheme is plain DSA: OpenSSL's own DSA verification accepts our
// signatures, and ours accepts OpenSSL's, on the development domain, with h
// handed over as the 20 big-endian bytes of the digest number.  This uses
// OpenSSL's low-level DSA interface, deprecated but still the most direct.
#include <gtest/gtest.h>
#include <openssl/dsa.h>

#include <array>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dsa/builtin_key.h"
#include "dsa/reference.h"
#include "tests/dsa/bignum_util.h"
#include "tests/dsa/signing_util.h"

namespace {

using namespace bnutil;
using namespace signing;

struct DsaFree {
  void operator()(DSA* dsa) const { DSA_free(dsa); }
};
struct SigFree {
  void operator()(DSA_SIG* sig) const { DSA_SIG_free(sig); }
};
using DsaPtr = std::unique_ptr<DSA, DsaFree>;
using SigPtr = std::unique_ptr<DSA_SIG, SigFree>;

DsaPtr OpenSslKey(const signtool::DsaKey& key, bool with_private) {
  DsaPtr dsa(DSA_new());
  EXPECT_EQ(DSA_set0_pqg(dsa.get(), BN_dup(key.p.get()), BN_dup(key.q.get()), BN_dup(key.g.get())), 1);
  EXPECT_EQ(DSA_set0_key(dsa.get(), BN_dup(key.y.get()), with_private ? BN_dup(key.x.get()) : nullptr), 1);
  return dsa;
}

std::array<uint8_t, 20> BigEndianDigest(const void* data, size_t length) {
  std::array<uint8_t, 20> digest{};
  EXPECT_EQ(BN_bn2binpad(signtool::DigestNumber(data, length).get(), digest.data(), 20), 20);
  return digest;
}

TEST(OpenSslDsa, AcceptsOurSignatures) {
  SKIP_WITHOUT_TEST_KEY();
  std::mt19937_64 rng(40);
  const signtool::DsaKey& key = TestKey();
  DsaPtr dsa = OpenSslKey(key, false);
  for (int i = 0; i < 40; ++i) {
    std::vector<uint8_t> message(rng() % 300);
    RandomBytes(rng, message.data(), message.size());
    const Signature sig = SignData(key, message.data(), message.size());
    ASSERT_EQ(VerifySignature(message.data(), static_cast<int>(message.size()), kVerifyKey, sig.data()), kVerifyOk);

    const auto digest = BigEndianDigest(message.data(), message.size());
    SigPtr dsa_sig(DSA_SIG_new());
    ASSERT_EQ(
        DSA_SIG_set0(dsa_sig.get(), BN_lebin2bn(sig.data(), 20, nullptr), BN_lebin2bn(sig.data() + 20, 20, nullptr)),
        1);
    EXPECT_EQ(DSA_do_verify(digest.data(), 20, dsa_sig.get(), dsa.get()), 1) << "message " << i;

    // And it is not accepting everything.
    auto wrong = digest;
    wrong[19] ^= 1;
    EXPECT_EQ(DSA_do_verify(wrong.data(), 20, dsa_sig.get(), dsa.get()), 0);
  }
}

TEST(OpenSslDsa, OurVerificationAcceptsOpenSslSignatures) {
  SKIP_WITHOUT_TEST_KEY();
  std::mt19937_64 rng(41);
  DsaPtr dsa = OpenSslKey(TestKey(), true);
  for (int i = 0; i < 40; ++i) {
    std::vector<uint8_t> message(rng() % 300);
    RandomBytes(rng, message.data(), message.size());
    const auto digest = BigEndianDigest(message.data(), message.size());
    SigPtr dsa_sig(DSA_do_sign(digest.data(), 20, dsa.get()));
    ASSERT_TRUE(dsa_sig);
    const BIGNUM *r = nullptr, *s = nullptr;
    DSA_SIG_get0(dsa_sig.get(), &r, &s);
    const Signature sig = FromNumbers(r, s);
    EXPECT_EQ(VerifySignature(message.data(), static_cast<int>(message.size()), kVerifyKey, sig.data()), kVerifyOk)
        << "message " << i;
  }
}

}  // namespace
