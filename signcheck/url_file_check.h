// SPDX-License-Identifier: ISC
// The URL list check (mode url): verifies the content after the signature
// text, straight from the file's mapping.
#pragma once

#include <cstdio>
#include <string_view>

#include "layouts/url_layout.h"

// Checks the URL list file file_name: prints what it parses and returns
// kExitOk, or ends with one message and returns kExitSoftware or kExitIoError
// (check/exit_status.h).
int UrlFileCheckSign(const char* file_name);

// The check over the mapped content, from the parse line on; what it prints
// goes to out.  file_name only goes into the messages.
int UrlContentCheckSign(std::string_view content, const char* file_name, FILE* out);
