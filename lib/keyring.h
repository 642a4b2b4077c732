// SPDX-License-Identifier: ISC
// The ring behind signcheck_keyring, for the checks of api.cpp.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "dsa/public_key.h"

struct signcheck_keyring {
  std::vector<std::unique_ptr<PublicKey>> keys;
  std::array<const PublicKey*, kMaxRingKeys> pointers{};
  std::string message;  // the last failed addition's, with its line feed
  int error = 0;        // the errno of the last failed addition, or 0
  // Set by the first check: from then on the ring is only read, by any
  // number of threads at once, and takes no more keys.
  mutable std::atomic<bool> used{false};

  KeyRing View() const;
};
