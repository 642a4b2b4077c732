// SPDX-License-Identifier: ISC
#include "signtool/atomic_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "io/io.h"

namespace signtool {
namespace {

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

// Only with signals blocked, which the BlockSignals argument witnesses: the
// handler reads the slot, and must never see it half written.
void SetCleanup(const BlockSignals& /*held*/, int slot, const std::string& path) {
  if (path.size() >= PATH_MAX) return;
  std::memcpy(g_cleanup[slot], path.c_str(), path.size() + 1);
  g_cleanup_set[slot] = 1;
}

// io::WriteAll, with its errno left in errno for the caller's message.
bool WriteAll(int fd, std::string_view text) {
  const int error = io::WriteAll(fd, text.data(), text.size());
  if (error != 0) errno = error;
  return error == 0;
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

}  // namespace

void InstallCleanupHandlers() {
  struct sigaction action {};
  action.sa_handler = RemoveAndDie;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(s, &action, nullptr);
}

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
    if (fd >= 0) SetCleanup(blocked, 0, temp);
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
      SetCleanup(blocked, 0, temp);
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

DirectoryBatch::~DirectoryBatch() {
  for (const PendingFile& file : pending_) close(file.fd);
  if (directory_fd_ >= 0) close(directory_fd_);
}

bool DirectoryBatch::Open(const std::string& directory, std::string& error) {
  directory_fd_ = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory_fd_ < 0) {
    error = "cannot use the output directory " + directory + ": " + std::strerror(errno);
    return false;
  }
  // Each pending file holds a descriptor until Commit; some are left for
  // the inputs, the key and the standard streams.
  constexpr rlim_t kReserved = 64, kMostPending = 4096;
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur > kReserved + 1) {
    capacity_ = static_cast<size_t>(std::min(limit.rlim_cur - kReserved, kMostPending));
  }
  return true;
}

bool DirectoryBatch::Add(const std::string& path, std::string_view text, mode_t mode, std::string& error) {
  struct stat old;
  const bool replacing = lstat(path.c_str(), &old) == 0;
  if (replacing && !S_ISREG(old.st_mode)) {
    error = NotRegularFileMessage(path);
    return false;
  }
  int fd = -1;
  if (unnamed_files_) {
    fd = openat(directory_fd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    // Without unnamed files every file is written and synced on its own.
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) unnamed_files_ = false;
  }
  if (!unnamed_files_) {
    if (!WriteFileAtomically(path, text, mode, true, error)) return false;
    ++written_alone_;
    return true;
  }
  if (fd < 0) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat created;
  bool ok = fstat(fd, &created) == 0;
  if (ok && replacing && (created.st_uid != old.st_uid || created.st_gid != old.st_gid) &&
      fchown(fd, old.st_uid, old.st_gid) != 0) {
    error = "cannot give the new " + path + " the owner and group of the old one (" + std::to_string(old.st_uid) + ":" +
            std::to_string(old.st_gid) + "): " + std::strerror(errno) + "; not replacing it";
    close(fd);
    return false;
  }
  // The umask has been applied to mode already; a replaced file's bits may
  // be ones the umask drops.
  ok = ok && ((created.st_mode & 07777) == mode || fchmod(fd, mode) == 0) && WriteAll(fd, text);
  if (!ok) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    close(fd);
    return false;
  }
  pending_.push_back({fd, path});
  return true;
}

size_t DirectoryBatch::Commit(std::vector<std::string>& errors) {
  size_t named = written_alone_;
  written_alone_ = 0;
  if (pending_.empty()) return named;
  // One syncfs writes back every pending file's data and commits the
  // journal once; a sync per file would wait for a commit each.
  const bool durable = syncfs(directory_fd_) == 0;
  const int sync_error = errno;
  for (const PendingFile& file : pending_) {
    std::string error;
    if (!durable) {
      errors.push_back("cannot write " + file.path + ": " + std::strerror(sync_error));
    } else if (Name(file, error)) {
      ++named;
    } else {
      errors.push_back(error);
    }
    close(file.fd);
  }
  pending_.clear();
  return named;
}

// Gives a durable unnamed file its name: linked directly when the name is
// free, else linked to a temporary name and renamed over the old file.
bool DirectoryBatch::Name(const PendingFile& file, std::string& error) {
  if (LinkUnnamedFile(file.fd, file.path) == 0) return true;
  if (errno != EEXIST) {
    error = "cannot write " + file.path + ": " + std::strerror(errno);
    return false;
  }
  struct stat old;
  if (lstat(file.path.c_str(), &old) == 0 && !S_ISREG(old.st_mode)) {
    error = NotRegularFileMessage(file.path);
    return false;
  }
  BlockSignals blocked;
  std::string temp;
  int linked = -1;
  for (int attempt = 0; attempt < 100 && linked != 0; ++attempt) {
    temp = TemporaryNameFor(file.path);
    linked = LinkUnnamedFile(file.fd, temp);
    if (linked != 0 && errno != EEXIST) break;
  }
  if (linked != 0) {
    error = "cannot write " + file.path + ": " + std::strerror(errno);
    return false;
  }
  SetCleanup(blocked, 0, temp);
  const bool renamed = rename(temp.c_str(), file.path.c_str()) == 0;
  const int saved = errno;
  if (!renamed) unlink(temp.c_str());
  g_cleanup_set[0] = 0;
  if (!renamed) error = "cannot write " + file.path + ": " + std::strerror(saved);
  return renamed;
}

bool DirectoryBatch::SyncDirectory(std::string& error) {
  if (fsync(directory_fd_) == 0) return true;
  error = std::string("cannot sync the output directory: ") + std::strerror(errno);
  return false;
}

InputFiles IdentifyInputs(const std::vector<std::string>& paths) {
  InputFiles inputs;
  for (const std::string& path : paths) {
    struct stat st;
    if (!path.empty() && path != "-" && stat(path.c_str(), &st) == 0)
      inputs.emplace(FileIdentity{st.st_dev, st.st_ino}, path);
  }
  return inputs;
}

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

}  // namespace signtool
