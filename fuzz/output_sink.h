// SPDX-License-Identifier: ISC
// Where the fuzzed checks print: a memory stream, rewound for each run, so
// that the oracles can read what was printed.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

class OutputSink {
 public:
  OutputSink() {
    stream_ = open_memstream(&buffer_, &size_);
    if (stream_ == nullptr) std::abort();
  }
  OutputSink(const OutputSink&) = delete;
  OutputSink& operator=(const OutputSink&) = delete;
  ~OutputSink() {
    std::fclose(stream_);
    std::free(buffer_);
  }
  FILE* stream() {
    std::rewind(stream_);
    return stream_;
  }
  // What was printed since stream() was last taken.
  std::string_view printed() {
    std::fflush(stream_);
    return {buffer_, static_cast<size_t>(std::ftell(stream_))};
  }

 private:
  FILE* stream_ = nullptr;
  char* buffer_ = nullptr;
  size_t size_ = 0;
};

// One sink for the whole run of a target.
inline OutputSink& Sink() {
  static OutputSink sink;
  return sink;
}
