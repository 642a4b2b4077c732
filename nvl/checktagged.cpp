#include "nvl/checktagged.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "verify/builtin_key.h"
#include "verify/verify.h"

namespace {

// fgets is given this limit, so one piece holds at most 1022 bytes of the
// file: a longer line arrives as several pieces, each read as a line.
constexpr int kPieceLimit = 1023;

constexpr size_t kTagLength = 4;
constexpr char kSignTag[] = "sign=";
constexpr size_t kSignTagLength = sizeof kSignTag - 1;

struct TaggedListRead {
  bool signature_valid = false;
  bool out_of_memory = false;
  std::vector<std::string> entries;
};

// Reads up to and including the first "sign=" piece.  Nothing is printed
// here: the caller closes the stream first.
TaggedListRead ReadTaggedList(FILE* stream, const char* tag) {
  TaggedListRead result;
  std::string signed_data;
  char line[1024];
  try {
    while (std::fgets(line, kPieceLimit, stream) != nullptr) {
      // A NUL byte read from the file ends the piece for every purpose.
      const size_t length = std::strlen(line);
      if (strncasecmp(line, tag, kTagLength) == 0) {
        signed_data.append(line, length);
        result.entries.emplace_back(line + kTagLength, length - kTagLength);
      }
      if (strncasecmp(line, kSignTag, kSignTagLength) == 0) {
        uint8_t signature[kTaggedSignatureBufferSize] = {};
        HexToBytes(line + kSignTagLength, signature, sizeof signature);
        result.signature_valid =
            VerifySignatureLarge(signed_data.data(), signed_data.size(), kVerifyKey, signature) == kVerifyOk;
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
  if (read.entries.empty()) {
    std::fprintf(out, "Error: file %s does not contain any %s\n", file_name, EntryWords(tag));
    return 65;
  }
  for (const std::string& entry : read.entries) {
    std::fprintf(out, "%s", entry.c_str());
  }
  return 0;
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
  return ReportTaggedList(ReadTaggedList(stream, tag), file_name, tag, out);
}

int TaggedContentCheckSign(std::string_view content, const char* file_name, const char* tag, FILE* out) {
  // fmemopen wants a writable buffer even to read; a copy keeps content const.
  std::string buffer(content);
  FILE* stream = fmemopen(buffer.data(), buffer.size(), "rb");
  if (stream == nullptr) {
    std::fprintf(out, "Error: can not read file '%s' - %s\n", file_name, std::strerror(errno));
    return 74;
  }
  const int status = TaggedStreamCheckSign(stream, file_name, tag, out);
  std::fclose(stream);
  return status;
}

int TaggedFileCheckSign(const char* file_name, const char* tag) {
  FILE* stream = std::fopen(file_name, "rb");
  if (stream == nullptr) {
    std::printf("Error: can not read file '%s' - %s\n", file_name, std::strerror(errno));
    return 74;
  }
  const TaggedListRead read = ReadTaggedList(stream, tag);
  std::fclose(stream);
  return ReportTaggedList(read, file_name, tag, stdout);
}
