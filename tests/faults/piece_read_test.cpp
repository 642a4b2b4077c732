// SPDX-License-Identifier: ISC
// Files read in pieces and reads cut short at any offset.  signcheck reads a
// url file's signed content in pieces of 128 KiB, and the other layouts,
// like the library, in reads of its own; whatever the size of the content
// and wherever a read comes back short, each gives the answer of an
// untroubled read, and a read error in the last, partial piece is no success.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using testing_support::ProcessResult;
using testing_support::TempDir;

constexpr size_t kPiece = size_t{128} << 10;

// Runs MODE FILE through signcheck or the library with the interposer's
// faults aimed at the file, or at the key file the library then loads.
ProcessResult RunFaulty(bool library, const std::string& mode, const std::string& path,
                        const std::map<std::string, std::string>& faults, const std::string& key = "") {
  for (const auto& [name, value] : faults) setenv(name.c_str(), value.c_str(), 1);
  setenv("FAULT_PATH", (key.empty() ? path : key).c_str(), 1);
  setenv("LD_PRELOAD", INTERPOSER_PATH, 1);
  setenv("ASAN_OPTIONS", "verify_asan_link_order=0:halt_on_error=1:handle_sigbus=0", 1);
  const std::vector<std::string> key_option =
      key.empty() ? std::vector<std::string>{} : std::vector<std::string>{"--key", key};
  std::vector<std::string> argv = {"library_check"};
  argv.insert(argv.end(), key_option.begin(), key_option.end());
  argv.insert(argv.end(), {mode, path});
  ProcessResult result = library ? testing_support::Run(LIBRARY_CHECK_PATH, argv)
                                 : testing_support::Run(SIGNCHECK_PATH, {"signcheck", mode, path});
  for (const char* name : {"LD_PRELOAD", "FAULT_PATH", "ASAN_OPTIONS"}) unsetenv(name);
  for (const auto& [name, value] : faults) unsetenv(name.c_str());
  EXPECT_EQ(result.err, "") << "nothing goes to standard error";
  return result;
}

std::string Lines(size_t size) {
  std::string text;
  for (size_t i = 0; text.size() < size; ++i) text += "http://mirror" + std::to_string(i) + ".example/\n";
  return text.substr(0, size);
}

TEST(PieceReads, UrlContentOfAnySizeAcrossPiecesVerifiesUnderShortReads) {
  SKIP_WITHOUT_TEST_KEY();
  TempDir dir;
  for (const size_t size : {size_t{0}, size_t{1}, kPiece - 1, kPiece, kPiece + 1, 2 * kPiece + 4321}) {
    const std::string content = Lines(size);
    const std::string text = testing_support::SignText(content);
    const std::string head = "[signature]\n" + text + "\n";
    const std::string path = dir.Write("list.url", head + content);
    const std::string parsed = "Parse url file " + path + "...\nSignature: " + text + "\n";
    // Short at the content's first byte, on either side of each piece's end,
    // and one byte before the end of the file.
    std::vector<size_t> cuts = {head.size() + 1, head.size() + size - 1};
    for (size_t end = kPiece; end <= size + 1; end += kPiece) {
      for (const size_t at : {end - 1, end, end + 1}) cuts.push_back(head.size() + at);
    }
    std::vector<std::map<std::string, std::string>> faults = {{}, {{"FAULT_READ_MAX", "4000"}}};
    for (const size_t at : cuts) faults.push_back({{"FAULT_READ_SHORT_AT", std::to_string(at)}});
    for (const auto& fault : faults) {
      const std::string label = std::to_string(size) + " bytes, short at " +
                                (fault.empty() ? "none" : fault.begin()->first + "=" + fault.begin()->second);
      const ProcessResult program = RunFaulty(false, "url", path, fault);
      EXPECT_EQ(program.status, 0) << label;
      EXPECT_EQ(program.out, parsed) << label;
      const ProcessResult library = RunFaulty(true, "url", path, fault);
      EXPECT_EQ(library.status, 0) << label;
      EXPECT_EQ(library.out, content) << label;
    }
    if (size == 0) continue;
    // The last byte changed, or unreadable: the last piece is read and hashed.
    dir.Write("list.url", head + content.substr(0, size - 1) + "#");
    EXPECT_EQ(RunFaulty(false, "url", path, {}).status, 70) << size;
    EXPECT_EQ(RunFaulty(true, "url", path, {}).status, 70) << size;
    dir.Write("list.url", head + content);
    const std::string last = std::to_string(head.size() + size - 1);
    const ProcessResult program =
        RunFaulty(false, "url", path, {{"FAULT_READ_SHORT_AT", last}, {"FAULT_READ_EIO_AT", std::to_string(size - 1)}});
    EXPECT_EQ(program.status, 74) << size;
    EXPECT_EQ(program.out, parsed + "mmap error for file " + path + ": Input/output error\n") << size;
    const ProcessResult library =
        RunFaulty(true, "url", path, {{"FAULT_READ_SHORT_AT", last}, {"FAULT_READ_EIO_AT", last}});
    EXPECT_EQ(library.status, 74) << size;
    EXPECT_EQ(library.out, "read error for file " + path + ": Input/output error\n") << size;
  }
}

