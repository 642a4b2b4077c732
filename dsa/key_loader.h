// SPDX-License-Identifier: ISC
// Loading a public key at run time.  A loaded key decides which files are
// accepted, so the loader takes nothing on trust: it refuses every key that
// signtool would refuse to make or use.
#pragma once

#include <string>
#include <string_view>

#include "dsa/public_key.h"

// Builds key from the text of a public key file as signtool writes it:
// "name = hex" lines for p, q, g and y (big-endian hexadecimal), '#'
// comments and blank lines ignored.  Refuses, with a one-line reason that
// does not name the file, text that is not such a file (a private key file
// among them), a number given twice or missing, and a key whose p is not a
// 512-bit prime below 2^512 - 2^496, whose q is not a 160-bit prime dividing
// p - 1, or whose g or y is not of order q.  Primality is tested by
// Miller-Rabin with random bases, enough rounds for an error below 2^-80 on
// any input.  key is written only on success.
bool LoadPublicKey(std::string_view text, PublicKey& key, std::string& reason);
