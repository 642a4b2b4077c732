// SPDX-License-Identifier: ISC
#include "signtool/options.h"

#include <getopt.h>
#include <strings.h>

#include <algorithm>

#include "signtool/messages.h"

namespace signtool {

std::string LayoutOfMode(const char* word) {
  for (const char* mode : {"nvl", "msg", "lst", "url"}) {
    if (strncasecmp(word, mode, 3) == 0) return mode;
  }
  return "";
}

bool ParseArguments(int argc, char** argv, const std::vector<Option>& allowed, Parsed& parsed, int& status) {
  static const option kLongOptions[] = {
      {"help", no_argument, nullptr, kHelp},
      {"mode", required_argument, nullptr, kMode},
      {"output", required_argument, nullptr, kOutput},
      {"passphrase-file", required_argument, nullptr, kPassphraseFile},
      {"new-passphrase-file", required_argument, nullptr, kNewPassphraseFile},
      {"no-passphrase", no_argument, nullptr, kNoPassphrase},
      {"output-dir", required_argument, nullptr, kOutputDir},
      {nullptr, 0, nullptr, 0},
  };
  optind = 0;  // a fresh scan, with GNU's argument permutation
  opterr = 0;
  for (;;) {
    int long_index = -1;
    const int c = getopt_long(argc, argv, ":hm:o:", kLongOptions, &long_index);
    if (c == -1) break;
    std::string name;
    if (c == '?' && optopt != 0) {
      name = std::string("-") + static_cast<char>(optopt);
    } else if (c == '?' || c == ':') {
      name = argv[optind - 1];
      name = name.substr(0, name.find('='));
    } else {
      name =
          long_index >= 0 ? std::string("--") + kLongOptions[long_index].name : std::string("-") + static_cast<char>(c);
    }
    if (c == ':') {
      status = UsageError(name + " needs a value");
      return false;
    }
    if (c == '?' || std::find(allowed.begin(), allowed.end(), static_cast<Option>(c)) == allowed.end()) {
      status = UsageError("unknown option '" + name + "'");
      return false;
    }
    switch (c) {
      case kHelp: parsed.help = true; break;
      case kMode:
        parsed.mode = LayoutOfMode(optarg);
        if (parsed.mode.empty()) {
          status = UsageError("unknown mode '" + std::string(optarg) + "' (expected nvl, msg, lst or url)");
          return false;
        }
        break;
      case kOutput: parsed.output = optarg; break;
      case kPassphraseFile: parsed.passphrase_file = optarg; break;
      case kNewPassphraseFile: parsed.new_passphrase_file = optarg; break;
      case kNoPassphrase: parsed.no_passphrase = true; break;
      case kOutputDir: parsed.output_dir = optarg; break;
      default: break;
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
