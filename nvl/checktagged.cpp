#include "nvl/checktagged.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "nvl/exit_status.h"
#include "nvl/tagged_pieces.h"
#include "verify/builtin_key.h"
#include "verify/verify.h"

namespace {

struct TaggedListRead {
  bool signature_valid = false;
  bool out_of_memory = false;
  // The tagged pieces as signed.  The entries are not kept apart: on success
  // no piece held a zero byte, so splitting this again by the piece rule
  // gives back exactly the pieces read, and each entry is one of them less
  // its tag.
  std::string signed_data;
};

// Reads up to and including the first "sign=" piece.  Nothing is printed
// here: the caller closes the stream first.  size_hint, when not 0, bounds
// the signed data and spares its growth a second copy.
TaggedListRead ReadTaggedList(FILE* stream, const char* tag, size_t size_hint) {
  TaggedListRead result;
  char piece[kLongestPiece + 1];
  try {
    TaggedList list;
    try {
      list.signed_data.reserve(size_hint);
    } catch (const std::bad_alloc&) {
      // Only a hint: the data may still fit as it grows.
    }
    while (const size_t length = ReadPiece(stream, piece)) {
      if (list.Take(std::string_view(piece, length), tag)) {
        uint8_t signature[kTaggedSignatureBufferSize] = {};
        HexToBytes(piece + kSignTag.size(), signature, sizeof signature);
        result.signature_valid = VerifySignatureLarge(list.signed_data.data(), list.signed_data.size(), kVerifyKey,
                                                      signature) == kVerifyOk &&
                                 !list.piece_held_nul;
        break;
      }
    }
    result.signed_data = std::move(list.signed_data);
  } catch (const std::bad_alloc&) {
    result = TaggedListRead{};
    result.out_of_memory = true;
  }
  return result;
}

const char* EntryWords(const char* tag) { return std::strcmp(tag, "msg=") == 0 ? "Norvu " : "Norvu Updates URL's"; }

int ReportTaggedList(const TaggedListRead& read, const char* file_name, const char* tag, FILE* out) {
  if (read.out_of_memory) {
    std::fprintf(out, "Error: can not read file '%s' - %s\n", file_name, std::strerror(ENOMEM));
    return kExitIoError;
  }
  if (!read.signature_valid) {
    std::fprintf(out, "Error: file %s does not contain a valid Norvu signature.\n", file_name);
    return kExitSoftware;
  }
  // Every tagged piece holds at least its tag, so no data means no entries.
  if (read.signed_data.empty()) {
    std::fprintf(out, "Error: file %s does not contain any %s\n", file_name, EntryWords(tag));
    return kExitDataError;
  }
  for (std::string_view rest = read.signed_data; !rest.empty();) {
    const size_t length = PieceLength(rest);
    std::fwrite(rest.data() + kEntryTagLength, 1, length - kEntryTagLength, out);
    rest.remove_prefix(length);
  }
  return kExitOk;
}

// The size of the file behind stream, when it is a regular file; else 0.
size_t StreamFileSize(FILE* stream) {
  struct stat status;
  const int fd = fileno(stream);
  if (fd < 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) {
    return 0;
  }
  return static_cast<size_t>(status.st_size);
}

}  // namespace

int TaggedStreamCheckSign(FILE* stream, const char* file_name, const char* tag, FILE* out) {
  return ReportTaggedList(ReadTaggedList(stream, tag, StreamFileSize(stream)), file_name, tag, out);
}

int TaggedContentCheckSign(std::string_view content, const char* file_name, const char* tag, FILE* out) {
  // fmemopen wants a writable buffer even to read; a copy keeps content const.
  std::string buffer(content);
  FILE* stream = fmemopen(buffer.data(), buffer.size(), "rb");
  if (stream == nullptr) {
    std::fprintf(out, "Error: can not read file '%s' - %s\n", file_name, std::strerror(errno));
    return kExitIoError;
  }
  const int status = ReportTaggedList(ReadTaggedList(stream, tag, content.size()), file_name, tag, out);
  std::fclose(stream);
  return status;
}

int TaggedFileCheckSign(const char* file_name, const char* tag) {
  FILE* stream = std::fopen(file_name, "rb");
  if (stream == nullptr) {
    std::printf("Error: can not read file '%s' - %s\n", file_name, std::strerror(errno));
    return kExitIoError;
  }
  const TaggedListRead read = ReadTaggedList(stream, tag, StreamFileSize(stream));
  std::fclose(stream);
  return ReportTaggedList(read, file_name, tag, stdout);
}
