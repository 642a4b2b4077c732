#include "nvl/checktagged.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

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
  bool piece_held_nul = false;
  try {
    try {
      result.signed_data.reserve(size_hint);
    } catch (const std::bad_alloc&) {
      // Only a hint: the data may still fit as it grows.
    }
    while (const size_t length = ReadPiece(stream, piece)) {
      const std::string_view text(piece, length);
      if (PieceHasTag(text, tag)) {
        // A piece counts up to its first zero byte, in the signed data as in
        // its entry.  That would let a signed line be printed as two, so a
        // signature is not taken over such a piece.
        const size_t counted = std::strlen(piece);
        piece_held_nul = piece_held_nul || counted != length;
        result.signed_data.append(piece, counted);
      }
      if (PieceHasTag(text, kSignTag)) {
        uint8_t signature[kTaggedSignatureBufferSize] = {};
        HexToBytes(piece + kSignTag.size(), signature, sizeof signature);
        result.signature_valid =
            VerifySignatureLarge(result.signed_data.data(), result.signed_data.size(), kVerifyKey, signature) ==
                kVerifyOk &&
            !piece_held_nul;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    result = TaggedListRead{};
    result.out_of_memory = true;
  }
  return result;
}

const char* EntryWords(const char* tag) {
  return std::strcmp(tag, "msg=") == 0 ? "Norvu " : "Norvu Updates URL's";
}

int ReportTaggedList(const TaggedListRead& read, const char* file_name, const char* tag, FILE* out) {
  if (read.out_of_memory) {
    std::fprintf(out, "Error: can not read file '%s' - %s\n", file_name, std::strerror(ENOMEM));
    return 74;
  }
  if (!read.signature_valid) {
    std::fprintf(out, "Error: file %s does not contain a valid Norvu signature.\n", file_name);
    return 70;
  }
  // Every tagged piece holds at least its tag, so no data means no entries.
  if (read.signed_data.empty()) {
    std::fprintf(out, "Error: file %s does not contain any %s\n", file_name, EntryWords(tag));
    return 65;
  }
  for (std::string_view rest = read.signed_data; !rest.empty();) {
    const size_t length = PieceLength(rest);
    std::fwrite(rest.data() + kEntryTagLength, 1, length - kEntryTagLength, out);
    rest.remove_prefix(length);
  }
  return 0;
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

uint8_t* HexToBytes(const char* text, uint8_t* output, size_t output_size) {
  const size_t length = std::strlen(text);
  if (length == 0 || length % 2 != 0) {
    if (output_size > 0) {
      output[0] = 0;
    }
    return output;
  }
  for (size_t i = 0; i < length / 2 && i < output_size; ++i) {
    const char pair[3] = {text[2 * i], text[2 * i + 1], '\0'};
    output[i] = static_cast<uint8_t>(std::strtoul(pair, nullptr, 16) & 0xFFu);
  }
  return output;
}

int TaggedStreamCheckSign(FILE* stream, const char* file_name, const char* tag, FILE* out) {
  return ReportTaggedList(ReadTaggedList(stream, tag, StreamFileSize(stream)), file_name, tag, out);
}

int TaggedContentCheckSign(std::string_view content, const char* file_name, const char* tag, FILE* out) {
  // fmemopen wants a writable buffer even to read; a copy keeps content const.
  std::string buffer(content);
  FILE* stream = fmemopen(buffer.data(), buffer.size(), "rb");
  if (stream == nullptr) {
    std::fprintf(out, "Error: can not read file '%s' - %s\n", file_name, std::strerror(errno));
    return 74;
  }
  const int status = ReportTaggedList(ReadTaggedList(stream, tag, content.size()), file_name, tag, out);
  std::fclose(stream);
  return status;
}

int TaggedFileCheckSign(const char* file_name, const char* tag) {
  FILE* stream = std::fopen(file_name, "rb");
  if (stream == nullptr) {
    std::printf("Error: can not read file '%s' - %s\n", file_name, std::strerror(errno));
    return 74;
  }
  const TaggedListRead read = ReadTaggedList(stream, tag, StreamFileSize(stream));
  std::fclose(stream);
  return ReportTaggedList(read, file_name, tag, stdout);
}
