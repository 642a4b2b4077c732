// SPDX-License-Identifier: ISC
// signcheck's exit statuses, in the sysexits convention.
#pragma once

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 64;      // not two arguments, or an unknown mode
inline constexpr int kExitDataError = 65;  // nvl, msg: a valid signature over no entries
inline constexpr int kExitSoftware = 70;   // the signature or the signed data is missing or wrong
inline constexpr int kExitIoError = 74;    // the file cannot be opened, examined, mapped or read
