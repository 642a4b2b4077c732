// SPDX-License-Identifier: ISC
// The key constants compiled into signcheck, as C++ source, and the program
// section that carries the compiled-in key's ID.
#pragma once

#include <string>
#include <string_view>

#include "signtool/dsa_keys.h"

namespace signtool {

// The section of a signcheck program file that holds the ID of its key, 16
// hex digits and a NUL (padded by some compilers); FormatConstants puts kKeyId
// there.
inline constexpr std::string_view kKeyIdSection = ".signcheck_key_id";

// The C++ source of kKeyId, kVerifyKey and every domain constant for this key,
// then the key as the PublicKey kCompiledKey0 and CompiledKeyRing().
// origin goes into a comment with every byte outside printable ASCII, and
// the backslash, written as \xNN, so that no name can end the comment.
std::string FormatConstants(const DsaKey& key, std::string_view origin);

}  // namespace signtool
