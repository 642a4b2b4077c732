// SPDX-License-Identifier: ISC
// The one place that runs a check by its mode: content in memory, a file by
// name or an open descriptor, a mode and a ring in; a report and the signed
// spans out.  The library and signtool's verify call it; a new mode touches
// it and nothing of theirs.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "check/check_core.h"
#include "check/file_content.h"
#include "check/report.h"
#include "dsa/public_key.h"
#include "layouts/mode.h"

// What a check of a file hands back and where its spans point.  Reused from
// one check to the next, so that a loop over files allocates only while the
// files grow.
struct CheckStorage {
  // On success: each entry without its tag (nvl, msg), or the signed bytes
  // (lst, url).
  std::vector<std::string_view> spans;
  FileContent file;                // lst and url files, read whole
  std::string signed_data;         // nvl and msg: the signed pieces
  std::vector<size_t> entry_ends;  // nvl and msg: where each signed piece ends in signed_data
  std::string piped;               // lst and url from a descriptor, read whole
  std::unique_ptr<char[]> window;  // nvl and msg: the pieces' reading window
};

// The report of memory running out in mode's reading.
CheckReport OutOfMemory(CheckMode mode);

// Checks content held in memory.  On success spans point into content.  The
// table is grown only when too small: std::bad_alloc escapes.
CheckReport CheckContent(std::string_view content, CheckMode mode, KeyRing keys, std::vector<std::string_view>& spans);

// Checks the file file_name as signcheck reads it: nvl and msg in pieces up
// to the signature line, lst and url whole (ReadFileContent); its messages
// name the call that failed.  Memory running out is OutOfMemory(mode).
CheckReport CheckFile(const char* file_name, CheckMode mode, KeyRing keys, CheckStorage& storage);

// The same over the open descriptor fd (a pipe, say), from where it stands:
// lst and url are read to the end without taking the size first; fd stays
// open.
CheckReport CheckDescriptor(int fd, CheckMode mode, KeyRing keys, CheckStorage& storage);
