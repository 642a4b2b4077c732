// SPDX-License-Identifier: ISC
#include "layouts/signature_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

uint8_t* HexToBytes(const char* text, uint8_t* output, size_t output_size) {
  const size_t length = std::strlen(text);
  if (length == 0 || length % 2 != 0) {
    if (output_size > 0) {
      output[0] = 0;
    }
    return output;
  }
  for (size_t i = 0; i < length / 2 && i < output_size; ++i) {
    const char pair[3] = {text[2 * i], text[2 * i + 1], '\0'};
    output[i] = static_cast<uint8_t>(std::strtoul(pair, nullptr, 16) & 0xFFu);
  }
  return output;
}

bool IsTextSpace(unsigned char byte) {
  return byte == ' ' || byte == '\f' || byte == '\n' || byte == '\r' || byte == '\t' || byte == '\v';
}

uint8_t DecodeHexPair(char first, char second) {
  // Each pair goes through "%X" on its own, signs and single digits
  // included: that is how these layouts' signature texts are read.
  const char pair[3] = {first, second, '\0'};
  unsigned int value = 0;
  // A pair that does not convert leaves value at 0, which is the byte wanted.
  if (std::sscanf(pair, "%X", &value) != 1) {
    value = 0;
  }
  return static_cast<uint8_t>(value & 0xFFu);
}

void DecodeSignatureText(std::string_view text, uint8_t (&signature)[kSignatureSize]) {
  const auto at = [&text](size_t index) { return index < text.size() ? text[index] : '\0'; };
  for (size_t i = 0; i < sizeof signature; ++i) {
    signature[i] = DecodeHexPair(at(2 * i), at(2 * i + 1));
  }
}

void PrintText(FILE* out, std::string_view text) {
  std::fwrite(text.data(), 1, strnlen(text.data(), text.size()), out);
}
