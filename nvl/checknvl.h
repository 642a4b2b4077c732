// Update list files (mode lst): the region from "[NorvuUpdateList]" through
// the line feed of "[NorvuUpdateListEnd]\r\n" is signed, and the signature
// text follows "Signature=" in the "[Signature]" section.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

// Checks the update list file file_name: prints the whole file and returns 0,
// or prints one message and returns 70 or 74.
int LstFileCheckSign(const char* file_name);

// The check over a file's content already read; what it prints goes to out.
// file_name only goes into the messages.
int LstContentCheckSign(std::string_view content, const char* file_name, FILE* out);

// Where the check finds the signed region and the signature text.
struct LstLayout {
  bool has_region = false;
  size_t region_begin = 0;
  size_t region_size = 0;
  bool has_signature = false;
  std::string_view signature_text;  // whole run of non-whitespace bytes
};

LstLayout LocateLstLayout(std::string_view content);
