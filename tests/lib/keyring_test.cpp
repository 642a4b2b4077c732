// SPDX-License-Identifier: ISC
// Rings of keys loaded at run time: a file signed by any key of the ring
// passes and names that key (the ring names its keys in order), one signed
// by a key outside it fails, and a key that is not sound is refused.  The
// threads share one ring;
// the tsan preset runs this under ThreadSanitizer.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "lib/signcheck.h"
#include "signtool/dsa_keys.h"
#include "tests/lib/ring_keys.h"

namespace {

std::string SignedLst(const RingKey& key) {
  const std::string region = "[NorvuUpdateList]\r\nVersion=4.2.0\r\n[NorvuUpdateListEnd]\r\n";
  std::string text;
  std::string error;
  EXPECT_TRUE(signtool::SignatureText(key.key, region.data(), region.size(), text, error)) << error;
  return region + "[Signature]\r\nSignature=" + text + "\r\n";
}

struct Ring {
  signcheck_keyring* ring = signcheck_keyring_new();
  explicit Ring(size_t count) {
    for (size_t i = 0; i < count; ++i) {
      const std::string& text = RingKeys()[i].public_text;
      EXPECT_EQ(signcheck_keyring_add_text(ring, text.data(), text.size()), SIGNCHECK_OK);
    }
  }
  ~Ring() { signcheck_keyring_free(ring); }
  std::string Message() const {
    std::string message(signcheck_keyring_message(ring, nullptr, 0), '\0');
    signcheck_keyring_message(ring, message.data(), message.size() + 1);
    return message;
  }
};

struct Result {
  signcheck_result* result = signcheck_result_new();
  ~Result() { signcheck_result_free(result); }
  int Check(const Ring* ring, const std::string& file) {
    return signcheck_check_buffer_with(result, ring == nullptr ? nullptr : ring->ring, "lst", file.data(), file.size(),
                                       "in.lst");
  }
  std::string KeyId() const {
    const char* id = signcheck_result_key_id(result);
    return id == nullptr ? "(none)" : id;
  }
};

TEST(KeyringTest, AFileSignedByAnyKeyOfTheRingPassesAndNamesIt) {
  for (const size_t size : {1u, 2u, 8u}) {
    Ring ring(size);
    for (size_t index = 0; index <= size; ++index) {
      const char* id = signcheck_keyring_key_id(ring.ring, index);
      EXPECT_EQ(id == nullptr ? "(none)" : id, index < size ? RingKeys()[index].id : "(none)") << index;
    }
    Result result;
    for (size_t signer = 0; signer < 8; ++signer) {
      const int expected = signer < size ? int{SIGNCHECK_OK} : int{SIGNCHECK_BAD_SIGNATURE};
      EXPECT_EQ(result.Check(&ring, SignedLst(RingKeys()[signer])), expected) << size << " keys, signed by " << signer;
      EXPECT_EQ(result.KeyId(), signer < size ? RingKeys()[signer].id : "(none)");
    }
    // The compiled-in keys are not in the ring, nor the ring's keys in them.
    EXPECT_EQ(result.Check(nullptr, SignedLst(RingKeys()[0])), SIGNCHECK_BAD_SIGNATURE);
  }
}

TEST(KeyringTest, AKeyThatIsNotSoundIsRefused) {
  // A private key file given as a public one, and a key that is not sound.
  Ring bad(0);
  const std::string secret = signtool::FormatKey(RingKeys()[0].key, signtool::KeyKind::kPrivate);
  EXPECT_EQ(signcheck_keyring_add_text(bad.ring, secret.data(), secret.size()), SIGNCHECK_DATA_ERROR);
  std::string broken = RingKeys()[0].public_text;
  // Another hex digit, whatever the drawn key's digit was: q changes, the grammar holds.
  char& digit = broken[broken.find("q = ") + 6];
  digit = digit == '1' ? '2' : '1';
  EXPECT_EQ(signcheck_keyring_add_text(bad.ring, broken.data(), broken.size()), SIGNCHECK_DATA_ERROR);
  EXPECT_EQ(bad.Message().rfind("key file <text>: ", 0), 0u) << bad.Message();
  EXPECT_EQ(signcheck_keyring_size(bad.ring), 0u);
}

TEST(KeyringTest, ThreadsShareOneRing) {
  Ring ring(8);
  std::vector<std::string> files;
  for (const RingKey& key : RingKeys()) files.push_back(SignedLst(key));
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (size_t t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      Result result;
      for (int round = 0; round < 20; ++round) {
        const size_t signer = (t + static_cast<size_t>(round)) % 8;
        if (result.Check(&ring, files[signer]) != SIGNCHECK_OK || result.KeyId() != RingKeys()[signer].id)
          ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(8, 0));
}

// Every ring call with a null ring, text or buffer is defined: a usage
// error or an empty answer, never a null pointer passed on (UBSan under the
// asan preset aborts on one).
TEST(Keyring, NullArgumentsAreDefined) {
  signcheck_keyring* ring = signcheck_keyring_new();
  char buffer[4] = "abc";
  EXPECT_EQ(signcheck_keyring_add_text(nullptr, "p", 1), SIGNCHECK_USAGE);
  EXPECT_EQ(signcheck_keyring_add_file(nullptr, "k.pub"), SIGNCHECK_USAGE);
  EXPECT_EQ(signcheck_keyring_add_file(ring, nullptr), SIGNCHECK_USAGE);
  EXPECT_EQ(signcheck_keyring_add_text(ring, nullptr, 0), SIGNCHECK_USAGE);
  EXPECT_EQ(signcheck_keyring_message(nullptr, buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(signcheck_keyring_message(nullptr, nullptr, 0), 0u);
  EXPECT_GT(signcheck_keyring_message(ring, nullptr, 0), 0u);
  EXPECT_EQ(signcheck_keyring_errno(nullptr), 0);
  EXPECT_EQ(signcheck_keyring_size(nullptr), 0u);
  EXPECT_EQ(signcheck_check_buffer_with(nullptr, ring, "nvl", "", 0, "f"), SIGNCHECK_USAGE);
  EXPECT_EQ(signcheck_check_file_with(nullptr, ring, "nvl", "f"), SIGNCHECK_USAGE);
  EXPECT_EQ(signcheck_result_key_id(nullptr), nullptr);
  EXPECT_EQ(signcheck_result_spans(nullptr, nullptr, 0), 0u);
  EXPECT_EQ(signcheck_result_span(nullptr, 0).data, nullptr);
  signcheck_keyring_free(ring);
  signcheck_keyring_free(nullptr);
}

}  // namespace
