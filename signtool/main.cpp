// SPDX-License-Identifier: ISC
// signtool: makes keys, the compiled-in key constants and signed files for
// signcheck, and checks signed files as signcheck would.  Every failure is
// one message on stderr, naming the command, and status 1; usage errors name
// what is wrong and give status 2.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "dsa/public_key.h"
#include "signtool/commands.h"
#include "signtool/file_list.h"
#include "signtool/messages.h"
#include "signtool/options.h"

#ifndef SIGNTOOL_VERSION
#define SIGNTOOL_VERSION "unknown"
#endif

namespace signtool {
namespace {

enum class Verb { kKeygen, kPasswd, kId, kConstants, kSign, kVerify };

struct Command {
  Verb verb;
  const char* name;
  const char* usage;  // one or more lines, each ending in \n
  OptionSet options;
};

constexpr Command kCommands[] = {
    {Verb::kKeygen,
     "keygen",
     "signtool keygen [--no-passphrase | --passphrase-file FILE] PRIVATE_FILE PUBLIC_FILE\n",
     {Option::kHelp, Option::kPassphraseFile, Option::kNoPassphrase}},
    {Verb::kPasswd,
     "passwd",
     "signtool passwd [--passphrase-file FILE] [--new-passphrase-file FILE | --no-passphrase] PRIVATE_FILE\n",
     {Option::kHelp, Option::kPassphraseFile, Option::kNewPassphraseFile, Option::kNoPassphrase}},
    {Verb::kId,
     "id",
     "signtool id [--passphrase-file FILE] KEY_FILE|PROGRAM\n",
     {Option::kHelp, Option::kPassphraseFile}},
    {Verb::kConstants, "constants", "signtool constants PUBLIC_FILE...\n", {Option::kHelp}},
    {Verb::kSign,
     "sign",
     "signtool sign [--mode nvl|msg|lst|url] [-o OUT] [--passphrase-file FILE] PRIVATE_FILE FILE|-\n"
     "       signtool sign --mode nvl|msg|lst|url --output-dir DIR [--files-from LIST [--null]] [--passphrase-file "
     "FILE]\n"
     "                     PRIVATE_FILE FILE...\n",
     {Option::kHelp, Option::kMode, Option::kOutput, Option::kPassphraseFile, Option::kOutputDir, Option::kFilesFrom,
      Option::kNull}},
    {Verb::kVerify,
     "verify",
     "signtool verify --mode nvl|msg|lst|url --key PUBLIC_FILE [--key PUBLIC_FILE]... [--files-from LIST [--null]]\n"
     "                       [FILE|-]...\n"
     "       signtool verify --mode nvl|msg|lst|url [--files-from LIST [--null]] PUBLIC_FILE [FILE|-]...\n",
     {Option::kHelp, Option::kMode, Option::kKey, Option::kFilesFrom, Option::kNull}},
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

int RunKeygen(const Parsed& parsed) {
  if (parsed.no_passphrase && !parsed.passphrase_file.empty()) {
    return UsageError("--no-passphrase and --passphrase-file exclude each other");
  }
  int status = kUsage;
  if (!Operands(parsed.operands, {"private key file", "public key file"}, status)) return status;
  const PassphraseSource source{parsed.passphrase_file};
  return Keygen(parsed.operands[0], parsed.operands[1], parsed.no_passphrase ? nullptr : &source);
}

int RunPasswd(const Parsed& parsed) {
  if (parsed.no_passphrase && !parsed.new_passphrase_file.empty()) {
    return UsageError("--no-passphrase and --new-passphrase-file exclude each other");
  }
  int status = kUsage;
  if (!Operands(parsed.operands, {"private key file"}, status)) return status;
  const PassphraseSource new_source{parsed.new_passphrase_file};
  return Passwd(parsed.operands[0], {parsed.passphrase_file}, parsed.no_passphrase ? nullptr : &new_source);
}

int RunId(const Parsed& parsed) {
  int status = kUsage;
  if (!Operands(parsed.operands, {"key or program file"}, status)) return status;
  return Id(parsed.operands[0], {parsed.passphrase_file});
}

int RunConstants(const Parsed& parsed) {
  int status = kUsage;
  if (parsed.operands.empty() && !Operands(parsed.operands, {"public key file"}, status)) return status;
  return Constants(parsed.operands);
}

// The files named by the operands from `first` on, then by --files-from.
bool FilesToRead(const Parsed& parsed, size_t first, std::vector<std::string>& files, int& status) {
  files.assign(parsed.operands.begin() + static_cast<std::ptrdiff_t>(first), parsed.operands.end());
  std::string error;
  if (parsed.files_from && !ReadFileList(*parsed.files_from, parsed.null_separated, files, error)) {
    status = Fail(error);
    return false;
  }
  return true;
}

int RunSign(const Parsed& parsed) {
  const std::vector<std::string>& args = parsed.operands;
  int status = kUsage;
  if (parsed.null_separated && !parsed.files_from) return UsageError("--null needs --files-from FILE");
  if (!parsed.output_dir) {
    if (parsed.files_from) return UsageError("--files-from needs --output-dir DIR");
    if (!Operands(args, {"private key file", "input file"}, status)) return status;
    if (parsed.output && parsed.output->empty()) return Fail("cannot create '': No such file or directory");
    return Sign({parsed.mode, parsed.output.value_or(""), "", args[0], {args[1]}, {parsed.passphrase_file}, ""});
  }
  if (parsed.output) return UsageError("-o and --output-dir exclude each other");
  if (!parsed.mode) return UsageError("--output-dir needs --mode MODE");
  if ((args.empty() || (args.size() < 2 && !parsed.files_from)) &&
      !Operands(args, {"private key file", "input file"}, status)) {
    return status;
  }
  SignOptions options{
      parsed.mode, "", *parsed.output_dir, args[0], {}, {parsed.passphrase_file}, parsed.files_from.value_or("")};
  if (!FilesToRead(parsed, 1, options.input_paths, status)) return status;
  if (std::find(options.input_paths.begin(), options.input_paths.end(), "-") != options.input_paths.end()) {
    return UsageError("--output-dir signs files, not standard input ('-')");
  }
  return SignIntoDirectory(options);
}

// The key files come from --key or, without it, from the first operand;
// the other operands and --files-from name the files to check.
int RunVerify(const Parsed& parsed) {
  if (!parsed.mode) return UsageError("missing --mode MODE");
  if (parsed.null_separated && !parsed.files_from) return UsageError("--null needs --files-from FILE");
  const std::vector<std::string>& args = parsed.operands;
  std::vector<std::string> key_files = parsed.key_files;
  const bool key_operand = key_files.empty();
  if (args.empty() && key_operand) return UsageError("missing the public key file and the file to verify");
  if (key_operand && args.size() == 1 && !parsed.files_from) return UsageError("missing the public key file");
  if (args.size() == (key_operand ? 1u : 0u) && !parsed.files_from) return UsageError("missing the file to verify");
  if (key_operand) key_files.push_back(args[0]);
  if (key_files.size() > kMaxRingKeys) {
    return UsageError("at most " + std::to_string(kMaxRingKeys) + " keys (" + std::to_string(key_files.size()) +
                      " given)");
  }
  // Standard input is read once: checked on the operands before the list
  // is read, and on the list's names once it is.
  const auto reads_of_standard_input = [&](const std::vector<std::string>& names) {
    return std::count(names.begin(), names.end(), "-") + (parsed.files_from == "-" ? 1 : 0);
  };
  if (reads_of_standard_input(args) > 1) return UsageError("standard input ('-') can be read only once");
  std::vector<std::string> files;
  int status = kUsage;
  if (!FilesToRead(parsed, key_operand ? 1 : 0, files, status)) return status;
  if (reads_of_standard_input(files) > 1) return UsageError("standard input ('-') can be read only once");
  return Verify(*parsed.mode, key_files, files, files.size() > 1 || parsed.files_from);
}

int RunCommand(const Command& command, int argc, char** argv) {
  Parsed parsed;
  int status = kUsage;
  if (!ParseArguments(argc, argv, command.options, parsed, status)) return status;
  if (parsed.help) return PrintUsage(&command);
  switch (command.verb) {
    case Verb::kKeygen: return RunKeygen(parsed);
    case Verb::kPasswd: return RunPasswd(parsed);
    case Verb::kId: return RunId(parsed);
    case Verb::kConstants: return RunConstants(parsed);
    case Verb::kSign: return RunSign(parsed);
    case Verb::kVerify: return RunVerify(parsed);
  }
  return kFailure;  // not reached: the switch names every verb, and -Wswitch says when one is missing
}

const Command* FindCommand(std::string_view name) {
  for (const Command& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

int Run(int argc, char** argv) {
  if (argc < 2) return UsageError("missing a command");
  const std::string_view word = argv[1];
  if (word == "--help" || word == "-h" || word == "help") {
    const Command* only = word == "help" && argc > 2 ? FindCommand(argv[2]) : nullptr;
    return PrintUsage(only);
  }
  if (word == "--version" || word == "-V") {
    std::printf("signtool %s\n", SIGNTOOL_VERSION);
    return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the output");
  }
  const Command* command = FindCommand(word);
  if (command == nullptr) return UsageError("unknown command '" + std::string(word) + "'");
  g_command = command->name;
  return RunCommand(*command, argc - 1, argv + 1);
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
