// SPDX-License-Identifier: ISC
// The dispatcher's reading: a tagged list read from a descriptor in any
// number of short reads gives the report and the entries of the same list
// checked in memory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "check/dispatch.h"
#include "dsa/builtin_key.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::SignText;

std::string SignedList(const std::string& entries, const std::string& after_signature = "\r\n") {
  return entries + "sign=" + SignText(entries) + after_signature;
}

// content written into a pipe chunk bytes at a time, checked from its
// reading end.
CheckReport CheckThroughPipe(const std::string& content, size_t chunk, CheckStorage& storage) {
  int ends[2];
  EXPECT_EQ(pipe(ends), 0);
  std::thread writer([&] {
    for (size_t at = 0; at < content.size(); at += chunk) {
      const std::string_view piece = std::string_view(content).substr(at, chunk);
      if (write(ends[1], piece.data(), piece.size()) != static_cast<ssize_t>(piece.size())) break;
    }
    close(ends[1]);
  });
  const CheckReport report = CheckDescriptor(ends[0], CheckMode::kNvl, CompiledKeyRing(), storage);
  // The check stops at the signature line: the rest is drained so that the
  // writer finishes.
  char drain[4096];
  while (read(ends[0], drain, sizeof drain) > 0) {
  }
  writer.join();
  close(ends[0]);
  return report;
}

TEST(DispatchTest, ADescriptorReadInShortPiecesGivesWhatMemoryGives) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string line = "url=https://a.example/\r\n";
  const std::string long_line = "url=" + std::string(3000, 'x') + "\r\n";  // three pieces, two of 1022 bytes
  std::string many;                                                        // more than the reading window
  while (many.size() < (size_t{80} << 10)) many += line;
  const std::vector<std::string> contents = {
      SignedList(line),
      SignedList(long_line + line),
      SignedList(many),
      SignedList(line, ""),                                  // the signature line ends the file without a line feed
      "# comment\r\n" + SignedList(line) + "url=after\r\n",  // nothing after the signature line counts
      line + "sign=00\r\n",                                  // a wrong signature
      line,                                                  // none
  };
  for (const std::string& content : contents) {
    std::vector<std::string_view> expected;
    const CheckReport in_memory = CheckContent(content, CheckMode::kNvl, CompiledKeyRing(), expected);
    for (const size_t chunk : {size_t{1}, size_t{7}, size_t{1022}, size_t{1} << 20}) {
      CheckStorage storage;
      const CheckReport read = CheckThroughPipe(content, chunk, storage);
      EXPECT_EQ(read.status, in_memory.status) << content.substr(0, 40) << " chunk " << chunk;
      EXPECT_EQ(read.message, in_memory.message);
      EXPECT_EQ(storage.spans, expected);
    }
  }
}

}  // namespace
