// SPDX-License-Identifier: ISC
// signtool: makes keys, the compiled-in key constants and signed files for
// signcheck.  Every failure is one message on stderr, naming the command,
// and status 1; usage errors name what is wrong and give status 2.
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <strings.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "signtool/constants.h"
#include "signtool/dsa_keys.h"
#include "signtool/layout_sign.h"
#include "signtool/layout_verify.h"
#include "signtool/program_key.h"

#ifndef SIGNTOOL_VERSION
#define SIGNTOOL_VERSION "unknown"
#endif

namespace {

constexpr int kFailure = 1;
constexpr int kUsage = 2;

struct Command {
  const char* name;
  const char* usage;  // one or more lines, each ending in \n
};

const Command kCommands[] = {
    {"keygen", "signtool keygen [--no-passphrase | --passphrase-file FILE] PRIVATE_FILE PUBLIC_FILE\n"},
    {"passwd",
     "signtool passwd [--passphrase-file FILE] [--new-passphrase-file FILE | --no-passphrase] PRIVATE_FILE\n"},
    {"id", "signtool id [--passphrase-file FILE] KEY_FILE|PROGRAM\n"},
    {"constants", "signtool constants PUBLIC_FILE...\n"},
    {"sign",
     "signtool sign [--mode nvl|msg|lst|url] [-o OUT] [--passphrase-file FILE] PRIVATE_FILE FILE|-\n"
     "       signtool sign --mode nvl|msg|lst|url --output-dir DIR [--passphrase-file FILE] PRIVATE_FILE FILE...\n"},
    {"verify", "signtool verify --mode nvl|msg|lst|url PUBLIC_FILE FILE|-\n"},
};

// The command being run, for messages; empty before one is known.
std::string g_command;

std::string Prefix() { return g_command.empty() ? "signtool: " : "signtool: " + g_command + ": "; }

int Fail(const std::string& message) {
  std::fprintf(stderr, "%s%s\n", Prefix().c_str(), message.c_str());
  return kFailure;
}

void Warn(const std::string& message) { std::fprintf(stderr, "%swarning: %s\n", Prefix().c_str(), message.c_str()); }

int UsageError(const std::string& message) {
  std::fprintf(stderr, "%s%s (see signtool %s--help)\n", Prefix().c_str(), message.c_str(),
               g_command.empty() ? "" : (g_command + " ").c_str());
  return kUsage;
}

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

// Files to remove should the process be interrupted: a temporary file, or a
// key file whose other half is not written yet.  Kept in fixed buffers that
// the signal handler reads; signals are blocked while they change.
constexpr int kCleanupSlots = 2;
char g_cleanup[kCleanupSlots][PATH_MAX];
volatile sig_atomic_t g_cleanup_set[kCleanupSlots];

extern "C" void RemoveAndDie(int signal_number) {
  for (int i = 0; i < kCleanupSlots; ++i) {
    if (g_cleanup_set[i]) unlink(g_cleanup[i]);
  }
  ::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

class BlockSignals {
 public:
  BlockSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~BlockSignals() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  BlockSignals(const BlockSignals&) = delete;
  BlockSignals& operator=(const BlockSignals&) = delete;

 private:
  sigset_t saved_;
};

void InstallCleanupHandlers() {
  struct sigaction action {};
  action.sa_handler = RemoveAndDie;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(s, &action, nullptr);
}

// Call with signals blocked.
void SetCleanup(int slot, const std::string& path) {
  if (path.size() >= PATH_MAX) return;
  std::memcpy(g_cleanup[slot], path.c_str(), path.size() + 1);
  g_cleanup_set[slot] = 1;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A temporary name next to path: ".NAME." and six random letters or digits.
std::string TemporaryNameFor(const std::string& path) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const size_t slash = path.find_last_of('/');
  std::string name = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "." +
                     path.substr(slash == std::string::npos ? 0 : slash + 1) + ".";
  unsigned char random[6] = {};
  if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    // Uniqueness is all that is needed here; EEXIST makes the caller retry.
    const auto seed = static_cast<unsigned long>(getpid()) ^ static_cast<unsigned long>(time(nullptr));
    for (size_t i = 0; i < sizeof random; ++i) random[i] = static_cast<unsigned char>(seed >> (5 * i));
  }
  for (const unsigned char byte : random) name += kLetters[byte % (sizeof kLetters - 1)];
  return name;
}

// Gives an unnamed file (O_TMPFILE) the name `name`.  The /proc link needs
// no privilege; AT_EMPTY_PATH serves where /proc is not mounted.
int LinkUnnamedFile(int fd, const std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno != ENOENT || access("/proc/self/fd", F_OK) == 0) return -1;
  return linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
}

std::string NotRegularFileMessage(const std::string& path) { return path + " is not a regular file; not replacing it"; }

