// SPDX-License-Identifier: ISC
// Passphrases for encrypted private keys.
#pragma once

#include <string>

#include "signtool/secret.h"

namespace signtool {

// Where a passphrase comes from: the first line of a file, or, with no file,
// the controlling terminal (asked without echo).
struct PassphraseSource {
  std::string file;
};

// Reads a passphrase; with confirm, the terminal asks twice and both must
// agree.  `what` names the key in the prompt.  Fails with a one-line message
// (no terminal and no file, an empty passphrase, a mismatch); never waits on
// anything but a terminal.
bool ReadPassphrase(const PassphraseSource& source, const std::string& what, bool confirm, Secret& passphrase,
                    std::string& error);

}  // namespace signtool
