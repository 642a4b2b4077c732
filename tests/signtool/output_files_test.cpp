// SPDX-License-Identifier: ISC
// The files signtool writes, as their owner sees them: `sign --output-dir`,
// `sign -o` and `passwd` never replace a key, an input, a link or a special
// file, a refusal leaves every file as it was, and what they do write gets the
// permission bits it promises.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ProcessResult;
using testing_support::ReadFile;
using testing_support::TempDir;

const std::string kDevelopmentKey = SOURCE_DIR "/keys/development.key";
const std::string kDevelopmentPublicKey = SOURCE_DIR "/keys/development.pub";
const std::string kList = "url=https://example.invalid/\r\n";

ProcessResult Signtool(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"signtool"};
  argv.insert(argv.end(), args.begin(), args.end());
  return testing_support::Run(SIGNTOOL_PATH, argv);
}

// Every file under dir with its bytes and permission bits (links as their
// target's name), so that "nothing changed" is one comparison.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    struct stat st;
    lstat(entry.path().c_str(), &st);
    std::string& seen = files[entry.path().lexically_relative(dir).string()];
    seen = std::to_string(st.st_mode);
    if (S_ISLNK(st.st_mode)) seen.append(" -> ").append(fs::read_symlink(entry.path()).string());
    if (S_ISREG(st.st_mode)) seen.append(" ").append(ReadFile(entry.path().string()));
  }
  return files;
}

class OutputFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    old_umask_ = umask(027);
    fs::create_directories(root() / "keys");
    fs::create_directories(root() / "lists");
    fs::copy_file(kDevelopmentKey, key_);
    fs::permissions(key_, fs::perms::owner_read | fs::perms::owner_write);
    dir_.Write("keys/pw", "passphrase\n");
    dir_.Write("lists/one", kList);
    dir_.Write("lists/signing.key", kList);
    dir_.Write("lists/pw", kList);
    dir_.Write("lists/out", kList);
  }
  void TearDown() override { umask(old_umask_); }
  const fs::path& root() const { return dir_.path(); }
  std::string Path(const std::string& name) const { return (root() / name).string(); }

  TempDir dir_;
  const std::string key_ = (dir_.path() / "keys" / "signing.key").string();
  mode_t old_umask_ = 0;
};

