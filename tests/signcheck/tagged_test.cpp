// SPDX-License-Identifier: ISC
// Tagged-line lists (modes nvl and msg), checked in memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "signcheck/tagged_file_check.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::Capture;
using testing_support::Outcome;
using testing_support::SignText;

Outcome Check(const std::string& content, CheckMode mode = CheckMode::kNvl) {
  return Capture([&](FILE* out) { return TaggedContentCheckSign(content, "list.nvl", mode, out); });
}

const char kNotValid[] = "Error: file list.nvl does not contain a valid Norvu signature.\n";

const std::string kFirst = "url=http://one.example/\r\n";
const std::string kSecond = "url=http://two.example/\r\n";
const std::string kSignedPair = "sign=" + SignText(kFirst + kSecond);

TEST(TaggedListTest, ValidListPrintsEntriesWithTheirLineEnds) {
  SKIP_WITHOUT_TEST_KEY();
  const Outcome outcome = Check("# mirrors\r\n" + kFirst + kSecond + kSignedPair + "\r\n");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "http://one.example/\r\nhttp://two.example/\r\n");
}

TEST(TaggedListTest, SignatureLineEndDecidesWhatIsDecoded) {
  SKIP_WITHOUT_TEST_KEY();
  EXPECT_EQ(Check(kFirst + kSecond + kSignedPair).status, 0);              // last line, no line end
  const Outcome feed_only = Check(kFirst + kSecond + kSignedPair + "\n");  // odd length
  EXPECT_EQ(feed_only.status, 70);
  EXPECT_EQ(feed_only.output, kNotValid);
  EXPECT_EQ(Check(kFirst + kSecond + "SIGN=" + kSignedPair.substr(5) + "\r\n").status, 0);
  // An even-length text past 82 characters verifies on its first 40 bytes.
  EXPECT_EQ(Check(kFirst + kSecond + kSignedPair + "  \r\n").status, 0);
  EXPECT_EQ(Check(kFirst + kSecond + kSignedPair + std::string(900, '0') + "\r\n").status, 0);
}

TEST(TaggedListTest, TagsMatchInAnyCaseAndAreSignedAsStored) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string lines = "URL=http://a/\r\nUrl=http://b/\r\n";
  const Outcome outcome = Check(lines + "sign=" + SignText(lines) + "\r\n");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "http://a/\r\nhttp://b/\r\n");
  // The same signature over the tags in another case does not verify.
  EXPECT_EQ(Check("url=http://a/\r\nurl=http://b/\r\nsign=" + SignText(lines) + "\r\n").status, 70);
}

TEST(TaggedListTest, UntaggedLinesAreNeitherSignedNorListed) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string file = "hello\r\n" + kFirst + "msg=not an url\r\n\r\n" + kSecond + "x\n" + kSignedPair + "\r\n";
  const Outcome outcome = Check(file);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "http://one.example/\r\nhttp://two.example/\r\n");
}

TEST(TaggedListTest, AnyChangeToATaggedLineFails) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string file = kFirst + kSecond + kSignedPair + "\r\n";
  ASSERT_EQ(Check(file).status, 0);
  for (size_t i = 0; i < kFirst.size() + kSecond.size(); ++i) {
    std::string changed = file;
    changed[i] = changed[i] == 'z' ? 'y' : 'z';
    EXPECT_EQ(Check(changed).status, 70) << "byte " << i;
  }
  EXPECT_EQ(Check("url=http://one.example/\n" + kSecond + kSignedPair + "\r\n").status, 70);
}

TEST(TaggedListTest, OnlyTheFirstSignatureLineIsRead) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string file = kFirst + kSecond + kSignedPair + "\r\nurl=http://late.example/\r\nsign=00\r\n";
  const Outcome outcome = Check(file);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "http://one.example/\r\nhttp://two.example/\r\n");
}

TEST(TaggedListTest, MissingOrWrongSignaturePrintsNothingOfTheFile) {
  for (const std::string& file :
       {std::string(), kFirst + kSecond, kFirst + kSecond + "sign=" + testing_support::kForeignSignature + "\r\n",
        kFirst + kSecond + "sign=", kFirst + kSecond + "sign=\r\n"}) {
    const Outcome outcome = Check(file);
    EXPECT_EQ(outcome.status, 70) << file;
    EXPECT_EQ(outcome.output, kNotValid) << file;
  }
}

