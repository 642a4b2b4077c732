// SPDX-License-Identifier: ISC
// The URL list check on whole file contents.  Whenever it verifies, the
// hashed bytes must be exactly those from the first non-whitespace byte after
// the signature text to the end; on success it prints the parse line and the
// signature text up to its first NUL byte.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fast_verify.h"
#include "fuzz/output_sink.h"
#include "signcheck/url_file_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  LastVerifiedDigest().seen = false;
  const int status = UrlContentCheckSign(content, "fuzz.url", Sink().stream());
  if (status != 0 && status != 70) __builtin_trap();
  if (!LastVerifiedDigest().seen) {
    if (status == 0) __builtin_trap();
    return 0;
  }

  // The marker is searched as text, up to the first NUL byte.
  const size_t marker = content.substr(0, std::min(content.find('\0'), size)).find("[signature]");
  if (marker == std::string::npos) __builtin_trap();
  const auto space = [&content](size_t at) { return std::isspace(static_cast<unsigned char>(content[at])) != 0; };
  size_t at = std::min(marker + 12, size);
  while (at < size && space(at)) ++at;
  const size_t text_begin = at;
  while (at < size && !space(at)) ++at;
  const std::string_view text = content.substr(text_begin, at - text_begin);
  while (at < size && space(at)) ++at;
  if (!VerifiedDigestOf(content.substr(at))) __builtin_trap();
  if (status == 0 && Sink().printed() != "Parse url file fuzz.url...\nSignature: " +
                                             std::string(text.substr(0, text.find('\0'))) + "\n") {
    __builtin_trap();
  }
  return 0;
}
