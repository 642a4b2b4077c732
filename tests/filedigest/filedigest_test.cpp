// SPDX-License-Identifier: ISC
// The built program, run as a user runs it: output, exit status, and silence
// on every failure.  $FILEDIGEST names the program.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "hash/sha256.h"

namespace {

namespace fs = std::filesystem;

constexpr char kEmptyDigest[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\n";
constexpr char kAbcDigest[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n";

struct Outcome {
  int status = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class Filedigest : public testing::Test {
 protected:
  void SetUp() override {
    const char* program = std::getenv("FILEDIGEST");
    ASSERT_NE(program, nullptr) << "set FILEDIGEST to the program under test";
    program_ = program;
    std::string pattern = (fs::temp_directory_path() / "filedigest-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }

  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  fs::path MakeFile(const std::string& name, const std::string& content) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  // Runs the program with args; its output goes to stdout_path if given,
  // else to a file that Outcome::out then holds.
  Outcome Run(const std::vector<std::string>& args, const char* stdout_path = nullptr) {
    const fs::path out_path = stdout_path != nullptr ? fs::path(stdout_path) : dir_ / "stdout";
    const fs::path err_path = dir_ / "stderr";
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(99);
      std::vector<char*> argv{program_.data()};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(program_.c_str(), argv.data());
      _exit(98);
    }
    Outcome outcome;
    int raw = 0;
    if (pid < 0 || waitpid(pid, &raw, 0) != pid || !WIFEXITED(raw)) return outcome;
    outcome.status = WEXITSTATUS(raw);
    if (stdout_path == nullptr) outcome.out = Slurp(out_path);
    outcome.err = Slurp(err_path);
    return outcome;
  }

  void ExpectSilentFailure(const std::vector<std::string>& args, int status) {
    const Outcome outcome = Run(args);
    EXPECT_EQ(outcome.status, status);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "");
  }

  std::string program_;
  fs::path dir_;
};

TEST_F(Filedigest, PrintsExactly64LowercaseDigitsAndANewline) {
  const Outcome abc = Run({MakeFile("abc", "abc")});
  EXPECT_EQ(abc.status, 0);
  EXPECT_EQ(abc.out, kAbcDigest);
  EXPECT_EQ(abc.err, "");
}

TEST_F(Filedigest, EmptyFileGivesTheDigestOfTheEmptyString) {
  const Outcome outcome = Run({MakeFile("empty", "")});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, kEmptyDigest);
}

TEST_F(Filedigest, ArgumentsAfterTheFirstAreIgnored) {
  const Outcome outcome = Run({MakeFile("abc", "abc"), (dir_ / "missing").string(), "x"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, kAbcDigest);
}

// The file is read in pieces, each hashed as it arrives; a size that is no
// multiple of anything must still come out as the digest of the whole.
TEST_F(Filedigest, LargeFileMatchesTheDigestOfItsContent) {
  std::mt19937 random(3);
  std::string content(3 * 256 * 1024 + 4 * 1024 + 17, '\0');
  for (char& byte : content) byte = static_cast<char>(random());
  uint8_t digest[32];
  Sha256Digest(reinterpret_cast<const uint8_t*>(content.data()), static_cast<uint32_t>(content.size()), digest);
  std::string expected;
  char pair[3];
  for (uint8_t byte : digest) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    expected += pair;
  }
  const Outcome outcome = Run({MakeFile("large", content)});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, expected + "\n");
}

TEST_F(Filedigest, FailuresAreSilentAndToldByStatus) {
  ExpectSilentFailure({}, 1);
  ExpectSilentFailure({(dir_ / "missing").string()}, 2);
  ExpectSilentFailure({dir_.string()}, 2);
  ExpectSilentFailure({""}, 2);
}

// 2^31 bytes do not fit the 32-bit size of the status query: status 2, and
// nothing printed.
TEST_F(Filedigest, SizeOf2To31BytesIsRefused) {
  const fs::path path = dir_ / "sparse";
  std::ofstream(path).close();
  fs::resize_file(path, uint64_t{1} << 31);  // a hole: no disk space used
  ExpectSilentFailure({path.string()}, 2);
  fs::resize_file(path, (uint64_t{1} << 31) + 4096);
  ExpectSilentFailure({path.string()}, 2);
}

// A pipe states a size of 0; every byte that comes through it is digested,
// across pieces, and a stream of 2^31 bytes is refused like a file of that
// size.
TEST_F(Filedigest, StreamsThatStateNoSizeAreReadToTheirEnd) {
  const fs::path file = MakeFile("file", std::string(2 * 256 * 1024 + 5, 'x') + "abc");
  const auto through_pipe = [&](const std::string& source) {
    const std::string command = source + " | '" + program_ + "' /dev/stdin > '" + (dir_ / "piped").string() + "'";
    const int raw = std::system(command.c_str());
    return std::make_pair(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(dir_ / "piped"));
  };
  const Outcome direct = Run({file.string()});
  ASSERT_EQ(direct.status, 0);
  EXPECT_EQ(through_pipe("cat '" + file.string() + "'"), std::make_pair(0, direct.out));
  EXPECT_EQ(through_pipe("head -c 2147483648 /dev/zero"), std::make_pair(2, std::string()));
}

// A digest that could not be written is a failure, not a success.
TEST_F(Filedigest, UnwritableOutputIsAFailure) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const Outcome outcome = Run({MakeFile("abc", "abc")}, "/dev/full");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err, "");
}

}  // namespace
