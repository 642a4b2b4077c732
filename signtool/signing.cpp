// SPDX-License-Identifier: ISC
#include "signtool/signing.h"

#include "hash/sha0.h"

namespace signtool {

Bn DigestNumber(const void* data, size_t length) {
  Sha0Context ctx;
  Sha0Init(ctx);
  Sha0UpdateLarge(ctx, data, length);
  Sha0Final(ctx);
  uint8_t bytes[20];
  Sha0DigestBytes(ctx, bytes);
  return Bn(BN_lebin2bn(bytes, sizeof bytes, nullptr));
}

bool SignDigest(const DsaKey& key, const BIGNUM* h, uint8_t signature[40], std::string& error) {
  if (!key.is_private()) {
    error = "signing needs a private key";
    return false;
  }
  BnCtx ctx(BN_CTX_new());
  const BIGNUM* p = key.p.get();
  const BIGNUM* q = key.q.get();
  Bn k = NewBn(), r = NewBn(), s = NewBn(), k_inverse = NewBn(), t = NewBn();
  BN_set_flags(k.get(), BN_FLG_CONSTTIME);
  for (;;) {
    // A uniform nonce in [1, q - 1], fresh from the CSPRNG for every signature.
    if (BN_priv_rand_range(k.get(), q) != 1) {
      error = "random generator failed";
      return false;
    }
    if (BN_is_zero(k.get())) continue;
    BN_mod_exp_mont_consttime(r.get(), key.g.get(), k.get(), p, ctx.get(), nullptr);
    BN_nnmod(r.get(), r.get(), q, ctx.get());
    if (BN_is_zero(r.get())) continue;
    // s = k^-1 (h + x r) mod q
    BN_mod_inverse(k_inverse.get(), k.get(), q, ctx.get());
    BN_mod_mul(t.get(), key.x.get(), r.get(), q, ctx.get());
    BN_mod_add(t.get(), t.get(), h, q, ctx.get());
    BN_mod_mul(s.get(), k_inverse.get(), t.get(), q, ctx.get());
    if (BN_is_zero(s.get())) continue;
    break;
  }
  BN_bn2lebinpad(r.get(), signature, 20);
  BN_bn2lebinpad(s.get(), signature + 20, 20);
  return true;
}

bool SignatureText(const DsaKey& key, const void* data, size_t length, std::string& text, std::string& error) {
  uint8_t signature[40];
  if (!SignDigest(key, DigestNumber(data, length).get(), signature, error)) return false;
  static const char kDigits[] = "0123456789ABCDEF";
  text.clear();
  for (uint8_t byte : signature) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return true;
}

}  // namespace signtool
