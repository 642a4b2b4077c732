// signtool: makes keys, the compiled-in key constants and signed files for
// signcheck.  Every failure is one message on stderr and status 1; usage
// errors name what is wrong and give status 2.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "tools/dsa_keys.h"
#include "tools/layout_sign.h"
#include "tools/layout_verify.h"

#ifndef SIGNTOOL_VERSION
#define SIGNTOOL_VERSION "unknown"
#endif

namespace {

constexpr int kFailure = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: signtool keygen PRIVATE_FILE PUBLIC_FILE\n"
    "       signtool id KEY_FILE\n"
    "       signtool constants PUBLIC_FILE\n"
    "       signtool sign [--mode nvl|msg|lst|url] [-o OUT] PRIVATE_FILE FILE|-\n"
    "       signtool verify --mode nvl|msg|lst|url PUBLIC_FILE FILE\n"
    "       signtool --help | --version\n"
    "See signtool(1) for the details.\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "signtool: %s\n", message.c_str());
  return kFailure;
}

void Warn(const std::string& message) { std::fprintf(stderr, "signtool: warning: %s\n", message.c_str()); }

int UsageError(const std::string& message) {
  std::fprintf(stderr, "signtool: %s (see signtool --help)\n", message.c_str());
  return kUsage;
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

// Writes a new file whole or not at all.  The text goes to an unnamed file
// in the target's directory (O_TMPFILE), linked to the name once complete,
// so an interruption leaves nothing; where the file system has no unnamed
// files, a named temporary file takes its place, removed on every path and
// by the signal handlers.  With replace, an existing file is replaced
// (rename); without, it is never touched (link fails with EEXIST).
bool WriteFileAtomically(const std::string& path, std::string_view text, mode_t mode, bool replace,
                         std::string& error) {
  const std::string dir = DirectoryOf(path);
  int fd = replace ? -1 : open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  std::string temp;
  if (fd < 0) {
    const size_t slash = path.find_last_of('/');
    temp = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "." +
           path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    BlockSignals blocked;
    fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd >= 0) SetCleanup(0, temp);
  }
  if (fd < 0) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
  int saved = errno;
  if (ok && temp.empty()) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      ok = false;
      saved = errno;
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
    BlockSignals blocked;
    if (!ok || !replace) unlink(temp.c_str());
    g_cleanup_set[0] = 0;
  }
  if (!ok) {
    error = saved == EEXIST ? path + " already exists; not overwriting it"
                            : "cannot write " + path + ": " + std::strerror(saved);
  }
  return ok;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string Absolute(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string result = resolved;
  std::free(resolved);
  return result;
}

int Keygen(const std::string& private_path, const std::string& public_path) {
  if (private_path == public_path) return Fail("the private and public files must differ");
  for (const std::string* path : {&private_path, &public_path}) {
    if (Exists(*path)) return Fail(*path + " already exists; not overwriting it");
  }
  signtool::DsaKey key;
  std::string error;
  if (!signtool::GenerateKey(key, error)) return Fail(error);
  InstallCleanupHandlers();
  if (!WriteFileAtomically(private_path, signtool::FormatKey(key, signtool::KeyKind::kPrivate), 0600, false, error)) {
    return Fail(error);
  }
  {
    // A private file without its public half is of no use; an interruption
    // removes it.
    BlockSignals blocked;
    SetCleanup(1, private_path);
  }
  const bool written =
      WriteFileAtomically(public_path, signtool::FormatKey(key, signtool::KeyKind::kPublic), 0644, false, error);
  {
    BlockSignals blocked;
    if (!written) unlink(private_path.c_str());
    g_cleanup_set[1] = 0;
  }
  if (!written) return Fail(error);
  std::printf(
      "key ID: %s\n"
      "To compile the public key into signcheck:\n"
      "  cmake --preset release -DSIGNCHECK_PUBLIC_KEY=%s\n"
      "Keep %s secret; sign with: signtool sign --mode MODE %s FILE\n",
      signtool::KeyId(key).c_str(), Absolute(public_path).c_str(), private_path.c_str(), private_path.c_str());
  return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the output");
}

int Id(const std::string& key_path) {
  signtool::DsaKey key;
  std::string error;
  if (!signtool::LoadKey(key_path, signtool::KeyKind::kPublic, key, error)) return Fail(error);
  std::printf("%s\n", signtool::KeyId(key).c_str());
  return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the output");
}

int Constants(const std::string& public_path) {
  signtool::DsaKey key;
  std::string error;
  if (!signtool::LoadKey(public_path, signtool::KeyKind::kPublic, key, error)) return Fail(error);
  // Name the key by its file name alone, so the output does not depend on
  // where the source tree lies.
  const size_t slash = public_path.find_last_of('/');
  const std::string origin = slash == std::string::npos ? public_path : public_path.substr(slash + 1);
  const std::string source = signtool::FormatConstants(key, origin);
  if (std::fwrite(source.data(), 1, source.size(), stdout) != source.size() || std::fflush(stdout) != 0) {
    return Fail("cannot write the constants");
  }
  return 0;
}