TEST(PieceReads, AReadCutShortAnywhereGivesTheUntroubledAnswer) {
  SKIP_WITHOUT_TEST_KEY();
  TempDir dir;
  std::string tagged;
  for (int i = 0; tagged.size() < 3000; ++i) tagged += "url=http://mirror" + std::to_string(i) + ".example/\r\n";
  const std::string region = "[NorvuUpdateList]\r\n" + tagged + "[NorvuUpdateListEnd]\r\n";
  const std::map<std::string, std::string> files = {
      {"lst", "; list\r\n" + region + "[Signature]\r\nSignature=" + testing_support::SignText(region) + "\r\n"},
      {"nvl", tagged + "sign=" + testing_support::SignText(tagged) + "\r\n"}};
  for (const auto& [mode, file] : files) {
    const std::string path = dir.Write("list." + mode, file);
    for (const bool library : {false, true}) {
      const ProcessResult untroubled = RunFaulty(library, mode, path, {});
      ASSERT_EQ(untroubled.status, 0) << mode << untroubled.out;
      for (const size_t at : {size_t{1}, size_t{1023}, size_t{1024}, size_t{1025}, file.size() / 2, file.size() - 1}) {
        const ProcessResult cut = RunFaulty(library, mode, path, {{"FAULT_READ_SHORT_AT", std::to_string(at)}});
        EXPECT_EQ(cut.status, 0) << mode << (library ? " library" : " signcheck") << ", short at " << at;
        EXPECT_EQ(cut.out, untroubled.out) << mode << (library ? " library" : " signcheck") << ", short at " << at;
      }
    }
  }
}

// The key ring reads its key file in one go, taking what short reads give.
TEST(PieceReads, AKeyFileReadInShortPiecesLoadsTheSameKey) {
  SKIP_WITHOUT_TEST_KEY();
  TempDir dir;
  const std::string key = dir.Write("publisher.pub", testing_support::ReadFile(TEST_PUBLIC_KEY));
  const std::string content = Lines(100);
  const std::string path = dir.Write("list.url", "[signature]\n" + testing_support::SignText(content) + "\n" + content);
  for (const auto& faults : std::vector<std::map<std::string, std::string>>{{{"FAULT_READ_MAX", "7"}},
                                                                            {{"FAULT_READ_SHORT_AT", "1"}},
                                                                            {{"FAULT_READ_SHORT_AT", "200"}},
                                                                            {{"FAULT_READ_EINTR", "3"}}}) {
    const ProcessResult result = RunFaulty(true, "url", path, faults, key);
    EXPECT_EQ(result.status, 0) << faults.begin()->first << result.out;
    EXPECT_EQ(result.out, content) << faults.begin()->first;
  }
  const ProcessResult failed =
      RunFaulty(true, "url", path, {{"FAULT_READ_MAX", "50"}, {"FAULT_READ_EIO_AT", "100"}}, key);
  EXPECT_EQ(failed.status, 74);
  EXPECT_EQ(failed.out, "key file " + key + ": cannot read: Input/output error\n");
}

}  // namespace
