// SPDX-License-Identifier: ISC
// The library's calls: the signed bytes and nothing else on success, and on
// failure signcheck's own status and message for the same file.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "lib/signcheck.h"
#include "tests/support/test_support.h"

// Every allocation through new in this test program is counted.  (GCC
// takes a free of what this new returned for a mismatch.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
std::atomic<size_t> g_allocations{0};
void* operator new(size_t size) {
  ++g_allocations;
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }

namespace {

using testing_support::SignText;
using testing_support::TempDir;

class Result {
 public:
  Result() : result_(signcheck_result_new()) {}
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  ~Result() { signcheck_result_free(result_); }
  signcheck_result* get() const { return result_; }

  std::vector<std::string> Spans() const {
    std::vector<std::string> spans;
    for (size_t i = 0; i < signcheck_result_span_count(result_); ++i) {
      const signcheck_span span = signcheck_result_span(result_, i);
      spans.emplace_back(reinterpret_cast<const char*>(span.data), span.size);
    }
    return spans;
  }
  std::string Message() const {
    std::string text(signcheck_result_message(result_, nullptr, 0), '\0');
    signcheck_result_message(result_, text.data(), text.size() + 1);
    return text;
  }

 private:
  signcheck_result* result_;
};

const std::string kTagged = "url=http://a/\r\nURL=http://b/\n";
const std::string kNvl = "# unsigned\r\n" + kTagged + "msg=unsigned\r\nsign=" + SignText(kTagged) + "\r\nurl=late\r\n";
const std::string kRegion = "[NorvuUpdateList]\r\nfile=a.bin\r\n[NorvuUpdateListEnd]\r\n";
const std::string kLst = "file=unsigned.bin\r\n" + kRegion + "[Signature]\r\nSignature=" + SignText(kRegion) + "\r\n";
const std::string kContent = "http://a/\r\nhttp://b/\r\n";
const std::string kUrl = "[signature]\r\n" + SignText(kContent) + "\r\n\r\n" + kContent;

TEST(LibraryTest, HandsBackExactlyTheSignedBytesOfEachMode) {
  SKIP_WITHOUT_TEST_KEY();
  struct Case {
    const char* mode;
    std::string file;
    std::vector<std::string> spans;
  };
  const std::vector<Case> cases = {
      {"nvl", kNvl, {"http://a/\r\n", "http://b/\n"}}, {"lst", kLst, {kRegion}}, {"URLs", kUrl, {kContent}}};
  TempDir dir;
  Result result;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    EXPECT_EQ(signcheck_check_buffer(result.get(), c.mode, c.file.data(), c.file.size(), "f"), SIGNCHECK_OK);
    EXPECT_EQ(result.Spans(), c.spans);
    EXPECT_EQ(result.Message(), "");
    // Into the caller's buffer, never a copy.
    const signcheck_span first = signcheck_result_span(result.get(), 0);
    EXPECT_EQ(reinterpret_cast<const char*>(first.data), c.file.data() + c.file.find(c.spans[0]));
    EXPECT_EQ(signcheck_result_span(result.get(), c.spans.size()).data, nullptr);

    EXPECT_EQ(signcheck_check_file(result.get(), c.mode, dir.Write("f", c.file).c_str()), SIGNCHECK_OK);
    EXPECT_EQ(result.Spans(), c.spans);
  }
}

TEST(LibraryTest, BufferChecksOfLstAndUrlAllocateNothing) {
  Result result;
  const auto allocations = [&result](const char* mode, const std::string& file) {
    const size_t before = g_allocations;
    signcheck_check_buffer(result.get(), mode, file.data(), file.size(), "some/directory/updates.lst");
    return g_allocations - before;
  };
  const std::vector<std::pair<const char*, std::string>> files = {
      {"lst", kLst}, {"lst", kLst + "x"}, {"url", kUrl}, {"url", "[signature]"}};
  for (const auto& [mode, file] : files) EXPECT_EQ(allocations(mode, file), 0u) << mode << " " << file;
  // nvl and msg grow their table of entries once, and reuse it.
  SKIP_WITHOUT_TEST_KEY();
  std::string entries;
  for (int i = 0; i < 40; ++i) entries += "url=http://h/" + std::to_string(i) + "\r\n";
  const std::string long_list = entries + "sign=" + SignText(entries) + "\r\n";
  EXPECT_GT(allocations("nvl", long_list), 0u);
  EXPECT_EQ(allocations("nvl", long_list), 0u);
  EXPECT_EQ(signcheck_result_span_count(result.get()), 40u);
}

