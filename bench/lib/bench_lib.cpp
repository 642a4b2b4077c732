// SPDX-License-Identifier: ISC
// Checks every file named in a list, one way or the other, and prints how
// many passed and how many files a second that was:
//   bench_lib library LIST              each file through signcheck_check_file,
//                                       one result reused, in this process
//   bench_lib processes SIGNCHECK LIST  one `SIGNCHECK nvl FILE` process per
//                                       file, its output to /dev/null
//   bench_lib verification LIST         the least any check of these files
//                                       costs: the digest of each file's
//                                       signed bytes and the verification
//                                       of its signature, read and taken
//                                       apart before the clock starts
//   bench_lib reading LIST              each file opened, read and closed,
//                                       the system's part of a check
// The list is read before the clock starts.  bench/lib/run.sh compares them.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dsa/builtin_key.h"
#include "dsa/public_key.h"
#include "hash/sha0.h"
#include "layouts/signature_text.h"
#include "layouts/tagged_pieces.h"
#include "lib/signcheck.h"

extern char** environ;

namespace {

int CheckInProcess(const std::vector<std::string>& files) {
  signcheck_result* result = signcheck_result_new();
  int passed = 0;
  for (const std::string& file : files) passed += signcheck_check_file(result, "nvl", file.c_str()) == SIGNCHECK_OK;
  signcheck_result_free(result);
  return passed;
}

// A file's signed bytes and its signature, as the check finds them.
struct SignedFile {
  std::string signed_data;
  uint8_t signature[kTaggedSignatureBufferSize] = {};
};

int VerifyOnly(const std::vector<SignedFile>& files) {
  int passed = 0;
  for (const SignedFile& file : files) {
    Sha0Context digest;
    Sha0Init(digest);
    Sha0UpdateLarge(digest, file.signed_data.data(), file.signed_data.size());
    Sha0Final(digest);
    passed += VerifyDigestWithRing(CompiledKeyRing(), file.signature, digest) >= 0;
  }
  return passed;
}

int ReadOnly(const std::vector<std::string>& files) {
  static char buffer[65536];
  int passed = 0;
  for (const std::string& file : files) {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    passed += fd >= 0 && read(fd, buffer, sizeof buffer) > 0;
    close(fd);
  }
  return passed;
}

std::vector<SignedFile> ReadSignedFiles(const std::vector<std::string>& names) {
  std::vector<SignedFile> files(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    std::ifstream in(names[i], std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const TaggedLayout layout = LocateTaggedLayout(content, "url=");
    files[i].signed_data = layout.list.signed_data;
    HexToBytes(std::string(layout.signature_text).c_str(), files[i].signature, sizeof files[i].signature);
  }
  return files;
}

int CheckByProcesses(const char* signcheck, const std::vector<std::string>& files) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  int passed = 0;
  for (const std::string& file : files) {
    char* argv[] = {const_cast<char*>(signcheck), const_cast<char*>("nvl"), const_cast<char*>(file.c_str()), nullptr};
    pid_t child;
    int status = 0;
    if (posix_spawn(&child, signcheck, &actions, nullptr, argv, environ) == 0 && waitpid(child, &status, 0) == child) {
      passed += WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  return passed;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string how = argc > 1 ? argv[1] : "";
  if (!((how == "library" && argc == 3) || (how == "processes" && argc == 4) ||
        ((how == "verification" || how == "reading") && argc == 3))) {
    std::fprintf(stderr, "usage: bench_lib library|verification|reading LIST | bench_lib processes SIGNCHECK LIST\n");
    return 2;
  }
  std::vector<std::string> files;
  std::ifstream list(argv[argc - 1]);
  for (std::string line; std::getline(list, line);) files.push_back(line);

  const std::vector<SignedFile> signed_files =
      how == "verification" ? ReadSignedFiles(files) : std::vector<SignedFile>();

  const auto start = std::chrono::steady_clock::now();
  const int passed = how == "library"        ? CheckInProcess(files)
                     : how == "verification" ? VerifyOnly(signed_files)
                     : how == "reading"      ? ReadOnly(files)
                                             : CheckByProcesses(argv[2], files);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%s files %zu passed %d seconds %.6f files_per_second %.1f\n", how.c_str(), files.size(), passed,
              elapsed.count(), static_cast<double>(files.size()) / elapsed.count());
  return passed == static_cast<int>(files.size()) ? 0 : 1;
}
