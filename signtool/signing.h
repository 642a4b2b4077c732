// SPDX-License-Identifier: ISC
// DSA signatures over the 1993 SHA digest, as signcheck verifies them.
#pragma once

#include <openssl/bn.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "signtool/bignum.h"
#include "signtool/key_file.h"

namespace signtool {

// The 160-bit digest number of data: the five chaining words of the 1993 SHA
// digest, least significant first.
Bn DigestNumber(const void* data, size_t length);

// Signs the digest number h with a fresh CSPRNG nonce; r and s are 20 bytes
// each, least significant first, in signature[0..39].
bool SignDigest(const DsaKey& key, const BIGNUM* h, uint8_t signature[40], std::string& error);

// The 80 upper-case hex digits of a signature over data.
bool SignatureText(const DsaKey& key, const void* data, size_t length, std::string& text, std::string& error);

}  // namespace signtool
