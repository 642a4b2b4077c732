// SPDX-License-Identifier: ISC
// The verification's result codes and the signature's size, shared by every
// verification path (dsa/public_key.h, and the reference of dsa/reference.h).
#pragma once

// Result codes; callers only tell kVerifyOk from the rest.
inline constexpr int kVerifyOk = 0;
inline constexpr int kVerifyOutOfRange = 0x7707;  // r >= q, or s >= q
inline constexpr int kVerifyZero = 0x0707;        // r = 0, or s = 0
inline constexpr int kVerifyMismatch = 0x0F0F;    // in range, but wrong

// A signature is 40 bytes: r then s, each 20 bytes least significant first.
inline constexpr int kSignatureSize = 40;
