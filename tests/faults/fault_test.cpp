// SPDX-License-Identifier: ISC
// The programs under misbehaving system calls: interrupted opens and reads,
// short reads, a read error mid-file, a file that shrinks or grows between
// fstat and the reads, fstat and mmap failing, a file truncated under its
// mapping, small allocations failing.  Each gives its documented
// message and status, and nothing is printed that should not be.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using testing_support::ProcessResult;
using testing_support::ReadFile;
using testing_support::TempDir;

// Runs a program with the interposer preloaded and the given fault settings
// aimed at `target`.
ProcessResult RunWithFaults(const std::string& program, const std::vector<std::string>& argv, const std::string& target,
                            const std::map<std::string, std::string>& faults, const char* preload = INTERPOSER_PATH) {
  static const char* const kSettings[] = {"FAULT_OPEN_EINTR",   "FAULT_READ_EINTR",    "FAULT_READ_MAX",
                                          "FAULT_READ_EIO_AT",  "FAULT_FSTAT_DELTA",   "FAULT_FSTAT_FAIL",
                                          "FAULT_MMAP_FAIL",    "FAULT_MMAP_TRUNCATE", "FAULT_TRUNCATE_AFTER",
                                          "FAULT_BLOCK_SIGBUS", "FAULT_SEND_SIGBUS",   "FAULT_MALLOC_ABOVE"};
  for (const char* name : kSettings) unsetenv(name);
  for (const auto& [name, value] : faults) setenv(name.c_str(), value.c_str(), 1);
  setenv("FAULT_PATH", target.c_str(), 1);
  setenv("LD_PRELOAD", preload, 1);
  // Under AddressSanitizer the interposer is preloaded ahead of its runtime,
  // and SIGBUS is left to the program's own guard.
  setenv("ASAN_OPTIONS", "verify_asan_link_order=0:halt_on_error=1:handle_sigbus=0", 1);
  ProcessResult result = testing_support::Run(program, argv);
  unsetenv("LD_PRELOAD");
  unsetenv("FAULT_PATH");
  unsetenv("ASAN_OPTIONS");
  for (const auto& [name, value] : faults) unsetenv(name.c_str());
  EXPECT_EQ(result.err, "") << "nothing goes to standard error";
  return result;
}

class LstFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    // Long enough for several reads of 1024 bytes.
    std::string region = "[NorvuUpdateList]\r\n";
    for (int i = 0; i < 60; ++i)
      region += "Update" + std::to_string(i) + "=https://example.org/u/" + std::to_string(i) + "\r\n";
    region += "[NorvuUpdateListEnd]\r\n";
    content_ = "; update list\r\n" + region + "[Signature]\r\nSignature=" + testing_support::SignText(region) + "\r\n";
    ASSERT_GT(content_.size(), 2048u);
    path_ = dir_.Write("updates.lst", content_);
  }
  ProcessResult Check(const std::map<std::string, std::string>& faults) {
    return RunWithFaults(SIGNCHECK_PATH, {"signcheck", "lst", path_}, path_, faults);
  }
  TempDir dir_;
  std::string content_;
  std::string path_;
};

TEST_F(LstFaults, InterruptedAndShortCallsAreRetriedToTheSameResult) {
  SKIP_WITHOUT_TEST_KEY();
  for (const auto& faults : std::vector<std::map<std::string, std::string>>{
           {},
           {{"FAULT_OPEN_EINTR", "3"}},
           {{"FAULT_READ_EINTR", "5"}},
           {{"FAULT_READ_MAX", "7"}},
           {{"FAULT_OPEN_EINTR", "1"}, {"FAULT_READ_EINTR", "2"}, {"FAULT_READ_MAX", "1000"}}}) {
    const ProcessResult result = Check(faults);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, content_);
  }
}

TEST_F(LstFaults, FailuresGiveTheirMessageAndNothingElse) {
  const ProcessResult read_error = Check({{"FAULT_READ_EIO_AT", "1024"}});
  EXPECT_EQ(read_error.status, 74);
  EXPECT_EQ(read_error.out, "read error for file " + path_ + ": Input/output error\n");

  const ProcessResult fstat_error = Check({{"FAULT_FSTAT_FAIL", "1"}});
  EXPECT_EQ(fstat_error.status, 74);
  EXPECT_EQ(fstat_error.out, "fstat error for file " + path_ + ": Input/output error\n");

  const ProcessResult shrunk = Check({{"FAULT_FSTAT_DELTA", "100"}});
  EXPECT_EQ(shrunk.status, 74);
  EXPECT_EQ(shrunk.out, "unexpected EOF for file " + path_ + "\n");
}