// Writes a new file whole or not at all.  The text goes to an unnamed file
// in the target's directory (O_TMPFILE), which gets a name only once it is
// complete and synced, so an interruption leaves nothing.  With replace, an
// existing regular file is replaced by linking the new one to a temporary
// name and renaming that over it, signals blocked in between; the new file
// takes the old one's owner and group (or the file is not replaced, rather
// than change who may read it).  Without replace, an existing file is never
// touched (link fails with EEXIST).  Where the file system has no unnamed
// files, a named temporary file takes their place, removed on every path
// and by the signal handlers.
bool WriteFileAtomically(const std::string& path, std::string_view text, mode_t mode, bool replace,
                         std::string& error) {
  struct stat old;
  const bool replacing = replace && lstat(path.c_str(), &old) == 0;
  if (replacing && !S_ISREG(old.st_mode)) {
    error = NotRegularFileMessage(path);
    return false;
  }
  int fd = open(DirectoryOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  std::string temp;  // the file's name while it is not yet at path
  if (fd < 0) {
    BlockSignals blocked;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      temp = TemporaryNameFor(path);
      fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd < 0 && errno != EEXIST) break;
    }
    if (fd >= 0) SetCleanup(0, temp);
  }
  if (fd < 0) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat created;
  if (replacing && fstat(fd, &created) == 0 && (created.st_uid != old.st_uid || created.st_gid != old.st_gid) &&
      fchown(fd, old.st_uid, old.st_gid) != 0) {
    error = "cannot give the new " + path + " the owner and group of the old one (" + std::to_string(old.st_uid) + ":" +
            std::to_string(old.st_gid) + "): " + std::strerror(errno) + "; not replacing it";
    BlockSignals blocked;
    close(fd);
    if (!temp.empty()) unlink(temp.c_str());
    g_cleanup_set[0] = 0;
    return false;
  }
  bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
  int saved = errno;
  BlockSignals blocked;
  if (ok && temp.empty()) {
    int linked = replace ? -1 : LinkUnnamedFile(fd, path);
    for (int attempt = 0; replace && attempt < 100 && linked != 0; ++attempt) {
      temp = TemporaryNameFor(path);
      linked = LinkUnnamedFile(fd, temp);
      if (linked != 0 && errno != EEXIST) break;
    }
    if (linked != 0) {
      ok = false;
      saved = errno;
      temp.clear();
    } else if (replace) {
      SetCleanup(0, temp);
    }
  }
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (!temp.empty()) {
    if (ok && (replace ? rename(temp.c_str(), path.c_str()) : link(temp.c_str(), path.c_str())) != 0) {
      ok = false;
      saved = errno;
    }
    if (!ok || !replace) unlink(temp.c_str());
    g_cleanup_set[0] = 0;
  }
  if (!ok) {
    error = saved == EEXIST ? path + " already exists; not overwriting it"
                            : "cannot write " + path + ": " + std::strerror(saved);
  }
  return ok;
}

// The files a command reads, by device and inode, each with the name it
// was given; "-" and names that do not open are left out.
using FileIdentity = std::pair<dev_t, ino_t>;
using InputFiles = std::map<FileIdentity, std::string>;

InputFiles IdentifyInputs(const std::vector<std::string>& paths) {
  InputFiles inputs;
  for (const std::string& path : paths) {
    struct stat st;
    if (!path.empty() && path != "-" && stat(path.c_str(), &st) == 0)
      inputs.emplace(FileIdentity{st.st_dev, st.st_ino}, path);
  }
  return inputs;
}

// Checks that path may be replaced by a new file and gives the mode that file
// takes: the replaced file's permission bits (setuid, setgid and sticky
// dropped), or for a new one what the umask lets through of `fresh`.  A
// symbolic link is refused rather than replaced or written through, and so
// is anything but a regular file (a device, a FIFO) and a file that is also
// one of the inputs.
bool ReplaceableFile(const std::string& path, const InputFiles& inputs, mode_t fresh, mode_t& mode,
                     std::string& error) {
  struct stat target;
  if (lstat(path.c_str(), &target) != 0) {
    const mode_t mask = umask(0);
    umask(mask);
    mode = fresh & ~mask;
    return true;
  }
  if (S_ISLNK(target.st_mode)) {
    error = path + " is a symbolic link; not replacing it (name the file it points to)";
    return false;
  }
  if (!S_ISREG(target.st_mode)) {
    error = NotRegularFileMessage(path);
    return false;
  }
  if (const auto input = inputs.find({target.st_dev, target.st_ino}); input != inputs.end()) {
    error = path + " is " + input->second + "; not replacing an input (give another output file)";
    return false;
  }
  mode = target.st_mode & 0777;
  return true;
}

std::string Absolute(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string result = resolved;
  std::free(resolved);
  return result;
}

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
      "  cmake --preset release -B build/key-%s -DSIGNCHECK_PUBLIC_KEY=%s %s\n"
      "  cmake --build build/key-%s -j2\n",
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

// True when the file at path starts like a program file.
bool IsProgramFile(const std::string& path) {
  char head[4] = {};
  const int fd = path == "-" ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t n = read(fd, head, sizeof head);
  close(fd);
  return n == sizeof head && signtool::LooksLikeProgram(std::string_view(head, sizeof head));
}

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

