// SPDX-License-Identifier: ISC
// signcheck-key-reader: the build's way of reading a key file.  configure
// builds it for the host from the project's own key reader and rules
// (cmake/KeyReader) and asks it about every key file it is given, so that
// the build never parses a key file itself.
//
//   signcheck-key-reader public FILE OUT   FILE must be a public key file;
//                                          writes it back to OUT
//   signcheck-key-reader id FILE           FILE is any plain key file
//
// Prints the key's ID, or one line of refusal; exit status 0 or 1 (2 for
// bad usage or an OUT that cannot be written).
#include <cstdio>
#include <cstring>
#include <string>

#include "dsa/key_rules.h"

namespace {

bool ReadFile(const char* path, std::string& text, std::string& error) {
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    error = std::string(path) + ": cannot open: " + std::strerror(errno);
    return false;
  }
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0 && text.size() <= kMaxKeyText) text.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) error = std::string(path) + ": cannot read";
  return !failed;
}

}  // namespace

int main(int argc, char** argv) {
  const bool is_public = argc == 4 && std::strcmp(argv[1], "public") == 0;
  if (!is_public && !(argc == 3 && std::strcmp(argv[1], "id") == 0)) {
    std::printf("usage: signcheck-key-reader public FILE OUT | id FILE\n");
    return 2;
  }
  std::string text, error;
  KeyNumbers numbers;
  if (!ReadFile(argv[2], text, error)) {
    std::printf("%s\n", error.c_str());
    return 1;
  }
  bool read;
  if (is_public) {
    read = ReadPublicKey(text, argv[2], numbers, error);
  } else {
    read = ReadKeyText(text, argv[2], numbers, error);
    if (read && numbers.form == KeyForm::kEncrypted) {
      SetKeyRefusal(error, argv[2], 0,
                    "encrypted with a passphrase, which the build cannot ask for: give a key without one (`signtool "
                    "passwd --no-passphrase` on a copy), or none");
      read = false;
    }
    read = read && CheckKeyRules(numbers, numbers.form == KeyForm::kPrivate, argv[2], error);
  }
  if (!read) {
    std::printf("%s\n", error.c_str());
    return 1;
  }
  if (is_public) {
    std::string written;
    WriteKeyText(numbers, KeyForm::kPublic, written);
    FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr || std::fwrite(written.data(), 1, written.size(), out) != written.size() ||
        std::fclose(out) != 0) {
      std::printf("%s: cannot write\n", argv[3]);
      return 2;
    }
  }
  char id[17];
  KeyIdOf(numbers, id);
  std::printf("%s\n", id);
  return 0;
}
