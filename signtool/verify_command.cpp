// SPDX-License-Identifier: ISC
// verify: whether signcheck, with the given keys, would accept a signed file.
// The check core decides, as it decides for signcheck and the library; the
// keys are loaded by the same loader as the library's.
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "check/dispatch.h"
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
  CheckStorage checked;
  const CheckReport report =
      path == "-" ? CheckDescriptor(0, mode, ring, checked) : CheckFile(path.c_str(), mode, ring, checked);
  if (report.status == kExitOk) return 0;
  StringSink message;
  ComposeMessage(report, path == "-" ? "standard input" : path.c_str(), "", message);
  if (!message.text.empty() && message.text.back() == '\n') message.text.pop_back();
  return Fail(message.text);
}

}  // namespace signtool