// The constants of 1 to kMaxCompiledKeys keys, a ring in the order given.
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
    if (!signtool::LoadKey(path, signtool::KeyKind::kPublic, keys[i], error)) return Fail(error);
    // A key given twice would be tried twice for every file it does not sign.
    const std::string id = signtool::KeyId(keys[i]);
    const auto same = std::find(ids.begin(), ids.end(), id);
    if (same != ids.end()) {
      return Fail(path + " is key " + id + ", as " + public_paths[static_cast<size_t>(same - ids.begin())] +
                  " is: give each key once");
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

struct SignOptions {
  std::string mode;        // empty: the bare signature text
  std::string output;      // empty or "-": standard output
  std::string output_dir;  // set: every input signed into it, under its own name
  std::string private_path;
  std::vector<std::string> input_paths;  // one, but for output_dir
  signtool::PassphraseSource passphrase_source;
};

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
bool SignFile(const signtool::DsaKey& key, const std::string& mode, const std::string& input_path, std::string& output,
              std::string& error) {
  std::string input;
  if (!signtool::ReadWholeFile(input_path, input, error)) return false;  // the message names the file
  bool ok = true;
  if (mode.empty()) {
    ok = signtool::SignatureText(key, input.data(), input.size(), output, error);
    output += '\n';
  } else {
    bool signing_failed = false;
    auto sign_text = [&](std::string_view bytes) {
      std::string text;
      if (!signtool::SignatureText(key, bytes.data(), bytes.size(), text, error)) signing_failed = true;
      return text;
    };
    ok = SignInLayout(mode, input, sign_text, output, error) && !signing_failed;
  }
  if (!ok) error = (input_path == "-" ? "standard input" : input_path) + ": " + error;
  return ok;
}

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
// named and the others go on.
int SignIntoDirectory(const SignOptions& options) {
  struct stat dir;
  if (stat(options.output_dir.c_str(), &dir) != 0) {
    return Fail("cannot use the output directory " + options.output_dir + ": " + std::strerror(errno));
  }
  if (!S_ISDIR(dir.st_mode)) return Fail(options.output_dir + " is not a directory");
  std::vector<std::string> reads = options.input_paths;
  reads.push_back(options.private_path);
  reads.push_back(options.passphrase_source.file);
  const InputFiles inputs = IdentifyInputs(reads);
  std::map<std::string, const std::string*> input_of_name;
  std::vector<std::string> outputs;
  std::vector<mode_t> modes;
  std::string error;
  for (const std::string& input : options.input_paths) {
    const std::string name = input.substr(input.find_last_of('/') + 1);
    const std::string output = options.output_dir + "/" + name;
    if (name.empty() || name == "." || name == "..") return Fail(input + " does not name a file");
    if (const auto [earlier, added] = input_of_name.emplace(name, &input); !added) {
      return Fail(*earlier->second + " and " + input + " would both be written to " + output);
    }
    mode_t mode = 0;
    if (!ReplaceableFile(output, inputs, 0666, mode, error)) return Fail(error);
    outputs.push_back(output);
    modes.push_back(mode);
  }
  signtool::DsaKey key;
  if (!LoadSigningKey(options, key, error)) return Fail(error);
  InstallCleanupHandlers();
  size_t signed_count = 0;
  for (size_t i = 0; i < outputs.size(); ++i) {
    std::string output;
    if (SignFile(key, options.mode, options.input_paths[i], output, error) &&
        WriteFileAtomically(outputs[i], output, modes[i], true, error)) {
      ++signed_count;
    } else {
      Fail(error);
    }
  }
  std::printf("signed %zu of %zu files into %s\n", signed_count, outputs.size(), options.output_dir.c_str());
  if (std::fflush(stdout) != 0) return Fail("cannot write the output");
  return signed_count == outputs.size() ? 0 : kFailure;
}

int Verify(const std::string& mode, const std::string& public_path, const std::string& path) {
  signtool::DsaKey key;
  std::string content;
  std::string error;
  if (!LoadKeyOrHint(public_path, signtool::KeyKind::kPublic, nullptr, path, key, error) ||
      !signtool::ReadWholeFile(path, content, error)) {
    return Fail(error);
  }
  if (!VerifyInLayout(mode, content, key, error)) {
    return Fail((path == "-" ? "standard input" : path) + ": " + error);
  }
  return 0;
}

// The layout a mode word names, matched as signcheck matches it: the first
// three letters, in any case ("NVL", "nvlist").  Empty when it names none.
std::string LayoutOfMode(const char* word) {
  for (const char* mode : {"nvl", "msg", "lst", "url"}) {
    if (strncasecmp(word, mode, 3) == 0) return mode;
  }
  return "";
}

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

// Checks the count of operands of a command: the names of those it takes.
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
    if (args.empty() && !Operands(args, {"public key file"}, status)) return status;
    return Constants(args);
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

int main(int argc, char** argv) {
  // Memory that runs out (a huge input) ends in one message, never an abort.
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
