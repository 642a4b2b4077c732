// SPDX-License-Identifier: ISC
// The rules a key must meet, and every refusal text they give: one set for
// signtool, the library and the build.
#pragma once

#include <string>
#include <string_view>

#include "dsa/key_text.h"
#include "dsa/public_key.h"

// What the rules derive on the way, for the loader to build its tables on.
struct CheckedKey {
  DsaDomain domain;
  Limb g_mont[kPLimbs], y_mont[kPLimbs];  // Montgomery forms modulo p, fully reduced
};

// The public rules: p a 512-bit prime below 2^512 - 2^496, q a 160-bit
// prime dividing p - 1, g and y of order q.  With private, the private rules
// too: 0 < x < q and y = g^x mod p.  On refusal sets reason to one line
// "ORIGIN: reason" and returns false; checked (if given) is written only on
// success.
bool CheckKeyRules(const KeyNumbers& numbers, bool with_private, std::string_view origin, std::string& reason,
                   CheckedKey* checked = nullptr);

// Reads text as a public key file and checks the public rules: a private
// key file, plain or encrypted, is refused with a reason that names the
// public file to give instead.
bool ReadPublicKey(std::string_view text, std::string_view origin, KeyNumbers& numbers, std::string& reason,
                   CheckedKey* checked = nullptr);