struct SignOptions {
  std::string_view mode;  // empty: the bare signature text
  std::string output;     // empty or "-": standard output
  std::string private_path, input_path;
};

int Sign(const SignOptions& options) {
  signtool::DsaKey key;
  std::string error;
  if (!signtool::LoadKey(options.private_path, signtool::KeyKind::kPrivate, key, error)) return Fail(error);
  if (signtool::KeyId(key) == signtool::kDevelopmentKeyId) {
    Warn(
        "signing with the development key, whose private half is public: only a signcheck built "
        "for development accepts this");
  } else if (struct stat st; stat(options.private_path.c_str(), &st) == 0 && (st.st_mode & 0044) != 0) {
    Warn(options.private_path + " is readable by others; chmod 600 it and consider the key exposed");
  }
  std::string input;
  if (!signtool::ReadWholeFile(options.input_path, input, error)) return Fail(error);

  std::string output;
  if (options.mode.empty()) {
    if (!signtool::SignatureText(key, input.data(), input.size(), output, error)) return Fail(error);
    output += '\n';
  } else {
    bool signing_failed = false;
    auto sign_text = [&](std::string_view bytes) {
      std::string text;
      if (!signtool::SignatureText(key, bytes.data(), bytes.size(), text, error)) signing_failed = true;
      return text;
    };
    if (!SignInLayout(options.mode, input, sign_text, output, error) || signing_failed) {
      return Fail((options.input_path == "-" ? "standard input" : options.input_path) + ": " + error);
    }
  }
  std::string().swap(input);
  if (!options.output.empty() && options.output != "-") {
    InstallCleanupHandlers();
    const mode_t mask = umask(0);
    umask(mask);
    return WriteFileAtomically(options.output, output, 0666 & ~mask, true, error) ? 0 : Fail(error);
  }
  if (std::fwrite(output.data(), 1, output.size(), stdout) != output.size() || std::fflush(stdout) != 0) {
    return Fail("cannot write the output");
  }
  return 0;
}

int ParseSign(const std::vector<std::string_view>& args) {
  SignOptions options;
  std::vector<std::string_view> operands;
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (options_done || arg == "-" || arg.empty() || arg[0] != '-') {
      operands.push_back(arg);
    } else if (arg == "--") {
      options_done = true;
    } else if (arg == "--mode" || arg == "-o") {
      if (i + 1 == args.size()) return UsageError("sign: " + std::string(arg) + " needs a value");
      const std::string_view value = args[++i];
      if (arg == "-o") {
        options.output = value;
      } else if (value == "nvl" || value == "msg" || value == "lst" || value == "url") {
        options.mode = value;
      } else {
        return UsageError("unknown mode '" + std::string(value) + "' (expected nvl, msg, lst or url)");
      }
    } else {
      return UsageError("sign: unknown option '" + std::string(arg) + "'");
    }
  }
  if (operands.empty()) return UsageError("sign: missing the private key file and the input file");
  if (operands.size() == 1) return UsageError("sign: missing the input file");
  if (operands.size() > 2) return UsageError("sign: unexpected argument '" + std::string(operands[2]) + "'");
  options.private_path = operands[0];
  options.input_path = operands[1];
  return Sign(options);
}

// Checks the count of operands of a command: the names of those it takes.
bool Operands(std::string_view command, const std::vector<std::string_view>& args,
              std::initializer_list<const char*> names, int& status) {
  if (args.size() < names.size()) {
    status = UsageError(std::string(command) + ": missing the " + names.begin()[args.size()]);
    return false;
  }
  if (args.size() > names.size()) {
    status = UsageError(std::string(command) + ": unexpected argument '" + std::string(args[names.size()]) + "'");
    return false;
  }
  return true;
}

int Run(int argc, char** argv) {
  if (argc < 2) return UsageError("missing a command");
  const std::string_view command = argv[1];
  const std::vector<std::string_view> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsageText, stdout);
    return 0;
  }
  if (command == "--version" || command == "-V") {
    std::printf("signtool %s\n", SIGNTOOL_VERSION);
    return 0;
  }
  int status = kUsage;
  if (command == "keygen") {
    if (!Operands(command, args, {"private key file", "public key file"}, status)) return status;
    return Keygen(std::string(args[0]), std::string(args[1]));
  }
  if (command == "id") {
    if (!Operands(command, args, {"key file"}, status)) return status;
    return Id(std::string(args[0]));
  }
  if (command == "constants") {
    if (!Operands(command, args, {"public key file"}, status)) return status;
    return Constants(std::string(args[0]));
  }
  if (command == "sign") return ParseSign(args);
  if (command == "verify") {
    if (args.size() < 2 || args[0] != "--mode") return UsageError("verify: missing --mode MODE");
    const std::vector<std::string_view> files(args.begin() + 2, args.end());
    if (!Operands(command, files, {"public key file", "file to verify"}, status)) return status;
    return VerifyCommand(args[1], std::string(files[0]), std::string(files[1]));
  }
  return UsageError("unknown command '" + std::string(command) + "'");
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
