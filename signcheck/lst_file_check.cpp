// SPDX-License-Identifier: ISC
#include "signcheck/lst_file_check.h"

#include <algorithm>

#include "check/check_core.h"
#include "check/exit_status.h"
#include "dsa/builtin_key.h"

int LstContentCheckSign(std::string_view content, const char* file_name, FILE* out) {
  std::string_view region;
  const CheckReport report = LstContentCheck(content, CompiledKeyRing(), region);
  if (report.status != kExitOk) {
    PrintMessage(out, report, file_name);
    return report.status;
  }
  // The whole file is shown, as text: up to its first NUL byte, which the
  // check has made sure lies past the signed region.
  std::fwrite(content.data(), 1, std::min(content.find('\0'), content.size()), out);
  return kExitOk;
}

int LstFileCheckSign(const char* file_name) {
  FileContent content;
  const CheckReport report = ReadFileContent(file_name, CheckMode::kLst, content);
  if (report.status != kExitOk) {
    PrintMessage(stdout, report, file_name);
    return report.status;
  }
  return LstContentCheckSign(content.view(), file_name, stdout);
}
