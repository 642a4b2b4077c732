// SPDX-License-Identifier: ISC
// The key constants compiled into signcheck, as C++ source, and the program
// section that carries the compiled-in key's ID.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "signtool/key_file.h"

namespace signtool {

// The section of a signcheck program file that holds the IDs of its keys,
// in order, each 16 hex digits and a NUL; some compilers pad the section
// with further NULs.  FormatConstants puts kKeyId there for one key, an
// array of the IDs for several.
inline constexpr std::string_view kKeyIdSection = ".signcheck_key_id";

// The most keys one build compiles in (kMaxRingKeys of dsa/public_key.h).
inline constexpr size_t kMaxCompiledKeys = 8;

// The C++ source of the IDs, and of kKeyId (the first key's), then each key
// as a PublicKey, kCompiledKey0 onwards, and CompiledKeyRing() over
// them in order.  keys holds 1 to kMaxCompiledKeys keys.  origin goes into a
// comment with every byte outside printable ASCII, and the backslash,
// written as \xNN, so that no name can end the comment.
std::string FormatConstants(std::span<const DsaKey> keys, std::string_view origin);

}  // namespace signtool
