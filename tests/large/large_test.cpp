// SPDX-License-Identifier: ISC
// Signed contents past 32 bits: the whole content is hashed, never a
// prefix that a 32-bit or int length would leave, and memory stays close to
// the file's size.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hash/sha0.h"
#include "signtool/dsa_keys.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::ProcessResult;
using testing_support::ReadFile;
using testing_support::TempDir;

constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr long kSlackKiB = 16 * 1024;  // beyond the file's size

// Writes bytes at offset, extending the file; the gap before them reads as zeros.
void WriteAt(const std::string& path, uint64_t offset, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(bytes.size()));
  close(fd);
}

long PeakChildRssKiB() {
  struct rusage usage {};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_maxrss;
}

std::string SignatureTextOfDigest(Sha0Context& context) {
  Sha0Final(context);
  uint8_t bytes[20];
  for (int i = 0; i < 5; ++i) {
    for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<uint8_t>(context.state[i] >> (8 * b));
  }
  signtool::DsaKey key;
  std::string error;
  EXPECT_TRUE(signtool::LoadKey(TEST_PRIVATE_KEY, signtool::KeyKind::kPrivate, key, error)) << error;
  signtool::Bn h(BN_lebin2bn(bytes, sizeof bytes, nullptr));
  uint8_t signature[40];
  EXPECT_TRUE(signtool::SignDigest(key, h.get(), signature, error)) << error;
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t byte : signature) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

TEST(LargeUrlList, FourGiBAfterTheSignedContentAreNotAccepted) {
  SKIP_WITHOUT_TEST_KEY();
  // A valid file, then exactly 2^32 further zero bytes: a length cut to 32
  // bits would hash just the original content and accept the file.
  TempDir dir;
  const std::string original = ReadFile(EXAMPLES_DIR "/mirrors.url");
  const std::string path = dir.Write("big.url", original);
  ASSERT_EQ(testing_support::Run(SIGNCHECK_PATH, {"signcheck", "url", path}).status, 0);
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(original.size() + 4 * kGiB)), 0);

  const ProcessResult result = testing_support::Run(SIGNCHECK_PATH, {"signcheck", "url", path});
  EXPECT_EQ(result.status, 70);
  EXPECT_NE(result.out.find("Wrong signature "), std::string::npos) << result.out;
  // The file is mapped, so its pages count; nothing beyond them is held.
  EXPECT_LE(PeakChildRssKiB(), static_cast<long>((original.size() + 4 * kGiB) / 1024) + kSlackKiB);
}

class LargeUpdateList : public ::testing::Test {
 protected:
  // An update list whose signed region runs past 2 GiB: the start marker,
  // 2 GiB and a little of zeros, the end marker, then the signature section.
  void SetUp() override {
    SKIP_WITHOUT_TEST_KEY();
    path_ = dir_.path().string() + "/big.lst";
    const std::string start = "[NorvuUpdateList]\r\n";
    const std::string end = "[NorvuUpdateListEnd]\r\n";
    WriteAt(path_, 0, start);
    end_offset_ = 2 * kGiB + 4096;
    WriteAt(path_, end_offset_, end);

    // The digest of the region, fed in pieces the way the file holds it.
    Sha0Context context;
    Sha0Init(context);
    Sha0Update(context, start.data(), static_cast<uint32_t>(start.size()));
    const std::vector<char> zeros(1 << 20, '\0');
    uint64_t left = end_offset_ - start.size();
    while (left > 0) {
      const uint64_t piece = left < zeros.size() ? left : zeros.size();
      Sha0Update(context, zeros.data(), static_cast<uint32_t>(piece));
      left -= piece;
    }
    Sha0Update(context, end.data(), static_cast<uint32_t>(end.size()));
    valid_signature_ = SignatureTextOfDigest(context);
  }

  void WriteSignature(const std::string& text) {
    WriteAt(path_, end_offset_ + 22, "[Signature]\r\nSignature=" + text + "\r\n");
  }

  TempDir dir_;
  std::string path_;
  uint64_t end_offset_ = 0;
  std::string valid_signature_;
};

