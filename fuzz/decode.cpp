// SPDX-License-Identifier: ISC
// The two signature decoders against the C library conversions they follow:
// HexToBytes against strtoul on each pair, DecodeHexPair against sscanf "%X".
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "layouts/signature_text.h"
#include "signcheck/tagged_file_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every pair of bytes, NUL included, through both pair decoders.
  for (size_t i = 0; i + 1 < size; i += 2) {
    const char pair[3] = {static_cast<char>(data[i]), static_cast<char>(data[i + 1]), '\0'};
    unsigned int scanned = 0;
    std::sscanf(pair, "%X", &scanned);
    if (DecodeHexPair(pair[0], pair[1]) != static_cast<uint8_t>(scanned)) __builtin_trap();
  }

  // The text up to its first NUL, as a line's rest would be.
  const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
  uint8_t output[kTaggedSignatureBufferSize + 8];
  std::memset(output, 0xA5, sizeof output);
  std::memset(output, 0, kTaggedSignatureBufferSize);
  HexToBytes(text.c_str(), output, kTaggedSignatureBufferSize);
  for (size_t i = kTaggedSignatureBufferSize; i < sizeof output; ++i) {
    if (output[i] != 0xA5) __builtin_trap();  // written past the buffer
  }
  uint8_t expected[kTaggedSignatureBufferSize] = {};
  if (!text.empty() && text.size() % 2 == 0) {
    for (size_t i = 0; i < text.size() / 2 && i < kTaggedSignatureBufferSize; ++i) {
      const char pair[3] = {text[2 * i], text[2 * i + 1], '\0'};
      expected[i] = static_cast<uint8_t>(std::strtoul(pair, nullptr, 16));
    }
  }
  if (std::memcmp(output, expected, sizeof expected) != 0) __builtin_trap();
  return 0;
}
