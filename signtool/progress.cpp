// SPDX-License-Identifier: ISC
#include "signtool/progress.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace signtool {
namespace {

constexpr double kQuietSeconds = 1.0;  // a batch shorter than this shows nothing
constexpr double kRedrawSeconds = 0.25;

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

Progress::Progress(const char* verb, size_t total)
    : verb_(verb), total_(total), start_(Now()), terminal_(isatty(STDERR_FILENO) == 1) {}

void Progress::Advance() {
  ++done_;
  if (!terminal_) return;
  const double now = Now();
  if (now - start_ >= kQuietSeconds && now - drawn_at_ >= kRedrawSeconds) Draw(now);
}

void Progress::Draw(double now) {
  const double seconds = now - start_;
  const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0;
  std::fprintf(stderr, "\r%s %zu of %zu files, %.0f files/s\033[K", verb_, done_, total_, rate);
  std::fflush(stderr);
  drawn_at_ = now;
  shown_ = true;
}

void Progress::Clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  drawn_at_ = 0;  // redrawn at the next file
}

void Progress::Finish() {
  if (!shown_) return;
  if (isatty(STDOUT_FILENO) == 1) {
    std::fputs("\r\033[K", stderr);
  } else {
    Draw(Now());
    std::fputc('\n', stderr);
  }
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace signtool
