// SPDX-License-Identifier: ISC
#include "signcheck/tagged_file_check.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "check/check_core.h"
#include "check/exit_status.h"
#include "dsa/builtin_key.h"

namespace {

// The size of the file behind stream, when it is a regular file; else 0.
size_t StreamFileSize(FILE* stream) {
  struct stat status;
  const int fd = fileno(stream);
  if (fd < 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) {
    return 0;
  }
  return static_cast<size_t>(status.st_size);
}

// Prints the entries of a stream check's signed data, or its message.
int ReportStreamCheck(const CheckReport& report, const std::string& signed_data, const char* file_name, FILE* out) {
  if (report.status != kExitOk) {
    PrintMessage(out, report, file_name);
    return report.status;
  }
  SplitTaggedEntries(signed_data, [out](std::string_view entry) { std::fwrite(entry.data(), 1, entry.size(), out); });
  return kExitOk;
}

}  // namespace

int TaggedStreamCheckSign(FILE* stream, const char* file_name, CheckMode mode, FILE* out) {
  std::string signed_data;
  const CheckReport report = TaggedStreamCheck(stream, mode, CompiledKeyRing(), StreamFileSize(stream), signed_data);
  return ReportStreamCheck(report, signed_data, file_name, out);
}

int TaggedContentCheckSign(std::string_view content, const char* file_name, CheckMode mode, FILE* out) {
  std::vector<std::string_view> entries;
  CheckReport report;
  try {
    report = TaggedContentCheck(content, mode, CompiledKeyRing(), entries);
  } catch (const std::bad_alloc&) {
    report = CheckReport{kExitIoError, CheckMessage::kTaggedCannotRead, mode, ENOMEM, {}};
  }
  if (report.status != kExitOk) {
    PrintMessage(out, report, file_name);
    return report.status;
  }
  for (const std::string_view entry : entries) {
    std::fwrite(entry.data(), 1, entry.size(), out);
  }
  return kExitOk;
}

int TaggedFileCheckSign(const char* file_name, CheckMode mode) {
  FILE* stream = std::fopen(file_name, "rb");
  if (stream == nullptr) {
    const CheckReport report{kExitIoError, CheckMessage::kTaggedCannotRead, mode, errno, {}};
    PrintMessage(stdout, report, file_name);
    return report.status;
  }
  std::string signed_data;
  const CheckReport report = TaggedStreamCheck(stream, mode, CompiledKeyRing(), StreamFileSize(stream), signed_data);
  // Nothing is printed before the file is closed.
  std::fclose(stream);
  return ReportStreamCheck(report, signed_data, file_name, stdout);
}
