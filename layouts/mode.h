// SPDX-License-Identifier: ISC
// The four modes and the words that name them on the command line.  Past the
// edges (signcheck's and signtool's arguments, the library's mode argument)
// the mode travels as this enum, so the compiler finds every switch over it.
#pragma once

#include <cstdint>

enum class CheckMode : uint8_t { kNvl, kMsg, kUrl, kLst };

// Matches a mode word as signcheck does: the first three letters, ASCII case
// folded, tested in the order nvl, msg, url, lst; whatever follows is ignored
// and a shorter word matches nothing.  Returns false for no match.
bool MatchModeWord(const char* word, CheckMode& mode);

// "url=" for nvl, "msg=" for msg; the tagged modes only.
const char* ModeTag(CheckMode mode);
