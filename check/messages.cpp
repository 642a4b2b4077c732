// SPDX-License-Identifier: ISC
#include "check/messages.h"

#include <algorithm>
#include <cstring>

namespace {

// The message texts.  In them \1 stands for the file name, \2 for the
// system's error text, \3 for the signature text, \4 for the words of the
// list's entries and \5 for the mode word.
constexpr const char* MessageFormat(CheckMessage message) {
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
    case CheckMessage::kNoKeys: return "no keys to check file \1 against\n";
  }
  return "";
}

// Every text is one line of printable bytes and argument codes.
constexpr bool FormatsAreLines() {
  for (int m = 0; m <= static_cast<int>(CheckMessage::kLast); ++m) {
    const char* text = MessageFormat(static_cast<CheckMessage>(m));
    size_t length = 0;
    for (; text[length] != '\0'; ++length) {
      const char c = text[length];
      const bool code = c >= '\1' && c <= '\5';
      if (!code && (c < ' ' || c == '\x7f') && !(c == '\n' && text[length + 1] == '\0')) return false;
    }
    if (m != 0 && (length == 0 || text[length - 1] != '\n')) return false;
  }
  return true;
}
static_assert(FormatsAreLines());

class StreamSink final : public MessageSink {
 public:
  explicit StreamSink(FILE* out) : out_(out) {}
  void Append(std::string_view piece) override { std::fwrite(piece.data(), 1, piece.size(), out_); }

 private:
  FILE* out_;
};

}  // namespace

void ComposeMessage(const CheckReport& report, const char* file_name, const char* mode_word, MessageSink& sink) {
  ErrorTextBuffer error_buffer;
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
      case '\2': sink.Append(SystemErrorText(report.error, error_buffer)); break;
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