TEST(TaggedListTest, ValidSignatureWithoutEntries) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string empty_signed = "sign=" + SignText("") + "\r\n";
  const Outcome nvl = Check("msg=a message\r\n" + empty_signed);
  EXPECT_EQ(nvl.status, 65);
  EXPECT_EQ(nvl.output, "Error: file list.nvl does not contain any Norvu Updates URL's\n");
  const Outcome msg = Check("url=http://x/\r\n" + empty_signed, CheckMode::kMsg);
  EXPECT_EQ(msg.status, 65);
  EXPECT_EQ(msg.output, "Error: file list.nvl does not contain any Norvu \n");
}

TEST(TaggedListTest, MessageModeListsMessages) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string lines = "msg=Hello\r\nMSG=\r\n";
  const Outcome outcome = Check("url=http://x/\r\n" + lines + "sign=" + SignText(lines) + "\r\n", CheckMode::kMsg);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, "Hello\r\n\r\n");  // an empty entry is an entry
}

TEST(TaggedListTest, LongLinesArriveInPiecesOf1022Bytes) {
  SKIP_WITHOUT_TEST_KEY();
  // 1022 bytes of the first piece, then a piece that is itself a tagged line.
  const std::string first_piece = "url=" + std::string(1018, 'a');
  const std::string second_piece = "url=tail\r\n";
  const std::string line = first_piece + second_piece;
  const Outcome outcome = Check(line + "sign=" + SignText(first_piece + second_piece) + "\r\n");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.output, std::string(1018, 'a') + "tail\r\n");

  // A piece that begins with "sign=" is the signature line.
  const std::string entry = "url=http://x/\r\n";
  const std::string filler = "junk" + std::string(1018, ' ');
  EXPECT_EQ(Check(entry + filler + "sign=" + SignText(entry) + "\r\n").status, 0);
}

TEST(TaggedListTest, LongLinesReadFromAFileAsFromMemory) {
  SKIP_WITHOUT_TEST_KEY();
  const testing_support::TempDir dir;
  for (const size_t length : {1021u, 1022u, 1023u, 1024u, 1025u, 2044u}) {
    // A line of length bytes with its CR LF: only its first piece, at most
    // 1022 bytes, is tagged, so only that is signed.
    const std::string line = "url=" + std::string(length - 6, 'a') + "\r\n";
    const std::string piece = line.substr(0, 1022);
    for (const bool whole_line : {true, false}) {
      const std::string file = line + "sign=" + SignText(whole_line ? line : piece) + "\r\n";
      const Outcome in_memory = Check(file);
      EXPECT_EQ(in_memory.status, length <= 1022 || !whole_line ? 0 : 70) << length;
      EXPECT_EQ(in_memory.output, in_memory.status == 0 ? piece.substr(4) : kNotValid) << length;
      FILE* stream = std::fopen(dir.Write("long.nvl", file).c_str(), "rb");
      ASSERT_NE(stream, nullptr);
      const Outcome from_file =
          Capture([&](FILE* out) { return TaggedStreamCheckSign(stream, "list.nvl", CheckMode::kNvl, out); });
      std::fclose(stream);
      EXPECT_EQ(from_file.status, in_memory.status) << length;
      EXPECT_EQ(from_file.output, in_memory.output) << length;
    }
  }
}

TEST(TaggedListTest, NulByteInATaggedPieceIsNoValidSignature) {
  SKIP_WITHOUT_TEST_KEY();
  // The signed data is unchanged by the inserted bytes, but the entry would
  // lose its inner "url=".
  const std::string line = "url=https://dl.example.com/get?url=https://mirror.example.net/pkg\r\n";
  std::string file = line + "sign=" + SignText(line) + "\r\n";
  ASSERT_EQ(Check(file).status, 0);
  file.insert(line.find("url=", 4), std::string("\0JUNK\n", 6));
  const Outcome outcome = Check(file);
  EXPECT_EQ(outcome.status, 70);
  EXPECT_EQ(outcome.output, kNotValid);
}

}  // namespace
