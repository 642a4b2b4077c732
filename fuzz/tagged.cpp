// SPDX-License-Identifier: ISC
// The tagged-line check (modes nvl and msg) on whole file contents.  On
// success the output must be exactly the signed pieces less their tags, the
// signed data exactly those pieces, and no piece may have held a NUL byte.
#include <strings.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fast_verify.h"
#include "fuzz/output_sink.h"
#include "signcheck/tagged_file_check.h"

namespace {

bool Begins(std::string_view piece, const char* prefix) {
  return strncasecmp(std::string(piece).c_str(), prefix, std::string_view(prefix).size()) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the mode, the rest is the file.
  const char* tag = (data[0] & 1) != 0 ? "msg=" : "url=";
  const std::string_view content(reinterpret_cast<const char*>(data + 1), size - 1);
  LastVerifiedDigest().seen = false;
  const CheckMode mode = (data[0] & 1) != 0 ? CheckMode::kMsg : CheckMode::kNvl;
  const int status = TaggedContentCheckSign(content, "fuzz.nvl", mode, Sink().stream());
  if (status != 0 && status != 65 && status != 70 && status != 74) __builtin_trap();
  if (status != 0 && status != 65) return 0;

  // The file cut as fgets with a 1023-byte buffer cuts it.
  std::string signed_data;
  std::string entries;
  bool held_nul = false;
  bool signature_line = false;
  for (size_t at = 0; at < content.size() && !signature_line;) {
    size_t end = at;
    while (end < content.size() && end - at < 1022) {
      if (content[end++] == '\n') break;
    }
    const std::string_view piece = content.substr(at, end - at);
    at = end;
    if (Begins(piece, tag)) {
      signed_data += piece;
      entries += piece.substr(4);
      held_nul = held_nul || piece.find('\0') != std::string_view::npos;
    }
    signature_line = Begins(piece, "sign=");
  }
  if (!signature_line || held_nul || !VerifiedDigestOf(signed_data)) __builtin_trap();
  if (status == 65 ? !signed_data.empty() : Sink().printed() != entries) __builtin_trap();
  return 0;
}
