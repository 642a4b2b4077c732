// SPDX-License-Identifier: ISC
// What a check reports: its status, which message with what arguments, and
// the key that verified.
#pragma once

#include <cstdint>
#include <string_view>

#include "check/exit_status.h"
#include "layouts/mode.h"

// What a check tells, each the text of one message (see ComposeMessage).
enum class CheckMessage : uint8_t {
  kNone,
  kUnknownMode,
  kTaggedCannotRead,
  kTaggedNoSignature,
  kTaggedNoEntries,
  kOpenFailed,
  kFstatFailed,
  kStatFailed,
  kMmapFailed,
  kEmptyFile,
  kReadFailed,
  kUnexpectedEof,
  kLstNoRegion,
  kLstNoSignature,
  kLstWrongSignature,
  kUrlNoSignature,
  kUrlWrongSignature,
  kNoKeys,
  kLast = kNoKeys,
};

// The outcome of one check.  signature_text points into the checked
// content (only for the wrong-signature messages); error is the errno of the
// failing call for the messages that name one; key_index is the position in
// the ring of the key that verified, -1 when none did.
struct CheckReport {
  int status = 0;
  CheckMessage message = CheckMessage::kNone;
  CheckMode mode = CheckMode::kNvl;
  int error = 0;
  std::string_view signature_text;
  int key_index = -1;
};

inline CheckReport FailedCheck(CheckMode mode, int status, CheckMessage message, int error = 0) {
  CheckReport report;
  report.status = status;
  report.message = message;
  report.mode = mode;
  report.error = error;
  return report;
}

inline CheckReport PassedCheck(CheckMode mode, int key_index) {
  CheckReport report = FailedCheck(mode, kExitOk, CheckMessage::kNone);
  report.key_index = key_index;
  return report;
}
