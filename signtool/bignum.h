// SPDX-License-Identifier: ISC
// OpenSSL's BIGNUM and BN_CTX as owned values, for signtool's key code.
#pragma once

#include <openssl/bn.h>

#include <memory>

namespace signtool {

struct BnFree {
  void operator()(BIGNUM* bn) const { BN_clear_free(bn); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

struct CtxFree {
  void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};
using BnCtx = std::unique_ptr<BN_CTX, CtxFree>;

inline Bn NewBn() { return Bn(BN_new()); }
inline Bn CopyBn(const BIGNUM* a) { return Bn(BN_dup(a)); }

}  // namespace signtool