TEST_F(LstFaults, AFileThatGrowsIsTakenAtTheSizeFstatReported) {
  SKIP_WITHOUT_TEST_KEY();
  // One byte fewer than the file holds: the final line feed is left out of
  // the content and of the output, and the signature still verifies.
  const ProcessResult result = Check({{"FAULT_FSTAT_DELTA", "-1"}});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, content_.substr(0, content_.size() - 1));

  // Cut inside the signature text: it no longer verifies.
  const ProcessResult cut = Check({{"FAULT_FSTAT_DELTA", "-10"}});
  EXPECT_EQ(cut.status, 70);
  EXPECT_EQ(cut.out.rfind("Wrong signature ", 0), 0u) << cut.out;
}

TEST(AllocationFaults, SmallBlocksFailingEndInAnOrderlyIoError) {
#ifndef ALLOC_INTERPOSER_PATH
  GTEST_SKIP() << "the sanitizer's allocator cannot be replaced";
#else
  // The C++ runtime's emergency reserve for exceptions cannot be made either.
  TempDir dir;
  for (const auto& [mode, example, message] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"lst", "updates.lst", "read error for file %: Cannot allocate memory\n"},
           {"nvl", "mirrors.nvl", "Error: can not read file '%' - Cannot allocate memory\n"}}) {
    const std::string path = dir.Write(example, ReadFile(EXAMPLES_DIR "/" + example));
    const ProcessResult result = RunWithFaults(SIGNCHECK_PATH, {"signcheck", mode, path}, path,
                                               {{"FAULT_MALLOC_ABOVE", "100"}}, ALLOC_INTERPOSER_PATH);
    EXPECT_EQ(result.status, 74);
    EXPECT_EQ(result.out, std::string(message).replace(message.find('%'), 1, path));
  }
#endif
}

class UrlFaults : public ::testing::Test {
 protected:
  void SetUp() override { path_ = dir_.Write("mirrors.url", ReadFile(EXAMPLES_DIR "/mirrors.url")); }
  ProcessResult Check(const std::map<std::string, std::string>& faults) {
    return RunWithFaults(SIGNCHECK_PATH, {"signcheck", "url", path_}, path_, faults);
  }
  TempDir dir_;
  std::string path_;
};

TEST_F(UrlFaults, EachFailingCallGivesItsMessageAlone) {
  SKIP_WITHOUT_TEST_KEY();
  ASSERT_EQ(Check({}).status, 0);

  // The URL list is opened once: an interrupted open is reported, not retried.
  const ProcessResult interrupted = Check({{"FAULT_OPEN_EINTR", "1"}});
  EXPECT_EQ(interrupted.status, 74);
  EXPECT_EQ(interrupted.out, "error in open file " + path_ + " for reading: Interrupted system call\n");

  const ProcessResult fstat_error = Check({{"FAULT_FSTAT_FAIL", "1"}});
  EXPECT_EQ(fstat_error.status, 74);
  EXPECT_EQ(fstat_error.out, "stat error for file " + path_ + ": Input/output error\n");

  const ProcessResult mmap_error = Check({{"FAULT_MMAP_FAIL", "1"}});
  EXPECT_EQ(mmap_error.status, 74);
  EXPECT_EQ(mmap_error.out, "mmap error for file " + path_ + ": Cannot allocate memory\n");
}

TEST_F(UrlFaults, AFaultOnTheMappingEndsWithAnIoErrorUnderAnySignalMask) {
  // The content runs past the first page, which is all that is left of it:
  // the lines printed before the fault are kept, then the I/O error, also
  // when signcheck was started with SIGBUS blocked.  Three megabytes, so that
  // the hash's mapping ahead meets the cut first.
  const std::string content(3 << 20, 'u');
  const std::string text = testing_support::SignText(content);
  for (const char* blocked : {"0", "1"}) {
    path_ = dir_.Write("cut.url", "[signature]\r\n" + text + "\r\n" + content);
    const ProcessResult result = Check({{"FAULT_MMAP_TRUNCATE", "4096"}, {"FAULT_BLOCK_SIGBUS", blocked}});
    EXPECT_EQ(result.status, 74);
    EXPECT_EQ(result.out, "Parse url file " + path_ + "...\nSignature: " + text + "\nmmap error for file " + path_ +
                              ": Input/output error\n");
  }

  // Cut while the signature text is being printed: the message still starts
  // a line of its own.
  path_ = dir_.Write("late.url", "[signature]\r\n" + std::string(5000, '\n') + text + "\r\n" + content);
  const ProcessResult late = Check({{"FAULT_MMAP_TRUNCATE", "4096"}, {"FAULT_TRUNCATE_AFTER", "Signature: "}});
  EXPECT_EQ(late.status, 74);
  EXPECT_EQ(late.out,
            "Parse url file " + path_ + "...\nSignature: \nmmap error for file " + path_ + ": Input/output error\n");

  // Cut between the CR and the LF after the signature text: the text is
  // decided, and printed, before the whitespace after it is skipped.
  path_ = dir_.Write("edge.url", "[signature]\r\n" + std::string(4095 - 13 - 80, '\n') + text + "\r\n" + content);
  const ProcessResult edge = Check({{"FAULT_MMAP_TRUNCATE", "4096"}});
  EXPECT_EQ(edge.status, 74);
  EXPECT_EQ(edge.out, "Parse url file " + path_ + "...\nSignature: " + text + "\nmmap error for file " + path_ +
                          ": Input/output error\n");

  // A NUL in the page left ends the search there: no marker, rather than a
  // fault on the pages after it.
  path_ = dir_.Write("nul.url", std::string("x\0", 2) + content);
  const ProcessResult nul = Check({{"FAULT_MMAP_TRUNCATE", "4096"}});
  EXPECT_EQ(nul.status, 70);
  EXPECT_EQ(nul.out, "Parse url file " + path_ + "...\nCan`t find signature in url file " + path_ + "\n");
}

