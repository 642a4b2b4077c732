// signtool: makes keys, the compiled-in key constants and signed files for
// signcheck.  Every failure is one message on stderr and status 1; usage
// errors give status 2.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "tools/dsa_keys.h"
#include "tools/layout_sign.h"
#include "tools/layout_verify.h"

namespace {

constexpr int kFailure = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: signtool keygen PRIVATE_FILE PUBLIC_FILE\n"
    "       signtool constants PUBLIC_FILE\n"
    "       signtool sign PRIVATE_FILE FILE\n"
    "       signtool sign --mode nvl|msg|lst|url PRIVATE_FILE FILE\n"
    "       signtool verify --mode nvl|msg|lst|url PUBLIC_FILE FILE\n"
    "       signtool --help\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "signtool: %s\n", message.c_str());
  return kFailure;
}

int Usage() {
  std::fputs(kUsageText, stderr);
  return kUsage;
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

// Writes a new file whole or not at all: the text goes to a temporary file
// beside it, which is then linked to the name, so an existing file is never
// replaced and a failure leaves nothing behind.
bool CreateFileAtomically(const std::string& path, std::string_view text, mode_t mode,
                          std::string& error) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && link(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  unlink(temp.c_str());
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

int Keygen(const std::string& private_path, const std::string& public_path) {
  if (private_path == public_path) return Fail("the private and public files must differ");
  for (const std::string* path : {&private_path, &public_path}) {
    if (Exists(*path)) return Fail(*path + " already exists; not overwriting it");
  }
  signtool::DsaKey key;
  std::string error;
  if (!signtool::GenerateKey(key, error)) return Fail(error);
  if (!CreateFileAtomically(private_path, signtool::FormatKey(key, signtool::KeyKind::kPrivate),
                            0600, error)) {
    return Fail(error);
  }
  if (!CreateFileAtomically(public_path, signtool::FormatKey(key, signtool::KeyKind::kPublic),
                            0644, error)) {
    unlink(private_path.c_str());
    return Fail(error);
  }
  return 0;
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

int Sign(std::string_view mode, const std::string& private_path, const std::string& input_path) {
  signtool::DsaKey key;
  std::string error;
  if (!signtool::LoadKey(private_path, signtool::KeyKind::kPrivate, key, error)) return Fail(error);
  std::string input;
  if (!signtool::ReadWholeFile(input_path, input, error)) return Fail(error);

  std::string output;
  if (mode.empty()) {
    if (!signtool::SignatureText(key, input.data(), input.size(), output, error)) return Fail(error);
    output += '\n';
  } else {
    bool signing_failed = false;
    auto sign_text = [&](std::string_view bytes) {
      std::string text;
      if (!signtool::SignatureText(key, bytes.data(), bytes.size(), text, error)) signing_failed = true;
      return text;
    };
    if (!SignInLayout(mode, input, sign_text, output, error) || signing_failed) {
      return Fail(input_path + ": " + error);
    }
  }
  if (std::fwrite(output.data(), 1, output.size(), stdout) != output.size() || std::fflush(stdout) != 0) {
    return Fail("cannot write the output");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string_view command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsageText, stdout);
    return 0;
  }
  if (command == "keygen" && argc == 4) return Keygen(argv[2], argv[3]);
  if (command == "constants" && argc == 3) return Constants(argv[2]);
  if (command == "sign" && argc == 4) return Sign({}, argv[2], argv[3]);
  if (command == "sign" && argc == 6 && std::string_view(argv[2]) == "--mode") {
    const std::string_view mode = argv[3];
    if (mode != "nvl" && mode != "msg" && mode != "lst" && mode != "url") {
      std::fprintf(stderr, "signtool: unknown mode '%s' (expected nvl, msg, lst or url)\n", argv[3]);
      return kUsage;
    }
    return Sign(mode, argv[4], argv[5]);
  }
  if (command == "verify" && argc == 6 && std::string_view(argv[2]) == "--mode") {
    return VerifyCommand(argv[3], argv[4], argv[5]);
  }
  return Usage();
}
