// SPDX-License-Identifier: ISC
// signcheck as a program: the command line, the reading of real files, the
// exit statuses, and files signed by signtool sign --mode.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using testing_support::ProcessResult;
using testing_support::TempDir;

const std::string kSigncheck = SIGNCHECK_PATH;

ProcessResult Signcheck(const std::vector<std::string>& args, const std::string& stdout_path = "") {
  std::vector<std::string> argv = {kSigncheck};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessResult result = testing_support::Run(kSigncheck, argv, stdout_path);
  EXPECT_EQ(result.err, "") << "signcheck wrote to standard error";
  return result;
}

// Signs input with signtool sign --mode and returns the signed file's path.
std::string SignWithTool(const TempDir& dir, const std::string& mode, const std::string& name,
                         const std::string& input) {
  const std::string input_path = dir.Write(name + ".in", input);
  const ProcessResult signed_file =
      testing_support::Run(SIGNTOOL_PATH, {"signtool", "sign", "--mode", mode, TEST_PRIVATE_KEY, input_path});
  EXPECT_EQ(signed_file.status, 0) << signed_file.err;
  return dir.Write(name, signed_file.out);
}

const std::string kNvlInput = "url=http://one.example/\r\nurl=http://two.example/\r\n";
const std::string kNvlEntries = "http://one.example/\r\nhttp://two.example/\r\n";

std::string Usage(const std::string& program) {
  return "Usage '" + program + " mode filename'\n\n" +
         "\tmode - (nvl|msg|url|lst) defines which type of file will be read\n" + "\tfilename - file to check\n\n";
}

TEST(CommandLineTest, WrongArgumentCountPrintsUsage) {
  SKIP_WITHOUT_TEST_KEY();
  TempDir dir;
  const std::string file = SignWithTool(dir, "nvl", "good.nvl", kNvlInput);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {"nvl"}, {"nvl", file, "extra"}, {"nvl", file, file, file}}) {
    const ProcessResult result = Signcheck(args);
    EXPECT_EQ(result.status, 64);
    EXPECT_EQ(result.out, Usage(kSigncheck));
  }
  // The program name as invoked, whatever it is.
  const ProcessResult renamed = testing_support::Run(kSigncheck, {"./checker"});
  EXPECT_EQ(renamed.status, 64);
  EXPECT_EQ(renamed.out, Usage("./checker"));
}

TEST(CommandLineTest, ModeWordsMatchOnThreeLettersInAnyCase) {
  SKIP_WITHOUT_TEST_KEY();
  TempDir dir;
  const std::string nvl = SignWithTool(dir, "nvl", "good.nvl", kNvlInput);
  for (const char* word : {"nvl", "NVL", "nvlist", "Nvl2"}) {
    const ProcessResult result = Signcheck({word, nvl});
    EXPECT_EQ(result.status, 0) << word;
    EXPECT_EQ(result.out, kNvlEntries) << word;
  }
  const std::string msg = SignWithTool(dir, "msg", "good.msg", "msg=Hello\r\n");
  EXPECT_EQ(Signcheck({"msgs", msg}).out, "Hello\r\n");
  EXPECT_EQ(Signcheck({"msgs", nvl}).status, 70);  // url= lines are no messages
  const std::string url = SignWithTool(dir, "url", "good.url", "http://a/\n");
  EXPECT_EQ(Signcheck({"URLS", url}).status, 0);
  const std::string lst = SignWithTool(dir, "lst", "good.lst", "[NorvuUpdateList]\r\n[NorvuUpdateListEnd]\r\n");
  EXPECT_EQ(Signcheck({"Lst", lst}).status, 0);
}

TEST(CommandLineTest, UnknownModeNeverTouchesTheFile) {
  for (const char* word : {"ms", "n", "", "xyz", "ur"}) {
    const ProcessResult result = Signcheck({word, "/nonexistent/file"});
    EXPECT_EQ(result.status, 64);
    EXPECT_EQ(result.out, std::string("Error: unknown mode ") + word + " specified\n");
  }
}

TEST(CommandLineTest, FailedOutputIsNotASuccess) {
  SKIP_WITHOUT_TEST_KEY();
  TempDir dir;
  const std::string nvl = SignWithTool(dir, "nvl", "good.nvl", kNvlInput);
  EXPECT_EQ(Signcheck({"nvl", nvl}, "/dev/full").status, 74);
  EXPECT_EQ(Signcheck({"nvl", dir.Write("bad.nvl", kNvlInput)}, "/dev/full").status, 70);
}

