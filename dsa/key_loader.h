// SPDX-License-Identifier: ISC
// Loading a public key at run time.  A loaded key decides which files are
// accepted, so the loader takes nothing on trust: the text is read by the
// one key reader (dsa/key_text.h) and judged by the one set of key rules
// (dsa/key_rules.h) that signtool and the build use too.
#pragma once

#include <string>
#include <string_view>

#include "dsa/public_key.h"

// Builds key from the text of a public key file.  On refusal returns false
// with one line, "ORIGIN:LINE: reason" for the grammar or "ORIGIN: reason"
// for a key rule; a private key file is refused too.  key is written only on
// success.
bool LoadPublicKey(std::string_view text, std::string_view origin, PublicKey& key, std::string& reason);
