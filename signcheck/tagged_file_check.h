// SPDX-License-Identifier: ISC
// The tagged-line list check (modes nvl and msg): prints the entries when
// the signature over the tagged lines verifies.
#pragma once

#include <cstdio>
#include <string_view>

#include "check/check_core.h"

// The checks accept the keys compiled into the program.

// Checks the tagged-line list file_name (mode nvl or msg): prints its entries and returns
// kExitOk, or prints one "Error: " message and returns kExitDataError,
// kExitSoftware or kExitIoError (check/exit_status.h).
int TaggedFileCheckSign(const char* file_name, CheckMode mode);

// The same check over a stream open for reading, from where it stands; what
// it prints goes to out, and the caller closes the stream.
int TaggedStreamCheckSign(FILE* stream, const char* file_name, CheckMode mode, FILE* out);

// The same check over bytes held in memory, read through the same pieces;
// what it prints goes to out.  file_name only goes into the messages.
int TaggedContentCheckSign(std::string_view content, const char* file_name, CheckMode mode, FILE* out);