// A missing file, an empty file and a directory, in every mode.
TEST(UnreadableFileTest, EachModeReportsInItsOwnWords) {
  TempDir dir;
  const std::string missing = (dir.path() / "missing").string();
  const std::string empty = dir.Write("empty", "");
  const std::string directory = dir.path().string();
  struct Case {
    const char* mode;
    std::string file;
    int status;
    std::string out;
  };
  const Case cases[] = {
      {"nvl", missing, 74, "Error: can not read file '" + missing + "' - No such file or directory\n"},
      {"msg", empty, 70, "Error: file " + empty + " does not contain a valid Norvu signature.\n"},
      // A directory opens but cannot be read, and a read error ends the list.
      {"nvl", directory, 70, "Error: file " + directory + " does not contain a valid Norvu signature.\n"},
      {"lst", missing, 74, "error in open file " + missing + " for reading: No such file or directory\n"},
      {"lst", empty, 74, "empty file " + empty + "\n"},
      {"lst", directory, 74, "read error for file " + directory + ": Is a directory\n"},
      {"url", missing, 74, "error in open file " + missing + " for reading: No such file or directory\n"},
      {"url", empty, 74, "mmap error for file " + empty + ": Invalid argument\n"},
      {"url", directory, 74, "mmap error for file " + directory + ": No such device\n"},
  };
  for (const Case& c : cases) {
    const ProcessResult result = Signcheck({c.mode, c.file});
    EXPECT_EQ(result.status, c.status) << c.mode << " " << c.file;
    EXPECT_EQ(result.out, c.out);
  }
}

TEST(LstFileTest, ReadsFilesAcrossReadSizes) {
  SKIP_WITHOUT_TEST_KEY();
  TempDir dir;
  for (const size_t size : {1024u, 1025u, 5000u}) {
    std::string input = "[NorvuUpdateList]\r\n[NorvuUpdateListEnd]\r\n[Signature]\r\nSignature=\r\n;";
    input += std::string(size - 80 - input.size() - 2 - 1, 'p') + "\r\n";
    const std::string file = SignWithTool(dir, "lst", "sized.lst", input);
    ASSERT_EQ(testing_support::ReadFile(file).size(), size - 1);
    const ProcessResult result = Signcheck({"lst", file});
    EXPECT_EQ(result.status, 0) << size;
    EXPECT_EQ(result.out, testing_support::ReadFile(file));
  }
}

TEST(UrlFileTest, OutputOrderThroughAPipe) {
  TempDir dir;
  const std::string file = dir.Write("wrong.url", "[signature]\r\n" + std::string(80, '1') + "\r\nhttp://a/\r\n");
  const ProcessResult result = Signcheck({"url", file});  // standard output is a pipe
  EXPECT_EQ(result.status, 70);
  EXPECT_EQ(result.out, "Parse url file " + file + "...\nSignature: " + std::string(80, '1') + "\nWrong signature " +
                            std::string(80, '1') + " in url file " + file + "\n");
}

// signtool verify with the compiled-in key's public file.
ProcessResult SigntoolVerify(const std::string& mode, const std::string& file) {
  return testing_support::Run(SIGNTOOL_PATH, {"signtool", "verify", "--mode", mode, TEST_PUBLIC_KEY, file});
}

// Files signed by signtool sign --mode pass signcheck and signtool verify;
// changing one signed byte fails both.
TEST(SignedBySigntoolTest, EveryLayoutPassesAndFailsWhenChanged) {
  SKIP_WITHOUT_TEST_KEY();
  TempDir dir;
  std::mt19937 random(3);
  struct Layout {
    const char* mode;
    std::string input;
    std::string signed_part;  // a run of signed bytes in the output
  };
  const std::string region = "[NorvuUpdateList]\r\nfile=a.bin\r\n[NorvuUpdateListEnd]\r\n";
  for (int round = 0; round < 3; ++round) {
    const std::string word = testing_support::RandomText(random, 1 + random() % 30, "abcdef0123:/.");
    const Layout layouts[] = {
        {"nvl", "# list\r\nurl=" + word + "\r\n", "url=" + word + "\r\n"},
        {"msg", "msg=" + word + "\r\nnote\r\n", "msg=" + word + "\r\n"},
        {"lst", "; " + word + "\r\n" + region, region},
        {"url", word + "\n", word + "\n"},
    };
    for (const Layout& layout : layouts) {
      const std::string file = SignWithTool(dir, layout.mode, std::string("file.") + layout.mode, layout.input);
      EXPECT_EQ(Signcheck({layout.mode, file}).status, 0) << layout.mode;
      const ProcessResult verified = SigntoolVerify(layout.mode, file);
      EXPECT_EQ(verified.status, 0) << verified.err;
      EXPECT_EQ(verified.out + verified.err, "");
      std::string content = testing_support::ReadFile(file);
      const size_t at = content.find(layout.signed_part) + random() % layout.signed_part.size();
      content[at] = static_cast<char>(content[at] ^ 0x20);
      const std::string changed = dir.Write("changed", content);
      const ProcessResult refused = Signcheck({layout.mode, changed});
      EXPECT_EQ(refused.status, 70) << layout.mode;
      const ProcessResult rejected = SigntoolVerify(layout.mode, changed);
      EXPECT_EQ(rejected.status, 1) << layout.mode;
      // One line: signcheck's message, its last line.
      const std::string message = refused.out.substr(refused.out.rfind('\n', refused.out.size() - 2) + 1);
      EXPECT_EQ(rejected.err, "signtool: verify: " + message);
    }
  }
}

}  // namespace
