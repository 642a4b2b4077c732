// SPDX-License-Identifier: ISC
#include "signtool/key_file.h"

#include <openssl/crypto.h>

#include <utility>

#include "dsa/key_rules.h"
#include "signtool/encrypted_key.h"
#include "signtool/read_file.h"

namespace signtool {
namespace {

bool IsPrime(const BIGNUM* n, BN_CTX* ctx) { return BN_check_prime(n, ctx, nullptr) == 1; }

// signcheck takes its result out of Montgomery form with 512-bit steps that
// keep no carry past the top limb; keygen keeps p's top 16 bits from all
// being set, which the key rules refuse.
bool FitsCheckerReduction(const BIGNUM* p) {
  Bn top = NewBn();
  BN_rshift(top.get(), p, kPrimePBits - 16);
  return BN_get_word(top.get()) != 0xFFFF;
}

// The key's numbers in the reader's form: a number wider than its limbs
// keeps its bit count and zero limbs, as the reader leaves it.
void ToNumbers(const DsaKey& key, KeyNumbers& numbers) {
  const BIGNUM* const values[5] = {key.p.get(), key.q.get(), key.g.get(), key.y.get(), key.x.get()};
  Limb* const targets[5] = {numbers.p, numbers.q, numbers.g, numbers.y, numbers.x};
  const int sizes[5] = {kPLimbs, kQLimbs, kPLimbs, kPLimbs, kQLimbs};
  uint8_t bytes[2 * kPLimbs];
  for (int i = 0; i < 5; ++i) {
    if (values[i] == nullptr) continue;
    numbers.bits[i] = BN_num_bits(values[i]);
    const int length = 2 * sizes[i];
    if (numbers.bits[i] > 8 * length || BN_bn2lebinpad(values[i], bytes, length) != length) continue;
    limbs_from_bytes(bytes, targets[i], static_cast<int16_t>(length));
  }
  OPENSSL_cleanse(bytes, sizeof bytes);
  numbers.form = key.is_private() ? KeyForm::kPrivate : KeyForm::kPublic;
}

Bn FromLimbs(const Limb* limbs, int n) {
  uint8_t bytes[2 * kPLimbs];
  limbs_to_bytes(limbs, bytes, static_cast<int16_t>(2 * n));
  Bn value(BN_lebin2bn(bytes, 2 * n, nullptr));
  OPENSSL_cleanse(bytes, sizeof bytes);
  return value;
}

}  // namespace

bool ParseKey(std::string_view text, const std::string& origin, KeyKind kind, DsaKey& key, std::string& error) {
  KeyNumbers numbers;
  if (kind == KeyKind::kPublicFile) {
    if (!ReadPublicKey(text, origin, numbers, error)) return false;
  } else {
    if (!ReadKeyText(text, origin, numbers, error)) return false;
    if (numbers.form == KeyForm::kEncrypted) {
      error = origin + ": the key is encrypted, and nothing here can ask for its passphrase";
      return false;
    }
    if (kind == KeyKind::kPrivate && numbers.form != KeyForm::kPrivate) {
      error = origin + ": no 'x' line (a private key file is needed here)";
      return false;
    }
    if (!CheckKeyRules(numbers, numbers.form == KeyForm::kPrivate, origin, error)) return false;
  }
  key.p = FromLimbs(numbers.p, kPLimbs);
  key.q = FromLimbs(numbers.q, kQLimbs);
  key.g = FromLimbs(numbers.g, kPLimbs);
  key.y = FromLimbs(numbers.y, kPLimbs);
  key.x = kind == KeyKind::kPrivate ? FromLimbs(numbers.x, kQLimbs) : nullptr;
  return true;
}

std::string StatedKeyId(std::string_view text) {
  constexpr size_t kIdLength = 16;
  for (const std::string_view head : {"# signtool private key ", "# signtool public key "}) {
    if (text.substr(0, head.size()) != head) continue;
    const std::string_view id = text.substr(head.size(), kIdLength);
    if (id.size() == kIdLength && id.find_first_not_of("0123456789abcdef") == std::string_view::npos &&
        text.substr(head.size() + kIdLength, 1) == ":") {
      return std::string(id);
    }
  }
  return {};
}

bool ParseKeyText(const Secret& text, const std::string& origin, KeyKind kind, DsaKey& key, std::string& error,
                  const PassphraseSource* passphrase_source) {
  if (kind != KeyKind::kPublicFile && IsEncryptedKeyText(text.text)) {
    return ParseEncryptedKey(text, origin, kind, passphrase_source, key, error);
  }
  return ParseKey(text.text, origin, kind, key, error);
}

bool LoadKey(const std::string& path, KeyKind kind, DsaKey& key, std::string& error,
             const PassphraseSource* passphrase_source) {
  Secret text;
  text.text.reserve(kMaxKeyFileSize);
  if (!ReadWholeFile(path, text.text, error, kMaxKeyFileSize)) {
    error = "key file: " + error;
    return false;
  }
  return ParseKeyText(text, path, kind, key, error, passphrase_source);
}

bool CheckKey(const DsaKey& key, std::string& error) {
  KeyNumbers numbers;
  ToNumbers(key, numbers);
  return CheckKeyRules(numbers, key.is_private(), {}, error);
}

bool GenerateKey(DsaKey& key, std::string& error) {
  BnCtx ctx(BN_CTX_new());
  Bn q = NewBn(), p = NewBn(), g = NewBn(), x = NewBn(), y = NewBn();
  // BN_generate_prime_ex sets the top two bits, so q has exactly 160 bits.
  if (BN_generate_prime_ex(q.get(), kPrimeQBits, 0, nullptr, nullptr, nullptr) != 1) {
    error = "cannot generate q";
    return false;
  }
  // p = c - (c mod 2q) + 1 for random 512-bit c: q | p - 1, and p odd.
  Bn two_q = NewBn(), rem = NewBn();
  BN_lshift1(two_q.get(), q.get());
  for (int tries = 0;; ++tries) {
    if (tries > 100000) {
      error = "cannot find p";
      return false;
    }
    if (BN_priv_rand(p.get(), kPrimePBits, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) != 1) {
      error = "random generator failed";
      return false;
    }
    BN_mod(rem.get(), p.get(), two_q.get(), ctx.get());
    BN_sub(p.get(), p.get(), rem.get());
    BN_add_word(p.get(), 1);
    if (BN_num_bits(p.get()) == kPrimePBits && FitsCheckerReduction(p.get()) && IsPrime(p.get(), ctx.get())) break;
  }
  // g = h^((p - 1) / q) for the first h = 2, 3, ... that does not give 1.
  Bn e = CopyBn(p.get());
  BN_sub_word(e.get(), 1);
  BN_div(e.get(), nullptr, e.get(), q.get(), ctx.get());
  for (BN_ULONG h = 2;; ++h) {
    Bn base = NewBn();
    BN_set_word(base.get(), h);
    BN_mod_exp(g.get(), base.get(), e.get(), p.get(), ctx.get());
    if (!BN_is_one(g.get())) break;
  }
  do {
    if (BN_priv_rand_range(x.get(), q.get()) != 1) {
      error = "random generator failed";
      return false;
    }
  } while (BN_is_zero(x.get()));
  BN_mod_exp(y.get(), g.get(), x.get(), p.get(), ctx.get());
  key.p = std::move(p);
  key.q = std::move(q);
  key.g = std::move(g);
  key.x = std::move(x);
  key.y = std::move(y);
  return CheckKey(key, error);
}

std::string FormatKey(const DsaKey& key, KeyKind kind) {
  KeyNumbers numbers;
  ToNumbers(key, numbers);
  std::string out;
  out.reserve(4096);  // never moved once x is in it: no stray copy of it
  WriteKeyText(numbers, kind == KeyKind::kPrivate ? KeyForm::kPrivate : KeyForm::kPublic, out);
  return out;
}

std::string KeyId(const DsaKey& key) {
  KeyNumbers numbers;
  ToNumbers(key, numbers);
  char id[17];
  KeyIdOf(numbers, id);
  return id;
}

}  // namespace signtool
