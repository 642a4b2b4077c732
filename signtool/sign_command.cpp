// SPDX-License-Identifier: ISC
// sign: a file's signature text, or the file signed in a layout.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "signtool/atomic_file.h"
#include "signtool/commands.h"
#include "signtool/encrypted_key.h"
#include "signtool/key_file.h"
#include "signtool/layout_sign.h"
#include "signtool/messages.h"
#include "signtool/progress.h"
#include "signtool/read_file.h"
#include "signtool/signing.h"

namespace signtool {

namespace {

// With a key file that did not load: when the other operand is a key file
// and this one is not, the operands were most likely given the wrong way
// round, and the message says so instead.
bool LoadKeyOrHint(const std::string& path, signtool::KeyKind kind, const signtool::PassphraseSource* source,
                   const std::string& other, signtool::DsaKey& key, std::string& error) {
  if (signtool::LoadKey(path, kind, key, error, source)) return true;
  std::string text;
  std::string ignored;
  signtool::DsaKey other_key;
  if (other == "-" || !signtool::ReadWholeFile(other, text, ignored, signtool::kMaxKeyFileSize) ||
      (!signtool::IsEncryptedKeyText(text) &&
       !signtool::ParseKey(text, other, signtool::KeyKind::kPublic, other_key, ignored))) {
    return false;
  }
  error = path + " is not a key file, but " + other + " is: the key file comes first (signtool " + g_command +
          " KEY_FILE FILE)";
  return false;
}

// Loads the private key, warning when it is the development key or when
// others may read its file.  `other` is an input, for the swapped-operands hint.
bool LoadSigningKey(const SignOptions& options, signtool::DsaKey& key, std::string& error) {
  if (!LoadKeyOrHint(options.private_path, signtool::KeyKind::kPrivate, &options.passphrase_source,
                     options.input_paths.front(), key, error)) {
    return false;
  }
  if (signtool::KeyId(key) == signtool::kDevelopmentKeyId) {
    Warn(
        "signing with the development key, whose private half is public: only a signcheck built "
        "for development accepts this");
  } else if (struct stat st; stat(options.private_path.c_str(), &st) == 0 && (st.st_mode & 0044) != 0) {
    Warn(options.private_path + " is readable by others; chmod 600 it and consider the key exposed");
  }
  return true;
}

// Reads one input and gives its signed text: in the layout of the mode, or
// without one the bare signature text and a line feed.  The error names
// the input.
bool SignFile(const signtool::DsaKey& key, std::optional<CheckMode> mode, const std::string& input_path,
              std::string& output, std::string& error) {
  std::string input;
  if (!signtool::ReadWholeFile(input_path, input, error)) return false;  // the message names the file
  bool ok = true;
  if (!mode) {
    ok = signtool::SignatureText(key, input.data(), input.size(), output, error);
    output += '\n';
  } else {
    bool signing_failed = false;
    auto sign_text = [&](std::string_view bytes) {
      std::string text;
      if (!signtool::SignatureText(key, bytes.data(), bytes.size(), text, error)) signing_failed = true;
      return text;
    };
    ok = SignInLayout(*mode, input, sign_text, output, error) && !signing_failed;
  }
  if (!ok) error = (input_path == "-" ? "standard input" : input_path) + ": " + error;
  return ok;
}

}  // namespace

int Sign(const SignOptions& options) {
  std::string error;
  const bool to_file = !options.output.empty() && options.output != "-";
  const std::string& input_path = options.input_paths.front();
  mode_t mode = 0;
  if (to_file && !ReplaceableFile(options.output,
                                  IdentifyInputs({options.private_path, input_path, options.passphrase_source.file}),
                                  0666, mode, error)) {
    return Fail(error);
  }
  signtool::DsaKey key;
  std::string output;
  if (!LoadSigningKey(options, key, error) || !SignFile(key, options.mode, input_path, output, error)) {
    return Fail(error);
  }
  if (to_file) {
    InstallCleanupHandlers();
    return WriteFileAtomically(options.output, output, mode, true, error) ? 0 : Fail(error);
  }
  if (std::fwrite(output.data(), 1, output.size(), stdout) != output.size() || std::fflush(stdout) != 0) {
    return Fail("cannot write the output");
  }
  return 0;
}

// Signs every input into the output directory, under its own name, with
// the key loaded once.  Names that clash, and outputs that would replace
// an input, the key or something other than a regular file, stop the
// command before anything is written; an input refused for its content is
// named and the others go on.  The outputs are made durable together, a
// batch of them at a time, and each is named only once its data is.
int SignIntoDirectory(const SignOptions& options) {
  const std::string shown_dir = options.output_dir.empty() ? "''" : options.output_dir;
  struct stat dir;
  if (stat(options.output_dir.c_str(), &dir) != 0) {
    return Fail("cannot use the output directory " + shown_dir + ": " + std::strerror(errno));
  }
  if (!S_ISDIR(dir.st_mode)) return Fail(shown_dir + " is not a directory");
  std::vector<std::string> reads = options.input_paths;
  reads.push_back(options.private_path);
  reads.push_back(options.passphrase_source.file);
  reads.push_back(options.list_path);
  const InputFiles inputs = IdentifyInputs(reads);
  std::map<std::string_view, const std::string*> input_of_name;
  std::vector<std::string> outputs;
  std::vector<mode_t> modes;
  outputs.reserve(options.input_paths.size());
  modes.reserve(options.input_paths.size());
  std::string error;
  for (const std::string& input : options.input_paths) {
    const std::string_view name = std::string_view(input).substr(input.find_last_of('/') + 1);
    std::string output = options.output_dir + "/";
    output += name;
    if (name.empty() || name == "." || name == "..") return Fail(input + " does not name a file");
    if (const auto [earlier, added] = input_of_name.emplace(name, &input); !added) {
      std::string message = *earlier->second;
      message.append(" and ").append(input).append(" would both be written to ").append(output);
      return Fail(message);
    }
    mode_t mode = 0;
    if (!ReplaceableFile(output, inputs, 0666, mode, error)) return Fail(error);
    outputs.push_back(std::move(output));
    modes.push_back(mode);
  }
  signtool::DsaKey key;
  if (!LoadSigningKey(options, key, error)) return Fail(error);
  DirectoryBatch batch;
  if (!batch.Open(options.output_dir, error)) return Fail(error);
  InstallCleanupHandlers();
  Progress progress("signed", outputs.size());
  size_t signed_count = 0;
  std::vector<std::string> errors;
  const auto commit = [&] {
    signed_count += batch.Commit(errors);
    for (const std::string& message : errors) {
      progress.Clear();
      Fail(message);
    }
    errors.clear();
  };
  for (size_t i = 0; i < outputs.size(); ++i) {
    std::string output;
    if (!SignFile(key, options.mode, options.input_paths[i], output, error) ||
        !batch.Add(outputs[i], output, modes[i], error)) {
      progress.Clear();
      Fail(error);
    }
    progress.Advance();
    if (batch.Pending() >= batch.Capacity()) commit();
  }
  commit();
  const bool synced = batch.SyncDirectory(error);
  progress.Finish();
  if (!synced) Fail(error);
  std::printf("signed %zu of %zu files into %s\n", signed_count, outputs.size(), options.output_dir.c_str());
  if (std::fflush(stdout) != 0) return Fail("cannot write the output");
  return synced && signed_count == outputs.size() ? 0 : kFailure;
}

}  // namespace signtool
