// SPDX-License-Identifier: ISC
// The tagged-line check reads through stdio, whose own reads cannot be
// interposed from outside; a cookie stream stands in for the file instead,
// delivering the bytes in short pieces or failing part way through.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "signcheck/tagged_file_check.h"
#include "tests/support/test_support.h"

namespace {

struct Source {
  std::string bytes;
  size_t position = 0;
  size_t piece = 1;                    // at most this many bytes a read
  size_t fail_at = std::string::npos;  // reads fail with EIO from here on
};

ssize_t ReadPiece(void* cookie, char* buffer, size_t size) {
  auto* source = static_cast<Source*>(cookie);
  if (source->position >= source->fail_at) {
    errno = EIO;
    return -1;
  }
  size_t n = std::min({size, source->piece, source->bytes.size() - source->position});
  if (source->fail_at != std::string::npos) n = std::min(n, source->fail_at - source->position);
  std::memcpy(buffer, source->bytes.data() + source->position, n);
  source->position += n;
  return static_cast<ssize_t>(n);
}

testing_support::Outcome CheckStream(Source& source) {
  FILE* stream = fopencookie(&source, "rb", cookie_io_functions_t{ReadPiece, nullptr, nullptr, nullptr});
  EXPECT_NE(stream, nullptr);
  const testing_support::Outcome outcome = testing_support::Capture(
      [&](FILE* out) { return TaggedStreamCheckSign(stream, "list.nvl", CheckMode::kNvl, out); });
  std::fclose(stream);
  return outcome;
}

const std::string kEntries = "url=https://a.example/\r\nurl=https://b.example/\r\n";

TEST(TaggedStreamFaults, ShortReadsGiveTheSameResult) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string file = kEntries + "sign=" + testing_support::SignText(kEntries) + "\r\n";
  for (size_t piece : {size_t{1}, size_t{3}, size_t{1000}}) {
    Source source{file, 0, piece};
    const testing_support::Outcome outcome = CheckStream(source);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.output, "https://a.example/\r\nhttps://b.example/\r\n");
  }
}

TEST(TaggedStreamFaults, AReadErrorBeforeTheSignatureLineIsAnEndOfFile) {
  const std::string file = kEntries + "sign=" + testing_support::SignText(kEntries) + "\r\n";
  // Failing inside the signature line: what was read never reaches the
  // verification, and nothing of the file is printed.
  Source source{file, 0, 7, kEntries.size() + 20};
  const testing_support::Outcome outcome = CheckStream(source);
  EXPECT_EQ(outcome.status, 70);
  EXPECT_EQ(outcome.output, "Error: file list.nvl does not contain a valid Norvu signature.\n");
}

}  // namespace
