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
