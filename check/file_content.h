// SPDX-License-Identifier: ISC
// Reading a whole file into memory, as the update list check reads it.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "check/report.h"

// A whole file read into memory (open, fstat, reads of at most 1 KiB each,
// never more than fstat reported), the reading of the update list check.
// On failure the report says which call failed (kOpenFailed, kFstatFailed,
// or kStatFailed in mode url, kEmptyFile, kReadFailed or kUnexpectedEof,
// status 74); memory running out is a read failure with ENOMEM.  The buffer
// is reused when large enough.  It comes from malloc, not new: a failing new
// reports by throwing, and the exception itself needs memory that may not be
// there either.
struct FreeBlock {
  void operator()(char* block) const;
};
struct FileContent {
  std::unique_ptr<char, FreeBlock> buffer;
  size_t capacity = 0;
  size_t size = 0;
  std::string_view view() const { return {buffer.get(), size}; }
};
CheckReport ReadFileContent(const char* file_name, CheckMode mode, FileContent& content);
