// SPDX-License-Identifier: ISC
// The names of the files a command works on, read from a file.
#pragma once

#include <string>
#include <vector>

namespace signtool {

// Appends to names the names in the file at path ("-": standard input),
// one a line, or with null_separated each ended by a NUL as find -print0
// writes them.  A name is every byte of its line but the separator, so a
// name may hold spaces, quotes or a carriage return; empty entries are
// skipped.  A NUL in a list of lines is refused (the list wants --null),
// and so is a list that names no file.  Errors name the list.
bool ReadFileList(const std::string& path, bool null_separated, std::vector<std::string>& names, std::string& error);

}  // namespace signtool
