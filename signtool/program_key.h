// SPDX-License-Identifier: ISC
// The key IDs that the build puts into a signcheck program file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace signtool {

// True when the text starts like an ELF file.
bool LooksLikeProgram(std::string_view file);

// The IDs in the key ID section of an ELF program file (32 or 64 bit, either
// byte order, as cross builds give), in order: 16 hex digits and a NUL each,
// the last possibly padded with NULs.  A program built with one key, before
// rings or since, gives one.  On failure (not ELF, a truncated header, no
// such section, a section that holds anything else) returns false with a
// one-line message that does not name the file.
bool ProgramKeyIds(std::string_view file, std::vector<std::string>& ids, std::string& error);

}  // namespace signtool
