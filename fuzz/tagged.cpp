// The tagged-line check (modes nvl and msg) on whole file contents.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/output_sink.h"
#include "nvl/checktagged.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the mode, the rest is the file.
  const char* tag = (data[0] & 1) != 0 ? "msg=" : "url=";
  const std::string_view content(reinterpret_cast<const char*>(data + 1), size - 1);
  const int status = TaggedContentCheckSign(content, "fuzz.nvl", tag, OutputSink());
  if (status != 0 && status != 65 && status != 70 && status != 74) __builtin_trap();
  return 0;
}
