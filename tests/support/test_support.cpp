// SPDX-License-Identifier: ISC
#include "tests/support/test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "signtool/dsa_keys.h"

extern char** environ;

namespace testing_support {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "signcheck-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, std::string_view bytes) const {
  const std::string file = (path_ / name).string();
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!stream) throw std::runtime_error("cannot write " + file);
  return file;
}

std::string ReadFile(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

Outcome Capture(const std::function<int(FILE*)>& check) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  if (out == nullptr) throw std::runtime_error("open_memstream failed");
  Outcome outcome;
  outcome.status = check(out);
  std::fclose(out);
  outcome.output.assign(buffer, size);
  std::free(buffer);
  return outcome;
}

std::string SignText(std::string_view bytes) {
  // Without the key the tests that sign skip, but constants made at start-up
  // still call this: they get a text of the right form that verifies nowhere.
  if (std::string_view(TEST_PRIVATE_KEY).empty()) return std::string(80, '0');
  static const signtool::DsaKey* const key = [] {
    auto* loaded = new signtool::DsaKey;
    std::string error;
    if (!signtool::LoadKey(TEST_PRIVATE_KEY, signtool::KeyKind::kPrivate, *loaded, error)) {
      throw std::runtime_error(error);
    }
    return loaded;
  }();
  std::string text;
  std::string error;
  if (!signtool::SignatureText(*key, bytes.data(), bytes.size(), text, error)) throw std::runtime_error(error);
  return text;
}

std::string SignTextCutTo79Digits(std::string_view bytes) {
  for (int tries = 0; tries < 1000; ++tries) {
    const std::string text = SignText(bytes);
    if (text[78] == '0') return text.substr(0, 78) + text[79];
  }
  throw std::runtime_error("no signature with a last byte below 0x10 in 1000 tries");
}

ProcessResult Run(const std::string& program, const std::vector<std::string>& argv, const std::string& stdout_path) {
  TempDir scratch;
  const std::string err_path = (scratch.path() / "stderr").string();
  int out_pipe[2] = {-1, -1};
  if (stdout_path.empty() && pipe(out_pipe) != 0) throw std::runtime_error("pipe failed");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (stdout_path.empty()) {
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    posix_spawn_file_actions_addclose(&actions, out_pipe[1]);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + program);

  ProcessResult result;
  if (stdout_path.empty()) {
    close(out_pipe[1]);
    char chunk[4096];
    ssize_t got;
    while ((got = read(out_pipe[0], chunk, sizeof chunk)) != 0) {
      if (got < 0) {
        if (errno == EINTR) continue;
        break;
      }
      result.out.append(chunk, static_cast<size_t>(got));
    }
    close(out_pipe[0]);
  }
  int wait_status = 0;
  while (waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  result.err = ReadFile(err_path);
  return result;
}

std::string RandomText(std::mt19937& random, size_t length, std::string_view alphabet) {
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::string text(length, '\0');
  for (char& c : text) c = alphabet[pick(random)];
  return text;
}

}  // namespace testing_support
