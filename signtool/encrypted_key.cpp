// SPDX-License-Identifier: ISC
#include "signtool/encrypted_key.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>

#include "dsa/key_text.h"

namespace signtool {

namespace {

constexpr uint64_t kScryptN = uint64_t{1} << 14;
constexpr uint64_t kScryptR = 8;
constexpr uint64_t kScryptP = 1;

struct PkeyFree {
  void operator()(EVP_PKEY* pkey) const { EVP_PKEY_free(pkey); }
};
struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct P8InfoFree {
  void operator()(PKCS8_PRIV_KEY_INFO* info) const { PKCS8_PRIV_KEY_INFO_free(info); }
};
struct X509SigFree {
  void operator()(X509_SIG* sig) const { X509_SIG_free(sig); }
};
struct ParamBldFree {
  void operator()(OSSL_PARAM_BLD* bld) const { OSSL_PARAM_BLD_free(bld); }
};
struct ParamFree {
  void operator()(OSSL_PARAM* params) const { OSSL_PARAM_free(params); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Bio = std::unique_ptr<BIO, BioFree>;

Pkey ToPkey(const DsaKey& key) {
  const std::unique_ptr<OSSL_PARAM_BLD, ParamBldFree> bld(OSSL_PARAM_BLD_new());
  if (!bld || OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_FFC_P, key.p.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_FFC_Q, key.q.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_FFC_G, key.g.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, key.y.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, key.x.get()) != 1) {
    return nullptr;
  }
  const std::unique_ptr<OSSL_PARAM, ParamFree> params(OSSL_PARAM_BLD_to_param(bld.get()));
  const std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr));
  EVP_PKEY* pkey = nullptr;
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &pkey, EVP_PKEY_KEYPAIR, params.get()) != 1) {
    return nullptr;
  }
  return Pkey(pkey);
}

bool FromPkey(const EVP_PKEY* pkey, DsaKey& key) {
  if (EVP_PKEY_is_a(pkey, "DSA") != 1) return false;
  const char* const names[] = {OSSL_PKEY_PARAM_FFC_P, OSSL_PKEY_PARAM_FFC_Q, OSSL_PKEY_PARAM_FFC_G,
                               OSSL_PKEY_PARAM_PUB_KEY, OSSL_PKEY_PARAM_PRIV_KEY};
  Bn* const targets[] = {&key.p, &key.q, &key.g, &key.y, &key.x};
  for (int i = 0; i < 5; ++i) {
    BIGNUM* value = nullptr;
    if (EVP_PKEY_get_bn_param(pkey, names[i], &value) != 1) return false;
    targets[i]->reset(value);
  }
  return true;
}

}  // namespace

// Decrypts an encrypted PKCS#8 PEM key.  A structure that does not parse and
// a passphrase that does not decrypt get messages of their own.
bool ParseEncryptedKey(const Secret& text, const std::string& origin, KeyKind kind,
                       const PassphraseSource* passphrase_source, DsaKey& key, std::string& error) {
  const Bio bio(BIO_new_mem_buf(text.text.data(), static_cast<int>(text.text.size())));
  const std::unique_ptr<X509_SIG, X509SigFree> encrypted(bio ? PEM_read_bio_PKCS8(bio.get(), nullptr, nullptr, nullptr)
                                                             : nullptr);
  if (!encrypted) {
    error = origin + ": not a valid encrypted private key";
    return false;
  }
  if (passphrase_source == nullptr) {
    error = origin + ": the key is encrypted, and nothing here can ask for its passphrase";
    return false;
  }
  Secret passphrase;
  if (!ReadPassphrase(*passphrase_source, origin, false, passphrase, error)) return false;
  const std::unique_ptr<PKCS8_PRIV_KEY_INFO, P8InfoFree> info(
      PKCS8_decrypt(encrypted.get(), passphrase.text.data(), static_cast<int>(passphrase.text.size())));
  ERR_clear_error();
  if (!info) {
    error = origin + ": wrong passphrase";
    return false;
  }
  const Pkey pkey(EVP_PKCS82PKEY(info.get()));
  if (!pkey || !FromPkey(pkey.get(), key)) {
    error = origin + ": not a DSA private key";
    return false;
  }
  if (!CheckKey(key, error)) return (error = origin + ": " + error, false);
  if (kind != KeyKind::kPrivate) key.x.reset();
  return true;
}

bool IsEncryptedKeyText(std::string_view text) {
  KeyNumbers numbers;
  std::string ignored;
  return ReadKeyText(text, {}, numbers, ignored) && numbers.form == KeyForm::kEncrypted;
}

bool FormatEncryptedKey(const DsaKey& key, const Secret& passphrase, Secret& pem, std::string& error) {
  error = "cannot encrypt the private key";
  const Pkey pkey = ToPkey(key);
  const std::unique_ptr<PKCS8_PRIV_KEY_INFO, P8InfoFree> info(pkey ? EVP_PKEY2PKCS8(pkey.get()) : nullptr);
  X509_ALGOR* algorithm =
      info ? PKCS5_pbe2_set_scrypt(EVP_aes_256_cbc(), nullptr, 0, nullptr, kScryptN, kScryptR, kScryptP) : nullptr;
  if (algorithm == nullptr) return false;
  const std::unique_ptr<X509_SIG, X509SigFree> encrypted(
      PKCS8_set0_pbe(passphrase.text.data(), static_cast<int>(passphrase.text.size()), info.get(), algorithm));
  if (!encrypted) {
    X509_ALGOR_free(algorithm);
    return false;
  }
  const Bio bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PKCS8(bio.get(), encrypted.get()) != 1) return false;
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  pem.text.reserve(static_cast<size_t>(size) + 256);
  pem.text = "# signtool private key " + KeyId(key) + ": DSA, 512-bit p, 160-bit q, encrypted.\n";
  pem.text.append(data, static_cast<size_t>(size));
  return true;
}

}  // namespace signtool
