// SPDX-License-Identifier: ISC
// Checks every file named in a list, one way or the other, and prints how
// many passed and how many files a second that was:
//   bench_lib library LIST              each file through signcheck_check_file,
//                                       one result reused, in this process
//   bench_lib processes SIGNCHECK LIST  one `SIGNCHECK nvl FILE` process per
//                                       file, its output to /dev/null
// The list is read before the clock starts.  bench/lib/run.sh compares them.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

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
  if (!((how == "library" && argc == 3) || (how == "processes" && argc == 4))) {
    std::fprintf(stderr, "usage: bench_lib library LIST | bench_lib processes SIGNCHECK LIST\n");
    return 2;
  }
  std::vector<std::string> files;
  std::ifstream list(argv[argc - 1]);
  for (std::string line; std::getline(list, line);) files.push_back(line);

  const auto start = std::chrono::steady_clock::now();
  const int passed = how == "library" ? CheckInProcess(files) : CheckByProcesses(argv[2], files);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%s files %zu passed %d seconds %.6f files_per_second %.1f\n", how.c_str(), files.size(), passed,
              elapsed.count(), static_cast<double>(files.size()) / elapsed.count());
  return passed == static_cast<int>(files.size()) ? 0 : 1;
}
