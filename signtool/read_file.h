// SPDX-License-Identifier: ISC
// Reading a whole file, or standard input, into memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace signtool {

// Reads a whole file, "-" standard input, of at most max_size bytes.  On
// failure (a directory, a larger file, no memory for the content) returns
// false with a one-line message naming the path.
bool ReadWholeFile(const std::string& path, std::string& content, std::string& error, size_t max_size = SIZE_MAX);

}  // namespace signtool
