// SPDX-License-Identifier: ISC
// The library's buffer call in every mode.  The spans handed back must be
// exactly the signed bytes, in the caller's buffer and never outside it, and
// the verification must have been handed their digest; the status and the
// message must be what signcheck's own check prints for the same content.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fast_verify.h"
#include "fuzz/output_sink.h"
#include "lib/signcheck.h"
#include "signcheck/lst_file_check.h"
#include "signcheck/tagged_file_check.h"
#include "signcheck/url_file_check.h"

namespace {

bool Begins(std::string_view piece, const char* prefix) {
  return strncasecmp(std::string(piece).c_str(), prefix, std::string_view(prefix).size()) == 0;
}

// The signed bytes as the layouts define them, worked out afresh here.
std::vector<std::string_view> ExpectedTagged(std::string_view content, const char* tag, std::string& signed_data) {
  std::vector<std::string_view> entries;
  for (size_t at = 0; at < content.size();) {
    size_t end = at;
    while (end < content.size() && end - at < 1022) {
      if (content[end++] == '\n') break;
    }
    const std::string_view piece = content.substr(at, end - at);
    at = end;
    if (Begins(piece, tag)) {
      signed_data += piece;
      entries.push_back(piece.substr(4));
    }
    if (Begins(piece, "sign=")) break;
  }
  return entries;
}

std::string_view ExpectedUrl(std::string_view content) {
  const size_t size = content.size();
  const size_t marker = content.substr(0, std::min(content.find('\0'), size)).find("[signature]");
  if (marker == std::string_view::npos) __builtin_trap();
  const auto space = [&content](size_t at) { return std::isspace(static_cast<unsigned char>(content[at])) != 0; };
  size_t at = std::min(marker + 12, size);
  while (at < size && space(at)) ++at;
  while (at < size && !space(at)) ++at;
  while (at < size && space(at)) ++at;
  return content.substr(at);
}

std::string_view ExpectedLst(std::string_view content) {
  const size_t start = content.find("[NorvuUpdateList]");
  const size_t end = content.find("[NorvuUpdateListEnd]\r\n");
  if (start == std::string_view::npos || end == std::string_view::npos || end < start) __builtin_trap();
  if (content.substr(0, end + 22).find('\0') != std::string_view::npos) __builtin_trap();
  return content.substr(start, end + 22 - start);
}

// What signcheck's own check of the content prints and returns.
int ProgramCheck(char mode, std::string_view content) {
  switch (mode) {
    case 'n': return TaggedContentCheckSign(content, "fuzz.in", CheckMode::kNvl, Sink().stream());
    case 'm': return TaggedContentCheckSign(content, "fuzz.in", CheckMode::kMsg, Sink().stream());
    case 'l': return LstContentCheckSign(content, "fuzz.in", Sink().stream());
    default: return UrlContentCheckSign(content, "fuzz.in", Sink().stream());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static signcheck_result* const result = signcheck_result_new();
  if (size == 0) return 0;
  // The first byte picks the mode word, the rest is the file.
  static const char* const kWords[] = {"nvl", "MSG", "lstfile", "Url", "ur", "xyz"};
  const char* word = kWords[data[0] % 6];
  const std::string_view content(reinterpret_cast<const char*>(data + 1), size - 1);
  LastVerifiedDigest().seen = false;
  const int status = signcheck_check_buffer(result, word, data + 1, size - 1, "fuzz.in");
  const size_t count = signcheck_result_span_count(result);
  char message[256];
  const size_t message_length = signcheck_result_message(result, message, sizeof message);
  if (status != signcheck_result_status(result)) __builtin_trap();
  if (status != 0 && count != 0) __builtin_trap();
  if ((status == 0) != (message_length == 0)) __builtin_trap();
  for (size_t i = 0; i < count; ++i) {
    const signcheck_span span = signcheck_result_span(result, i);
    if (span.size > 0 && (span.data < data + 1 || span.data + span.size > data + size)) __builtin_trap();
  }
  if (data[0] % 6 >= 4) {
    if (status != 64 ||
        std::string_view(message, message_length) != "Error: unknown mode " + std::string(word) + " specified\n") {
      __builtin_trap();
    }
    return 0;
  }

  const char mode = static_cast<char>(std::tolower(word[0]));
  const bool verified = LastVerifiedDigest().seen;
  std::vector<std::string_view> expected;
  if (status == 0 || status == 65) {
    if (!verified) __builtin_trap();
    if (mode == 'n' || mode == 'm') {
      std::string signed_data;
      expected = ExpectedTagged(content, mode == 'n' ? "url=" : "msg=", signed_data);
      if (signed_data.find('\0') != std::string::npos || !VerifiedDigestOf(signed_data)) __builtin_trap();
      if (status == 65 ? !expected.empty() : expected.empty()) __builtin_trap();
      if (status == 65) expected.clear();
    } else {
      if (status != 0) __builtin_trap();
      expected.push_back(mode == 'l' ? ExpectedLst(content) : ExpectedUrl(content));
      if (!VerifiedDigestOf(expected.back())) __builtin_trap();
    }
    if (status == 0 && expected.size() != count) __builtin_trap();
    for (size_t i = 0; i < count; ++i) {
      const signcheck_span span = signcheck_result_span(result, i);
      // The very bytes, at the very place: never a copy, never a neighbour.
      if (reinterpret_cast<const char*>(span.data) != expected[i].data() || span.size != expected[i].size()) {
        __builtin_trap();
      }
    }
  }

  // signcheck says the same: its status, its entries or its message.
  const int program_status = ProgramCheck(mode, content);
  if (program_status != status) __builtin_trap();
  std::string_view printed = Sink().printed();
  if (status == 0) {
    if (mode == 'n' || mode == 'm') {
      std::string entries;
      for (const std::string_view entry : expected) entries += entry;
      if (printed != entries) __builtin_trap();
    }
    return 0;
  }
  if (mode == 'u') printed.remove_prefix(printed.rfind('\n', printed.size() - 2) + 1);
  if (message_length < sizeof message && printed != std::string_view(message, message_length)) __builtin_trap();
  return 0;
}
