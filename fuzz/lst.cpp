// The update list check on whole file contents.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/output_sink.h"
#include "nvl/checknvl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  const int status = LstContentCheckSign(content, "fuzz.lst", OutputSink());
  if (status != 0 && status != 70) __builtin_trap();
  return 0;
}