TEST(LibraryTest, FailuresGiveTheProgramsStatusAndMessage) {
  SKIP_WITHOUT_TEST_KEY();
  const std::string no_entries = "msg=x\r\nsign=" + SignText("") + "\r\n";
  const std::string tampered_lst = "[NorvuUpdateList]\r\nfile=b.bin\r\n[NorvuUpdateListEnd]\r\n" + kLst;
  const std::vector<std::pair<const char*, std::string>> files = {
      {"nvl", kTagged},
      {"nvl", no_entries},
      {"msg", kNvl},
      {"lst", tampered_lst},
      {"lst", kRegion},
      {"lst", "[NorvuUpdateListEnd]\r\n[NorvuUpdateList]\r\n[Signature]\r\nSignature=1"},
      {"lst", ""},
      {"url", kUrl + "x"},
      {"url", kUrl.substr(1)},
      {"url", ""},
      {"ms", kNvl}};
  TempDir dir;
  Result result;
  for (const auto& [mode, file] : files) {
    const std::string path = dir.Write("list", file);
    SCOPED_TRACE(std::string(mode) + " " + file);
    const auto program = testing_support::Run(SIGNCHECK_PATH, {"signcheck", mode, path});
    // url prints its parse lines ahead of the message.
    const std::string message = program.out.substr(program.out.rfind('\n', program.out.size() - 2) + 1);
    EXPECT_EQ(signcheck_check_file(result.get(), mode, path.c_str()), program.status);
    EXPECT_EQ(signcheck_result_span_count(result.get()), 0u);
    // An empty url file is read, not mapped: the library tells it as empty.
    EXPECT_EQ(result.Message(), file.empty() && mode[0] == 'u' ? "empty file " + path + "\n" : message);
    if (!file.empty()) {
      EXPECT_EQ(signcheck_check_buffer(result.get(), mode, file.data(), file.size(), path.c_str()), program.status);
      EXPECT_EQ(result.Message(), message);
    }
  }
  for (const char* mode : {"nvl", "lst", "url"}) {
    const std::string path = (dir.path() / "absent").string();
    const auto program = testing_support::Run(SIGNCHECK_PATH, {"signcheck", mode, path});
    EXPECT_EQ(signcheck_check_file(result.get(), mode, path.c_str()), SIGNCHECK_IO_ERROR);
    EXPECT_EQ(result.Message(), program.out);
  }
}

TEST(LibraryTest, NullsAndUnknownModesAreUsageErrors) {
  Result result;
  const char data[] = "url=x\r\n";
  EXPECT_EQ(signcheck_check_buffer(nullptr, "nvl", data, 7, "f"), SIGNCHECK_USAGE);
  EXPECT_EQ(signcheck_check_buffer(result.get(), nullptr, data, 7, "f"), SIGNCHECK_USAGE);
  EXPECT_EQ(signcheck_check_buffer(result.get(), "nvl", nullptr, 7, "f"), SIGNCHECK_USAGE);
  EXPECT_EQ(signcheck_check_buffer(result.get(), "nvl", data, 7, nullptr), SIGNCHECK_USAGE);
  EXPECT_EQ(signcheck_check_file(result.get(), "nvl", nullptr), SIGNCHECK_USAGE);
  EXPECT_EQ(signcheck_check_file(nullptr, "nvl", "f"), SIGNCHECK_USAGE);
  EXPECT_EQ(result.Message(), "");
  EXPECT_EQ(signcheck_result_status(nullptr), SIGNCHECK_USAGE);
  EXPECT_EQ(signcheck_result_span_count(nullptr), 0u);
  EXPECT_EQ(signcheck_result_message(nullptr, nullptr, 0), 0u);
  // An empty buffer may come without an address.
  EXPECT_EQ(signcheck_check_buffer(result.get(), "lst", nullptr, 0, "f"), SIGNCHECK_SOFTWARE);

  EXPECT_EQ(signcheck_check_file(result.get(), "nv", "/nonexistent"), SIGNCHECK_USAGE);
  EXPECT_EQ(result.Message(), "Error: unknown mode nv specified\n");
  char small[8];
  EXPECT_EQ(signcheck_result_message(result.get(), small, sizeof small), 33u);
  EXPECT_STREQ(small, "Error: ");
  signcheck_result_free(nullptr);
}

