// SPDX-License-Identifier: ISC
// Text that must not outlive its use.
#pragma once

#include <openssl/crypto.h>

#include <string>

namespace signtool {

// Text that must not outlive its use (a passphrase, a private key file's
// text): cleared with OPENSSL_cleanse before its memory is given back.  Reserve
// what it will hold first, so that growing it leaves no copy behind.
class Secret {
 public:
  Secret() = default;
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  ~Secret() { Clear(); }
  void Clear() {
    OPENSSL_cleanse(text.data(), text.capacity());
    text.clear();
  }
  std::string text;
};

}  // namespace signtool