TEST_F(UrlFaults, TheSignedContentIsReadToItsEndOrToAnIoError) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string content(1 << 20, 'r');
  const std::string text = testing_support::SignText(content);
  path_ = dir_.Write("read.url", "[signature]\n" + text + "\n" + content);
  const std::string printed = "Parse url file " + path_ + "...\nSignature: " + text + "\n";
  const ProcessResult retried = Check({{"FAULT_READ_EINTR", "3"}, {"FAULT_READ_MAX", "1000"}});
  EXPECT_EQ(retried.status, 0);
  EXPECT_EQ(retried.out, printed);
  const ProcessResult failed = Check({{"FAULT_READ_EIO_AT", "300000"}});
  EXPECT_EQ(failed.status, 74);
  EXPECT_EQ(failed.out, printed + "mmap error for file " + path_ + ": Input/output error\n");
}

TEST_F(UrlFaults, ASentSigbusHasTheEffectItWouldHaveHadWithoutTheGuard) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string printed = "Parse url file " + path_ + "...\nSignature: ";
  // Sent as the file is mapped (pending when the guard begins) or while the
  // check prints.  Not blocked, it ends the process; blocked, it is still
  // pending after the check, which ends as it would have, and kills the
  // process once unblocked at exit (FAULT_BLOCK_SIGBUS=2).
  for (const char* when : {"1", "2"}) {
    const std::map<std::string, std::string> sent = {{"FAULT_SEND_SIGBUS", when},
                                                     {"FAULT_TRUNCATE_AFTER", "Signature: "}};
    auto faults = sent;
    EXPECT_EQ(Check(faults).status, 128 + SIGBUS) << when;
    faults["FAULT_BLOCK_SIGBUS"] = "1";
    const ProcessResult blocked = Check(faults);
    EXPECT_EQ(blocked.status, 0) << when;
    EXPECT_EQ(blocked.out.rfind(printed, 0), 0u) << blocked.out;
    faults["FAULT_BLOCK_SIGBUS"] = "2";
    const ProcessResult pending = Check(faults);
    EXPECT_EQ(pending.status, 128 + SIGBUS) << when;
    EXPECT_EQ(pending.out, blocked.out) << when;
  }
}

class FiledigestFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string content;
    for (int i = 0; i < 5000; ++i) content += static_cast<char>('a' + i % 26);
    content_ = content;
    path_ = dir_.Write("data", content_);
    // The digest of the whole file and of all but its last byte, from
    // untroubled runs.
    expected_ = testing_support::Run(FILEDIGEST_PATH, {"filedigest", path_}).out;
    const std::string shorter = dir_.Write("shorter", content_.substr(0, content_.size() - 1));
    expected_shorter_ = testing_support::Run(FILEDIGEST_PATH, {"filedigest", shorter}).out;
    ASSERT_EQ(expected_.size(), 65u);
  }
  ProcessResult Digest(const std::map<std::string, std::string>& faults) {
    return RunWithFaults(FILEDIGEST_PATH, {"filedigest", path_}, path_, faults);
  }
  TempDir dir_;
  std::string content_, path_, expected_, expected_shorter_;
};

TEST_F(FiledigestFaults, InterruptedAndShortCallsAreRetried) {
  for (const auto& faults : std::vector<std::map<std::string, std::string>>{
           {{"FAULT_OPEN_EINTR", "3"}}, {{"FAULT_READ_EINTR", "4"}}, {{"FAULT_READ_MAX", "33"}}}) {
    const ProcessResult result = Digest(faults);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, expected_);
  }
}

TEST_F(FiledigestFaults, FailuresAreSilentWithStatusTwo) {
  for (const auto& faults :
       std::vector<std::map<std::string, std::string>>{{{"FAULT_READ_EIO_AT", "4096"}, {"FAULT_READ_MAX", "1024"}},
                                                       {{"FAULT_FSTAT_FAIL", "1"}},
                                                       {{"FAULT_FSTAT_DELTA", "10"}}}) {
    const ProcessResult result = Digest(faults);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
  }
}

TEST_F(FiledigestFaults, AFileThatGrowsIsDigestedAtTheSizeFstatReported) {
  const ProcessResult result = Digest({{"FAULT_FSTAT_DELTA", "-1"}});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, expected_shorter_);
}

}  // namespace
