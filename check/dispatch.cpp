// SPDX-License-Identifier: ISC
#include "check/dispatch.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include "check/exit_status.h"
#include "io/file_descriptor.h"
#include "io/io.h"
#include "layouts/tagged_pieces.h"

namespace {

// The window the pieces of a tagged file are read through: a 4 KiB list in
// one read, and room for a whole piece behind any cut one.
constexpr size_t kWindowSize = size_t{64} << 10;
static_assert(kWindowSize > 2 * kLongestPiece);

// Reads the pieces of fd by the layout's rule, as ReadPiece reads a stream:
// the piece at the end of the file may be short; a read error ends the
// pieces, and the piece it cut is dropped.
class PieceReader {
 public:
  PieceReader(int fd, char* window) : fd_(fd), window_(window) {}

  // The next piece, valid until the next call; empty at the end.
  std::string_view Next() {
    for (;;) {
      const std::string_view rest(window_ + begin_, end_ - begin_);
      const std::string_view piece = rest.substr(0, PieceLength(rest));
      // A piece that neither ends in a line feed nor is as long as a piece
      // gets may go on in bytes not read yet.
      const bool whole = piece.size() == kLongestPiece || (!piece.empty() && piece.back() == '\n');
      if (whole || (ended_ && !piece.empty())) {
        begin_ += piece.size();
        return piece;
      }
      if (ended_) {
        return {};
      }
      std::memmove(window_, rest.data(), rest.size());
      begin_ = 0;
      end_ = rest.size();
      const ssize_t got = io::Read(fd_, window_ + end_, kWindowSize - end_);
      ended_ = got <= 0;
      if (got < 0) {
        end_ = 0;
      } else {
        end_ += static_cast<size_t>(got);
      }
    }
  }

 private:
  int fd_;
  char* window_;
  size_t begin_ = 0;
  size_t end_ = 0;
  bool ended_ = false;
};

// nvl and msg: the pieces up to the signature line, the signed ones kept.
CheckReport TaggedDescriptorCheck(int fd, CheckMode mode, KeyRing keys, CheckStorage& storage) {
  if (!storage.window) {
    storage.window.reset(new char[kWindowSize]);
  }
  storage.signed_data.clear();
  storage.entry_ends.clear();
  TaggedCheck check(mode, keys);
  PieceReader reader(fd, storage.window.get());
  std::string_view signed_part;
  for (std::string_view piece = reader.Next(); !piece.empty(); piece = reader.Next()) {
    const bool last = check.Take(piece, signed_part);
    if (!signed_part.empty()) {
      storage.signed_data.append(signed_part);
      storage.entry_ends.push_back(storage.signed_data.size());
    }
    if (last) {
      break;
    }
  }
  const CheckReport report = check.Report();
  if (report.status == kExitOk) {
    // Each entry is its signed piece without the tag; the signed data has
    // stopped growing, so the entries can point into it now.
    size_t begin = 0;
    for (const size_t end : storage.entry_ends) {
      storage.spans.emplace_back(storage.signed_data.data() + begin + kEntryTagLength, end - begin - kEntryTagLength);
      begin = end;
    }
  }
  return report;
}

bool IsTagged(CheckMode mode) {
  switch (mode) {
    case CheckMode::kNvl:
    case CheckMode::kMsg: return true;
    case CheckMode::kLst:
    case CheckMode::kUrl: return false;
  }
  return false;
}

}  // namespace

CheckReport OutOfMemory(CheckMode mode) {
  return FailedCheck(mode, kExitIoError, IsTagged(mode) ? CheckMessage::kTaggedCannotRead : CheckMessage::kReadFailed,
                     ENOMEM);
}

CheckReport CheckContent(std::string_view content, CheckMode mode, KeyRing keys, std::vector<std::string_view>& spans) {
  spans.clear();
  std::string_view signed_bytes;
  CheckReport report;
  switch (mode) {
    case CheckMode::kNvl:
    case CheckMode::kMsg: return TaggedContentCheck(content, mode, keys, spans);
    case CheckMode::kLst: report = LstContentCheck(content, keys, signed_bytes); break;
    case CheckMode::kUrl: report = UrlContentCheck(content, keys, signed_bytes); break;
  }
  if (report.status == kExitOk) {
    spans.push_back(signed_bytes);
  }
  return report;
}

CheckReport CheckFile(const char* file_name, CheckMode mode, KeyRing keys, CheckStorage& storage) {
  storage.spans.clear();
  try {
    if (!IsTagged(mode)) {
      const CheckReport read = ReadFileContent(file_name, mode, storage.file);
      return read.status != kExitOk ? read : CheckContent(storage.file.view(), mode, keys, storage.spans);
    }
    const int fd = io::Open(file_name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      return FailedCheck(mode, kExitIoError, CheckMessage::kTaggedCannotRead, errno);
    }
    const FileDescriptor file(fd);
    return TaggedDescriptorCheck(file.get(), mode, keys, storage);
  } catch (const std::bad_alloc&) {
    storage.spans.clear();
    return OutOfMemory(mode);
  }
}

CheckReport CheckDescriptor(int fd, CheckMode mode, KeyRing keys, CheckStorage& storage) {
  storage.spans.clear();
  try {
    if (IsTagged(mode)) {
      return TaggedDescriptorCheck(fd, mode, keys, storage);
    }
    storage.piped.clear();
    if (const int error = io::ReadAll(fd, storage.piped, SIZE_MAX); error != 0) {
      return FailedCheck(mode, kExitIoError, CheckMessage::kReadFailed, error);
    }
    return CheckContent(storage.piped, mode, keys, storage.spans);
  } catch (const std::bad_alloc&) {
    storage.spans.clear();
    return OutOfMemory(mode);
  }
}