// A call that fails before checking anything still replaces the last
// outcome: after a success it must not hand back the old status and spans,
// nor after a failure the old message.
TEST(LibraryTest, EveryFailingCallReplacesTheLastOutcome) {
  SKIP_WITHOUT_TEST_KEY();
  TempDir dir;
  const std::string absent = (dir.path() / "absent").string();
  const std::string absent_message = testing_support::Run(SIGNCHECK_PATH, {"signcheck", "nvl", absent}).out;
  struct Case {
    const char* what;
    std::function<int(signcheck_result*)> call;
    int status;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"null data", [](signcheck_result* r) { return signcheck_check_buffer(r, "nvl", nullptr, 100, "f"); },
       SIGNCHECK_USAGE, ""},
      {"null mode", [](signcheck_result* r) { return signcheck_check_buffer(r, nullptr, "x", 1, "f"); },
       SIGNCHECK_USAGE, ""},
      {"null name", [](signcheck_result* r) { return signcheck_check_buffer(r, "nvl", "x", 1, nullptr); },
       SIGNCHECK_USAGE, ""},
      {"unknown mode", [](signcheck_result* r) { return signcheck_check_buffer(r, "zz", nullptr, 100, "f"); },
       SIGNCHECK_USAGE, ""},
      {"unknown mode word", [](signcheck_result* r) { return signcheck_check_buffer(r, "zzz", "x", 1, "f"); },
       SIGNCHECK_USAGE, "Error: unknown mode zzz specified\n"},
      {"file, null mode", [](signcheck_result* r) { return signcheck_check_file(r, nullptr, "f"); }, SIGNCHECK_USAGE,
       ""},
      {"file, null name", [](signcheck_result* r) { return signcheck_check_file(r, "lst", nullptr); }, SIGNCHECK_USAGE,
       ""},
      {"file, unknown mode", [](signcheck_result* r) { return signcheck_check_file(r, "Xyz", "f"); }, SIGNCHECK_USAGE,
       "Error: unknown mode Xyz specified\n"},
      {"absent file", [&absent](signcheck_result* r) { return signcheck_check_file(r, "nvl", absent.c_str()); },
       SIGNCHECK_IO_ERROR, absent_message},
  };
  Result result;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(signcheck_check_buffer(result.get(), "nvl", kNvl.data(), kNvl.size(), "f"), SIGNCHECK_OK);
    EXPECT_EQ(c.call(result.get()), c.status);
    EXPECT_EQ(signcheck_result_status(result.get()), c.status);
    EXPECT_EQ(signcheck_result_span_count(result.get()), 0u);
    EXPECT_EQ(signcheck_result_span(result.get(), 0).data, nullptr);
    EXPECT_EQ(result.Message(), c.message);
    // Nor does a message outlive the failure that set it.
    signcheck_check_buffer(result.get(), "lst", "", 0, "earlier");
    c.call(result.get());
    EXPECT_EQ(result.Message(), c.message);
  }
}

// The message cut as snprintf cuts: the buffer ends in a NUL, and nothing
// past it is written, down to a buffer one byte short of the terminator.
TEST(LibraryTest, AMessageCutToTheBufferStaysWithinIt) {
  Result result;
  signcheck_check_file(result.get(), "zzz", "f");
  const std::string message = "Error: unknown mode zzz specified\n";
  ASSERT_EQ(result.Message(), message);
  for (size_t size = 1; size <= message.size() + 1; ++size) {
    SCOPED_TRACE(size);
    std::string buffer(message.size() + 8, '#');
    EXPECT_EQ(signcheck_result_message(result.get(), buffer.data(), size), message.size());
    EXPECT_EQ(buffer.substr(0, size), message.substr(0, size - 1) + '\0');
    EXPECT_EQ(buffer.substr(size), std::string(buffer.size() - size, '#'));
  }
}

// One result reading files of each mode from small to large and back: the
// copy kept of the last file is grown in place of the old one (run under
// AddressSanitizer by the asan preset).
TEST(LibraryTest, AResultReadsALargerFileAfterASmallerOne) {
  SKIP_WITHOUT_TEST_KEY();
  std::string lines;
  for (int i = 0; i < 3000; ++i) lines += "file" + std::to_string(i) + "=http://h/" + std::to_string(i) + "\r\n";
  const std::string region = "[NorvuUpdateList]\r\n" + lines + "[NorvuUpdateListEnd]\r\n";
  const std::string large_lst = lines + region + "[Signature]\r\nSignature=" + SignText(region) + "\r\n";
  const std::string large_url = "[signature]\r\n" + SignText(lines) + "\r\n\r\n" + lines;
  struct Case {
    const char* mode;
    std::string file;
    std::string signed_bytes;
  };
  const std::vector<Case> cases = {{"lst", kLst, kRegion},
                                   {"lst", large_lst, region},
                                   {"lst", kLst, kRegion},
                                   {"url", kUrl, kContent},
                                   {"url", large_url, lines},
                                   {"url", kUrl, kContent},
                                   {"url", large_url + large_url, ""}};
  TempDir dir;
  Result result;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " of " + std::to_string(c.file.size()) + " bytes");
    const std::string path = dir.Write("f", c.file);
    if (c.signed_bytes.empty()) {
      EXPECT_EQ(signcheck_check_file(result.get(), c.mode, path.c_str()), SIGNCHECK_SOFTWARE);
      EXPECT_EQ(result.Spans(), std::vector<std::string>{});
    } else {
      EXPECT_EQ(signcheck_check_file(result.get(), c.mode, path.c_str()), SIGNCHECK_OK);
      EXPECT_EQ(result.Spans(), std::vector<std::string>{c.signed_bytes});
    }
  }
}

TEST(LibraryTest, AFileThatReadsShortOfItsSizeIsAnIoError) {
  // sysfs states a page as the size of files that hold a few bytes: the read
  // ends early, as it does for a file that shrinks while it is read.
  const char* path = "/sys/kernel/mm/transparent_hugepage/enabled";
  if (!std::filesystem::exists(path) || std::filesystem::file_size(path) <= 100) GTEST_SKIP() << "no such sysfs file";
  Result result;
  for (const char* mode : {"lst", "url"}) {
    EXPECT_EQ(signcheck_check_file(result.get(), mode, path), SIGNCHECK_IO_ERROR);
    EXPECT_EQ(result.Message(), std::string("unexpected EOF for file ") + path + "\n");
  }
}

}  // namespace
