// SPDX-License-Identifier: ISC
// What a client of the key ring is promised: a ring's keys, and only they,
// decide every mode's buffer and file checks; each addition says what it did
// by status, message and errno, a refused one leaving the ring as it was; any
// check that used the ring closes it to more keys.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "lib/signcheck.h"
#include "signtool/dsa_keys.h"
#include "tests/lib/ring_keys.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::TempDir;

const bool kHaveTestKey = !std::string(TEST_PRIVATE_KEY).empty();

// The signature text of bytes by signer, or by the compiled-in key for none.
std::string Sign(const RingKey* signer, const std::string& bytes) {
  if (signer == nullptr) return testing_support::SignText(bytes);
  std::string text, error;
  EXPECT_TRUE(signtool::SignatureText(signer->key, bytes.data(), bytes.size(), text, error)) << error;
  return text;
}

// A small file of the mode's layout, signed by signer.
std::string SignedFile(const std::string& mode, const RingKey* signer) {
  const std::string entries = mode == "msg" ? "msg=hello\r\n" : "url=http://a/\r\n";
  const std::string region = "[NorvuUpdateList]\r\nfile=a.bin\r\n[NorvuUpdateListEnd]\r\n";
  if (mode == "lst") return region + "[Signature]\r\nSignature=" + Sign(signer, region) + "\r\n";
  if (mode == "url") return "[signature]\n" + Sign(signer, entries) + "\n" + entries;
  return entries + "sign=" + Sign(signer, entries) + "\r\n";
}

int AddText(signcheck_keyring* ring, const std::string& text) {
  return signcheck_keyring_add_text(ring, text.data(), text.size());
}

std::string MessageOf(const signcheck_keyring* ring) {
  std::string message(signcheck_keyring_message(ring, nullptr, 0), '\0');
  signcheck_keyring_message(ring, message.data(), message.size() + 1);
  return message;
}

struct Checker {
  TempDir dir;
  signcheck_result* result = signcheck_result_new();
  ~Checker() { signcheck_result_free(result); }
  int Check(const signcheck_keyring* ring, const std::string& mode, const std::string& file, bool by_file) {
    if (!by_file) return signcheck_check_buffer_with(result, ring, mode.c_str(), file.data(), file.size(), "in");
    return signcheck_check_file_with(result, ring, mode.c_str(), dir.Write("in", file).c_str());
  }
  std::string KeyId() const {
    const char* id = signcheck_result_key_id(result);
    return id == nullptr ? "(none)" : id;
  }
};

TEST(KeyringPromises, EveryModeAndReadingAcceptsTheRingsKeysAloneAndNamesTheRingKey) {
  signcheck_keyring* ring = signcheck_keyring_new();
  ASSERT_EQ(AddText(ring, RingKeys()[0].public_text), SIGNCHECK_OK);
  ASSERT_EQ(AddText(ring, RingKeys()[1].public_text), SIGNCHECK_OK);
  const RingKey* const kCompiled = nullptr;
  const std::string compiled_id = signcheck_key_id();
  struct Row {
    const signcheck_keyring* ring;
    const RingKey* signer;
    int status;
    std::string id;
  };
  const std::vector<Row> rows = {{ring, &RingKeys()[1], SIGNCHECK_OK, RingKeys()[1].id},
                                 {ring, &RingKeys()[0], SIGNCHECK_OK, RingKeys()[0].id},
                                 {ring, &RingKeys()[2], SIGNCHECK_BAD_SIGNATURE, "(none)"},
                                 {ring, kCompiled, SIGNCHECK_BAD_SIGNATURE, "(none)"},
                                 {nullptr, kCompiled, SIGNCHECK_OK, compiled_id},
                                 {nullptr, &RingKeys()[0], SIGNCHECK_BAD_SIGNATURE, "(none)"}};
  Checker checker;
  for (const std::string mode : {"nvl", "msg", "lst", "url"}) {
    for (const bool by_file : {false, true}) {
      for (const Row& row : rows) {
        if (row.signer == kCompiled && !kHaveTestKey) continue;
        const std::string file = SignedFile(mode, row.signer);
        EXPECT_EQ(checker.Check(row.ring, mode, file, by_file), row.status) << mode << by_file << row.id;
        EXPECT_EQ(checker.KeyId(), row.id) << mode << " by file " << by_file;
      }
    }
  }
  // A valid signature over a list without entries is no success: no key ID.
  for (const bool by_file : {false, true}) {
    EXPECT_EQ(checker.Check(ring, "nvl", "sign=" + Sign(&RingKeys()[0], "") + "\r\n", by_file), SIGNCHECK_NO_ENTRIES);
    EXPECT_EQ(checker.KeyId(), "(none)") << by_file;
  }
  // The ID of a ring's key stays readable through later checks, until the
  // ring is freed.
  ASSERT_EQ(checker.Check(ring, "lst", SignedFile("lst", &RingKeys()[1]), false), SIGNCHECK_OK);
  const char* id = signcheck_result_key_id(checker.result);
  checker.Check(ring, "lst", "tampered", false);
  EXPECT_EQ(std::string(id), RingKeys()[1].id);
  signcheck_keyring_free(ring);
}

