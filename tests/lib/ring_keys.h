// SPDX-License-Identifier: ISC
// Eight keys, each with a domain of its own, for the key ring tests: made
// once for the whole test program, as each takes a while.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "signtool/dsa_keys.h"

struct RingKey {
  signtool::DsaKey key;
  std::string public_text;
  std::string id;
};

inline const std::vector<RingKey>& RingKeys() {
  static const std::vector<RingKey> keys = [] {
    std::vector<RingKey> made(8);
    for (RingKey& k : made) {
      std::string error;
      EXPECT_TRUE(signtool::GenerateKey(k.key, error)) << error;
      k.public_text = signtool::FormatKey(k.key, signtool::KeyKind::kPublic);
      k.id = signtool::KeyId(k.key);
    }
    return made;
  }();
  return keys;
}
