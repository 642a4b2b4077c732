// SPDX-License-Identifier: ISC
// The update list check (mode lst): prints the whole file when the signed
// region verifies.
#pragma once

#include <cstdio>
#include <string_view>

#include "layouts/lst_layout.h"

// Checks the update list file file_name: prints the whole file and returns
// kExitOk, or prints one message and returns kExitSoftware or kExitIoError
// (check/exit_status.h).
int LstFileCheckSign(const char* file_name);

// The check over a file's content already read; what it prints goes to out.
// file_name only goes into the messages.
int LstContentCheckSign(std::string_view content, const char* file_name, FILE* out);
