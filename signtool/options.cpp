// SPDX-License-Identifier: ISC
#include "signtool/options.h"

#include <getopt.h>

#include <iterator>

#include "signtool/messages.h"

namespace signtool {
namespace {

// getopt_long's value for an option: its letter where it has one, else one
// past every byte.
constexpr int kLongOnly = 256;
constexpr int GetoptValue(Option option) {
  switch (option) {
    case Option::kHelp: return 'h';
    case Option::kMode: return 'm';
    case Option::kOutput: return 'o';
    case Option::kKey:
    case Option::kPassphraseFile:
    case Option::kNewPassphraseFile:
    case Option::kNoPassphrase:
    case Option::kOutputDir:
    case Option::kFilesFrom:
    case Option::kNull: break;
  }
  return kLongOnly + static_cast<int>(option);
}

struct LongOption {
  const char* name;
  int has_argument;
  Option option;
};
constexpr LongOption kOptions[] = {
    {"help", no_argument, Option::kHelp},
    {"mode", required_argument, Option::kMode},
    {"output", required_argument, Option::kOutput},
    {"key", required_argument, Option::kKey},
    {"passphrase-file", required_argument, Option::kPassphraseFile},
    {"new-passphrase-file", required_argument, Option::kNewPassphraseFile},
    {"no-passphrase", no_argument, Option::kNoPassphrase},
    {"output-dir", required_argument, Option::kOutputDir},
    {"files-from", required_argument, Option::kFilesFrom},
    {"null", no_argument, Option::kNull},
};

}  // namespace

bool ParseArguments(int argc, char** argv, OptionSet allowed, Parsed& parsed, int& status) {
  option long_options[std::size(kOptions) + 1] = {};
  for (size_t i = 0; i < std::size(kOptions); ++i) {
    long_options[i] = {kOptions[i].name, kOptions[i].has_argument, nullptr, GetoptValue(kOptions[i].option)};
  }
  optind = 0;  // a fresh scan, with GNU's argument permutation
  opterr = 0;
  for (;;) {
    int long_index = -1;
    const int c = getopt_long(argc, argv, ":hm:o:", long_options, &long_index);
    if (c == -1) break;
    std::string name;
    if (c == '?' && optopt != 0) {
      name = std::string("-") + static_cast<char>(optopt);
    } else if (c == '?' || c == ':') {
      name = argv[optind - 1];
      name = name.substr(0, name.find('='));
    } else {
      name = long_index >= 0 ? std::string("--") + kOptions[static_cast<size_t>(long_index)].name
                             : std::string("-") + static_cast<char>(c);
    }
    if (c == ':') {
      status = UsageError(name + " needs a value");
      return false;
    }
    const LongOption* known = nullptr;
    for (const LongOption& candidate : kOptions) {
      if (GetoptValue(candidate.option) == c) known = &candidate;
    }
    if (known == nullptr || !allowed.Has(known->option)) {
      status = UsageError("unknown option '" + name + "'");
      return false;
    }
    switch (known->option) {
      case Option::kHelp: parsed.help = true; break;
      case Option::kMode:
        if (CheckMode mode; MatchModeWord(optarg, mode)) {
          parsed.mode = mode;
        } else {
          status = UsageError("unknown mode '" + std::string(optarg) + "' (expected nvl, msg, lst or url)");
          return false;
        }
        break;
      case Option::kOutput: parsed.output = optarg; break;
      case Option::kKey: parsed.key_files.emplace_back(optarg); break;
      case Option::kPassphraseFile: parsed.passphrase_file = optarg; break;
      case Option::kNewPassphraseFile: parsed.new_passphrase_file = optarg; break;
      case Option::kNoPassphrase: parsed.no_passphrase = true; break;
      case Option::kOutputDir: parsed.output_dir = optarg; break;
      case Option::kFilesFrom: parsed.files_from = optarg; break;
      case Option::kNull: parsed.null_separated = true; break;
    }
  }
  parsed.operands.assign(argv + optind, argv + argc);
  return true;
}

bool Operands(const std::vector<std::string>& args, std::initializer_list<const char*> names, int& status) {
  if (args.size() < names.size()) {
    std::string missing = names.begin()[args.size()];
    if (args.empty() && names.size() == 2) missing += std::string(" and the ") + names.begin()[1];
    status = UsageError("missing the " + missing);
    return false;
  }
  if (args.size() > names.size()) {
    status = UsageError("unexpected argument '" + args[names.size()] + "'");
    return false;
  }
  return true;
}

}  // namespace signtool
