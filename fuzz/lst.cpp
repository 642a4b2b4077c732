// SPDX-License-Identifier: ISC
// The update list check on whole file contents.  On success the printed text
// must be the file up to its first NUL byte and hold the whole signed
// region, and the region alone must have been hashed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fast_verify.h"
#include "fuzz/output_sink.h"
#include "signcheck/lst_file_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  LastVerifiedDigest().seen = false;
  const int status = LstContentCheckSign(content, "fuzz.lst", Sink().stream());
  if (status != 0 && status != 70) __builtin_trap();
  if (status != 0) return 0;

  const size_t start = content.find("[NorvuUpdateList]");
  const size_t end = content.find("[NorvuUpdateListEnd]\r\n");
  if (start == std::string_view::npos || end == std::string_view::npos || end < start) __builtin_trap();
  const size_t region_end = end + 22;
  const std::string_view printed = Sink().printed();
  if (printed != content.substr(0, std::min(content.find('\0'), size)) || printed.size() < region_end) {
    __builtin_trap();
  }
  if (!VerifiedDigestOf(content.substr(start, region_end - start))) __builtin_trap();
  return 0;
}
