// SPDX-License-Identifier: ISC
// Helpers shared by the signcheck tests: temporary directories, captured
// output of the in-memory checks, signing with the compiled-in key and
// running the built programs.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// A fresh directory under TMPDIR, removed with everything in it.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  // Writes bytes to a file in the directory and returns its path.
  std::string Write(const std::string& name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path);

struct Outcome {
  int status = -1;
  std::string output;
};

// Runs a check that prints to the stream it is given and keeps what it printed.
Outcome Capture(const std::function<int(FILE*)>& check);

// Tests that sign with the compiled-in key's private half skip without it.
#define SKIP_WITHOUT_TEST_KEY()                   \
  if (std::string_view(TEST_PRIVATE_KEY).empty()) \
  GTEST_SKIP() << "no SIGNCHECK_TEST_PRIVATE_KEY: this test signs with the private half of the compiled-in key"

// The 80-digit signature text of bytes, made with the compiled-in key's
// private half (SIGNCHECK_TEST_PRIVATE_KEY).
std::string SignText(std::string_view bytes);

// The same text cut to 79 digits where that loses nothing to a reader that
// takes the missing character for the end of the text: a signature whose
// last byte is below 0x10 ("0X"), signed again until one is, without its
// 79th digit ("X").
std::string SignTextCutTo79Digits(std::string_view bytes);

// A signature text that the compiled-in key never made (valid in form).
inline const std::string kForeignSignature(80, '1');

struct ProcessResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;  // standard output, read through a pipe
  std::string err;  // standard error
};

// Runs program with argv (argv[0] included, as the program will see it);
// standard output is a pipe, standard input is /dev/null.  When stdout_path
// is given, standard output goes to that file instead.
ProcessResult Run(const std::string& program, const std::vector<std::string>& argv,
                  const std::string& stdout_path = "");

// Random bytes drawn from alphabet.
std::string RandomText(std::mt19937& random, size_t length, std::string_view alphabet);

}  // namespace testing_support
