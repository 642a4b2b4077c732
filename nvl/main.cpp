// signcheck mode filename: checks the signature of a signed update
// information file and exits with a sysexits status.  Everything it says goes
// to standard output.
#include <strings.h>

#include <cstdio>

#include "nvl/checknvl.h"
#include "nvl/checktagged.h"
#include "nvl/checkurl.h"
#include "nvl/exit_status.h"

namespace {

// Mode words match case-insensitively over their three letters, whatever
// follows them (NVL, nvlist and Lst2 all select a mode).
constexpr size_t kModeLength = 3;

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
  const char* mode = argv[1];
  const char* file_name = argv[2];
  if (strncasecmp(mode, "nvl", kModeLength) == 0) {
    return TaggedFileCheckSign(file_name, "url=");
  }
  if (strncasecmp(mode, "msg", kModeLength) == 0) {
    return TaggedFileCheckSign(file_name, "msg=");
  }
  if (strncasecmp(mode, "url", kModeLength) == 0) {
    return UrlFileCheckSign(file_name);
  }
  if (strncasecmp(mode, "lst", kModeLength) == 0) {
    return LstFileCheckSign(file_name);
  }
  std::printf("Error: unknown mode %s specified\n", mode);
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
