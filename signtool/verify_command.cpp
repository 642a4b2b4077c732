// SPDX-License-Identifier: ISC
// verify: whether signcheck, with the given keys, would accept a signed file.
// The check core decides, as it decides for signcheck and the library; the
// keys are loaded by the same loader as the library's.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "check/check_core.h"
#include "check/exit_status.h"
#include "dsa/key_loader.h"
#include "dsa/public_key.h"
#include "signtool/commands.h"
#include "signtool/key_file.h"
#include "signtool/messages.h"
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

}  // namespace

int Verify(CheckMode mode, const std::vector<std::string>& key_files, const std::string& path) {
  std::vector<PublicKey> keys(key_files.size());
  std::vector<const PublicKey*> ring;
  for (size_t i = 0; i < key_files.size(); ++i) {
    std::string text;
    std::string error;
    if (!ReadWholeFile(key_files[i], text, error, kMaxKeyFileSize)) return Fail("key file: " + error);
    if (!LoadPublicKey(text, keys[i], error)) return Fail(key_files[i] + ": " + error);
    ring.push_back(&keys[i]);
  }
  FileContent content;
  std::string piped;
  CheckReport report;
  switch (mode) {
    case CheckMode::kNvl:
    case CheckMode::kMsg: report = CheckTaggedFile(mode, path, ring); break;
    case CheckMode::kLst:
    case CheckMode::kUrl: report = CheckWholeFile(mode, path, ring, content, piped); break;
  }
  if (report.status == kExitOk) return 0;
  StringSink message;
  ComposeMessage(report, path == "-" ? "standard input" : path.c_str(), "", message);
  if (!message.text.empty() && message.text.back() == '\n') message.text.pop_back();
  return Fail(message.text);
}

}  // namespace signtool
