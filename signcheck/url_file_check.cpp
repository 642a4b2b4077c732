// SPDX-License-Identifier: ISC
#include "signcheck/url_file_check.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "check/check_core.h"
#include "check/exit_status.h"
#include "dsa/builtin_key.h"
#include "dsa/public_key.h"
#include "hash/sha0.h"
#include "io/file_descriptor.h"
#include "io/io.h"
#include "layouts/signature_text.h"

namespace {

// A read-only mapping of a whole file, released when the check returns.
class FileMapping {
 public:
  FileMapping(void* address, size_t size) : address_(address), size_(size) {}
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;
  ~FileMapping() {
    if (address_ != MAP_FAILED) {
      munmap(address_, size_);
    }
  }
  bool ok() const { return address_ != MAP_FAILED; }
  std::string_view content() const { return {static_cast<const char*>(address_), size_}; }

 private:
  void* address_;
  size_t size_;
};

// A file truncated under its mapping, or failing to read, raises SIGBUS at
// the first touch of a page it no longer backs.  While the check works on
// the mapping, that signal returns here instead of killing the process, so
// that what was printed is kept and the check ends with its I/O status.  The
// handler only jumps: the reporting is done after it has returned.
sigjmp_buf g_fault_jump;
volatile sig_atomic_t g_guard_armed = 0;
volatile uintptr_t g_guard_begin = 0;
volatile uintptr_t g_guard_end = 0;
// Set while the check has printed part of a line and not yet its line feed.
volatile sig_atomic_t g_line_open = 0;
struct sigaction g_previous_action;
// Whether signcheck was started with SIGBUS blocked, and a sent SIGBUS that
// the guard took meanwhile, to be made pending again under that mask.
volatile sig_atomic_t g_bus_was_blocked = 0;
volatile sig_atomic_t g_sent_signal_held = 0;
siginfo_t g_sent_signal;

void OnMappingFault(int, siginfo_t* info, void*) {
  // A positive code is the kernel's own report of a failed access; a SIGBUS
  // sent by kill or sigqueue carries a code of 0 or below and an address
  // field that is no address at all.
  if (info->si_code > 0) {
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    if (g_guard_armed != 0 && address >= g_guard_begin && address < g_guard_end) {
      g_guard_armed = 0;
      siglongjmp(g_fault_jump, 1);
    }
    // Not a fault on the mapping: the previous disposition takes the repeated
    // fault as it would have taken this one.
    sigaction(SIGBUS, &g_previous_action, nullptr);
    return;
  }
  // A sent signal has the effect it would have had without the guard.  Under
  // a mask that blocked it, that is none yet: it waits for the guard to end.
  if (g_bus_was_blocked != 0) {
    g_sent_signal = *info;
    g_sent_signal_held = 1;
    return;
  }
  // An exec leaves only the default or the ignoring disposition to inherit.
  if (g_previous_action.sa_handler == SIG_IGN) {
    return;
  }
  sigaction(SIGBUS, &g_previous_action, nullptr);
  raise(SIGBUS);  // delivered once this handler returns
}

// The jump leaves CheckAndPrint and whatever it called without running a
// destructor, which is sound only while every object it and the layout keep
// on those frames has none to run.
static_assert(std::is_trivially_destructible_v<std::string_view>);
static_assert(std::is_trivially_destructible_v<UrlLayout>);
static_assert(std::is_trivially_destructible_v<Sha0Context>);
static_assert(std::is_trivially_destructible_v<CheckReport>);

void PrintTextOnOpenLine(FILE* out, std::string_view text) {
  g_line_open = 1;
  PrintText(out, text);
}

void EndOpenLine(FILE* out, const char* rest) {
  std::fputs(rest, out);
  g_line_open = 0;
}

// The signed content of a file is read in pieces of this size into one
// buffer and hashed there, rather than hashed from the mapping: the hash
// then loads from the cache what the kernel's copy has just put there, where
// from the mapping it waits on memory at every page, prefetch or not, and
// pays the mapping's page faults.  The copy and the hash of one piece fit the
// level-2 cache of any x86-64 or ARM server core, and a piece is large enough
// that its system call costs well under 1% of hashing it.  A static buffer:
// the verification takes nothing from the heap.
constexpr size_t kReadPiece = size_t{128} << 10;
alignas(4096) unsigned char g_read_buffer[kReadPiece];

// Hashes the bytes [begin, end) of the file at fd into digest; returns 0, or
// the error of a failed read.  A file that ends early has shrunk since its
// size was taken: EIO, what a fault on the mapping there reports.  Every
// piece but the last is whole, so that the hash takes whole blocks.
int HashFileRange(int fd, size_t begin, size_t end, Sha0Context& digest) {
  for (size_t at = begin; at < end;) {
    const size_t want = std::min(kReadPiece, end - at);
    const io::Filled filled = io::ReadFullAt(fd, g_read_buffer, want, static_cast<off_t>(at));
    if (filled.count < want) {
      return filled.error != 0 ? filled.error : EIO;
    }
    Sha0Update(digest, g_read_buffer, static_cast<uint32_t>(want));
    at += want;
  }
  return 0;
}

// The check from the parse line on.  The signed content is hashed from
// content, or, when fd is open, read from the file behind it (content is
// then the file's mapping).  Each line is printed as soon as it is decided,
// before anything past what it shows is read: a file that shrinks under the
// mapping loses none of them.
int CheckAndPrint(std::string_view content, const char* file_name, FILE* out, int fd) {
  std::fprintf(out, "Parse url file %s...\n", file_name);
  UrlLayout layout;
  if (const CheckReport found = UrlFindSignature(content, layout); found.status != kExitOk) {
    PrintMessage(out, found, file_name);
    return found.status;
  }
  std::fputs("Signature: ", out);
  PrintTextOnOpenLine(out, layout.signature_text);
  EndOpenLine(out, "\n");

  UrlFindSignedContent(content, layout);
  Sha0Context digest;
  std::memset(&digest, 0, sizeof digest);
  Sha0Init(digest);
  if (fd < 0) {
    Sha0UpdateLarge(digest, content.data() + layout.signed_begin, content.size() - layout.signed_begin);
  } else if (const int error = HashFileRange(fd, layout.signed_begin, content.size(), digest); error != 0) {
    PrintMessage(out, CheckReport{kExitIoError, CheckMessage::kMmapFailed, CheckMode::kUrl, error, {}}, file_name);
    return kExitIoError;
  }
  Sha0Final(digest);
  const CheckReport report = UrlVerifyDigest(layout, CompiledKeyRing(), digest);
  if (report.status != kExitOk) {
    // The message shows the signature text, read from the mapping.
    g_line_open = 1;
    PrintMessage(out, report, file_name);
    g_line_open = 0;
  }
  return report.status;
}

// Puts back the signal mask and the disposition of SIGBUS that the guard
// found, the mask first: a SIGBUS sent in between then meets the mask it
// would have met.  One that the guard took while the mask blocked it is
// made pending again, as the sender queued it.
void EndGuard(const sigset_t& previous_mask) {
  g_guard_armed = 0;
  sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
  sigaction(SIGBUS, &g_previous_action, nullptr);
  if (g_sent_signal_held != 0) {
    g_sent_signal_held = 0;
    if (syscall(SYS_rt_sigqueueinfo, getpid(), SIGBUS, &g_sent_signal) != 0) {
      raise(SIGBUS);
    }
  }
}

// CheckAndPrint on the mapping, guarded.  SIGBUS is unblocked for the work,
// whatever mask signcheck was started with: a blocked fault would kill the
// process outright.
int GuardedUrlCheck(std::string_view content, const char* file_name, int fd) {
  sigset_t bus_only;
  sigset_t previous_mask;
  sigemptyset(&bus_only);
  sigaddset(&bus_only, SIGBUS);
  sigprocmask(SIG_BLOCK, nullptr, &previous_mask);
  g_bus_was_blocked = sigismember(&previous_mask, SIGBUS) == 1 ? 1 : 0;
  g_sent_signal_held = 0;
  struct sigaction guard = {};
  guard.sa_sigaction = OnMappingFault;
  guard.sa_flags = SA_SIGINFO;
  sigemptyset(&guard.sa_mask);
  if (sigaction(SIGBUS, &guard, &g_previous_action) != 0) {
    return CheckAndPrint(content, file_name, stdout, fd);
  }
  // The mapping reaches to the end of its last page.
  const auto page = static_cast<uintptr_t>(std::max(sysconf(_SC_PAGESIZE), 1L));
  g_guard_begin = reinterpret_cast<uintptr_t>(content.data());
  g_guard_end = (g_guard_begin + content.size() + page - 1) / page * page;
  g_line_open = 0;
  // A SIGBUS already pending comes to the handler here, as a sent one.
  sigprocmask(SIG_UNBLOCK, &bus_only, nullptr);
  if (sigsetjmp(g_fault_jump, 1) != 0) {
    EndGuard(previous_mask);
    // The message starts a line of its own, after what was printed so far.
    if (g_line_open != 0) {
      std::putchar('\n');
    }
    PrintMessage(stdout, CheckReport{kExitIoError, CheckMessage::kMmapFailed, CheckMode::kUrl, EIO, {}}, file_name);
    return kExitIoError;
  }
  g_guard_armed = 1;
  const int status = CheckAndPrint(content, file_name, stdout, fd);
  EndGuard(previous_mask);
  return status;
}

}  // namespace

