// SPDX-License-Identifier: ISC
// verify: whether signcheck, with the given keys, would accept signed files.
// The check core decides, as it decides for signcheck and the library; the
// keys are loaded by the same loader as the library's.
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check/dispatch.h"
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

// Checks one file with the ring as signcheck would: true when it would
// accept the file, else false with signcheck's message for it, one line
// without its line feed.  checked is reused from one file to the next.
bool CheckOneFile(CheckMode mode, const std::string& path, KeyRing ring, CheckStorage& checked, std::string& message) {
  const CheckReport report =
      path == "-" ? CheckDescriptor(0, mode, ring, checked) : CheckFile(path.c_str(), mode, ring, checked);
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
    if (!LoadPublicKey(text, key_files[i], keys[i], error)) return Fail(error);
    ring.push_back(&keys[i]);
  }
  Progress progress("checked", paths.size());
  size_t refused = 0;
  CheckStorage checked;
  std::string message;
  for (const std::string& path : paths) {
    if (!CheckOneFile(mode, path, ring, checked, message)) {
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
