// SPDX-License-Identifier: ISC
// signtool verify: checks a file in one of signcheck's four layouts against
// a key file.  The signed bytes and the signature text are cut by the
// layouts' own rules (signcheck_layouts); the digest is our SHA-0 and the
// arithmetic OpenSSL's DSA, so this is a second verifier, independent of
// signcheck's compiled-in key and limb code.
#pragma once

#include <string>
#include <string_view>

#include "signtool/dsa_keys.h"

// Whether `signcheck MODE` built with key would accept content (mode "nvl",
// "msg", "lst" or "url"); when not, error says why in one line.
bool VerifyInLayout(std::string_view mode, std::string_view content, const signtool::DsaKey& key, std::string& error);
