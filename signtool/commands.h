// SPDX-License-Identifier: ISC
// signtool's commands, each run on arguments already parsed; each returns
// the process status.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "check/check_core.h"
#include "signtool/passphrase.h"

namespace signtool {

int Keygen(const std::string& private_path, const std::string& public_path,
           const signtool::PassphraseSource* passphrase_source);
int Passwd(const std::string& path, const signtool::PassphraseSource& old_source,
           const signtool::PassphraseSource* new_source);
int Id(const std::string& path, const signtool::PassphraseSource& passphrase_source);
// The constants of 1 to kMaxCompiledKeys keys, a ring in the order given.
int Constants(const std::vector<std::string>& public_paths);

struct SignOptions {
  std::optional<CheckMode> mode;  // none: the bare signature text
  std::string output;             // empty or "-": standard output
  std::string output_dir;         // set: every input signed into it, under its own name
  std::string private_path;
  std::vector<std::string> input_paths;  // one, but for output_dir
  signtool::PassphraseSource passphrase_source;
  std::string list_path;  // --files-from, never to be replaced by an output
};

int Sign(const SignOptions& options);
// Signs every input into the output directory, under its own name, with
// the key loaded once.  Names that clash, and outputs that would replace
// an input, the key or something other than a regular file, stop the
// command before anything is written; an input refused for its content is
// named and the others go on.  Every output is whole or absent after an
// interruption or a crash; the data is made durable a batch at a time.
int SignIntoDirectory(const SignOptions& options);

// Checks signed files as signcheck with the keys of key_files compiled in
// would, the keys loaded once for them all: quiet for a file it would
// accept, else one line, signcheck's own message naming the file; with
// summary, a line on stdout that counts the files accepted and refused.
// Status 1 if any was refused.  A key file that does not load stops it,
// named with the reason.
int Verify(CheckMode mode, const std::vector<std::string>& key_files, const std::vector<std::string>& paths,
           bool summary);

}  // namespace signtool