// What a refused command may not touch: its key, its passphrase file, its
// inputs, or anything that would stand where an output goes.
TEST_F(OutputFiles, ARefusedOutputLeavesEveryFileAsItWas) {
  const std::string one = Path("lists/one"), out = Path("out");
  fs::create_directories(out);
  fs::create_symlink(one, Path("out/link"));
  fs::create_hard_link(key_, Path("out/hard"));
  ASSERT_EQ(mkfifo(Path("out/fifo").c_str(), 0644), 0);
  dir_.Write("lists/link", kList);
  dir_.Write("lists/hard", kList);
  dir_.Write("lists/fifo", kList);
  fs::create_symlink(key_, Path("keys/link.key"));
  const std::string pw = Path("keys/pw");
  struct Row {
    std::vector<std::string> args;
    std::string error;  // the end of the one line on standard error
  };
  const std::vector<Row> rows = {
      // The output folder holds the key or the passphrase file.
      {{"sign", "-m", "nvl", "--output-dir", Path("keys"), key_, one, Path("lists/signing.key")},
       "; not replacing an input (give another output file)\n"},
      {{"sign", "-m", "nvl", "--passphrase-file", pw, "--output-dir", Path("keys"), key_, Path("lists/pw")},
       "; not replacing an input (give another output file)\n"},
      {{"sign", "-m", "nvl", "--output-dir", Path("keys"), Path("keys/link.key"), Path("lists/signing.key")},
       "; not replacing an input (give another output file)\n"},
      {{"sign", "-m", "nvl", "-o", key_, Path("keys/link.key"), one},
       "; not replacing an input (give another output file)\n"},
      {{"sign", "-m", "nvl", "--output-dir", out, key_, one, Path("lists/hard")},
       "; not replacing an input (give another output file)\n"},
      {{"sign", "-m", "nvl", "--output-dir", out, key_, one, Path("lists/link")},
       " is a symbolic link; not replacing it (name the file it points to)\n"},
      {{"sign", "-m", "nvl", "--output-dir", out, key_, one, Path("lists/fifo")},
       " is not a regular file; not replacing it\n"},
      {{"sign", "-m", "nvl", "--output-dir", Path("lists/one"), key_, one}, " is not a directory\n"},
      {{"sign", "-m", "nvl", "--output-dir", Path("none"), key_, one}, ": No such file or directory\n"},
      {{"sign", "-m", "nvl", "-o", Path("out/hard"), key_, one},
       "; not replacing an input (give another output file)\n"},
      {{"sign", "-m", "nvl", "-o", Path("out/fifo"), key_, one}, " is not a regular file; not replacing it\n"},
      {{"passwd", "--no-passphrase", Path("out/link")}, ""},
      {{"passwd", "--no-passphrase", Path("out/fifo")}, ""},
  };
  const auto before = Snapshot(root());
  for (const Row& row : rows) {
    const ProcessResult result = Signtool(row.args);
    std::string last_line = result.err.substr(result.err.rfind('\n', result.err.size() - 2) + 1);
    EXPECT_EQ(result.status, 1) << row.args.back() << result.err;
    EXPECT_EQ(result.out, "") << row.args.back();
    EXPECT_EQ(last_line.rfind("signtool: ", 0), 0u) << result.err;
    EXPECT_TRUE(last_line.size() >= row.error.size() &&
                last_line.compare(last_line.size() - row.error.size(), row.error.size(), row.error) == 0)
        << result.err;
    EXPECT_EQ(Snapshot(root()), before) << result.err;
  }
}

// Written outputs: a new one is 0666 less the umask, a replaced one keeps
// its bits but setuid, and passwd keeps the key's; an input refused for its
// content keeps the old output in the folder while the others are signed.
TEST_F(OutputFiles, WrittenFilesGetThePromisedBitsAndARefusedInputKeepsItsOldOutput) {
  const std::string out = Path("out");
  fs::create_directories(out);
  dir_.Write("out/one", "old one\n");
  ASSERT_EQ(chmod(Path("out/one").c_str(), 04604), 0);
  dir_.Write("lists/bad", "no tagged line\r\n");
  dir_.Write("out/bad", "old bad\n");
  const ProcessResult o = Signtool(
      {"sign", "-m", "nvl", "--output-dir", out, key_, Path("lists/one"), Path("lists/bad"), Path("lists/out")});
  EXPECT_EQ(o.status, 1) << o.err;
  EXPECT_EQ(o.out, "signed 2 of 3 files into " + out + "\n");
  EXPECT_EQ(ReadFile(Path("out/bad")), "old bad\n");
  EXPECT_EQ(Signtool({"sign", "-m", "nvl", "-o", Path("new"), key_, Path("lists/one")}).status, 0);
  ASSERT_EQ(chmod(key_.c_str(), 0400), 0);
  EXPECT_EQ(Signtool({"passwd", "--new-passphrase-file", Path("keys/pw"), key_}).status, 0);
  for (const auto& [name, bits] : std::vector<std::pair<std::string, mode_t>>{
           {"out/one", 0604}, {"out/out", 0640}, {"new", 0640}, {"keys/signing.key", 0400}}) {
    struct stat st;
    ASSERT_EQ(stat(Path(name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 07777, bits) << name;
  }
  for (const char* name : {"out/one", "out/out", "new"}) {
    EXPECT_EQ(Signtool({"verify", "-m", "nvl", kDevelopmentPublicKey, Path(name)}).status, 0) << name;
  }
  EXPECT_EQ(Snapshot(root()).size(), 14u) << "three folders and eleven files, no temporary one left behind";
}

}  // namespace
