// SPDX-License-Identifier: ISC
// signcheck mode filename: checks the signature of a signed update
// information file and exits with a sysexits status.  Everything it says goes
// to standard output.
#include <cstdio>

#include "check/check_core.h"
#include "check/exit_status.h"
#include "signcheck/lst_file_check.h"
#include "signcheck/tagged_file_check.h"
#include "signcheck/url_file_check.h"

namespace {

void PrintUsage(const char* program) {
  std::printf("Usage '%s mode filename'\n\n", program);
  std::printf("\tmode - (nvl|msg|url|lst) defines which type of file will be read\n");
  std::printf("\tfilename - file to check\n\n");
}

int Run(int argc, char** argv) {
  if (argc != 3) {
    PrintUsage(argc > 0 && argv[0] != nullptr ? argv[0] : "signcheck");
    return kExitUsage;
  }
  const char* mode_word = argv[1];
  const char* file_name = argv[2];
  CheckMode mode;
  if (!MatchModeWord(mode_word, mode)) {
    PrintMessage(stdout, CheckReport{kExitUsage, CheckMessage::kUnknownMode, CheckMode::kNvl, 0, {}}, file_name,
                 mode_word);
    return kExitUsage;
  }
  switch (mode) {
    case CheckMode::kNvl:
    case CheckMode::kMsg: return TaggedFileCheckSign(file_name, mode);
    case CheckMode::kUrl: return UrlFileCheckSign(file_name);
    case CheckMode::kLst: return LstFileCheckSign(file_name);
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const int status = Run(argc, argv);
  // Entries that never reached standard output must not pass for a success.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    return status == kExitOk ? kExitIoError : status;
  }
  return status;
}
