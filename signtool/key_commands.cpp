// SPDX-License-Identifier: ISC
// keygen, passwd, id and constants.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "signtool/atomic_file.h"
#include "signtool/commands.h"
#include "signtool/constants.h"
#include "signtool/dsa_keys.h"
#include "signtool/messages.h"
#include "signtool/program_key.h"

namespace signtool {
namespace {

std::string Absolute(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string result = resolved;
  std::free(resolved);
  return result;
}

// The private key file's text: encrypted under a passphrase, or plain.
bool PrivateKeyText(const signtool::DsaKey& key, const signtool::PassphraseSource* passphrase_source,
                    const std::string& what, signtool::Secret& text, std::string& error) {
  if (passphrase_source == nullptr) {
    text.text.reserve(4096);
    text.text = signtool::FormatKey(key, signtool::KeyKind::kPrivate);
    return true;
  }
  signtool::Secret passphrase;
  return signtool::ReadPassphrase(*passphrase_source, what, true, passphrase, error) &&
         signtool::FormatEncryptedKey(key, passphrase, text, error);
}

// True when the process has a controlling terminal to ask a passphrase on.
bool HaveTerminal() {
  const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return false;
  close(tty);
  return true;
}

}  // namespace

int Keygen(const std::string& private_path, const std::string& public_path,
           const signtool::PassphraseSource* passphrase_source) {
  if (private_path == public_path) return Fail("the private and public files must differ");
  for (const std::string* path : {&private_path, &public_path}) {
    struct stat st;
    if (lstat(path->c_str(), &st) == 0) return Fail(*path + " already exists; not overwriting it");
  }
  // Refused before the key is made, naming both ways to go on without a
  // terminal.
  if (passphrase_source != nullptr && passphrase_source->file.empty() && !HaveTerminal()) {
    return Fail(
        "no terminal to ask for the new key's passphrase: give --passphrase-file FILE, or --no-passphrase for a key "
        "without one");
  }
  if (passphrase_source == nullptr) {
    Warn("the private key is written without a passphrase: anyone who reads " + private_path + " can sign");
  }
  signtool::DsaKey key;
  std::string error;
  signtool::Secret private_text;
  if (!signtool::GenerateKey(key, error) ||
      !PrivateKeyText(key, passphrase_source, "the new key " + private_path, private_text, error)) {
    return Fail(error);
  }
  InstallCleanupHandlers();
  {
    // The pair appears whole or not at all: an interruption waits until
    // both files are linked, or the private one is removed again.
    BlockSignals blocked;
    if (!WriteFileAtomically(private_path, private_text.text, 0600, false, error)) return Fail(error);
    if (!WriteFileAtomically(public_path, signtool::FormatKey(key, signtool::KeyKind::kPublic), 0644, false, error)) {
      unlink(private_path.c_str());
      return Fail(error);
    }
  }
  const std::string id = signtool::KeyId(key);
  // The tests sign unattended: a key without passphrase serves them, and
  // without one the build leaves them out rather than build them to skip.
  const std::string tests = passphrase_source == nullptr ? "-DSIGNCHECK_TEST_PRIVATE_KEY=" + Absolute(private_path)
                                                         : "-DSIGNCHECK_BUILD_TESTS=OFF";
  std::printf(
      "key ID: %s\n"
      "To build a signcheck with this key, in a build folder of its own:\n"
      "  cmake --preset release -B build/key-%s -DSIGNCHECK_PUBLIC_KEY=%s -DSIGNCHECK_KEY_SERIAL=N %s\n"
      "  cmake --build build/key-%s -j2\n"
      "(N orders the packages: 1 for a first key, raised at every key rotation, or apt takes the new packages "
      "for a downgrade.)\n",
      id.c_str(), id.c_str(), Absolute(public_path).c_str(), tests.c_str(), id.c_str());
  if (passphrase_source != nullptr) {
    std::printf("(The tests sign unattended, with a key that has no passphrase: this build leaves them out.)\n");
  }
  std::printf("Keep %s secret; sign with: signtool sign --mode MODE %s FILE\n", private_path.c_str(),
              private_path.c_str());
  return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the output");
}

int Passwd(const std::string& path, const signtool::PassphraseSource& old_source,
           const signtool::PassphraseSource* new_source) {
  signtool::DsaKey key;
  std::string error;
  mode_t mode = 0600;
  signtool::Secret old_text;
  old_text.text.reserve(signtool::kMaxKeyFileSize);
  if (!ReplaceableFile(path, {}, 0600, mode, error)) return Fail(error);
  if (!signtool::ReadWholeFile(path, old_text.text, error, signtool::kMaxKeyFileSize)) {
    return Fail("key file: " + error);
  }
  const bool was_encrypted = signtool::IsEncryptedKeyText(old_text.text);
  if (!signtool::ParseKeyText(old_text, path, signtool::KeyKind::kPrivate, key, error, &old_source)) {
    return Fail(error);
  }
  old_text.Clear();
  if (new_source == nullptr) Warn(path + " is written without a passphrase: anyone who reads it can sign");
  signtool::Secret text;
  if (!PrivateKeyText(key, new_source, path + " (new)", text, error)) return Fail(error);
  InstallCleanupHandlers();
  if (!WriteFileAtomically(path, text.text, mode, true, error)) return Fail(error);
  const char* done = new_source == nullptr
                         ? (was_encrypted ? "is now stored without a passphrase" : "stays without a passphrase")
                         : (was_encrypted ? "has a new passphrase" : "is now encrypted");
  std::printf("%s %s\n", path.c_str(), done);
  return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the output");
}

namespace {

// True when the file at path starts like a program file.
bool IsProgramFile(const std::string& path) {
  char head[4] = {};
  const int fd = path == "-" ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t n = read(fd, head, sizeof head);
  close(fd);
  return n == sizeof head && signtool::LooksLikeProgram(std::string_view(head, sizeof head));
}

}  // namespace

// Prints the ID of a key file, or each ID of a program's keys on a line of
// its own, in the order the program tries them.
int Id(const std::string& path, const signtool::PassphraseSource& passphrase_source) {
  std::string error;
  std::string id;
  if (IsProgramFile(path)) {
    std::string program;
    constexpr size_t kMaxProgramSize = size_t{1} << 30;
    if (!signtool::ReadWholeFile(path, program, error, kMaxProgramSize)) return Fail(error);
    std::vector<std::string> ids;
    if (!signtool::ProgramKeyIds(program, ids, error)) return Fail(path + ": " + error);
    for (const std::string& each : ids) id += (id.empty() ? "" : "\n") + each;
  } else {
    signtool::Secret text;
    text.text.reserve(signtool::kMaxKeyFileSize);
    if (!signtool::ReadWholeFile(path, text.text, error, signtool::kMaxKeyFileSize)) return Fail("key file: " + error);
    // An encrypted key states its ID in clear on its first line, so that no
    // passphrase is needed here; one that is given anyway must open the key,
    // and the ID stated must be the key's.
    const std::string stated = signtool::StatedKeyId(text.text);
    if (!stated.empty() && passphrase_source.file.empty() && signtool::IsEncryptedKeyText(text.text)) {
      id = stated;
    } else {
      signtool::DsaKey key;
      if (!signtool::ParseKeyText(text, path, signtool::KeyKind::kPublic, key, error, &passphrase_source)) {
        return Fail(error);
      }
      id = signtool::KeyId(key);
      if (!stated.empty() && stated != id) {
        return Fail(path + ": its first line states key ID " + stated + ", but the key in it is " + id);
      }
    }
  }
  std::printf("%s\n", id.c_str());
  return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the output");
}

int Constants(const std::vector<std::string>& public_paths) {
  if (public_paths.size() > signtool::kMaxCompiledKeys) {
    return UsageError("at most " + std::to_string(signtool::kMaxCompiledKeys) + " public key files, not " +
                      std::to_string(public_paths.size()));
  }
  std::vector<signtool::DsaKey> keys(public_paths.size());
  std::vector<std::string> ids;
  std::string error, origin;
  for (size_t i = 0; i < public_paths.size(); ++i) {
    const std::string& path = public_paths[i];
    if (!signtool::LoadKey(path, signtool::KeyKind::kPublicFile, keys[i], error)) return Fail(error);
    // A key given twice would be tried twice for every file it does not sign.
    const std::string id = signtool::KeyId(keys[i]);
    const auto same = std::find(ids.begin(), ids.end(), id);
    if (same != ids.end()) {
      std::string message = path;
      message.append(" is key ").append(id).append(", as ");
      message.append(public_paths[static_cast<size_t>(same - ids.begin())]).append(" is: give each key once");
      return Fail(message);
    }
    ids.push_back(id);
    // Name the keys by their file names alone, so the output does not depend
    // on where the source tree lies.
    const size_t slash = path.find_last_of('/');
    origin += (i == 0 ? "" : " ") + (slash == std::string::npos ? path : path.substr(slash + 1));
  }
  const std::string source = signtool::FormatConstants(keys, origin);
  if (std::fwrite(source.data(), 1, source.size(), stdout) != source.size() || std::fflush(stdout) != 0) {
    return Fail("cannot write the constants");
  }
  return 0;
}

}  // namespace signtool
