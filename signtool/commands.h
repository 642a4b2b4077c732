// SPDX-License-Identifier: ISC
// signtool's commands, each run on arguments already parsed; each returns
// the process status.
#pragma once

#include <string>
#include <vector>

#include "signtool/key_file.h"
#include "signtool/passphrase.h"

namespace signtool {

int Keygen(const std::string& private_path, const std::string& public_path,
           const signtool::PassphraseSource* passphrase_source);
int Passwd(const std::string& path, const signtool::PassphraseSource& old_source,
           const signtool::PassphraseSource* new_source);
int Id(const std::string& path, const signtool::PassphraseSource& passphrase_source);
int Constants(const std::string& public_path);

struct SignOptions {
  std::string mode;        // empty: the bare signature text
  std::string output;      // empty or "-": standard output
  std::string output_dir;  // set: every input signed into it, under its own name
  std::string private_path;
  std::vector<std::string> input_paths;  // one, but for output_dir
  signtool::PassphraseSource passphrase_source;
};

int Sign(const SignOptions& options);
// Signs every input into the output directory, under its own name, with
// the key loaded once.  Names that clash, and outputs that would replace
// an input, the key or something other than a regular file, stop the
// command before anything is written; an input refused for its content is
// named and the others go on.
int SignIntoDirectory(const SignOptions& options);

int Verify(const std::string& mode, const std::string& public_path, const std::string& path);

// With a key file that did not load: when the other operand is a key file
// and this one is not, the operands were most likely given the wrong way
// round, and the message says so instead.
bool LoadKeyOrHint(const std::string& path, signtool::KeyKind kind, const signtool::PassphraseSource* source,
                   const std::string& other, signtool::DsaKey& key, std::string& error);

}  // namespace signtool