TEST(KeyringPromises, ARingWithoutKeysAcceptsNothingAndSaysSo) {
  signcheck_keyring* ring = signcheck_keyring_new();
  Checker checker;
  for (const bool by_file : {false, true}) {
    EXPECT_EQ(checker.Check(ring, "lst", SignedFile("lst", &RingKeys()[0]), by_file), SIGNCHECK_BAD_ARGUMENT);
    EXPECT_EQ(signcheck_result_span_count(checker.result), 0u);
    std::string message(signcheck_result_message(checker.result, nullptr, 0), '\0');
    signcheck_result_message(checker.result, message.data(), message.size() + 1);
    EXPECT_EQ(message, by_file ? "no keys to check file " + (checker.dir.path() / "in").string() + " against\n"
                               : "no keys to check file in against\n");
  }
  signcheck_keyring_free(ring);
}

// Each addition leaves its own status, message and errno, none of the last
// one's; what it refuses leaves the ring as it was and still checking.
TEST(KeyringPromises, EachAdditionReportsItsOwnOutcomeAndARefusalChangesNothing) {
  TempDir dir;
  const std::string key = RingKeys()[1].public_text;
  const std::string good = dir.Write("good.pub", RingKeys()[2].public_text);
  // The largest file read: the key padded with comment lines to 64 KiB.
  std::string padded = key;
  while (padded.size() < 64 * 1024)
    padded += std::string(std::min<size_t>(100, 64 * 1024 - padded.size()) - 1, '#') + "\n";
  const std::string largest = dir.Write("largest.pub", padded);
  const std::string too_large = dir.Write("too-large.pub", padded + "\n");
  const std::string fifo = (dir.path() / "fifo.pub").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string missing = (dir.path() / "missing.pub").string();
  const std::string folder = dir.path().string();
  const std::string private_text = signtool::FormatKey(RingKeys()[1].key, signtool::KeyKind::kPrivate);
  const std::string followed = key + "garbage that is not part of the text";

  signcheck_keyring* ring = signcheck_keyring_new();
  ASSERT_EQ(AddText(ring, RingKeys()[0].public_text), SIGNCHECK_OK);
  struct Row {
    std::function<int()> add;
    int status;
    std::string message;  // the whole message, or its start for the loader's own reasons
    int error;
    size_t size;
  };
  const std::vector<Row> rows = {
      {[&] { return signcheck_keyring_add_file(ring, missing.c_str()); }, SIGNCHECK_READ_ERROR,
       "key file " + missing + ": cannot open: No such file or directory\n", ENOENT, 1},
      {[&] { return AddText(ring, private_text); }, SIGNCHECK_DATA_ERROR, "key file <text>: ", 0, 1},
      {[&] { return signcheck_keyring_add_file(ring, folder.c_str()); }, SIGNCHECK_READ_ERROR,
       "key file " + folder + ": cannot read: Is a directory\n", EISDIR, 1},
      {[&] { return signcheck_keyring_add_text(ring, nullptr, 10); }, SIGNCHECK_USAGE,
       "key file <text>: no text given\n", 0, 1},
      {[&] { return signcheck_keyring_add_text(ring, nullptr, 0); }, SIGNCHECK_USAGE,
       "key file <text>: no text given\n", 0, 1},
      {[&] { return signcheck_keyring_add_file(ring, fifo.c_str()); }, SIGNCHECK_READ_ERROR,
       "key file " + fifo + ": not a regular file\n", EINVAL, 1},
      {[&] { return signcheck_keyring_add_file(ring, nullptr); }, SIGNCHECK_USAGE,
       "key file (null): no file name given\n", 0, 1},
      {[&] { return signcheck_keyring_add_file(ring, too_large.c_str()); }, SIGNCHECK_DATA_ERROR,
       "key file " + too_large + ": too large for a public key file\n", 0, 1},
      {[&] { return signcheck_keyring_add_file(ring, largest.c_str()); }, SIGNCHECK_OK, "", 0, 2},
      {[&] { return signcheck_keyring_add_file(ring, too_large.c_str()); }, SIGNCHECK_DATA_ERROR,
       "key file " + too_large + ": too large for a public key file\n", 0, 2},
      {[&] { return signcheck_keyring_add_text(ring, followed.data(), key.size()); }, SIGNCHECK_OK, "", 0, 3},
      {[&] { return signcheck_keyring_add_file(ring, good.c_str()); }, SIGNCHECK_OK, "", 0, 4},
  };
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].add(), rows[i].status) << "row " << i;
    EXPECT_EQ(MessageOf(ring).substr(0, rows[i].message.empty() ? std::string::npos : rows[i].message.size()),
              rows[i].message)
        << "row " << i;
    EXPECT_EQ(signcheck_keyring_errno(ring), rows[i].error) << "row " << i;
    EXPECT_EQ(signcheck_keyring_size(ring), rows[i].size) << "row " << i;
  }
  // Full at 8: a ninth key is refused by text and by file alike.
  for (size_t i = 3; i < 7; ++i) ASSERT_EQ(AddText(ring, RingKeys()[i].public_text), SIGNCHECK_OK);
  EXPECT_EQ(AddText(ring, RingKeys()[7].public_text), SIGNCHECK_USAGE);
  EXPECT_EQ(MessageOf(ring), "key file <text>: the ring already holds 8 keys\n");
  EXPECT_EQ(signcheck_keyring_add_file(ring, good.c_str()), SIGNCHECK_USAGE);
  EXPECT_EQ(MessageOf(ring), "key file " + good + ": the ring already holds 8 keys\n");
  EXPECT_EQ(signcheck_keyring_size(ring), 8u);
  // The message is cut to the buffer as snprintf cuts it.
  char cut[5] = "xxxx";
  EXPECT_EQ(signcheck_keyring_message(ring, cut, 4), MessageOf(ring).size());
  EXPECT_STREQ(cut, "key");
  std::string exact(MessageOf(ring).size() + 1, 'x');
  EXPECT_EQ(signcheck_keyring_message(ring, exact.data(), exact.size() - 1), exact.size() - 1);
  EXPECT_EQ(exact.substr(exact.size() - 2), std::string("\0x", 2)) << "the NUL in the last byte given";

  Checker checker;
  EXPECT_EQ(checker.Check(ring, "url", SignedFile("url", &RingKeys()[0]), true), SIGNCHECK_OK);
  EXPECT_EQ(checker.Check(ring, "url", SignedFile("url", &RingKeys()[7]), true), SIGNCHECK_BAD_SIGNATURE);
  signcheck_keyring_free(ring);

  // A null ring: nothing recorded, nothing read.
  EXPECT_EQ(AddText(nullptr, key), SIGNCHECK_USAGE);
  EXPECT_EQ(signcheck_keyring_add_file(nullptr, good.c_str()), SIGNCHECK_USAGE);
  EXPECT_EQ(signcheck_keyring_size(nullptr), 0u);
  EXPECT_EQ(signcheck_keyring_errno(nullptr), 0);
  EXPECT_EQ(signcheck_keyring_message(nullptr, cut, sizeof cut), 0u);
  EXPECT_STREQ(cut, "");
  signcheck_keyring_free(nullptr);
}

