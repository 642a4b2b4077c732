// URL list files (mode url): the signature text stands after "[signature]"
// and signs everything from the first non-whitespace byte after it to the
// end of the file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

// Checks the URL list file file_name: prints what it parses and returns 0, or
// ends with one message and returns 70 or 74.
int UrlFileCheckSign(const char* file_name);

// The check over the mapped content, from the parse line on; what it prints
// goes to out.  file_name only goes into the messages.
int UrlContentCheckSign(std::string_view content, const char* file_name, FILE* out);

// Where the check finds the signature text and the signed content.
struct UrlLayout {
  bool has_marker = false;
  std::string_view signature_text;
  size_t signed_begin = 0;  // the signed content runs to the end of the file
};

UrlLayout LocateUrlLayout(std::string_view content);