int UrlContentCheckSign(std::string_view content, const char* file_name, FILE* out) {
  return CheckAndPrint(content, file_name, out, -1);
}

int UrlFileCheckSign(const char* file_name) {
  constexpr CheckMode kMode = CheckMode::kUrl;
  // Opened once by design: an interrupted open is reported, not retried.
  const int fd = open(file_name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    PrintMessage(stdout, CheckReport{kExitIoError, CheckMessage::kOpenFailed, kMode, errno, {}}, file_name);
    return kExitIoError;
  }
  FileDescriptor file(fd);

  struct stat status;
  if (fstat(file.get(), &status) != 0) {
    const int error = errno;
    file.Close();
    PrintMessage(stdout, CheckReport{kExitIoError, CheckMessage::kStatFailed, kMode, error, {}}, file_name);
    return kExitIoError;
  }
  // A file of 0 bytes cannot be mapped; mmap itself says so.
  const auto size = static_cast<size_t>(std::max<off_t>(status.st_size, 0));
  const FileMapping mapping(mmap(nullptr, size, PROT_READ, MAP_SHARED, file.get(), 0), size);
  if (!mapping.ok()) {
    const int error = errno;
    file.Close();
    PrintMessage(stdout, CheckReport{kExitIoError, CheckMessage::kMmapFailed, kMode, error, {}}, file_name);
    return kExitIoError;
  }
  return GuardedUrlCheck(mapping.content(), file_name, file.get());
}
