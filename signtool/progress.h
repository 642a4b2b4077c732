// SPDX-License-Identifier: ISC
// How far a batch of files has gone, on a terminal.
#pragma once

#include <cstddef>

namespace signtool {

// One line on standard error, rewritten in place, that counts the files
// done of the total and the files per second.  It appears only when
// standard error is a terminal and the batch has run for a second, and
// is redrawn a few times a second at most; otherwise it writes nothing.
class Progress {
 public:
  Progress(const char* verb, size_t total);
  // One more file done.
  void Advance();
  // Takes the line away before a message of the command's own.
  void Clear();
  // The batch is over: the summary that follows on standard output takes
  // the line's place on the terminal; when standard output goes elsewhere
  // the line stays, with the final count.
  void Finish();

 private:
  void Draw(double now);
  const char* verb_;
  size_t total_;
  size_t done_ = 0;
  double start_;
  double drawn_at_ = 0;
  bool terminal_;
  bool shown_ = false;
};

}  // namespace signtool
