// SPDX-License-Identifier: ISC
// signtool's command-line arguments.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "check/check_core.h"

namespace signtool {

enum class Option : uint8_t {
  kHelp,
  kMode,
  kOutput,
  kKey,
  kPassphraseFile,
  kNewPassphraseFile,
  kNoPassphrase,
  kOutputDir,
  kFilesFrom,
  kNull,
};

// The options one command takes.
class OptionSet {
 public:
  constexpr OptionSet(std::initializer_list<Option> options) {
    for (const Option option : options) bits_ |= Bit(option);
  }
  constexpr bool Has(Option option) const { return (bits_ & Bit(option)) != 0; }

 private:
  static constexpr uint32_t Bit(Option option) { return uint32_t{1} << static_cast<unsigned>(option); }
  uint32_t bits_ = 0;
};

struct Parsed {
  std::vector<std::string> operands;
  std::optional<CheckMode> mode;                  // --mode, matched as signcheck matches its mode word
  std::vector<std::string> key_files;             // --key, in the order given
  std::optional<std::string> output, output_dir;  // set when given, even empty
  std::optional<std::string> files_from;          // --files-from: the list of files, "-" standard input
  std::string passphrase_file, new_passphrase_file;
  bool null_separated = false;  // --null: the list's names end in NUL
  bool no_passphrase = false;
  bool help = false;
};

// Parses a command's arguments (argv[0] is the command) with getopt_long:
// options before, between or after the operands, `--opt=value`, and `--`
// ending the options.  An option outside `allowed` is a usage error.
bool ParseArguments(int argc, char** argv, OptionSet allowed, Parsed& parsed, int& status);

// Checks the count of operands of a command: the names of those it takes.
bool Operands(const std::vector<std::string>& args, std::initializer_list<const char*> names, int& status);

}  // namespace signtool