TEST(KeyringPromises, AnyCheckThatUsedTheRingClosesItToMoreKeys) {
  TempDir dir;
  const std::string next_file = dir.Write("next.pub", RingKeys()[1].public_text);
  for (const std::string mode : {"nvl", "lst", "url"}) {
    for (const bool by_file : {false, true}) {
      for (const RingKey* signer : {&RingKeys()[0], &RingKeys()[2]}) {
        signcheck_keyring* ring = signcheck_keyring_new();
        ASSERT_EQ(AddText(ring, RingKeys()[0].public_text), SIGNCHECK_OK);
        Checker checker;
        checker.Check(ring, mode, SignedFile(mode, signer), by_file);
        const std::string label = mode + (by_file ? " file" : " buffer") + (signer == &RingKeys()[0] ? " ok" : " bad");
        EXPECT_EQ(AddText(ring, RingKeys()[1].public_text), SIGNCHECK_USAGE) << label;
        EXPECT_EQ(MessageOf(ring), "key file <text>: the ring has been used by a check and takes no more keys\n")
            << label;
        EXPECT_EQ(signcheck_keyring_add_file(ring, next_file.c_str()), SIGNCHECK_USAGE) << label;
        EXPECT_EQ(signcheck_keyring_size(ring), 1u) << label;
        EXPECT_EQ(checker.Check(ring, mode, SignedFile(mode, &RingKeys()[1]), by_file), SIGNCHECK_BAD_SIGNATURE)
            << label;
        signcheck_keyring_free(ring);
      }
    }
  }
}

}  // namespace
