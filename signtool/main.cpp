// SPDX-License-Identifier: ISC
// signtool: makes keys, the compiled-in key constants and signed files for
// signcheck.  Every failure is one message on stderr, naming the command,
// and status 1; usage errors name what is wrong and give status 2.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "signtool/commands.h"
#include "signtool/messages.h"
#include "signtool/options.h"

#ifndef SIGNTOOL_VERSION
#define SIGNTOOL_VERSION "unknown"
#endif

namespace signtool {
namespace {

struct Command {
  const char* name;
  const char* usage;  // one or more lines, each ending in \n
};

const Command kCommands[] = {
    {"keygen", "signtool keygen [--no-passphrase | --passphrase-file FILE] PRIVATE_FILE PUBLIC_FILE\n"},
    {"passwd",
     "signtool passwd [--passphrase-file FILE] [--new-passphrase-file FILE | --no-passphrase] PRIVATE_FILE\n"},
    {"id", "signtool id [--passphrase-file FILE] KEY_FILE|PROGRAM\n"},
    {"constants", "signtool constants PUBLIC_FILE\n"},
    {"sign",
     "signtool sign [--mode nvl|msg|lst|url] [-o OUT] [--passphrase-file FILE] PRIVATE_FILE FILE|-\n"
     "       signtool sign --mode nvl|msg|lst|url --output-dir DIR [--passphrase-file FILE] PRIVATE_FILE FILE...\n"},
    {"verify", "signtool verify --mode nvl|msg|lst|url PUBLIC_FILE FILE|-\n"},
};

int PrintUsage(const Command* only) {
  std::string text;
  for (const Command& command : kCommands) {
    if (only == nullptr || only == &command)
      text += (text.empty() ? "usage: " : "       ") + std::string(command.usage);
  }
  if (only == nullptr) text += "       signtool --help | --version\n";
  text += "See signtool(1) for the details.\n";
  std::fputs(text.c_str(), stdout);
  return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the output");
}

int RunCommand(const Command& command, int argc, char** argv) {
  const std::string_view name = command.name;
  Parsed parsed;
  int status = kUsage;
  std::vector<Option> allowed = {kHelp};
  if (name == "keygen") allowed = {kHelp, kPassphraseFile, kNoPassphrase};
  if (name == "passwd") allowed = {kHelp, kPassphraseFile, kNewPassphraseFile, kNoPassphrase};
  if (name == "id") allowed = {kHelp, kPassphraseFile};
  if (name == "sign") allowed = {kHelp, kMode, kOutput, kPassphraseFile, kOutputDir};
  if (name == "verify") allowed = {kHelp, kMode};
  if (!ParseArguments(argc, argv, allowed, parsed, status)) return status;
  if (parsed.help) return PrintUsage(&command);
  const std::vector<std::string>& args = parsed.operands;
  const signtool::PassphraseSource source{parsed.passphrase_file};
  if (name == "keygen") {
    if (parsed.no_passphrase && !parsed.passphrase_file.empty()) {
      return UsageError("--no-passphrase and --passphrase-file exclude each other");
    }
    if (!Operands(args, {"private key file", "public key file"}, status)) return status;
    return Keygen(args[0], args[1], parsed.no_passphrase ? nullptr : &source);
  }
  if (name == "passwd") {
    if (parsed.no_passphrase && !parsed.new_passphrase_file.empty()) {
      return UsageError("--no-passphrase and --new-passphrase-file exclude each other");
    }
    if (!Operands(args, {"private key file"}, status)) return status;
    const signtool::PassphraseSource new_source{parsed.new_passphrase_file};
    return Passwd(args[0], source, parsed.no_passphrase ? nullptr : &new_source);
  }
  if (name == "id") {
    if (!Operands(args, {"key or program file"}, status)) return status;
    return Id(args[0], source);
  }
  if (name == "constants") {
    if (!Operands(args, {"public key file"}, status)) return status;
    return Constants(args[0]);
  }
  if (name == "sign") {
    if (parsed.output_dir.empty()) {
      if (!Operands(args, {"private key file", "input file"}, status)) return status;
      return Sign({parsed.mode, parsed.output, "", args[0], {args[1]}, source});
    }
    if (!parsed.output.empty()) return UsageError("-o and --output-dir exclude each other");
    if (parsed.mode.empty()) return UsageError("--output-dir needs --mode MODE");
    if (args.size() < 2 && !Operands(args, {"private key file", "input file"}, status)) return status;
    if (std::find(args.begin() + 1, args.end(), "-") != args.end()) {
      return UsageError("--output-dir signs files, not standard input ('-')");
    }
    return SignIntoDirectory({parsed.mode, "", parsed.output_dir, args[0], {args.begin() + 1, args.end()}, source});
  }
  if (parsed.mode.empty()) return UsageError("missing --mode MODE");
  if (!Operands(args, {"public key file", "file to verify"}, status)) return status;
  return Verify(parsed.mode, args[0], args[1]);
}

int Run(int argc, char** argv) {
  if (argc < 2) return UsageError("missing a command");
  const std::string_view word = argv[1];
  if (word == "--help" || word == "-h" || word == "help") {
    if (word == "help" && argc > 2) {
      for (const Command& command : kCommands) {
        if (std::string_view(argv[2]) == command.name) return PrintUsage(&command);
      }
    }
    return PrintUsage(nullptr);
  }
  if (word == "--version" || word == "-V") {
    std::printf("signtool %s\n", SIGNTOOL_VERSION);
    return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the output");
  }
  for (const Command& command : kCommands) {
    if (word == command.name) {
      g_command = command.name;
      return RunCommand(command, argc - 1, argv + 1);
    }
  }
  return UsageError("unknown command '" + std::string(word) + "'");
}

}  // namespace
}  // namespace signtool

int main(int argc, char** argv) {
  // Memory that runs out (a huge input) ends in one message, never an abort.
  try {
    return signtool::Run(argc, argv);
  } catch (const std::bad_alloc&) {
    return signtool::Fail("out of memory");
  } catch (const std::exception& e) {
    return signtool::Fail(e.what());
  }
}
