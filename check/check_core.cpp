// SPDX-License-Identifier: ISC
#include "check/check_core.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "check/exit_status.h"
#include "check/file_descriptor.h"
#include "layouts/lst_layout.h"
#include "layouts/signature_text.h"
#include "dsa/builtin_key.h"
#include "dsa/verify.h"

namespace {

// Mode words match over their first three letters only.
constexpr size_t kModeLength = 3;
constexpr size_t kReadSize = 1024;

// The text of a system error, thread-safe: strerror_r comes in two forms,
// and either gives the text strerror would.
[[maybe_unused]] const char* ErrorText(int result, const char* buffer) {
  return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* ErrorText(const char* result, const char*) { return result; }

// The message texts.  In them \1 stands for the file name, \2 for the
// system's error text, \3 for the signature text, \4 for the words of the
// list's entries and \5 for the mode word.
const char* MessageFormat(CheckMessage message) {
  switch (message) {
    case CheckMessage::kNone: return "";
    case CheckMessage::kUnknownMode: return "Error: unknown mode \5 specified\n";
    case CheckMessage::kTaggedCannotRead: return "Error: can not read file '\1' - \2\n";
    case CheckMessage::kTaggedNoSignature: return "Error: file \1 does not contain a valid Norvu signature.\n";
    case CheckMessage::kTaggedNoEntries: return "Error: file \1 does not contain any \4\n";
    case CheckMessage::kOpenFailed: return "error in open file \1 for reading: \2\n";
    case CheckMessage::kFstatFailed: return "fstat error for file \1: \2\n";
    case CheckMessage::kStatFailed: return "stat error for file \1: \2\n";
    case CheckMessage::kMmapFailed: return "mmap error for file \1: \2\n";
    case CheckMessage::kEmptyFile: return "empty file \1\n";
    case CheckMessage::kReadFailed: return "read error for file \1: \2\n";
    case CheckMessage::kUnexpectedEof: return "unexpected EOF for file \1\n";
    case CheckMessage::kLstNoRegion: return "Can`t find signed data in lst file \1\n";
    case CheckMessage::kLstNoSignature: return "Can`t find signature in lst file \1\n";
    case CheckMessage::kLstWrongSignature: return "Wrong signature \3 in lst file \1\n";
    case CheckMessage::kUrlNoSignature: return "Can`t find signature in url file \1\n";
    case CheckMessage::kUrlWrongSignature: return "Wrong signature \3 in url file \1\n";
  }
  return "";
}

CheckReport Failure(CheckMode mode, int status, CheckMessage message, int error = 0) {
  CheckReport report;
  report.status = status;
  report.message = message;
  report.mode = mode;
  report.error = error;
  return report;
}

CheckReport Success(CheckMode mode) { return Failure(mode, kExitOk, CheckMessage::kNone); }

class StreamSink final : public MessageSink {
 public:
  explicit StreamSink(FILE* out) : out_(out) {}
  void Append(std::string_view piece) override { std::fwrite(piece.data(), 1, piece.size(), out_); }

 private:
  FILE* out_;
};

}  // namespace

bool MatchModeWord(const char* word, CheckMode& mode) {
  static constexpr struct {
    const char* word;
    CheckMode mode;
  } kModes[] = {{"nvl", CheckMode::kNvl}, {"msg", CheckMode::kMsg}, {"url", CheckMode::kUrl}, {"lst", CheckMode::kLst}};
  for (const auto& candidate : kModes) {
    if (strncasecmp(word, candidate.word, kModeLength) == 0) {
      mode = candidate.mode;
      return true;
    }
  }
  return false;
}

const char* ModeTag(CheckMode mode) { return mode == CheckMode::kMsg ? "msg=" : "url="; }

void ComposeMessage(const CheckReport& report, const char* file_name, const char* mode_word, MessageSink& sink) {
  char error_buffer[256];
  for (const char* at = MessageFormat(report.message); *at != '\0';) {
    const char* literal_end = at;
    while (*literal_end != '\0' && static_cast<unsigned char>(*literal_end) > '\5') {
      ++literal_end;
    }
    if (literal_end != at) {
      sink.Append(std::string_view(at, static_cast<size_t>(literal_end - at)));
      at = literal_end;
      continue;
    }
    switch (*at++) {
      case '\1': sink.Append(file_name); break;
      case '\2':
        sink.Append(ErrorText(strerror_r(report.error, error_buffer, sizeof error_buffer), error_buffer));
        break;
      case '\3': {
        const std::string_view text = report.signature_text;
        sink.Append(text.substr(0, std::min(text.find('\0'), text.size())));
        break;
      }
      case '\4': sink.Append(report.mode == CheckMode::kMsg ? "Norvu " : "Norvu Updates URL's"); break;
      default: sink.Append(mode_word); break;
    }
  }
}

void PrintMessage(FILE* out, const CheckReport& report, const char* file_name, const char* mode_word) {
  StreamSink sink(out);
  ComposeMessage(report, file_name, mode_word, sink);
}

TaggedCheck::TaggedCheck(CheckMode mode) : mode_(mode), tag_(ModeTag(mode)) { Sha0Init(digest_); }

bool TaggedCheck::Take(std::string_view piece, std::string_view& signed_part) {
  const PieceRole role = ClassifyPiece(piece, tag_);
  signed_part = role.signed_part;
  if (!role.signed_part.empty()) {
    Sha0UpdateLarge(digest_, role.signed_part.data(), role.signed_part.size());
    ++entries_;
    piece_held_nul_ = piece_held_nul_ || role.held_nul;
  }
  if (!role.signature_line) {
    return false;
  }
  // HexToBytes reads a NUL-terminated text: the piece's own, up to its first
  // zero byte.  A piece is at most kLongestPiece bytes.
  char text[kLongestPiece + 1];
  const std::string_view after_tag = piece.substr(kSignTag.size());
  const size_t text_length = std::min(after_tag.find('\0'), after_tag.size());
  std::memcpy(text, after_tag.data(), text_length);
  text[text_length] = '\0';
  uint8_t signature[kTaggedSignatureBufferSize] = {};
  HexToBytes(text, signature, sizeof signature);
  Sha0Final(digest_);
  // A signature is not taken over a piece that held a zero byte: the piece
  // counts only up to it, and a signed line could be handed back as two.
  signature_valid_ = VerifyDigestSignature(kVerifyKey, signature, digest_) == kVerifyOk && !piece_held_nul_;
  return true;
}

CheckReport TaggedCheck::Report() const {
  if (!signature_valid_) {
    return Failure(mode_, kExitSoftware, CheckMessage::kTaggedNoSignature);
  }
  if (entries_ == 0) {
    return Failure(mode_, kExitDataError, CheckMessage::kTaggedNoEntries);
  }
  return Success(mode_);
}

CheckReport TaggedContentCheck(std::string_view content, CheckMode mode, std::vector<std::string_view>& entries) {
  entries.clear();
  TaggedCheck check(mode);
  std::string_view signed_part;
  for (std::string_view rest = content; !rest.empty();) {
    const std::string_view piece = rest.substr(0, PieceLength(rest));
    rest.remove_prefix(piece.size());
    if (check.Take(piece, signed_part)) {
      break;
    }
  }
  const CheckReport report = check.Report();
  if (report.status != kExitOk) {
    return report;
  }
  // The entries are gathered only once the signature holds, in a second walk
  // over the same pieces, into a table of exactly their number.
  entries.reserve(check.entries());
  for (std::string_view rest = content; entries.size() < check.entries();) {
    const std::string_view piece = rest.substr(0, PieceLength(rest));
    rest.remove_prefix(piece.size());
    const PieceRole role = ClassifyPiece(piece, ModeTag(mode));
    if (!role.signed_part.empty()) {
      entries.push_back(role.signed_part.substr(kEntryTagLength));
    }
  }
  return report;
}

CheckReport TaggedStreamCheck(FILE* stream, CheckMode mode, size_t size_hint, std::string& signed_data) {
  signed_data.clear();
  try {
    try {
      signed_data.reserve(size_hint);
    } catch (const std::bad_alloc&) {
      // Only a hint: the data may still fit as it grows.
    }
    TaggedCheck check(mode);
    char piece[kLongestPiece + 1];
    std::string_view signed_part;
    while (const size_t length = ReadPiece(stream, piece)) {
      const bool last = check.Take(std::string_view(piece, length), signed_part);
      signed_data.append(signed_part);
      if (last) {
        break;
      }
    }
    const CheckReport report = check.Report();
    if (report.status != kExitOk) {
      signed_data.clear();
    }
    return report;
  } catch (const std::bad_alloc&) {
    signed_data.clear();
    return Failure(mode, kExitIoError, CheckMessage::kTaggedCannotRead, ENOMEM);
  }
}

CheckReport LstContentCheck(std::string_view content, std::string_view& region) {
  constexpr CheckMode kMode = CheckMode::kLst;
  const LstLayout layout = LocateLstLayout(content);
  if (!layout.has_region) {
    return Failure(kMode, kExitSoftware, CheckMessage::kLstNoRegion);
  }
  if (!layout.has_signature) {
    return Failure(kMode, kExitSoftware, CheckMessage::kLstNoSignature);
  }
  uint8_t signature[kSignatureSize];
  DecodeSignatureText(layout.signature_text, signature);
  const std::string_view signed_region = content.substr(layout.region_begin, layout.region_size);
  if (VerifySignatureLarge(signed_region.data(), signed_region.size(), kVerifyKey, signature) != kVerifyOk) {
    CheckReport report = Failure(kMode, kExitSoftware, CheckMessage::kLstWrongSignature);
    report.signature_text = layout.signature_text;
    return report;
  }
  // The file is shown as text, up to its first NUL byte.  A NUL ahead of the
  // region's end would show unsigned bytes alone or a part of the region,
  // so the region is then not taken as found.
  if (std::min(content.find('\0'), content.size()) < layout.region_begin + layout.region_size) {
    return Failure(kMode, kExitSoftware, CheckMessage::kLstNoRegion);
  }
  region = signed_region;
  return Success(kMode);
}

CheckReport UrlLocate(std::string_view content, UrlLayout& layout) {
  layout = LocateUrlLayout(content);
  if (!layout.has_marker) {
    return Failure(CheckMode::kUrl, kExitSoftware, CheckMessage::kUrlNoSignature);
  }
  return Success(CheckMode::kUrl);
}

CheckReport UrlVerify(std::string_view content, const UrlLayout& layout, std::string_view& signed_content) {
  uint8_t signature[kSignatureSize];
  DecodeSignatureText(layout.signature_text, signature);
  const std::string_view signed_bytes = content.substr(layout.signed_begin);
  Sha0Context context;
  std::memset(&context, 0, sizeof context);
  Sha0Init(context);
  Sha0UpdateLarge(context, signed_bytes.data(), signed_bytes.size());
  Sha0Final(context);
  if (VerifyDigestSignature(kVerifyKey, signature, context) != kVerifyOk) {
    CheckReport report = Failure(CheckMode::kUrl, kExitSoftware, CheckMessage::kUrlWrongSignature);
    report.signature_text = layout.signature_text;
    return report;
  }
  signed_content = signed_bytes;
  return Success(CheckMode::kUrl);
}

CheckReport UrlContentCheck(std::string_view content, std::string_view& signed_content) {
  UrlLayout layout;
  const CheckReport located = UrlLocate(content, layout);
  return located.status != kExitOk ? located : UrlVerify(content, layout, signed_content);
}

void FreeBlock::operator()(char* block) const { std::free(block); }

CheckReport ReadFileContent(const char* file_name, CheckMode mode, FileContent& content) {
  content.size = 0;
  int fd;
  do {
    fd = open(file_name, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return Failure(mode, kExitIoError, CheckMessage::kOpenFailed, errno);
  }
  FileDescriptor file(fd);

  struct stat status;
  if (fstat(file.get(), &status) != 0) {
    return Failure(mode, kExitIoError, mode == CheckMode::kUrl ? CheckMessage::kStatFailed : CheckMessage::kFstatFailed,
                   errno);
  }
  if (status.st_size <= 0) {
    return Failure(mode, kExitIoError, CheckMessage::kEmptyFile);
  }
  // The content is exactly the size fstat reported: each read asks for no
  // more than is still missing, so a file that grows meanwhile is cut there,
  // and one that shrinks ends in an early end of file.
  const auto size = static_cast<size_t>(status.st_size);
  if (content.capacity < size) {
    content.buffer.reset(static_cast<char*>(std::malloc(size)));
    content.capacity = content.buffer ? size : 0;
    if (!content.buffer) {
      return Failure(mode, kExitIoError, CheckMessage::kReadFailed, ENOMEM);
    }
  }
  size_t count = 0;
  do {
    const ssize_t got = read(file.get(), content.buffer.get() + count, std::min(kReadSize, size - count));
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return Failure(mode, kExitIoError, CheckMessage::kReadFailed, errno);
    }
    if (got == 0) {
      return Failure(mode, kExitIoError, CheckMessage::kUnexpectedEof);
    }
    count += static_cast<size_t>(got);
  } while (count < size);
  content.size = size;
  return Success(mode);
}
