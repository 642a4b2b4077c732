// SPDX-License-Identifier: ISC
// The key ID that the build puts into a signcheck program file.
#pragma once

#include <string>
#include <string_view>

namespace signtool {

// True when the text starts like an ELF file.
bool LooksLikeProgram(std::string_view file);

// The 16 hex digits of the key ID section of an ELF program file (32 or 64
// bit, either byte order, as cross builds give): the digits and their NUL,
// padded or not.  On failure (not ELF, a
// truncated header, no such section, a section that holds no key ID)
// returns false with a one-line message that does not name the file.
bool ProgramKeyId(std::string_view file, std::string& id, std::string& error);

}  // namespace signtool
