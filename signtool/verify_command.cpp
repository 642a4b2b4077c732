// SPDX-License-Identifier: ISC
// verify: whether signcheck would accept a signed file.
#include <string>

#include "signtool/commands.h"
#include "signtool/key_file.h"
#include "signtool/layout_verify.h"
#include "signtool/messages.h"
#include "signtool/read_file.h"

namespace signtool {

int Verify(const std::string& mode, const std::string& public_path, const std::string& path) {
  signtool::DsaKey key;
  std::string content;
  std::string error;
  if (!LoadKeyOrHint(public_path, signtool::KeyKind::kPublic, nullptr, path, key, error) ||
      !signtool::ReadWholeFile(path, content, error)) {
    return Fail(error);
  }
  if (!VerifyInLayout(mode, content, key, error)) {
    return Fail((path == "-" ? "standard input" : path) + ": " + error);
  }
  return 0;
}

}  // namespace signtool
