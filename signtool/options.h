// SPDX-License-Identifier: ISC
// signtool's command-line arguments.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace signtool {

// The layout a mode word names, matched as signcheck matches it: the first
// three letters, in any case ("NVL", "nvlist").  Empty when it names none.
std::string LayoutOfMode(const char* word);

enum Option {
  kHelp = 'h',
  kMode = 'm',
  kOutput = 'o',
  kPassphraseFile = 256,
  kNewPassphraseFile,
  kNoPassphrase,
  kOutputDir,
};

struct Parsed {
  std::vector<std::string> operands;
  std::string mode, output, output_dir, passphrase_file, new_passphrase_file;
  bool no_passphrase = false;
  bool help = false;
};

// Parses a command's arguments (argv[0] is the command) with getopt_long:
// options before, between or after the operands, `--opt=value`, and `--`
// ending the options.  `allowed` lists the options the command takes.
bool ParseArguments(int argc, char** argv, const std::vector<Option>& allowed, Parsed& parsed, int& status);

// Checks the count of operands of a command: the names of those it takes.
bool Operands(const std::vector<std::string>& args, std::initializer_list<const char*> names, int& status);

}  // namespace signtool
