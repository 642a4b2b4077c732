// SPDX-License-Identifier: ISC
// Passphrases from a file or from the controlling terminal, without echo.
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "io/io.h"
#include "signtool/passphrase.h"

namespace signtool {
namespace {

// Longer lines are refused rather than cut: a cut passphrase would encrypt
// under something the user never typed.
constexpr size_t kMaxPassphrase = 1023;

// The terminal's settings while echo is off, for the signal handler to put
// back.
int g_tty_fd = -1;
struct termios g_tty_saved;

extern "C" void RestoreTerminalAndDie(int signal_number) {
  tcsetattr(g_tty_fd, TCSAFLUSH, &g_tty_saved);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

// Reads one line from fd into line, without its line feed (and a carriage
// return before it).  False on a read error, a NUL, or a line too long; the
// limit is on the passphrase, so a CR LF line end does not count against it.
bool ReadLine(int fd, Secret& line, std::string& error) {
  const std::string too_long = "the passphrase is longer than " + std::to_string(kMaxPassphrase) + " bytes";
  line.Clear();
  line.text.reserve(kMaxPassphrase + 1);
  for (;;) {
    char c;
    const ssize_t n = io::Read(fd, &c, 1);
    if (n < 0) {
      error = std::strerror(errno);
      return false;
    }
    if (n == 0 || c == '\n') break;
    if (c == '\0' || line.text.size() > kMaxPassphrase) {
      error = c == '\0' ? "it holds a NUL byte" : too_long;
      return false;
    }
    line.text += c;
  }
  if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
  if (line.text.size() > kMaxPassphrase) {
    error = too_long;
    return false;
  }
  return true;
}

bool AskTerminal(int tty, const std::string& prompt, Secret& answer, std::string& error) {
  if (tcgetattr(tty, &g_tty_saved) != 0) {
    error = std::string("cannot read the terminal's settings: ") + std::strerror(errno);
    return false;
  }
  struct termios quiet = g_tty_saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ICANON;
  struct sigaction restore {
  }, saved[4];
  restore.sa_handler = RestoreTerminalAndDie;
  sigemptyset(&restore.sa_mask);
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  g_tty_fd = tty;
  for (int i = 0; i < 4; ++i) sigaction(signals[i], &restore, &saved[i]);
  bool ok = write(tty, prompt.data(), prompt.size()) == static_cast<ssize_t>(prompt.size()) &&
            tcsetattr(tty, TCSAFLUSH, &quiet) == 0;
  if (ok && !ReadLine(tty, answer, error)) {
    error = "cannot read the passphrase: " + error;
    ok = false;
  } else if (!ok) {
    error = std::string("cannot ask on the terminal: ") + std::strerror(errno);
  }
  tcsetattr(tty, TCSAFLUSH, &g_tty_saved);
  for (int i = 0; i < 4; ++i) sigaction(signals[i], &saved[i], nullptr);
  g_tty_fd = -1;
  (void)!write(tty, "\n", 1);
  return ok;
}

}  // namespace

bool ReadPassphrase(const PassphraseSource& source, const std::string& what, bool confirm, Secret& passphrase,
                    std::string& error) {
  std::string reason;
  if (!source.file.empty()) {
    const int fd = open(source.file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error = "cannot read the passphrase file " + source.file + ": " + std::strerror(errno);
      return false;
    }
    const bool read = ReadLine(fd, passphrase, reason);
    close(fd);
    if (!read) {
      error = "cannot read the passphrase file " + source.file + ": " + reason;
      return false;
    }
  } else {
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) {
      error = "no terminal to ask for the passphrase of " + what + ": give --passphrase-file FILE";
      return false;
    }
    bool ok = AskTerminal(tty, "Passphrase for " + what + ": ", passphrase, error);
    if (ok && confirm) {
      Secret again;
      ok = AskTerminal(tty, "The same passphrase again: ", again, error);
      if (ok && again.text != passphrase.text) {
        error = "the two passphrases differ; nothing written";
        ok = false;
      }
    }
    close(tty);
    if (!ok) return false;
  }
  if (passphrase.text.empty()) {
    error =
        "the passphrase is empty" + std::string(source.file.empty() ? "" : " (the first line of " + source.file + ")");
    return false;
  }
  return true;
}

}  // namespace signtool
