// SPDX-License-Identifier: ISC
// Writing files whole or not at all, and cleaning up after an interruption.
#pragma once

#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace signtool {

// Blocks the signals that end the process while it lives, so that what it
// guards happens whole or not at all.
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

// Makes the signals that end the process first remove the files being
// written (see WriteFileAtomically).
void InstallCleanupHandlers();

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
bool WriteFileAtomically(const std::string& path, std::string_view text, mode_t mode, bool replace, std::string& error);

// Files written into one directory whole or not at all, their data made
// durable together: each Add writes its text to an unnamed file
// (O_TMPFILE), and Commit makes all their data durable with one syncfs
// before it gives any of them its name, so that after a crash or a kill
// every name holds a whole file or is absent.  A name already taken is
// replaced as WriteFileAtomically replaces it.  SyncDirectory makes the
// names themselves durable, once for the batch.  Where the file system has
// no unnamed files, Add falls back to WriteFileAtomically, a sync per file.
class DirectoryBatch {
 public:
  DirectoryBatch() = default;
  ~DirectoryBatch();
  DirectoryBatch(const DirectoryBatch&) = delete;
  DirectoryBatch& operator=(const DirectoryBatch&) = delete;

  // Opens the directory the files go to.
  bool Open(const std::string& directory, std::string& error);
  // Writes text to a new file that Commit names path (in the directory),
  // with the permission bits mode; an error names path.
  bool Add(const std::string& path, std::string_view text, mode_t mode, std::string& error);
  // The files added since the last Commit; Commit before this reaches
  // Capacity(), which the limit of open files sets.
  size_t Pending() const { return pending_.size(); }
  size_t Capacity() const { return capacity_; }
  // Makes the pending files durable and names them: the count named,
  // with one message naming the path for each one that was not.
  size_t Commit(std::vector<std::string>& errors);
  bool SyncDirectory(std::string& error);

 private:
  struct PendingFile {
    int fd;
    std::string path;
  };
  bool Name(const PendingFile& file, std::string& error);
  int directory_fd_ = -1;
  size_t capacity_ = 1;
  size_t written_alone_ = 0;  // by WriteFileAtomically, since the last Commit
  bool unnamed_files_ = true;
  std::vector<PendingFile> pending_;
};

// The files a command reads, by device and inode, each with the name it
// was given; "-" and names that do not open are left out.
using FileIdentity = std::pair<dev_t, ino_t>;
using InputFiles = std::map<FileIdentity, std::string>;

InputFiles IdentifyInputs(const std::vector<std::string>& paths);

// Checks that path may be replaced by a new file and gives the mode that file
// takes: the replaced file's permission bits (setuid, setgid and sticky
// dropped), or for a new one what the umask lets through of `fresh`.  A
// symbolic link is refused rather than replaced or written through, and so
// is anything but a regular file (a device, a FIFO) and a file that is also
// one of the inputs.
bool ReplaceableFile(const std::string& path, const InputFiles& inputs, mode_t fresh, mode_t& mode, std::string& error);

}  // namespace signtool
