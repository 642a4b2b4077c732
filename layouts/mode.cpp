// SPDX-License-Identifier: ISC
#include "layouts/mode.h"

#include <strings.h>

#include <cstddef>

namespace {

// Mode words match over their first three letters only.
constexpr size_t kModeLength = 3;

}  // namespace

bool MatchModeWord(const char* word, CheckMode& mode) {
  static constexpr struct {
    const char* word;
    CheckMode mode;
  } kModes[] = {{"nvl", CheckMode::kNvl}, {"msg", CheckMode::kMsg}, {"url", CheckMode::kUrl}, {"lst", CheckMode::kLst}};
  for (const auto& candidate : kModes) {
    if (strncasecmp(word, candidate.word, kModeLength) == 0) {
      mode = candidate.mode;
      return true;
    }
  }
  return false;
}

const char* ModeTag(CheckMode mode) { return mode == CheckMode::kMsg ? "msg=" : "url="; }
