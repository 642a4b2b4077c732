// SPDX-License-Identifier: ISC
// The messages of the checks, composed from a report: the one place that
// holds their texts.
#pragma once

#include <cstdio>
#include <string_view>

#include "check/report.h"
#include "io/io.h"

// Writes the message of report, one line with its line feed, through
// append, a piece at a time.  file_name and mode_word (for an unknown mode)
// are the arguments the message names; a signature text goes up to its
// first NUL byte, as "%s" would print it.  Nothing for kNone.
class MessageSink {
 public:
  virtual void Append(std::string_view piece) = 0;

 protected:
  ~MessageSink() = default;
};
void ComposeMessage(const CheckReport& report, const char* file_name, const char* mode_word, MessageSink& sink);

// ComposeMessage onto a stream.
void PrintMessage(FILE* out, const CheckReport& report, const char* file_name, const char* mode_word = "");
