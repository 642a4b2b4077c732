// SPDX-License-Identifier: ISC
// Signing a file in one of signcheck's four layouts, so that `signcheck MODE`
// accepts the result.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "check/check_core.h"

// Signs input in the layout of mode: returns false with a one-line error (no
// trailing newline) when the input cannot be signed so that signcheck accepts
// it.  sign_text returns the 80-digit upper-case signature text of the bytes
// it is given.
bool SignInLayout(CheckMode mode, std::string_view input,
                  const std::function<std::string(std::string_view signed_bytes)>& sign_text, std::string& output,
                  std::string& error);
