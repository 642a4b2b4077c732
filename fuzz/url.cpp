// The URL list check on whole file contents.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/output_sink.h"
#include "nvl/checkurl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  const int status = UrlContentCheckSign(content, "fuzz.url", OutputSink());
  if (status != 0 && status != 70) __builtin_trap();
  // The signed content lies inside the file and starts after the text.
  const UrlLayout layout = LocateUrlLayout(content);
  if (layout.signed_begin > size) __builtin_trap();
  return 0;
}