TEST_F(LargeUpdateList, TheWholeRegionIsHashedAndVerified) {
  WriteSignature(valid_signature_);
  const ProcessResult result = testing_support::Run(SIGNCHECK_PATH, {"signcheck", "lst", path_});
  // The signature verifies (no "Wrong signature"), but the region holds NUL
  // bytes and could not be shown whole, so it does not count as found.
  EXPECT_EQ(result.status, 70);
  EXPECT_EQ(result.out, "Can`t find signed data in lst file " + path_ + "\n");
  const uint64_t size = end_offset_ + 22 + 13 + 10 + 80 + 2;
  EXPECT_LE(PeakChildRssKiB(), static_cast<long>(size / 1024) + kSlackKiB);
}

TEST_F(LargeUpdateList, AChangedByteDeepInTheRegionFails) {
  WriteSignature(valid_signature_);
  WriteAt(path_, 2 * kGiB + 100, "x");  // past the first 2^31 bytes
  const ProcessResult result = testing_support::Run(SIGNCHECK_PATH, {"signcheck", "lst", path_});
  EXPECT_EQ(result.status, 70);
  EXPECT_EQ(result.out, "Wrong signature " + valid_signature_ + " in lst file " + path_ + "\n");
}

}  // namespace

namespace {

// Runs signcheck with its address space limited to limit_kib.
ProcessResult RunLimited(const std::string& mode, const std::string& path, size_t limit_kib) {
  return testing_support::Run("/bin/sh", {"sh", "-c", "ulimit -v " + std::to_string(limit_kib) + "; exec \"$0\" \"$@\"",
                                          SIGNCHECK_PATH, mode, path});
}

TEST(LongSignatureText, IsPrintedWithoutACopy) {
  // Room for the file and a half, not for a second copy of the text.
  const std::string text(64 << 20, 'A');
  const size_t limit_kib = (text.size() + text.size() / 2) / 1024 + 16 * 1024;
  TempDir dir;
  const std::string url = dir.Write("long.url", "[signature]\r\n" + text + "\r\nhttp://a/\r\n");
  ProcessResult result = RunLimited("url", url, limit_kib);
  EXPECT_EQ(result.status, 70) << result.err;
  EXPECT_EQ(result.out.size(), 2 * text.size() + 61 + 2 * url.size());
  EXPECT_EQ(result.out.substr(result.out.size() - 14 - url.size()), " in url file " + url + "\n");

  const std::string lst =
      dir.Write("long.lst", "[NorvuUpdateList]\r\n[NorvuUpdateListEnd]\r\n[Signature]\r\nSignature=" + text);
  result = RunLimited("lst", lst, limit_kib);
  EXPECT_EQ(result.status, 70) << result.err;
  EXPECT_EQ(result.out, "Wrong signature " + text + " in lst file " + lst + "\n");
}

TEST(LongTaggedList, EntriesTakeNoMemoryOfTheirOwn) {
  SKIP_WITHOUT_TEST_KEY();
  // About 24 MiB of short entries, written and hashed a chunk at a time so
  // that this process, whose size the child's first peak inherits, stays
  // small.  signcheck's memory stays within twice the file.
  TempDir dir;
  const std::string path = dir.path().string() + "/long.nvl";
  Sha0Context context;
  Sha0Init(context);
  size_t size = 0;
  size_t entries = 0;
  std::string chunk;
  for (int i = 0; size < (24u << 20); ++i, ++entries) {
    chunk += "url=http://h/" + std::to_string(i) + "\r\n";
    if (chunk.size() >= (64u << 10)) {
      WriteAt(path, size, chunk);
      Sha0Update(context, chunk.data(), static_cast<uint32_t>(chunk.size()));
      size += chunk.size();
      chunk.clear();
    }
  }
  WriteAt(path, size, "sign=" + SignatureTextOfDigest(context) + "\r\n");
  const ProcessResult result = testing_support::Run(SIGNCHECK_PATH, {"signcheck", "nvl", path});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.size(), size - 4 * entries);
  EXPECT_LE(PeakChildRssKiB(), static_cast<long>(2 * size / 1024) + 8 * 1024);
}

}  // namespace
