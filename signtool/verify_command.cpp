// SPDX-License-Identifier: ISC
// verify: whether signcheck, with the given keys, would accept signed files.
// The check core decides, as it decides for signcheck and the library; the
// keys are loaded by the same loader as the library's.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check/check_core.h"
#include "check/exit_status.h"
#include "dsa/key_loader.h"
#include "dsa/public_key.h"
#include "signtool/commands.h"
#include "signtool/key_file.h"
#include "signtool/messages.h"
#include "signtool/progress.h"
#include "signtool/read_file.h"

namespace signtool {
namespace {

class StringSink final : public MessageSink {
 public:
  void Append(std::string_view piece) override { text.append(piece); }
  std::string text;
};

struct FileClose {
  void operator()(FILE* stream) const { std::fclose(stream); }
};

// nvl and msg: read in pieces from the stream, as signcheck reads them.
CheckReport CheckTaggedFile(CheckMode mode, const std::string& path, KeyRing ring) {
  std::unique_ptr<FILE, FileClose> opened;
  FILE* stream = stdin;
  if (path != "-") {
    opened.reset(std::fopen(path.c_str(), "rb"));
    if (!opened) return CheckReport{kExitIoError, CheckMessage::kTaggedCannotRead, mode, errno, {}};
    stream = opened.get();
  }
  std::string signed_data;
  return TaggedStreamCheck(stream, mode, ring, 0, signed_data);
}

// lst and url: the content read whole, a named file as signcheck reads an
// update list.  content and piped hold what the report points into.
CheckReport CheckWholeFile(CheckMode mode, const std::string& path, KeyRing ring, FileContent& content,
                           std::string& piped) {
  std::string_view view;
  if (path == "-") {
    std::string error;
    if (!ReadWholeFile(path, piped, error)) return CheckReport{kExitIoError, CheckMessage::kReadFailed, mode, EIO, {}};
    view = piped;
  } else if (const CheckReport report = ReadFileContent(path.c_str(), mode, content); report.status != kExitOk) {
    return report;
  } else {
    view = content.view();
  }
  std::string_view signed_part;
  return mode == CheckMode::kLst ? LstContentCheck(view, ring, signed_part) : UrlContentCheck(view, ring, signed_part);
}

// Checks one file with the ring as signcheck would: true when it would
// accept the file, else false with signcheck's message for it, one line
// without its line feed.
bool CheckOneFile(CheckMode mode, const std::string& path, KeyRing ring, std::string& message) {
  FileContent content;
  std::string piped;
  CheckReport report;
  switch (mode) {
    case CheckMode::kNvl:
    case CheckMode::kMsg: report = CheckTaggedFile(mode, path, ring); break;
    case CheckMode::kLst:
    case CheckMode::kUrl: report = CheckWholeFile(mode, path, ring, content, piped); break;
  }
  if (report.status == kExitOk) return true;
  StringSink sink;
  ComposeMessage(report, path == "-" ? "standard input" : path.c_str(), "", sink);
  if (!sink.text.empty() && sink.text.back() == '\n') sink.text.pop_back();
  message = std::move(sink.text);
  return false;
}

}  // namespace

int Verify(CheckMode mode, const std::vector<std::string>& key_files, const std::vector<std::string>& paths,
           bool summary) {
  std::vector<PublicKey> keys(key_files.size());
  std::vector<const PublicKey*> ring;
  for (size_t i = 0; i < key_files.size(); ++i) {
    std::string text;
    std::string error;
    if (!ReadWholeFile(key_files[i], text, error, kMaxKeyFileSize)) return Fail("key file: " + error);
    if (!LoadPublicKey(text, keys[i], error)) return Fail(key_files[i] + ": " + error);
    ring.push_back(&keys[i]);
  }
  Progress progress("checked", paths.size());
  size_t refused = 0;
  std::string message;
  for (const std::string& path : paths) {
    if (!CheckOneFile(mode, path, ring, message)) {
      ++refused;
      progress.Clear();
      Fail(message);
    }
    progress.Advance();
  }
  progress.Finish();
  if (summary) {
    std::printf("%zu files checked: %zu accepted, %zu refused\n", paths.size(), paths.size() - refused, refused);
    if (std::fflush(stdout) != 0) return Fail("cannot write the output");
  }
  return refused == 0 ? 0 : kFailure;
}

}  // namespace signtool
