#include "nvl/signature_text.h"

#include <cstdio>
#include <cstring>

bool IsTextSpace(unsigned char byte) {
  return byte == ' ' || byte == '\f' || byte == '\n' || byte == '\r' || byte == '\t' || byte == '\v';
}

uint8_t DecodeHexPair(char first, char second) {
  const char pair[3] = {first, second, '\0'};
  unsigned int value = 0;
  // A pair that does not convert leaves value at 0, which is the byte wanted.
  if (std::sscanf(pair, "%X", &value) != 1) {
    value = 0;
  }
  return static_cast<uint8_t>(value & 0xFFu);
}

void DecodeSignatureText(std::string_view text, uint8_t (&signature)[40]) {
  const auto at = [&text](size_t index) { return index < text.size() ? text[index] : '\0'; };
  for (size_t i = 0; i < 40; ++i) {
    signature[i] = DecodeHexPair(at(2 * i), at(2 * i + 1));
  }
}

void PrintText(FILE* out, std::string_view text) {
  std::fwrite(text.data(), 1, strnlen(text.data(), text.size()), out);
}
